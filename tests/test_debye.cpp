#include "engine/clsKolvane.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>

namespace {

constexpr double kUnset = -777.25;
constexpr double kPi = 3.14159265358979323846;
const double kInf = std::numeric_limits<double>::infinity();

struct Result {
    double f = kUnset;
    int16_t ierr = 99;
};

Result debye(double x)
{
    Result r;
    clsKolvane().DEBYE(x, r.f, r.ierr);
    return r;
}

// D(x) by composite Simpson in long double with 20000 panels: far finer than any
// 10-point rule, so it stands in for the exact function.
double simpsonD(double x)
{
    const int n = 20000;
    const long double h = static_cast<long double>(x) / n;
    auto f = [](long double t) { return t == 0 ? 0.0L : t * t * t / std::expm1(t); };
    long double s = f(0) + f(x);
    for (int i = 1; i < n; ++i) s += (i % 2 ? 4 : 2) * f(i * h);
    const long double integral = s * h / 3;
    return static_cast<double>(3 * integral / (static_cast<long double>(x) * x * x));
}

// D(x) = sum 3 B_n x^n / ((n + 3) n!), from t / (e^t - 1) = sum B_n t^n / n!;
// through x^10 the truncation stays below 1e-17 for x <= 0.25.
double seriesD(double x)
{
    const long double t = x;
    return static_cast<double>(1 - 3 * t / 8 + t * t / 20 - std::pow(t, 4) / 1680 +
                               std::pow(t, 6) / 90720 - std::pow(t, 8) / 4435200 +
                               std::pow(t, 10) / 207567360);
}

// Values given to three figures (checked to half a unit of the third), and the exact
// function by fine Simpson. The 10-point rule is near exact for small arguments and loses
// digits as the poles of the integrand at +-2 pi i come closer to the scaled interval:
// about eight digits at 10, a few parts per million near 20. Beyond 20 the asymptote is the
// exact function less a tail of order e^-x.
TEST(Debye, PublishedValuesAndFineSimpson)
{
    struct Case { double x, value, halfUnit, relTol; };
    const double below20 = std::nextafter(20.0, 0.0);
    for (const Case c : {Case{2e-5, 1, 5e-4, 1e-10}, Case{0.01, 0.996, 5e-4, 1e-13},
                         Case{0.1, 0.963, 5e-4, 1e-13}, Case{1, 0.674, 5e-4, 1e-12},
                         Case{2, 0.441, 5e-4, 1e-12}, Case{5, 0.118, 5e-4, 1e-10},
                         Case{10, 0.0193, 5e-5, 1e-7}, Case{15, 0.00577, 5e-6, 1e-6},
                         Case{below20, 0.00244, 5e-6, 5e-6}, Case{20, 0.00244, 5e-6, 5e-6},
                         Case{100, 1.95e-5, 5e-8, 1e-9}}) {
        const Result r = debye(c.x);
        const double exact = simpsonD(c.x);
        EXPECT_EQ(r.ierr, 0) << c.x;
        EXPECT_NEAR(r.f, c.value, c.halfUnit) << c.x;
        EXPECT_NEAR(r.f, exact, exact * c.relTol) << c.x;
    }
}

// Small arguments: e^t - 1 loses about 2e-16 / t of its relative accuracy at node t, which
// bounds the error of the quadrature by roughly 3.3e-16 / x; the weights themselves are good
// to about 14 digits.
TEST(Debye, QuadratureFollowsPowerSeriesForSmallArguments)
{
    for (double x : {1.5e-5, 1e-4, 1e-3, 1e-2, 0.1, 0.25}) {
        const Result r = debye(x);
        EXPECT_EQ(r.ierr, 0) << x;
        EXPECT_NEAR(r.f, seriesD(x), 1e-15 / x + 3e-14) << x;
    }
}

TEST(Debye, SeamsBetweenRegimes)
{
    EXPECT_EQ(debye(0).f, 1.0);
    EXPECT_EQ(debye(-0.0).f, 1.0);  // -0 passes the test x >= 0
    EXPECT_EQ(debye(1e-7).f, 1.0);
    const Result at = debye(1.0e-5);
    EXPECT_EQ(at.ierr, 0);
    EXPECT_EQ(at.f, 1.0);

    const double above = std::nextafter(1.0e-5, 1.0);
    const Result justAbove = debye(above);
    EXPECT_EQ(justAbove.ierr, 0);
    EXPECT_LT(justAbove.f, 1.0);
    EXPECT_NEAR(1.0 - justAbove.f, 3.0 * above / 8, 1e-10);  // about 3.75e-6

    const double asymptote = std::pow(kPi, 4) / 40000;
    const Result at20 = debye(20);
    const Result below20 = debye(std::nextafter(20.0, 0.0));
    EXPECT_EQ(at20.ierr, 0);
    EXPECT_NEAR(at20.f, asymptote, asymptote * 1e-15);
    // About 8.2e-9, or 3.4 parts per million; the exact 10-point rule gives 8.58e-9.
    EXPECT_NEAR(at20.f - below20.f, 8.2e-9, 0.5e-9);
    EXPECT_NEAR((at20.f - below20.f) / at20.f, 3.4e-6, 0.2e-6);
    EXPECT_NEAR(debye(100).f, std::pow(kPi, 4) / 5e6, 1e-20);
}

TEST(Debye, NegativeOrNaNArgumentIsRefusedAndResultUntouched)
{
    for (double x : {-1.0, -1e-300, -20.0, -kInf, std::numeric_limits<double>::quiet_NaN()}) {
        const Result r = debye(x);
        EXPECT_EQ(r.ierr, 1) << x;
        EXPECT_EQ(r.f, kUnset) << x;
    }
    // The status is reset on every call: a refused call leaves nothing behind.
    double f = kUnset;
    int16_t ierr = 0;
    const clsKolvane engine;
    engine.DEBYE(-1.0, f, ierr);
    EXPECT_EQ(ierr, 1);
    engine.DEBYE(1.0, f, ierr);
    EXPECT_EQ(ierr, 0);
    EXPECT_NEAR(f, 0.674415564078, 1e-12);  // D(1)
}

TEST(Debye, HugeArgumentsTendToZero)
{
    for (double x : {1e6, 1e103, 1e300, kInf}) {
        const Result r = debye(x);
        EXPECT_EQ(r.ierr, 0) << x;
        EXPECT_TRUE(std::isfinite(r.f)) << x;
        EXPECT_GE(r.f, 0.0) << x;
        EXPECT_LE(r.f, 1e-16) << x;
    }
}

TEST(Func, IntegrandValuesAndLimits)
{
    const clsKolvane engine;
    EXPECT_EQ(engine.FUNC(0.0), 0.0);
    EXPECT_NEAR(engine.FUNC(1.0), 1 / (2.718281828459045235 - 1), 1e-16);  // about 0.582
    EXPECT_NEAR(engine.FUNC(20.0), 1.648922901e-5, 1e-14);  // 8000 / (e^20 - 1)
    EXPECT_NEAR(engine.FUNC(1e-3), 1e-6 * (1 - 5e-4 + 1e-6 / 12), 1e-18);
    for (double t : {710.0, 800.0, 1e6, kInf}) {
        EXPECT_EQ(engine.FUNC(t), 0.0) << t;
    }
}

}  // namespace
