// Random hands on the shown window: every mouse button on every control, keys on whatever
// has the focus, any text typed into any box, calculations with sensible and senseless
// values. After every action the state and the boxes must agree, and the result box must
// keep its text or show what the stored inputs give. HV_MONKEY_ACTIONS sets the number of
// actions, HV_MONKEY_SEED the seed that reproduces a run.
#include "tests/window_fixture.h"
#include "tests/window_invariants.h"

#include <QApplication>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace {

uint64_t EnvNumber(const char* name, uint64_t fallback)
{
    bool ok = false;
    const qulonglong v = qEnvironmentVariable(name).toULongLong(&ok);
    return ok ? v : fallback;
}

// Context menus ask the headless platform for the keyboard, which it cannot give, and
// QTest remarks on every release off the window; neither is news.
QtMessageHandler outerHandler = nullptr;
void QuietHandler(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (!message.contains(QLatin1String("grabbing the keyboard")) && !message.contains(QLatin1String("outside target window")))
        outerHandler(type, context, message);
}

// What an action may do to the result box: a calculation may rewrite it, and the user may
// type into it (which nothing reads).
struct Effect {
    bool mayCalculate = false;
    bool mayEdit = false;
    std::string what;
};

class MonkeyTest : public WindowTest {
protected:
    void SetUp() override
    {
        WindowTest::SetUp();
        outerHandler = qInstallMessageHandler(QuietHandler);
        // Shortens the waits of BeforePress.
        savedInterval = QApplication::doubleClickInterval();
        QApplication::setDoubleClickInterval(40);
    }
    void TearDown() override
    {
        qInstallMessageHandler(outerHandler);
        QApplication::setDoubleClickInterval(savedInterval);
        WindowTest::TearDown();
    }

    int Pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng); }
    template <class T>
    T PickOf(std::initializer_list<T> items) { return items.begin()[Pick(static_cast<int>(items.size()))]; }

    QString Number(double lo, double hi, int decimals)
    {
        return QString::number(std::uniform_real_distribution<double>(lo, hi)(rng), 'f', Pick(decimals + 1));
    }
    QString Text()
    {
        static const char* const pieces[] = {"0", "1", "2", "3", "5", "7", "9", "4.2", "-", "+", "e", "E", "e-",
                                             ".", ",", " ", "x", "Q", "inf", "nan", "0x", "\xB0", "\xA0", "1e38"};
        QString s;
        const int length = Pick(50) == 0 ? 200 + Pick(400) : Pick(12);  // now and then a very long one
        while (s.size() < length) s += QString::fromLatin1(pieces[Pick(std::size(pieces))]);
        return s;
    }

    Effect Act();
    // A right button on a text box opens its context menu, which would swallow the next
    // press; the monkey dismisses it at once, as a user would with Escape.
    static void CloseMenus()
    {
        while (QWidget* popup = QApplication::activePopupWidget()) popup->close();
    }

    // A text box takes a press near its last double click as a triple click while a
    // wall-clock timer runs; the monkey lets that moment pass so that every run repeats.
    void BeforePress(QWidget* c, QPoint p)
    {
        const QPoint at = c->mapTo(w.get(), p);
        if (doubleClicked && (at - doubleClickedAt).manhattanLength() <= QApplication::startDragDistance() + 1) {
            QTest::qWait(QApplication::doubleClickInterval() + 20);
            doubleClicked = false;
        }
    }
    void Tap(QWidget* c)
    {
        BeforePress(c, c->rect().center());
        QTest::mouseClick(c, Qt::LeftButton);
    }

    std::mt19937_64 rng;
    bool doubleClicked = false;
    QPoint doubleClickedAt;
    int savedInterval = 0;
};

Effect MonkeyTest::Act()
{
    QWidget* const targets[] = {w.get(),     w->Frame1,    w->optStandard(0),       w->optStandard(1), w->Frame2,
                                w->txtT,     w->Label1,    w->txthkl2,              w->cmdhklPlus,     w->cmdhklMinus,
                                w->txtPeak,  w->Label4,    w->Label3,               w->txtDiffractionInfo,
                                w->Label2,   w->cmdCalc,   w->Frame3,               w->txtPressure};
    controls::TextBox* const boxes[] = {w->txtT, w->txthkl2, w->txtPeak, w->txtDiffractionInfo, w->txtPressure};
    const Qt::KeyboardModifiers mods = PickOf<Qt::KeyboardModifiers>({{}, {}, Qt::ShiftModifier, Qt::ControlModifier});
    const int kind = Pick(20);
    if (kind < 7) {  // a mouse button on any control, released where it was pressed or elsewhere
        QWidget* c = targets[Pick(std::size(targets))];
        const Qt::MouseButton b = PickOf({Qt::LeftButton, Qt::RightButton, Qt::MiddleButton});
        const QPoint p(Pick(c->width()), Pick(c->height()));
        // The press goes to whatever lies on top there: a frame's box, a neighbour's edge.
        QWidget* hit = w->childAt(c->mapTo(w.get(), p));
        hit = hit ? hit : w.get();
        BeforePress(c, p);
        if (Pick(8) == 0) {
            QTest::mouseDClick(c, Qt::LeftButton, mods, p);
            doubleClicked = true;
            doubleClickedAt = c->mapTo(w.get(), p);
        } else {
            QTest::mousePress(c, b, mods, p);
            CloseMenus();
            QTest::mouseRelease(c, b, mods, Pick(3) ? p : QPoint(Pick(600) - 300, Pick(600) - 300));
        }
        return {hit == w->cmdCalc, hit == w->txtPressure, "mouse " + std::to_string(b) + " on " + hit->objectName().toStdString()};
    }
    if (kind < 11) {  // typing, into the box's text or over all of it
        controls::TextBox* box = boxes[Pick(std::size(boxes))];
        Tap(box);
        if (Pick(2)) {
            box->selectAll();
            QTest::keyClick(box, Qt::Key_Delete);
        }
        const QString text = Text();
        QTest::keyClicks(box, text);
        return {false, box == w->txtPressure, "type '" + text.toStdString() + "' into " + box->objectName().toStdString()};
    }
    if (kind < 16) {  // a key on whatever has the focus
        QWidget* target = w->focusWidget() ? w->focusWidget() : w.get();
        const Qt::Key k = PickOf({Qt::Key_Tab, Qt::Key_Tab, Qt::Key_Backtab, Qt::Key_Space, Qt::Key_Return, Qt::Key_Enter,
                                  Qt::Key_Up, Qt::Key_Down, Qt::Key_Left, Qt::Key_Right, Qt::Key_Backspace,
                                  Qt::Key_Delete, Qt::Key_Escape, Qt::Key_A, Qt::Key_V, Qt::Key_X, Qt::Key_Z});
        QTest::keyClick(target, k, mods);
        return {target == w->cmdCalc, target == w->txtPressure,
                "key " + std::to_string(k) + " on " + target->objectName().toStdString()};
    }
    if (kind < 17) {  // another standard, by a click on its option
        Tap(w->optStandard(Pick(2)));
        return {false, false, "choose a standard"};
    }
    // Values a user might really measure, now and then an extreme one or a slip of the finger.
    const auto value = [&](double lo, double hi, int decimals) {
        const int how = Pick(10);
        if (how == 0) return Text();
        if (how == 1) return QString::number(PickOf({-1.0, 1.0}) * std::pow(10.0, Pick(90) - 45), 'g', 1 + Pick(3));
        return Number(lo, hi, decimals);
    };
    Type(w->txtT, value(-300, 2000, 2));
    Type(w->txtDiffractionInfo, value(0.5, 7, 5));
    Tap(w->cmdCalc);
    return {true, false, "calculate " + w->txtT->text().toStdString() + " / " + w->txtDiffractionInfo->text().toStdString()};
}

TEST_F(MonkeyTest, RandomActionsKeepTheWindowConsistent)
{
    const uint64_t seed = EnvNumber("HV_MONKEY_SEED", 20240611);
    const uint64_t actions = EnvNumber("HV_MONKEY_ACTIONS", 3000);
    rng.seed(seed);
    uint64_t results = 0;  // calculations that showed a new pressure
    for (uint64_t i = 0; i < actions; ++i) {
        const QString before = w->txtPressure->text();
        const Effect e = Act();
        CloseMenus();
        std::string fault = invariants::StateFault(*w);
        if (fault.empty() && !e.mayEdit) fault = invariants::PressureFault(*w, before, e.mayCalculate);
        if (!fault.empty()) {
            FAIL() << "HV_MONKEY_SEED=" << seed << ", action " << i << " (" << e.what << "): " << fault;
        }
        const QString now = w->txtPressure->text();
        results += e.mayCalculate && !e.mayEdit && now != before && !now.isEmpty();
    }
    std::printf("%llu actions, %llu new pressures shown, HV_MONKEY_SEED=%llu\n", static_cast<unsigned long long>(actions),
                static_cast<unsigned long long>(results), static_cast<unsigned long long>(seed));
    // A monkey that never got a pressure out of the window has tested little.
    if (actions >= 300) {
        EXPECT_GT(results, actions / 100) << "HV_MONKEY_SEED=" << seed;
    }
}

}  // namespace
