// "Calc ->": from the typed temperature and spacing to the pressure shown, and what the
// user sees when the input is bad.
#include "tests/window_fixture.h"
#include "window/numtext.h"

#include <QApplication>

#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstring>
#include <tuple>

namespace {

struct Whole {
    bool nacl;
    int position;
    const char* temperature;
    const char* spacing;
    const char* shown;
};

TEST_F(WindowTest, WholeCalculationsShowThePressureInGPa)
{
    const Whole cases[] = {
        {false, 1, "25", "4.11904", "0"},  // ambient CsCl: well below 0.005 GPa
        {true, 1, "25", "5.64", "0"},      // ambient NaCl
        {true, 3, "25", "2.75", "2.15"},   // 2 0 0: a = 5.5
        {false, 2, "25", "2.8", "2.76"},   // 1 1 0
        {true, 3, "300", "2.7", "5.05"},
        {false, 1, "25", "3.8", "7.94"},   // the lattice parameter itself
        {true, 6, "25", "1.5", "-2.78"},   // 4 0 0: a = 6, an expanded cell
    };
    for (const Whole& c : cases) {
        SCOPED_TRACE(std::string(c.nacl ? "NaCl " : "CsCl ") + c.spacing);
        c.nacl ? ChooseNaCl() : ChooseCsCl();
        Plus(c.position - 1);
        EXPECT_EQ(Calc(c.temperature, c.spacing), c.shown);
        EXPECT_EQ(w->ErrCode, 0);
        EXPECT_TRUE(w->txtPressure->toolTip().isEmpty());
    }
}

TEST_F(WindowTest, TheSpacingTimesTheRootOfTheReflectionIsTheLatticeParameter)
{
    ChooseNaCl();
    Plus(2);  // value 4: a is twice the spacing
    // Doubling is exact in binary, so 2 x 2.82 is the ambient 5.64 to the last bit.
    EXPECT_EQ(Calc("25", "2.82"), "0");
    EXPECT_EQ(w->VolDiff, 0.0f);
    EXPECT_EQ(w->StandardCode, 1);
    EXPECT_EQ(w->TempC, 25.0f);
    // A smaller measured cell is a compression, a larger one an expansion.
    Calc("25", "2.7");
    EXPECT_LT(w->VolDiff, 0);
    EXPECT_GT(w->txtPressure->text().toDouble(), 0);
    Calc("25", "2.9");
    EXPECT_GT(w->VolDiff, 0);
    EXPECT_TRUE(w->txtPressure->text().startsWith('-'));
}

TEST_F(WindowTest, CalcRunsOnClickSpaceAndEnterButNotOnEnterInATextBox)
{
    ChooseNaCl();
    Plus(2);
    Type(w->txtDiffractionInfo, "2.75");
    QTest::keyClick(w->txtDiffractionInfo, Qt::Key_Return);
    QTest::keyClick(w->txtDiffractionInfo, Qt::Key_Enter);
    QTest::keyClick(w->txtT, Qt::Key_Return);
    EXPECT_EQ(w->txtPressure->text(), "");
    EXPECT_EQ(w->Engine, nullptr);

    w->cmdCalc->setFocus();
    QTest::keyClick(w->cmdCalc, Qt::Key_Space);
    EXPECT_EQ(w->txtPressure->text(), "2.15");

    w->txtPressure->SetText("");
    QTest::keyClick(w->cmdCalc, Qt::Key_Return);
    EXPECT_EQ(w->txtPressure->text(), "2.15");

    w->txtPressure->SetText("");
    Click(w->cmdCalc, Qt::RightButton);
    EXPECT_EQ(w->txtPressure->text(), "") << "only the primary button clicks";
    EXPECT_FALSE(w->cmdCalc->isDefault());
    EXPECT_FALSE(w->cmdCalc->autoDefault());
}

TEST_F(WindowTest, TheEngineIsMadeOnceAndKept)
{
    Calc("25", "4.11904");
    const clsKolvane* first = w->Engine.get();
    ASSERT_NE(first, nullptr);
    Calc("100", "4.0");
    EXPECT_EQ(w->Engine.get(), first);
}

TEST(Hundredths, RoundsTheSingleValueHalvesToEven)
{
    struct Case {
        float gpa;
        int32_t hundredths;
        const char* shown;
    };
    const Case cases[] = {
        {0.125f, 12, "0.12"},   {0.375f, 38, "0.38"}, {0.015f, 1, "0.01"},  // 0.015f is just below
        {12.0f, 1200, "12"},    {12.5f, 1250, "12.5"}, {-0.37f, -37, "-0.37"},
        {0.004f, 0, "0"},       {-0.004f, 0, "0"},     {1.12f, 112, "1.12"},
        {21474836.0f, 2147483600, "21474836"},
    };
    for (const Case& c : cases) {
        int32_t k = -99;
        ASSERT_TRUE(numtext::Hundredths(c.gpa, k)) << c.gpa;
        EXPECT_EQ(k, c.hundredths) << c.gpa;
        EXPECT_EQ(numtext::DoubleToText(k / 100.0), c.shown);
    }
    int32_t untouched = 7;
    for (float big : {21474838.0f, -21474838.0f, 1e30f}) {
        EXPECT_FALSE(numtext::Hundredths(big, untouched)) << big;
    }
    EXPECT_EQ(untouched, 7);
}

TEST(NumberText, ReadsAndWritesInTheUserLocale)
{
    struct Case {
        QLocale::Language language;
        const char* text;
        numtext::Parse result;
        float value;
    };
    const Case cases[] = {
        {QLocale::C, "4.11904", numtext::Parse::Ok, 4.11904f},
        {QLocale::C, "  -2.5e1 ", numtext::Parse::Ok, -25.0f},
        {QLocale::C, "+3", numtext::Parse::Ok, 3.0f},
        {QLocale::C, "", numtext::Parse::Empty, 0},
        {QLocale::C, "   ", numtext::Parse::Empty, 0},
        {QLocale::C, "abc", numtext::Parse::NotANumber, 0},
        {QLocale::C, "1,5", numtext::Parse::NotANumber, 0},
        {QLocale::C, "1,000", numtext::Parse::NotANumber, 0},
        {QLocale::C, "nan", numtext::Parse::NotANumber, 0},
        {QLocale::C, "inf", numtext::Parse::NotANumber, 0},
        {QLocale::C, "1e39", numtext::Parse::OutOfRange, 0},
        {QLocale::C, "-1e300", numtext::Parse::OutOfRange, 0},
        {QLocale::German, "4,11904", numtext::Parse::Ok, 4.11904f},
        {QLocale::German, "4.119", numtext::Parse::NotANumber, 0},  // not four thousand
        {QLocale::German, "1.000,5", numtext::Parse::NotANumber, 0},
    };
    for (const Case& c : cases) {
        QLocale::setDefault(c.language == QLocale::C ? QLocale::c() : QLocale(c.language, QLocale::Germany));
        float value = 0;
        EXPECT_EQ(numtext::TextToSingle(QString::fromUtf8(c.text), value), c.result) << c.text;
        if (c.result == numtext::Parse::Ok) {
            EXPECT_EQ(value, c.value) << c.text;
        }
    }
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(numtext::SingleToText(4.11904f), "4,11904");
    EXPECT_EQ(numtext::SingleToText(12345.5f), "12345,5");  // no group separator
    EXPECT_EQ(numtext::DoubleToText(-2.78), "-2,78");
    QLocale::setDefault(QLocale::c());
    EXPECT_EQ(numtext::SingleToText(5.64f), "5.64");
    EXPECT_EQ(numtext::SingleToText(25.0f), "25");
    EXPECT_EQ(numtext::SingleToText(-0.0f), "0");
    EXPECT_EQ(numtext::SingleToText(1234567.0f), "1234567");
    EXPECT_EQ(numtext::DoubleToText(0.1 + 0.2), "0.3");  // 15 digits hide the last bit
}

// Every locale Qt knows writes the window's numbers in one form, reads them back, and reads
// what Qt itself writes there: the locale's digits, minus sign, exponent and direction marks.
TEST(NumberText, EveryLocaleReadsBackWhatTheWindowAndQtWrite)
{
    struct Case {
        double value;
        bool single;       // written with 7 digits, else 15
        const char* text;  // with "." where the locale's decimal separator goes
    };
    const Case cases[] = {
        {-50, true, "-50"},          {-273.15, true, "-273.15"},           {4.11904, true, "4.11904"},
        {-0.0, true, "0"},           {1e7, true, "1e+07"},                 {-12345678, true, "-1.234568e+07"},
        {1.5e-7, true, "1.5e-07"},   {FLT_MAX, true, "3.402823e+38"},      {-FLT_TRUE_MIN, true, "-1.401298e-45"},
        {-2.78, false, "-2.78"},     {-21474836.48, false, "-21474836.48"}, {1e15, false, "1e+15"},
    };
    const auto all = QLocale::matchingLocales(QLocale::AnyLanguage, QLocale::AnyScript, QLocale::AnyTerritory);
    ASSERT_GT(all.size(), 500);
    for (QLocale locale : all) {
        QLocale::setDefault(locale);
        locale.setNumberOptions(QLocale::OmitGroupSeparator);  // as a user types
        for (const Case& c : cases) {
            SCOPED_TRACE(locale.name().toStdString() + " " + c.text);
            const QString text =
                c.single ? numtext::SingleToText(static_cast<float>(c.value)) : numtext::DoubleToText(c.value);
            ASSERT_EQ(text, QString::fromLatin1(c.text).replace(QLatin1Char('.'), locale.decimalPoint()));
            double exact = 0;
            std::from_chars(c.text, c.text + std::strlen(c.text), exact);
            float back = 0, native = 0;
            ASSERT_EQ(numtext::TextToSingle(text, back), numtext::Parse::Ok);
            EXPECT_EQ(back, static_cast<float>(exact));
            const QString qt = locale.toString(c.value, 'g', c.single ? 7 : 15);
            ASSERT_EQ(numtext::TextToSingle(qt, native), numtext::Parse::Ok) << qt.toStdString();
            EXPECT_EQ(native, back) << qt.toStdString();
        }
    }
    // Still refused: a point in a decimal-comma locale, group separators, a sign or marks alone.
    const std::tuple<const char*, const char*, numtext::Parse> refused[] = {
        {"sv_SE", "2.75", numtext::Parse::NotANumber}, {"he_IL", "1,000", numtext::Parse::NotANumber},
        {"ar_EG", "\u0661\u066C\u0660\u0660\u0660", numtext::Parse::NotANumber},
        {"fa_IR", "\u200E\u2212", numtext::Parse::NotANumber}, {"he_IL", "\u200E ", numtext::Parse::Empty}};
    for (const auto& [name, text, result] : refused) {
        QLocale::setDefault(QLocale(QLatin1String(name)));
        float value = 0;
        EXPECT_EQ(numtext::TextToSingle(QString::fromUtf8(text), value), result) << name;
    }
    QLocale::setDefault(QLocale::c());
}

TEST_F(WindowTest, AGermanUserTypesDecimalCommas)
{
    w.reset();
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    w = std::make_unique<frmMain>();
    w->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(w.get()));
    EXPECT_EQ(w->txtDiffractionInfo->text(), "4,11904");
    Plus();
    EXPECT_EQ(Calc("25", "2,8"), "2,76");
    EXPECT_EQ(Calc("25", "2.8"), "2,76") << "a refused number keeps the last result";
    EXPECT_EQ(w->txtDiffractionInfo->toolTip(), "Not a number");
}

// In right-to-left locales and those with a minus sign of their own, a negative
// temperature typed as the locale writes it survives the refresh that writes it back, and
// the next calculation reads it again; every box shows ASCII digits.
TEST_F(WindowTest, NegativeNumbersSurviveTheRefreshInEveryScript)
{
    ChooseNaCl();
    Plus(5);  // 4 0 0
    const QString cold = Calc("-50", "1.5");
    ASSERT_TRUE(cold.startsWith('-'));
    for (const char* name : {"he_IL", "ar_EG", "ar_SA", "fa_IR", "ur_PK", "ps_AF", "sv_SE", "nb_NO", "fi_FI"}) {
        SCOPED_TRACE(name);
        const QLocale locale{QLatin1String(name)};
        StartIn(locale);
        const auto local = [&](QString text) { return text.replace(QLatin1Char('.'), locale.decimalPoint()); };
        ChooseNaCl();
        EXPECT_EQ(w->txtDiffractionInfo->text(), local("5.64"));
        Plus(5);
        EXPECT_EQ(Calc(locale.toString(-50), locale.toString(1.5)), local(cold));
        Plus();
        Minus();
        EXPECT_EQ(w->txtT->text(), "-50");
        w->txtPressure->SetText({});
        Click(w->cmdCalc);
        EXPECT_EQ(w->txtPressure->text(), local(cold));
        EXPECT_EQ(w->txtT->toolTip(), "");
    }
}

struct Bad {
    const char* temperature;
    const char* spacing;
    bool blamesTemperature;
    const char* why;
};

TEST_F(WindowTest, BadInputKeepsTheLastResultAndSaysWhy)
{
    ChooseNaCl();
    Plus(2);
    ASSERT_EQ(Calc("25", "2.75"), "2.15");
    const Bad cases[] = {
        {"", "2.75", true, "Enter a number"},
        {"warm", "2.75", true, "Not a number"},
        {"1e40", "2.75", true, "Number too large"},
        {"25", "", false, "Enter a number"},
        {"25", "2,75", false, "Not a number"},
        {"25", "0", false, "A spacing must be greater than zero"},
        {"25", "-2.75", false, "A spacing must be greater than zero"},
        {"25", "3e38", false, "Number too large"},  // the cell volume leaves single range
    };
    for (const Bad& c : cases) {
        SCOPED_TRACE(std::string(c.temperature) + " / " + c.spacing);
        const float tempBefore = w->TempC;
        EXPECT_EQ(Calc(c.temperature, c.spacing), "2.15");
        controls::TextBox* blamed = c.blamesTemperature ? w->txtT : w->txtDiffractionInfo;
        EXPECT_EQ(blamed->toolTip(), c.why);
        EXPECT_EQ(w->focusWidget(), blamed);
        EXPECT_EQ(blamed->selectedText(), blamed->text());
        // The temperature is stored before the spacing is read, and not when it is refused.
        EXPECT_EQ(w->TempC, c.blamesTemperature ? tempBefore : 25.0f);
    }
    // The next good calculation clears the complaints.
    EXPECT_EQ(Calc("25", "2.75"), "2.15");
    EXPECT_TRUE(w->txtT->toolTip().isEmpty());
    EXPECT_TRUE(w->txtDiffractionInfo->toolTip().isEmpty());
}

TEST_F(WindowTest, NoPressureFromTheEngineClearsTheResult)
{
    ChooseNaCl();
    const Bad cases[] = {
        {"-300", "5.64", true, "Below absolute zero"},
        {"25", "1e-10", false, "Spacing too small"},            // the cell has no volume left
        {"25", "0.5", false, "Pressure too large to show"},    // beyond 21 million GPa
    };
    for (const Bad& c : cases) {
        SCOPED_TRACE(c.spacing);
        ASSERT_EQ(Calc("25", "5.64"), "0");
        EXPECT_EQ(Calc(c.temperature, c.spacing), "");
        controls::TextBox* blamed = c.blamesTemperature ? w->txtT : w->txtDiffractionInfo;
        EXPECT_EQ(blamed->toolTip(), c.why);
        EXPECT_EQ(w->focusWidget(), blamed);
    }
}

TEST_F(WindowTest, AResultOutsideTheModelsRangeIsShownButMarked)
{
    ChooseNaCl();
    struct Case {
        const char* spacing;
        int status;
        bool compressed;
        const char* why;
    };
    const Case cases[] = {
        {"4", 3, true, "below 0.5"},     // V/V0 = (4 / 5.64)^3, about 0.36
        {"7.5", 4, false, "above 1.5"},  // about 2.35
    };
    const QColor normal = w->txtPressure->palette().color(QPalette::Text);
    for (const Case& c : cases) {
        const double shown = Calc("25", c.spacing).toDouble();
        EXPECT_EQ(w->ErrCode, c.status);
        EXPECT_EQ(shown, std::nearbyint(w->Pressure * 100.0) / 100.0);
        EXPECT_EQ(shown > 0, c.compressed);
        EXPECT_TRUE(w->txtPressure->toolTip().contains(c.why)) << w->txtPressure->toolTip().toStdString();
        EXPECT_NE(w->txtPressure->palette().color(QPalette::Text), normal);
    }
    EXPECT_EQ(Calc("25", "5.64"), "0");
    EXPECT_TRUE(w->txtPressure->toolTip().isEmpty());
    EXPECT_EQ(w->txtPressure->palette().color(QPalette::Text), normal);
}

}  // namespace
