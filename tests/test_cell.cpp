// Spacings, volumes and cells refined from peaks, against hand-derived numbers.
#include "core/cell.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace hv {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr CrystalSystem kCubic = CrystalSystem::Cubic, kHex = CrystalSystem::Hexagonal;
const double kSqrt3 = std::sqrt(3.0);
const double kA = 2.761, kC = 4.456;  // a hexagonal cell near rhenium's

TEST(Cell, SpacingsAndVolumes)
{
    const std::tuple<CrystalSystem, Hkl, double> cases[] = {
        {kCubic, {2, 0, 0}, 5.64 / 2},
        {kCubic, {1, 1, 1}, 5.64 / kSqrt3},
        {kCubic, {2, 2, 1}, 5.64 / 3},
        {kHex, {1, 0, 0}, kA * kSqrt3 / 2},  // the height of the base's equilateral triangle
        {kHex, {1, -1, 0}, kA * kSqrt3 / 2},  // one of 1 0 0's six
        {kHex, {1, 1, 0}, kA / 2},
        {kHex, {0, 0, 2}, kC / 2},
        {kHex, {1, 0, 1}, 1 / std::sqrt(4 / (3 * kA * kA) + 1 / (kC * kC))},
    };
    for (const auto& [system, hkl, d] : cases) {
        EXPECT_NEAR(Spacing(system, system == kCubic ? 5.64 : kA, kC, hkl), d, 1e-14) << hkl.h << hkl.k << hkl.l;
    }
    EXPECT_TRUE(std::isnan(Spacing(kCubic, 5.64, kNaN, {0, 0, 0})));
    EXPECT_TRUE(std::isnan(Spacing(kCubic, -5.64, kNaN, {1, 0, 0})));
    EXPECT_TRUE(std::isnan(Spacing(kHex, kA, kNaN, {1, 0, 0})));
    EXPECT_DOUBLE_EQ(CellVolume(kCubic, 5.64, kNaN), 179.406144);
    // Two edges 2 at 120 degrees: base area 4 sin 120 = 2 sqrt 3, times c = 3.
    EXPECT_DOUBLE_EQ(CellVolume(kHex, 2, 3), 6 * kSqrt3);
}

std::vector<CellPeak> Exact(CrystalSystem system, double a, double c, std::initializer_list<Hkl> hkls, double sigma)
{
    std::vector<CellPeak> out;
    for (const Hkl& hkl : hkls) out.push_back({hkl, Spacing(system, a, c, hkl), sigma});
    return out;
}

TEST(RefineCell, RecoversExactCells)
{
    const CellFit cubic = RefineCell(kCubic, Exact(kCubic, 4.12, kNaN, {{1, 0, 0}, {1, 1, 0}, {2, 1, 1}}, 1e-4));
    ASSERT_TRUE(cubic.ok) << cubic.why;
    EXPECT_NEAR(cubic.a, 4.12, 1e-12);
    EXPECT_TRUE(std::isnan(cubic.c));
    EXPECT_NEAR(cubic.volume, 4.12 * 4.12 * 4.12, 1e-9);
    EXPECT_NEAR(cubic.reducedChi2, 0, 1e-12);
    EXPECT_EQ(cubic.parameters, 1);
    EXPECT_EQ(cubic.peaks, 3);

    const CellFit hcp =
        RefineCell(kHex, Exact(kHex, kA, kC, {{1, 0, 0}, {0, 0, 2}, {1, 0, 1}, {1, 0, 2}, {1, 1, 0}, {1, 0, 3}}, 2e-4));
    ASSERT_TRUE(hcp.ok) << hcp.why;
    EXPECT_NEAR(hcp.a, kA, 1e-12);
    EXPECT_NEAR(hcp.c, kC, 1e-12);
    EXPECT_NEAR(hcp.volume, kSqrt3 / 2 * kA * kA * kC, 1e-10);
    EXPECT_EQ(hcp.parameters, 2);
}

// One 2 0 0 peak: a = 2 d, sigma_a = 2 sigma_d, sigma_V = 3 a^2 sigma_a.
TEST(RefineCell, CubicSigmaFromOnePeak)
{
    const std::vector<CellPeak> peaks = {{{2, 0, 0}, 2.82, 1e-3}};
    const CellFit fit = RefineCell(kCubic, peaks);
    ASSERT_TRUE(fit.ok) << fit.why;
    EXPECT_NEAR(fit.a, 5.64, 1e-13);
    EXPECT_NEAR(fit.sigmaA, 2e-3, 1e-15);
    EXPECT_NEAR(fit.sigmaV, 3 * 5.64 * 5.64 * 2e-3, 1e-12);
    EXPECT_NEAR(fit.covAV, 3 * 5.64 * 5.64 * 4e-6, 1e-14);
}

// Two reflections fix a and c exactly, so the covariance is the Jacobian of the direct
// solution: a = 2 d100 / sqrt 3, and 1/c^2 = 1/d101^2 - 1/d100^2.
TEST(RefineCell, ExactlyDeterminedHexagonalCovariance)
{
    const double d100 = kA * kSqrt3 / 2, d101 = 1 / std::sqrt(4 / (3 * kA * kA) + 1 / (kC * kC));
    const double s100 = 3e-4, s101 = 5e-4;
    const std::vector<CellPeak> peaks = {{{1, 0, 0}, d100, s100}, {{1, 0, 1}, d101, s101}};
    const CellFit fit = RefineCell(kHex, peaks);
    ASSERT_TRUE(fit.ok) << fit.why;

    const double c3 = kC * kC * kC, dadd100 = 2 / kSqrt3;
    const double dcdd100 = -c3 / (d100 * d100 * d100), dcdd101 = c3 / (d101 * d101 * d101);
    const double varA = dadd100 * dadd100 * s100 * s100;
    const double varC = dcdd100 * dcdd100 * s100 * s100 + dcdd101 * dcdd101 * s101 * s101;
    const double covAC = dadd100 * dcdd100 * s100 * s100;
    const double dVda = kSqrt3 * kA * kC, dVdc = kSqrt3 / 2 * kA * kA;  // V = sqrt3/2 a^2 c
    const double varV = dVda * dVda * varA + 2 * dVda * dVdc * covAC + dVdc * dVdc * varC;

    EXPECT_NEAR(fit.a, kA, 1e-12);
    EXPECT_NEAR(fit.c, kC, 1e-12);
    EXPECT_NEAR(fit.sigmaA, std::sqrt(varA), 1e-9 * std::sqrt(varA));
    EXPECT_NEAR(fit.sigmaC, std::sqrt(varC), 1e-9 * std::sqrt(varC));
    EXPECT_NEAR(fit.covAC, covAC, 1e-9 * std::abs(covAC));
    EXPECT_NEAR(fit.sigmaV, std::sqrt(varV), 1e-9 * std::sqrt(varV));
    EXPECT_NEAR(fit.covAV, dVda * varA + dVdc * covAC, 1e-9 * dVda * varA);
    EXPECT_TRUE(std::isnan(fit.reducedChi2));
}

// Scatter beyond the sigmas widens the uncertainty (chi-square above 1); scatter within them
// leaves the internal estimate. Scaling every sigma changes sigma_a only in the second case.
TEST(RefineCell, LargerOfInternalAndExternal)
{
    auto fitWith = [](double scatter, double sigma) {
        std::vector<CellPeak> peaks = Exact(kCubic, 4.0, kNaN, {{1, 0, 0}, {1, 1, 0}, {1, 1, 1}, {2, 0, 0}}, sigma);
        for (std::size_t i = 0; i < peaks.size(); ++i) peaks[i].d += i % 2 == 0 ? scatter : -scatter;
        return RefineCell(kCubic, peaks);
    };
    const CellFit wide = fitWith(1e-3, 1e-4), wider = fitWith(1e-3, 2e-4);
    EXPECT_GT(wide.reducedChi2, 1);
    EXPECT_GT(wider.reducedChi2, 1);
    EXPECT_NEAR(wider.sigmaA / wide.sigmaA, 1, 1e-12);
    const CellFit tight = fitWith(1e-6, 1e-4), looser = fitWith(1e-6, 2e-4);
    EXPECT_LT(tight.reducedChi2, 1);
    EXPECT_NEAR(looser.sigmaA / tight.sigmaA, 2, 1e-12);

    // Without sigmas the scatter alone: zero from exact peaks, none from just enough peaks.
    const CellFit plain = RefineCell(kCubic, Exact(kCubic, 4.0, kNaN, {{1, 0, 0}, {1, 1, 1}}, kNaN));
    ASSERT_TRUE(plain.ok);
    EXPECT_NEAR(plain.sigmaA, 0, 1e-12);
    const CellFit bare = RefineCell(kHex, Exact(kHex, kA, kC, {{1, 0, 0}, {0, 0, 2}}, kNaN));
    ASSERT_TRUE(bare.ok);
    EXPECT_NEAR(bare.c, kC, 1e-12);
    EXPECT_TRUE(std::isnan(bare.sigmaA));
    EXPECT_TRUE(std::isnan(bare.sigmaV));
}

TEST(RefineCell, Refusals)
{
    auto hex = [](std::initializer_list<Hkl> hkls) { return Exact(kHex, kA, kC, hkls, 1e-4); };
    const std::tuple<CrystalSystem, std::vector<CellPeak>, std::string_view> cases[] = {
        {kCubic, {}, "no peak to fit"},
        {kHex, hex({{1, 0, 1}}), "a and c need at least two peaks"},
        {kHex, hex({{1, 0, 0}, {1, 1, 0}, {2, 0, 0}}), "only h k 0 reflections: they do not fix c"},
        {kHex, hex({{0, 0, 2}, {0, 0, 4}}), "only 0 0 l reflections: they do not fix a"},
        {kHex, hex({{1, 0, 1}, {2, 0, 2}}), "the reflections do not fix a and c separately"},
        // 1 0 1 cannot lie at a larger d than 1 0 0.
        {kHex, {{{1, 0, 0}, 1.0, 1e-4}, {{1, 0, 1}, 1.1, 1e-4}}, "the peaks give no real cell"},
        {kCubic, {{{1, 0, 0}, 4.0, 0}}, "a sigma_d is not positive"},
        {kCubic, {{{1, 0, 0}, 4.0, -1e-3}}, "a sigma_d is not positive"},
        {kCubic, {{{1, 0, 0}, 4.0, 1e-3}, {{1, 1, 0}, 2.83, kNaN}}, "sigma_d is given for some peaks and not for others"},
        {kCubic, {{{1, 0, 0}, 0, 1e-3}}, "a spacing d is not positive"},
        {kCubic, {{{1, 0, 0}, kNaN, 1e-3}}, "a spacing d is not positive"},
        {kCubic, {{{0, 0, 0}, 4.0, 1e-3}}, "0 0 0 is no reflection"},
    };
    for (const auto& [system, peaks, why] : cases) {
        const CellFit fit = RefineCell(system, peaks);
        EXPECT_FALSE(fit.ok) << why;
        EXPECT_EQ(fit.why, why);
        EXPECT_TRUE(std::isnan(fit.a)) << why;
    }
}

}  // namespace
}  // namespace hv
