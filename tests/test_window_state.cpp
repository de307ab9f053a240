// The window's state as the user drives it: start-up, reflection lists, stepping and the
// choice of standard, with the mouse and the keyboard.
#include "tests/window_fixture.h"
#include "tests/window_invariants.h"

#include <string>
#include <vector>

namespace {

TEST_F(WindowTest, StartsWithCsClAt25DegreesAndTheLatticeParameter)
{
    EXPECT_EQ(w->windowTitle(), "Hi Varnisse");
    EXPECT_FALSE(w->optStandard.Selected(0));
    EXPECT_TRUE(w->optStandard.Selected(1));
    EXPECT_EQ(w->txtT->text(), "25");
    EXPECT_EQ(w->txthkl2->text(), "1");
    EXPECT_EQ(w->txtPeak->text(), "1 0 0 / L.P.");
    EXPECT_EQ(w->txtDiffractionInfo->text(), "4.11904");
    EXPECT_EQ(w->txtPressure->text(), "");
    EXPECT_EQ(w->hkl2Count, 15);
    EXPECT_EQ(w->LatticeRef, 4.11904f);
    EXPECT_EQ(w->Engine, nullptr);  // made by the first calculation only
}

TEST_F(WindowTest, StepsThroughEachWholeListAndStopsAtBothEnds)
{
    for (const bool nacl : {true, false}) {
        SCOPED_TRACE(nacl ? "NaCl" : "CsCl");
        nacl ? ChooseNaCl() : ChooseCsCl();
        const auto& list = *invariants::ListOf(nacl ? "NaCl" : "CsCl");
        for (std::size_t i = 0; i < list.size(); ++i) {
            EXPECT_EQ(w->hkl2Index, static_cast<int>(i + 1));
            EXPECT_EQ(w->txthkl2->text(), QString::number(list[i].hkl2));
            EXPECT_EQ(w->txtPeak->text(), list[i].peak);
            if (nacl) {
                EXPECT_NE(w->txthkl2->text(), "12") << "NaCl has no 2 2 2";
            }
            Plus();
        }
        // "+" at the end of the list stays there, and so does "-" at its start.
        EXPECT_EQ(w->hkl2Index, static_cast<int>(list.size()));
        EXPECT_EQ(w->txtPeak->text(), list.back().peak);
        Minus(static_cast<int>(list.size()) + 2);
        EXPECT_EQ(w->hkl2Index, 1);
        EXPECT_EQ(w->txtPeak->text(), list.front().peak);
    }
}

TEST_F(WindowTest, EveryRefreshRewritesTheStoredTemperature)
{
    Type(w->txtT, "300");
    Minus();  // at position 1: no move, but still a refresh
    EXPECT_EQ(w->hkl2Index, 1);
    EXPECT_EQ(w->txtT->text(), "25");

    Type(w->txtT, "400");
    ChooseNaCl();
    EXPECT_EQ(w->txtT->text(), "25");

    // Once a calculation has stored it, the refresh writes it back in its own form.
    Calc("25.0", "5.64");
    EXPECT_EQ(w->txtT->text(), "25.0");
    Plus();
    EXPECT_EQ(w->txtT->text(), "25");
}

TEST_F(WindowTest, StepsKeepTheTypedSpacingButAStandardChoiceResetsIt)
{
    Plus(3);
    Type(w->txtDiffractionInfo, "2.1");
    Plus();
    Minus();
    EXPECT_EQ(w->txtDiffractionInfo->text(), "2.1");

    Calc("25", "2.1");
    const QString result = w->txtPressure->text();
    ASSERT_FALSE(result.isEmpty());

    ChooseNaCl();
    EXPECT_EQ(w->StandardName, "NaCl");
    EXPECT_EQ(w->hkl2Index, 1);
    EXPECT_EQ(w->hkl2Count, 8);
    EXPECT_EQ(w->txthkl2->text(), "1");
    EXPECT_EQ(w->txtPeak->text(), "L.P.");
    EXPECT_EQ(w->txtDiffractionInfo->text(), "5.64");
    EXPECT_EQ(w->txtPressure->text(), result) << "choosing a standard keeps the last result";

    // Clicking the option already selected still resets position and spacing.
    Plus(2);
    Type(w->txtDiffractionInfo, "3");
    ChooseNaCl();
    EXPECT_EQ(w->hkl2Index, 1);
    EXPECT_EQ(w->txtDiffractionInfo->text(), "5.64");
}

TEST_F(WindowTest, AnyMouseButtonReleasedOverAStepButtonSteps)
{
    struct Case {
        const char* what;
        std::function<void()> act;
        int expected;
    };
    const Case cases[] = {
        {"left", [&] { Click(w->cmdhklPlus, Qt::LeftButton); }, 2},
        {"right", [&] { Click(w->cmdhklPlus, Qt::RightButton); }, 2},
        {"middle", [&] { Click(w->cmdhklPlus, Qt::MiddleButton); }, 2},
        {"shift+right",
         [&] { QTest::mouseClick(w->cmdhklPlus, Qt::RightButton, Qt::ShiftModifier); }, 2},
        {"double click", [&] { QTest::mouseDClick(w->cmdhklPlus, Qt::LeftButton); }, 3},
        {"pressed, then moved off before the release",
         [&] {
             QTest::mousePress(w->cmdhklPlus, Qt::LeftButton);
             QTest::mouseMove(w->txtPeak);
             QTest::mouseRelease(w->cmdhklPlus, Qt::LeftButton, {}, QPoint(60, -40));
         },
         2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Minus(20);
        ASSERT_EQ(w->hkl2Index, 1);
        c.act();
        EXPECT_EQ(w->hkl2Index, c.expected);
    }
    Click(w->cmdhklMinus, Qt::RightButton);
    EXPECT_EQ(w->hkl2Index, 1);
}

TEST_F(WindowTest, KeyboardActivationOfStepButtonsRunsNothing)
{
    Plus(2);
    for (controls::PushButton* button : {w->cmdhklPlus, w->cmdhklMinus}) {
        for (Qt::Key key : {Qt::Key_Space, Qt::Key_Return, Qt::Key_Enter}) {
            button->setFocus();
            QTest::keyClick(button, key);
            EXPECT_EQ(w->hkl2Index, 3);
        }
    }

    // An arrow key moves the selection and the state with it; a mouse release on either
    // option (even one that changes nothing) runs the standard command again.
    w->optStandard(1)->setFocus();
    QTest::keyClick(w->optStandard(1), Qt::Key_Up);
    EXPECT_TRUE(w->optStandard.Selected(0));
    EXPECT_EQ(w->StandardName, "NaCl");
    Plus(2);
    EXPECT_EQ(w->hkl2Index, 3);

    Click(w->optStandard(1), Qt::RightButton);
    EXPECT_TRUE(w->optStandard.Selected(0)) << "a right click selects nothing";
    EXPECT_EQ(w->StandardName, "NaCl");
    EXPECT_EQ(w->hkl2Index, 1);
    EXPECT_EQ(w->txtDiffractionInfo->text(), "5.64");
}

// The window never shows one standard and computes with the other: an arrow key in the
// option group runs the standard command; Space on the selected option changes nothing.
TEST_F(WindowTest, AKeyboardChangeOfTheStandardTakesTheStateAlong)
{
    Plus(2);
    w->optStandard(1)->setFocus(Qt::BacktabFocusReason);  // Shift+Tab onto the selected CsCl
    QTest::keyClick(w->optStandard(1), Qt::Key_Up);
    EXPECT_EQ(w->txtPeak->text(), "L.P.");
    EXPECT_EQ(w->txtDiffractionInfo->text(), "5.64");
    Click(w->cmdCalc);
    EXPECT_EQ(w->txtPressure->text(), "0") << "ambient NaCl, not a stretched CsCl";

    w->optStandard(0)->setFocus();
    QTest::keyClick(w->optStandard(0), Qt::Key_Down);
    EXPECT_EQ(w->StandardName, "CsCl");
    Plus();
    Type(w->txtDiffractionInfo, "2.8");
    w->optStandard(1)->setFocus();
    QTest::keyClick(w->optStandard(1), Qt::Key_Space);
    EXPECT_EQ(w->hkl2Index, 2);
    EXPECT_EQ(w->txtDiffractionInfo->text(), "2.8");
}

// A complaint explains the text it was made about; the refresh that rewrites the box
// takes it away, and a box left alone keeps it.
TEST_F(WindowTest, ARewrittenBoxLosesItsReason)
{
    ChooseNaCl();
    Calc("warm", "5.64");
    ASSERT_EQ(w->txtT->toolTip(), "Not a number");
    Plus();
    EXPECT_EQ(w->txtT->text(), "25");
    EXPECT_EQ(w->txtT->toolTip(), "");
    Calc("-300", "5.64");
    ASSERT_EQ(w->txtT->toolTip(), "Below absolute zero");
    Minus();
    EXPECT_EQ(w->txtT->toolTip(), "");

    Calc("25", "x");
    Plus();
    EXPECT_EQ(w->txtDiffractionInfo->toolTip(), "Not a number") << "its text is still the one refused";
    ChooseCsCl();
    EXPECT_EQ(w->txtDiffractionInfo->toolTip(), "");
}

TEST_F(WindowTest, AnOptionIsHitAnywhereInItsRectangle)
{
    controls::OptionButton* nacl = w->optStandard(0);
    const QPoint farRight(nacl->width() - 3, nacl->height() / 2);  // well past the caption
    QTest::mouseClick(nacl, Qt::LeftButton, {}, farRight);
    EXPECT_TRUE(w->optStandard.Selected(0));
    EXPECT_EQ(w->StandardName, "NaCl");
    EXPECT_EQ(w->txtDiffractionInfo->text(), "5.64");
}

TEST_F(WindowTest, ProgramWritesAndSelectionsRaiseNothingHandled)
{
    Plus(4);
    w->optStandard.Select(0);  // a selection by the program, not by the user
    w->txthkl2->SetText("7");
    w->txtPeak->SetText("x");
    EXPECT_EQ(w->StandardName, "CsCl");
    EXPECT_EQ(w->hkl2Index, 5);
    EXPECT_EQ(w->txtDiffractionInfo->text(), "4.11904");
}

}  // namespace
