// The window as it is drawn: every control where the layout puts it (15 twips a pixel),
// with its caption, font, colour and place in the tab order.
#include "tests/window_fixture.h"

#include <QFontInfo>
#include <QFontMetrics>

namespace {

struct Placed {
    const char* name;
    const char* container;  // object name of the parent
    const char* caption;    // caption, or the text right after start-up
    int left, top, width, height;  // twips
};

const Placed kLayout[] = {
    {"Frame1", "frmMain", "Standard", 720, 240, 3015, 1695},
    {"optStandard0", "Frame1", "NaCl", 120, 360, 1935, 375},
    {"optStandard1", "Frame1", "CsCl", 120, 960, 1935, 375},
    {"Frame2", "frmMain", "Data", 720, 2160, 3015, 4095},
    {"txtT", "Frame2", "25", 120, 240, 1335, 615},
    {"Label1", "Frame2", "Temperature (\u00B0C)", 1560, 480, 1215, 495},
    {"txthkl2", "Frame2", "1", 120, 1320, 975, 735},
    {"cmdhklPlus", "Frame2", "+", 1080, 1320, 495, 375},
    {"cmdhklMinus", "Frame2", "-", 1080, 1680, 495, 375},
    {"txtPeak", "Frame2", "1 0 0 / L.P.", 1560, 1320, 1335, 735},
    {"Label4", "Frame2", "h^2 + k^2 + l^2", 120, 2160, 1215, 255},
    {"Label3", "Frame2", "Peak", 1680, 2160, 1095, 255},
    {"txtDiffractionInfo", "Frame2", "4.11904", 120, 2880, 1335, 735},
    {"Label2", "Frame2", "Value in Angstroms", 1560, 3000, 975, 495},
    {"cmdCalc", "frmMain", "Calc ->", 720, 6480, 3015, 975},
    {"Frame3", "frmMain", "Pressure (GPa)", 720, 7680, 3015, 1815},
    {"txtPressure", "Frame3", "", 120, 480, 2655, 855},
};

QString CaptionOf(const QWidget* control)
{
    if (auto* box = qobject_cast<const QLineEdit*>(control)) return box->text();
    if (auto* button = qobject_cast<const QAbstractButton*>(control)) return button->text();
    if (auto* frame = qobject_cast<const QGroupBox*>(control)) return frame->title();
    if (auto* label = qobject_cast<const QLabel*>(control)) return label->text();
    return QStringLiteral("?");
}

TEST_F(WindowTest, SeventeenControlsSitOnTheirPlacesAt96Dpi)
{
    EXPECT_EQ(w->size(), QSize(304, 656));  // 4560 x 9840 twips
    int controls = 0;
    for (const Placed& p : kLayout) {
        SCOPED_TRACE(p.name);
        auto* control = w->findChild<QWidget*>(QLatin1String(p.name));
        ASSERT_NE(control, nullptr);
        ++controls;
        EXPECT_EQ(control->parentWidget()->objectName(), QLatin1String(p.container));
        EXPECT_EQ(CaptionOf(control), QString::fromUtf8(p.caption));
        EXPECT_EQ(control->geometry(), QRect(p.left / 15, p.top / 15, p.width / 15, p.height / 15));
        EXPECT_FALSE(CaptionOf(control).contains('&')) << "no access keys";
    }
    EXPECT_EQ(controls, 17);

    // Enlarging or shrinking the window moves and resizes nothing.
    for (QSize size : {QSize(900, 1000), QSize(120, 200)}) {
        w->resize(size);
        QApplication::processEvents();
        for (const Placed& p : kLayout) {
            const auto* control = w->findChild<QWidget*>(QLatin1String(p.name));
            EXPECT_EQ(control->geometry(), QRect(p.left / 15, p.top / 15, p.width / 15, p.height / 15)) << p.name;
        }
    }
}

TEST_F(WindowTest, TextBoxesUseTheBoldTwelvePointFontAndThePeakIsBlue)
{
    const QColor defaultText = w->txtT->palette().color(QPalette::Text);
    for (controls::TextBox* box : {w->txtT, w->txthkl2, w->txtPeak, w->txtDiffractionInfo, w->txtPressure}) {
        SCOPED_TRACE(box->objectName().toStdString());
        const QFont f = box->font();
        EXPECT_EQ(f.families().value(0), "MS Sans Serif");
        EXPECT_EQ(f.pointSize(), 12);
        EXPECT_EQ(f.weight(), QFont::Bold);
        EXPECT_FALSE(f.italic() || f.underline() || f.strikeOut());
        if (box->logicalDpiY() == 96) {
            EXPECT_EQ(QFontInfo(f).pixelSize(), 16);
        }
        EXPECT_TRUE(f.families().contains(QFontInfo(f).family()) || QFontInfo(f).family() == f.family())
            << "resolved to " << QFontInfo(f).family().toStdString();
        EXPECT_EQ(box->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignLeft);
        EXPECT_EQ(box->maxLength(), 32767) << "no limit beyond Qt's own";
        if (box != w->txtPeak) {
            EXPECT_EQ(box->palette().color(QPalette::Text), defaultText);
        }
    }
    EXPECT_EQ(w->txtPeak->palette().color(QPalette::Text), QColor(0, 0, 255));
    EXPECT_TRUE(w->txthkl2->isReadOnly());
    EXPECT_TRUE(w->txtPeak->isReadOnly());
    EXPECT_FALSE(w->txtT->isReadOnly() || w->txtDiffractionInfo->isReadOnly() || w->txtPressure->isReadOnly());
}

TEST_F(WindowTest, LabelsWrapAtWordsInsideTheirBoxes)
{
    struct Case {
        controls::Label* label;
        int lines;
    };
    for (const Case& c : {Case{w->Label1, 2}, Case{w->Label2, 2}, Case{w->Label3, 1}, Case{w->Label4, 1}}) {
        SCOPED_TRACE(c.label->objectName().toStdString());
        EXPECT_TRUE(c.label->wordWrap());
        const QFontMetrics fm(c.label->font());
        const QRect needed = fm.boundingRect(QRect(0, 0, c.label->width(), 1000), Qt::TextWordWrap, c.label->text());
        EXPECT_EQ(needed.height() / fm.lineSpacing(), c.lines);
        EXPECT_LE(needed.height(), c.label->height()) << "the caption fits its label";
    }
}

TEST_F(WindowTest, TabVisitsTheControlsInTabIndexOrderAndComesBack)
{
    w->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(w.get()));
    w->optStandard(1)->setFocus(Qt::TabFocusReason);
    const std::vector<QWidget*> expected = {w->txtT,    w->txtPressure, w->txtDiffractionInfo,
                                            w->txthkl2, w->cmdCalc,     w->cmdhklPlus,
                                            w->cmdhklMinus, w->txtPeak, w->optStandard(1)};
    for (QWidget* next : expected) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), next)
            << "expected " << next->objectName().toStdString() << ", got "
            << (QApplication::focusWidget() ? QApplication::focusWidget()->objectName().toStdString() : "none");
    }
    for (QWidget* passive : std::initializer_list<QWidget*>{w->Frame1, w->Frame2, w->Frame3, w->Label1, w->Label2,
                                                            w->Label3, w->Label4}) {
        EXPECT_EQ(passive->focusPolicy(), Qt::NoFocus) << passive->objectName().toStdString();
    }
}

TEST_F(WindowTest, ScalesAsAWholeOnDenseScreens)
{
    // Run with QT_SCALE_FACTOR=2 this checks the 2x rendering; at 1x the plain one.
    const qreal ratio = w->devicePixelRatioF();
    if (qEnvironmentVariableIsSet("QT_SCALE_FACTOR")) {
        EXPECT_EQ(ratio, qEnvironmentVariable("QT_SCALE_FACTOR").toDouble());
    }
    const QPixmap shot = w->grab();
    EXPECT_EQ(shot.size(), QSize(qRound(304 * ratio), qRound(656 * ratio)));
    EXPECT_EQ(w->txtPressure->geometry(), QRect(8, 32, 177, 57)) << "geometry stays in logical pixels";
}

}  // namespace
