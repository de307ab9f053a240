#include "window/frmMain.h"

#include "core/numbers.h"
#include "core/pressure.h"
#include "core/standards.h"
#include "window/numtext.h"

#include <QApplication>
#include <QColor>
#include <QFont>
#include <QToolTip>

#include <cmath>
#include <cstdint>
#include <iterator>
#include <span>

namespace {

using numtext::Parse;

// The standards this window offers; the core keeps their reflections in stepping order.
struct StandardInfo {
    const char* name;
    int option;  // member of optStandard
};

const StandardInfo kStandards[] = {
    {"NaCl", 0},
    {"CsCl", 1},
};

const StandardInfo* FindStandard(const QString& name)
{
    for (const StandardInfo& s : kStandards) {
        if (name == QLatin1String(s.name)) {
            return &s;
        }
    }
    return nullptr;
}

QFont TextBoxFont()
{
    QFont font;
    // "MS Sans Serif" is rarely found off Windows; Liberation Sans is the installed stand-in.
    font.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Liberation Sans"), QStringLiteral("Arial"),
                      QStringLiteral("DejaVu Sans")});
    font.setStyleHint(QFont::SansSerif);
    font.setPointSize(12);
    font.setWeight(QFont::Bold);
    font.setItalic(false);
    font.setUnderline(false);
    font.setStrikeOut(false);
    return font;
}

const QColor kPeakBlue(0, 0, 255);
const QColor kWarning(192, 0, 0);

}  // namespace

frmMain::frmMain(QWidget* parent) : QWidget(parent)
{
    CreateControls();
    WireEvents();
    Form_Load();
}

frmMain::~frmMain() = default;

void frmMain::CreateControls()
{
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QStringLiteral("Hi Varnisse"));
    resize(controls::Twips(0, 0, 4560, 9840).size());
    setFont(controls::DialogFont(font()));

    const QFont boxFont = TextBoxFont();
    auto textBox = [&](QWidget* container, const char* name, QRect where) {
        auto* box = new controls::TextBox(container);
        box->setObjectName(QLatin1String(name));
        box->setGeometry(where);
        box->setFont(boxFont);
        return box;
    };
    auto named = [](auto* control, const char* name, QRect where) {
        control->setObjectName(QLatin1String(name));
        control->setGeometry(where);
        return control;
    };

    Frame1 = named(new controls::Frame(QStringLiteral("Standard"), this), "Frame1",
                   controls::Twips(720, 240, 3015, 1695));
    for (const StandardInfo& s : kStandards) {
        auto* option = new controls::OptionButton(QLatin1String(s.name), static_cast<int16_t>(s.option), Frame1);
        named(option, s.option == 0 ? "optStandard0" : "optStandard1",
              controls::Twips(120, s.option == 0 ? 360 : 960, 1935, 375));
        optStandard.Add(option);
    }

    Frame2 = named(new controls::Frame(QStringLiteral("Data"), this), "Frame2", controls::Twips(720, 2160, 3015, 4095));
    txtT = textBox(Frame2, "txtT", controls::Twips(120, 240, 1335, 615));
    Label1 = named(new controls::Label(QStringLiteral("Temperature (\u00B0C)"), Frame2), "Label1",
                   controls::Twips(1560, 480, 1215, 495));
    txthkl2 = textBox(Frame2, "txthkl2", controls::Twips(120, 1320, 975, 735));
    txtPeak = textBox(Frame2, "txtPeak", controls::Twips(1560, 1320, 1335, 735));
    txtPeak->SetTextColor(kPeakBlue);
    // The program writes these two from its state and never reads them back; they can
    // still be focused, selected and copied.
    txthkl2->setReadOnly(true);
    txtPeak->setReadOnly(true);
    cmdhklPlus = named(new controls::PushButton(QStringLiteral("+"), Frame2), "cmdhklPlus",
                       controls::Twips(1080, 1320, 495, 375));
    cmdhklMinus = named(new controls::PushButton(QStringLiteral("-"), Frame2), "cmdhklMinus",
                        controls::Twips(1080, 1680, 495, 375));
    Label4 = named(new controls::Label(QStringLiteral("h^2 + k^2 + l^2"), Frame2), "Label4",
                   controls::Twips(120, 2160, 1215, 255));
    Label3 = named(new controls::Label(QStringLiteral("Peak"), Frame2), "Label3",
                   controls::Twips(1680, 2160, 1095, 255));
    txtDiffractionInfo = textBox(Frame2, "txtDiffractionInfo", controls::Twips(120, 2880, 1335, 735));
    Label2 = named(new controls::Label(QStringLiteral("Value in Angstroms"), Frame2), "Label2",
                   controls::Twips(1560, 3000, 975, 495));
    // The step buttons overlap their neighbours by a pixel; keep them on top.
    cmdhklPlus->raise();
    cmdhklMinus->raise();

    cmdCalc = named(new controls::PushButton(QStringLiteral("Calc ->"), this), "cmdCalc",
                    controls::Twips(720, 6480, 3015, 975));

    Frame3 = named(new controls::Frame(QStringLiteral("Pressure (GPa)"), this), "Frame3",
                   controls::Twips(720, 7680, 3015, 1815));
    txtPressure = textBox(Frame3, "txtPressure", controls::Twips(120, 480, 2655, 855));

    // Focus order by tab index; frames and labels take no focus.
    QWidget* const tabOrder[] = {optStandard(0), optStandard(1), txtT,       txtPressure, txtDiffractionInfo,
                                 txthkl2,        cmdCalc,        cmdhklPlus, cmdhklMinus, txtPeak};
    for (std::size_t i = 0; i + 1 < std::size(tabOrder); ++i) {
        setTabOrder(tabOrder[i], tabOrder[i + 1]);
    }
}

void frmMain::WireEvents()
{
    connect(cmdCalc, &QPushButton::clicked, this, [this] { cmdCalc_Click(); });
    connect(cmdhklMinus, &controls::PushButton::MouseUp, this,
            [this](controls::MouseArgs a) { cmdhklMinus_MouseUp(a.Button, a.Shift, a.X, a.Y); });
    connect(cmdhklPlus, &controls::PushButton::MouseUp, this,
            [this](controls::MouseArgs a) { cmdhklPlus_MouseUp(a.Button, a.Shift, a.X, a.Y); });
    for (std::size_t i = 0; i < optStandard.Count(); ++i) {
        const auto standardUp = [this](int16_t index, controls::MouseArgs a) {
            optStandard_MouseUp(index, a.Button, a.Shift, a.X, a.Y);
        };
        controls::OptionButton* option = optStandard(static_cast<int>(i));
        connect(option, &controls::OptionButton::MouseUp, this, standardUp);
        // A selection moved by the keyboard takes the state along at once, as a release
        // would: the window must never show one standard and compute with the other.
        connect(option, &controls::OptionButton::Chosen, this, standardUp);
    }
}

void frmMain::Form_Load()
{
    StandardName = QStringLiteral("CsCl");
    hkl2Index = 1;
    TempC = 25;
    FormUpdate();
    txtDiffractionInfo->SetText(numtext::SingleToText(LatticeRef));
}

void frmMain::FormUpdate()
{
    const StandardInfo* standard = FindStandard(StandardName);
    if (standard) {
        optStandard.Select(standard->option);
    }
    txtT->SetText(numtext::SingleToText(TempC));
    if (standard) {
        LatticeRef = hv::FindStandard(standard->name)->a0;
    }
    makehkl2list();
    const int16_t hkl2 = CurrentHkl2();
    txthkl2->SetText(hkl2 ? QString::number(hkl2) : QString());
    WritePeak();
}

void frmMain::makehkl2list()
{
    if (const StandardInfo* standard = FindStandard(StandardName)) {
        const std::span<const int16_t> steps = hv::WindowSteps(standard->name);
        hkl2list.assign(steps.begin(), steps.end());
        hkl2Count = static_cast<int16_t>(hkl2list.size());
    }
}

void frmMain::WritePeak()
{
    txtPeak->SetText(QString::fromStdString(hv::ReflectionLabel(CurrentHkl2(), StandardName.toStdString())));
}

int16_t frmMain::CurrentHkl2() const
{
    if (hkl2Index < 1 || static_cast<std::size_t>(hkl2Index) > hkl2list.size()) {
        return 0;
    }
    return hkl2list[static_cast<std::size_t>(hkl2Index - 1)];
}

void frmMain::optStandard_MouseUp(int16_t, int16_t, int16_t, float, float)
{
    if (optStandard.Selected(0)) {
        StandardName = QStringLiteral("NaCl");
    } else if (optStandard.Selected(1)) {
        StandardName = QStringLiteral("CsCl");
    }
    hkl2Index = 1;
    FormUpdate();
    txtDiffractionInfo->SetText(numtext::SingleToText(LatticeRef));
}

void frmMain::cmdhklMinus_MouseUp(int16_t, int16_t, float, float)
{
    if (hkl2Index > 1) {
        --hkl2Index;
    }
    FormUpdate();
}

void frmMain::cmdhklPlus_MouseUp(int16_t, int16_t, float, float)
{
    if (hkl2Index < hkl2Count) {
        ++hkl2Index;
    }
    FormUpdate();
}

void frmMain::cmdCalc_Click()
{
    // A new attempt: forget the reasons given for the last one.
    txtT->setToolTip({});
    txtDiffractionInfo->setToolTip({});

    StandardCode = hv::StandardCodeOf(StandardName.toStdString(), StandardCode);

    float typed = 0;
    if (const Parse r = numtext::TextToSingle(txtT->Text(), typed); r != Parse::Ok) {
        Complain(txtT, numtext::Reason(r));
        return;
    }
    TempC = typed;

    const int16_t n = CurrentHkl2();
    if (n <= 0) {
        return;  // no reflection chosen: nothing to measure against
    }
    float d = 0;
    if (const Parse r = numtext::TextToSingle(txtDiffractionInfo->Text(), d); r != Parse::Ok) {
        Complain(txtDiffractionInfo, numtext::Reason(r));
        return;
    }
    if (!(d > 0)) {
        Complain(txtDiffractionInfo, QStringLiteral("A spacing must be greater than zero"));
        return;
    }
    const double a = hv::LatticeParameter(d, n);

    float relativeSingle = 0;
    if (!hv::RelativeVolume(a, LatticeRef, relativeSingle)) {
        Complain(txtDiffractionInfo, QStringLiteral("Number too large"));
        return;
    }
    VolDiff = relativeSingle;

    if (!Engine) {
        Engine = std::make_unique<clsKolvane>();
    }
    Engine->Kolvane(StandardCode, TempC, VolDiff, Pressure, ErrCode);

    if (!hv::EngineWrotePressure(ErrCode, VolDiff)) {
        // The engine computed nothing: dividing the previous result again would show a
        // number that these inputs never produced.
        ShowPressure({});
        switch (ErrCode) {
        case clsKolvane::DEBYE_REFUSED: Complain(txtT, QStringLiteral("Below absolute zero")); break;
        case clsKolvane::VOLUME_LOW: Complain(txtDiffractionInfo, QStringLiteral("Spacing too small")); break;
        case clsKolvane::BAD_STANDARD: Complain(txtPressure, QStringLiteral("Unknown standard")); break;
        default: Complain(txtDiffractionInfo, QStringLiteral("No pressure for these values")); break;
        }
        return;
    }

    Pressure = hv::KbarToGpa(Pressure);

    int32_t k = 0;
    if (!hv::Hundredths(Pressure, k)) {
        ShowPressure({});
        Complain(txtDiffractionInfo, QStringLiteral("Pressure too large to show"));
        return;
    }

    QString warning;
    if (ErrCode == clsKolvane::VOLUME_LOW) {
        warning = QStringLiteral("Outside the range of the equation of state: V/V0 below 0.5");
    } else if (ErrCode == clsKolvane::VOLUME_HIGH) {
        warning = QStringLiteral("Outside the range of the equation of state: V/V0 above 1.5");
    }
    ShowPressure(numtext::DoubleToText(k / 100.0), warning);
}

void frmMain::Complain(controls::TextBox* box, const QString& why)
{
    QApplication::beep();
    box->setToolTip(why);
    box->setFocus(Qt::OtherFocusReason);
    box->selectAll();
    if (box->isVisible()) {
        QToolTip::showText(box->mapToGlobal(QPoint(0, box->height())), why, box);
    }
}

void frmMain::ShowPressure(const QString& text, const QString& warning)
{
    txtPressure->SetText(text);
    txtPressure->SetTextColor(warning.isEmpty() ? palette().color(QPalette::Text) : kWarning);
    txtPressure->setToolTip(warning);
}
