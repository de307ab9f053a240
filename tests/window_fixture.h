// A shown calculator window and the user's hands: mouse releases, clicks and keys on
// real widgets.
#pragma once

#include "window/frmMain.h"

#include <QLocale>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        QLocale::setDefault(QLocale::c());
        w = std::make_unique<frmMain>();
        w->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(w.get()));
    }
    void TearDown() override
    {
        w.reset();
        QLocale::setDefault(QLocale::c());
    }

    // The window as a user in this locale starts it.
    void StartIn(const QLocale& locale)
    {
        w.reset();
        QLocale::setDefault(locale);
        w = std::make_unique<frmMain>();
        w->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(w.get()));
    }

    void Click(QWidget* control, Qt::MouseButton button = Qt::LeftButton) { QTest::mouseClick(control, button); }
    void Plus(int times = 1)
    {
        for (int i = 0; i < times; ++i) Click(w->cmdhklPlus);
    }
    void Minus(int times = 1)
    {
        for (int i = 0; i < times; ++i) Click(w->cmdhklMinus);
    }
    void ChooseNaCl() { Click(w->optStandard(0)); }
    void ChooseCsCl() { Click(w->optStandard(1)); }
    // Types into a box as a user would: select all, then the new text.
    void Type(controls::TextBox* box, const QString& text)
    {
        box->setFocus();
        box->selectAll();
        QTest::keyClick(box, Qt::Key_Delete);
        for (const QChar c : text) {  // QTest spells out Latin-1 only; other scripts come as text
            if (c.unicode() < 0x100) QTest::keyClick(box, c.toLatin1());
            else QTest::sendKeyEvent(QTest::Click, box, Qt::Key_unknown, QString(c), Qt::NoModifier);
        }
    }
    // Fills in temperature and spacing and presses "Calc ->"; returns the result box.
    QString Calc(const QString& temperature, const QString& spacing)
    {
        Type(w->txtT, temperature);
        Type(w->txtDiffractionInfo, spacing);
        Click(w->cmdCalc);
        return w->txtPressure->text();
    }

    std::unique_ptr<frmMain> w;
};
