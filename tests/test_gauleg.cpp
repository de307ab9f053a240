#include "engine/clsKolvane.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <vector>

namespace {

constexpr double kUnset = -777.25;  // marks slots the rule must not write

struct Rule {
    std::vector<double> x, w;
};

// Arrays one longer than needed on each side so stray writes show up.
Rule gauleg(double x1, double x2, int16_t n, std::size_t size)
{
    Rule r{std::vector<double>(size, kUnset), std::vector<double>(size, kUnset)};
    clsKolvane().GAULEG(x1, x2, r.x, r.w, n);
    return r;
}

// Abramowitz & Stegun, table 25.4: positive nodes and their weights, outermost first.
constexpr double kNode10[5] = {0.973906528517171720078, 0.865063366688984510732,
                               0.679409568299024406234, 0.433395394129247190799,
                               0.148874338981631210884};
constexpr double kWeight10[5] = {0.066671344308688137593, 0.149451349150580593145,
                                 0.219086362515982043995, 0.269266719309996355091,
                                 0.295524224714752870173};
constexpr double kNode5[3] = {0.906179845938663992797, 0.538469310105683091036, 0.0};
constexpr double kWeight5[3] = {0.236926885056189087514, 0.478628670499366468041,
                                128.0 / 225.0};

TEST(Gauleg, TenPointsOnMinusOneOneMatchPublishedTable)
{
    const Rule r = gauleg(-1, 1, 10, 11);
    double sum = 0;
    for (int i = 1; i <= 5; ++i) {
        EXPECT_NEAR(r.x[i], -kNode10[i - 1], 1e-13) << i;
        EXPECT_NEAR(r.w[i], kWeight10[i - 1], 1e-13) << i;
        EXPECT_EQ(r.x[11 - i], -r.x[i]) << i;  // exact mirror about the centre 0
        EXPECT_EQ(r.w[11 - i], r.w[i]) << i;
        sum += r.w[i] + r.w[11 - i];
    }
    for (int i = 1; i < 10; ++i) EXPECT_LT(r.x[i], r.x[i + 1]) << "ascending at " << i;
    EXPECT_NEAR(sum, 2.0, 2e-14);
}

TEST(Gauleg, TenPointsOnUnitInterval)
{
    const Rule r = gauleg(0, 1, 10, 11);
    EXPECT_NEAR(r.x[1], 0.0130, 0.00005);
    EXPECT_NEAR(r.x[10], 0.987, 0.0005);
    EXPECT_NEAR(r.w[1], 0.0333, 0.00005);
    double sum = 0;
    for (int i = 1; i <= 10; ++i) {
        const double t = i <= 5 ? -kNode10[i - 1] : kNode10[10 - i];
        EXPECT_NEAR(r.x[i], 0.5 * (1 + t), 1e-13) << i;
        EXPECT_NEAR(r.w[i], 0.5 * kWeight10[i <= 5 ? i - 1 : 10 - i], 1e-13) << i;
        EXPECT_NEAR(r.x[i] + r.x[11 - i], 1.0, std::nextafter(1.0, 2.0) - 1.0) << i;
        sum += r.w[i];
    }
    EXPECT_NEAR(sum, 1.0, 1e-14);
}

TEST(Gauleg, OddCountsWriteTheMiddleNode)
{
    const Rule five = gauleg(0, 1, 5, 6);
    EXPECT_NEAR(five.x[3], 0.5, 1e-13);
    EXPECT_NEAR(five.w[3], 64.0 / 225.0, 64.0 / 225.0 * 1e-13);
    for (int i = 1; i <= 2; ++i) {
        EXPECT_NEAR(five.x[i], 0.5 * (1 - kNode5[i - 1]), 1e-13) << i;
        EXPECT_NEAR(five.w[i], 0.5 * kWeight5[i - 1], 1e-13) << i;
    }
    EXPECT_NEAR(five.x[1], 0.0469, 0.00005);
    EXPECT_NEAR(five.w[1], 0.118, 0.0005);

    const Rule one = gauleg(0, 1, 1, 2);
    EXPECT_DOUBLE_EQ(one.x[1], 0.5);
    EXPECT_DOUBLE_EQ(one.w[1], 1.0);
}

// An N-point Gauss rule on [a, b] integrates every polynomial up to degree 2N-1 exactly; for
// t^2N it falls short by (b-a)^(2N+1) (N!)^4 / ((2N+1) ((2N)!)^2).
TEST(Gauleg, ExactForPolynomialsUpToDegreeTwoNMinusOne)
{
    for (int16_t n : {1, 2, 3, 4, 5, 7, 10, 16}) {
        const Rule r = gauleg(0, 2, n, n + 1);
        auto quad = [&](int k) {
            double s = 0;
            for (int i = 1; i <= n; ++i) s += r.w[i] * std::pow(r.x[i], k);
            return s;
        };
        for (int k = 0; k <= 2 * n - 1; ++k) {
            const double exact = std::pow(2.0, k + 1) / (k + 1);
            EXPECT_NEAR(quad(k), exact, exact * 1e-12) << "N=" << n << " k=" << k;
        }
        if (n > 10) continue;  // the shortfall drowns in rounding
        const double nf = std::tgamma(n + 1.0), n2f = std::tgamma(2 * n + 1.0);
        const double shortfall = std::pow(2.0, 2 * n + 1) * std::pow(nf, 4) / ((2 * n + 1) * n2f * n2f);
        const double exact = std::pow(2.0, 2 * n + 1) / (2 * n + 1);
        EXPECT_NEAR(exact - quad(2 * n), shortfall, shortfall * 0.01) << "N=" << n;
    }
}

TEST(Gauleg, WritesOnlySlotsOneToNAndPairedWeightsAreBitwiseEqual)
{
    struct Case { double x1, x2; int16_t n; };
    for (const Case c : {Case{0, 1, 10}, Case{-1, 1, 10}, Case{0, 19.99, 10}, Case{-3, 7, 5},
                         Case{2, -2, 6}, Case{0, 1, 1}, Case{0, 1e-5, 13}}) {
        const Rule r = gauleg(c.x1, c.x2, c.n, c.n + 4);
        EXPECT_EQ(r.x[0], kUnset);
        EXPECT_EQ(r.w[0], kUnset);
        for (int i = c.n + 1; i < c.n + 4; ++i) {
            EXPECT_EQ(r.x[i], kUnset) << i;
            EXPECT_EQ(r.w[i], kUnset) << i;
        }
        for (int i = 1; i <= c.n; ++i) {
            EXPECT_NE(r.w[i], kUnset) << i;
            EXPECT_EQ(std::bit_cast<uint64_t>(r.w[i]), std::bit_cast<uint64_t>(r.w[c.n + 1 - i]))
                << "N=" << c.n << " i=" << i;
        }
    }
}

TEST(Gauleg, DegenerateArgumentsWriteNothingOrZeroWeights)
{
    for (int16_t n : {0, -1, -10, INT16_MIN}) {
        const Rule r = gauleg(0, 1, n, 12);
        for (std::size_t i = 0; i < 12; ++i) {
            EXPECT_EQ(r.x[i], kUnset) << "N=" << n;
            EXPECT_EQ(r.w[i], kUnset) << "N=" << n;
        }
    }

    const Rule point = gauleg(3.5, 3.5, 10, 11);
    for (int i = 1; i <= 10; ++i) {
        EXPECT_EQ(point.x[i], 3.5) << i;
        EXPECT_EQ(point.w[i], 0.0) << i;
    }

    // Either array lacking index N: the rule cannot be stored, so nothing is.
    for (auto [xs, ws] : {std::pair{10, 11}, std::pair{11, 10}, std::pair{10, 10}, std::pair{0, 0}}) {
        std::vector<double> x(xs, kUnset), w(ws, kUnset);
        clsKolvane().GAULEG(0.0, 1.0, x, w, 10);
        for (double v : x) EXPECT_EQ(v, kUnset);
        for (double v : w) EXPECT_EQ(v, kUnset);
    }
}

}  // namespace
