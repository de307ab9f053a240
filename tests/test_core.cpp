// The shared core: reflections, numbers, fits with their uncertainties, and the inverse.
#include "core/inverse.h"
#include "core/numbers.h"
#include "core/pressure.h"
#include "core/standards.h"
#include "engine/clsKolvane.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <new>
#include <span>
#include <string>
#include <vector>

// Counts this program's heap allocations, so that a test can see a call allocate nothing. The
// whole non-aligned family is replaced, so that every new meets its own delete (ASan checks).
namespace {
std::atomic<long> allocations{0};

void* Counted(std::size_t size) noexcept
{
    allocations.fetch_add(1, std::memory_order_relaxed);
    return std::malloc(size ? size : 1);
}
}  // namespace

void* operator new(std::size_t size)
{
    if (void* p = Counted(size)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size)
{
    if (void* p = Counted(size)) return p;
    throw std::bad_alloc();
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return Counted(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return Counted(size); }
// GCC takes the malloc above for a mismatch once both are inlined; they are this pair.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

namespace {

using hv::Status;

const hv::Standard& Std(const char* name)
{
    return *hv::FindStandard(name);
}

hv::Reflection Refl(const char* text, const char* standard = "NaCl")
{
    std::string why;
    const auto r = hv::ParseReflection(text, Std(standard), why);
    EXPECT_TRUE(r.has_value()) << text << ": " << why;
    return r.value_or(hv::Reflection{});
}

TEST(Core, ReflectionsOfEachLattice)
{
    auto names = [](const char* standard, int maxN) {
        std::string out;
        for (const hv::Hkl& h : hv::Reflections(Std(standard), maxN)) out += hv::HklText(h) + " ";
        return out;
    };
    EXPECT_EQ(names("NaCl", 20), "111 200 220 311 222 400 331 420 ");
    EXPECT_EQ(names("KCl", 12), "111 200 220 311 222 ");
    EXPECT_EQ(names("CsCl", 20), "100 110 111 200 210 211 220 300 221 310 311 222 320 321 400 410 322 411 330 "
                                 "331 420 ");
    EXPECT_EQ(names("NaCl", 2), "");
    const std::vector<hv::Hkl> upTo100 = hv::Reflections(Std("NaCl"), 100);
    EXPECT_EQ(upTo100.end()[-2], (hv::Hkl{10, 0, 0}));  // h^2+k^2+l^2 = 100 twice
    EXPECT_EQ(upTo100.back(), (hv::Hkl{8, 6, 0}));
    EXPECT_EQ(hv::HklText({10, 0, 0}), "10 0 0");
    // The ambient cells: the window's two, and KCl's from the model's r0 / k.
    EXPECT_EQ(Std("NaCl").a0, 5.64f);
    EXPECT_EQ(Std("CsCl").a0, 4.11904f);
    EXPECT_EQ(Std("KCl").a0, 6.2932f);
    EXPECT_EQ(hv::FindStandardAnyCase("cscl"), &Std("CsCl"));
    EXPECT_EQ(hv::FindStandard("cscl"), nullptr);
}

TEST(Core, TheWindowsReflectionSteps)
{
    // Rock salt's allowed sums to 20 are 3 4 8 11 12 16 19 20; the window has never offered 12.
    // A primitive cell has every sum but those that are no sum of three squares (7, 15).
    struct Case { const char* standard; std::vector<int16_t> steps; };
    const Case cases[] = {
        {"NaCl", {1, 3, 4, 8, 11, 16, 19, 20}},
        {"CsCl", {1, 2, 3, 4, 5, 6, 8, 9, 10, 11, 12, 13, 14, 16, 17}},
        {"KCl", {}},
        {"nacl", {}},
        {"", {}},
    };
    for (const Case& c : cases) {
        const std::span<const int16_t> steps = hv::WindowSteps(c.standard);
        EXPECT_EQ(std::vector<int16_t>(steps.begin(), steps.end()), c.steps) << c.standard;
        // Every step has a label in the window.
        for (int16_t n : steps) EXPECT_FALSE(hv::ReflectionLabel(n, c.standard).empty()) << c.standard << " " << n;
    }
}

TEST(Core, ReadingReflections)
{
    struct Case { const char* text; const char* standard; int n; const char* whyHas; };
    const Case cases[] = {
        {"200", "NaCl", 4, nullptr},       {"2,0,0", "NaCl", 4, nullptr},   {" 2, 0, 0 ", "NaCl", 4, nullptr},
        {"2 0 0", "NaCl", 4, nullptr},     {"-2 2 0", "NaCl", 8, nullptr},  {"+1 1 1", "NaCl", 3, nullptr},
        {"lp", "NaCl", 1, nullptr},        {"LP", "CsCl", 1, nullptr},      {"100", "CsCl", 1, nullptr},
        {"10,0,0", "NaCl", 100, nullptr},  {"221", "CsCl", 9, nullptr},
        {"210", "NaCl", 0, "111, 200, 220, 311, 222, 400, 331, 420"},
        {"100", "NaCl", 0, "all even or all odd"},
        {"000", "CsCl", 0, "0 0 0"},       {"2000", "NaCl", 0, "three indices"},
        {"2,,0,0", "NaCl", 0, "not h k l"}, {"2 0", "NaCl", 0, "not h k l"}, {"2 0 0 0", "NaCl", 0, "not h k l"},
        {"2,0,0,", "NaCl", 0, "not h k l"}, {"a00", "NaCl", 0, "not h k l"}, {"", "NaCl", 0, "not h k l"},
        {"2 0 0x", "NaCl", 0, "not h k l"}, {"1001 1 1", "NaCl", 0, "beyond 1000"},
        {"99999999999 0 0", "NaCl", 0, "beyond 1000"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        std::string why;
        const auto r = hv::ParseReflection(c.text, Std(c.standard), why);
        if (c.whyHas) {
            EXPECT_FALSE(r.has_value());
            EXPECT_NE(why.find(c.whyHas), std::string::npos) << why;
        } else {
            ASSERT_TRUE(r.has_value()) << why;
            EXPECT_EQ(r->n, c.n);
        }
    }
}

TEST(Core, ReadingNumbersAndTemperatures)
{
    struct Case { const char* text; bool ok; float celsius; };
    const Case temperatures[] = {
        {"25", true, 25},       {"298.15K", true, 25},  {" 298.15 k ", true, 25}, {"+25", true, 25},
        {"0K", true, -273.15f}, {"-273.15", true, -273.15f},  {"-273.16", false, 0}, {"-0.001K", false, 0},
        {"1e39", false, 0},     {"nan", false, 0},      {"inf", false, 0},        {"25C", false, 0},
        {"2,5", false, 0},      {"", false, 0},         {"K", false, 0},          {"0x19", false, 0},
        {"--25", false, 0},     {"+-25", false, 0},     {"1e-400", false, 0},
    };
    for (const Case& c : temperatures) {
        SCOPED_TRACE(c.text);
        float t = -999;
        std::string why;
        EXPECT_EQ(hv::ParseTemperature(c.text, t, why), c.ok) << why;
        EXPECT_EQ(t, c.ok ? c.celsius : -999.0f);
        EXPECT_EQ(why.empty(), c.ok);
    }
    struct Short { float value; const char* text; };
    for (const Short s : {Short{2.15f, "2.15"}, Short{0.1f, "0.1"}, Short{-0.0f, "0"}, Short{1e-45f, "1e-45"},
                          Short{-2.78f, "-2.78"}, Short{3.4028235e38f, "3.4028235e+38"}}) {
        EXPECT_EQ(hv::Shortest(s.value), s.text);
    }
}

hv::Result FitOf(const char* standard, float t, std::vector<hv::Peak> peaks, double sigmaT = hv::kNone)
{
    return hv::Fit(Std(standard), t, peaks, sigmaT);
}

// The window's worked examples, one peak each, to the hundredth it shows.
TEST(Core, OnePeakGivesTheWindowsPressure)
{
    struct Case { const char* standard; float t; const char* hkl; double d; int32_t shown; };
    for (const Case c : {Case{"NaCl", 25, "200", 2.75, 215}, Case{"CsCl", 25, "110", 2.8, 276},
                         Case{"NaCl", 300, "200", 2.7, 505}, Case{"CsCl", 25, "lp", 3.8, 794},
                         Case{"NaCl", 25, "400", 1.5, -278}, Case{"CsCl", 25, "lp", 4.11904, 0},
                         Case{"NaCl", 25, "lp", 5.64, 0}}) {
        SCOPED_TRACE(c.hkl);
        const hv::Result r = FitOf(c.standard, c.t, {{Refl(c.hkl, c.standard), c.d}});
        int32_t k = 0;
        ASSERT_EQ(r.status, Status::Ok) << r.message;
        ASSERT_TRUE(hv::Hundredths(r.pGpa, k));
        EXPECT_EQ(k, c.shown);
        EXPECT_TRUE(std::isnan(r.sigmaA));
        EXPECT_TRUE(std::isnan(r.sigmaPGpa));
    }
    // a = 2 x 2.75 exactly, V/V0 = (5.5 / 5.64)^3.
    const hv::Result r = FitOf("NaCl", 25, {{Refl("200"), 2.75}});
    EXPECT_EQ(r.a, 5.5);
    EXPECT_NEAR(r.vRatio, std::pow(5.5 / static_cast<double>(5.64f), 3), 1e-7);
}

// Spacings chosen exact in single precision, so every a_i is known by hand.
TEST(Core, FitsOfSeveralPeaks)
{
    struct Case { const char* what; std::vector<hv::Peak> peaks; double a, sigmaA; };
    const hv::Reflection lp = Refl("lp"), r200 = Refl("200"), r400 = Refl("400");
    const Case cases[] = {
        // Plain mean of 5.5 and 5.625; standard error = half their difference.
        {"unweighted pair", {{r200, 2.75}, {r400, 1.40625}}, 5.5625, 0.0625},
        // sd of 5.5, 5.5, 5.5625 is 0.0360844, over sqrt 3.
        {"unweighted three", {{lp, 5.5}, {r200, 2.75}, {r400, 1.390625}}, 5.5208333333333, 0.0208333333333},
        {"identical", {{r200, 2.75}, {r400, 1.375}, {lp, 5.5}}, 5.5, 0},
        // sigma_a = 2 x sigma_d for 200: the internal error of one peak.
        {"one weighted", {{r200, 2.75, 0.001}}, 5.5, 0.002},
        // Weights 1e4 and 2500: mean 5.50625; internal 1/sqrt(12500) = 0.00894; external
        // sqrt(1.953125 / 12500) = 0.0125 wins.
        {"external wins", {{lp, 5.5, 0.01}, {lp, 5.53125, 0.02}}, 5.50625, 0.0125},
        // The same scatter with ten times the sigmas: internal 0.0894 wins.
        {"internal wins", {{lp, 5.5, 0.1}, {lp, 5.53125, 0.2}}, 5.50625, 0.0894427191},
        // sigma_a of 400 is 4 x sigma_d: 0.002 each, equal weights.
        {"weighted equal", {{r200, 2.75, 0.001}, {r400, 1.40625, 0.0005}}, 5.5625, 0.0625},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const hv::Result r = FitOf("NaCl", 25, c.peaks);
        ASSERT_EQ(r.status, Status::Ok) << r.message;
        EXPECT_EQ(r.peaks, static_cast<int>(c.peaks.size()));
        EXPECT_NEAR(r.a, c.a, 1e-12);
        EXPECT_NEAR(r.sigmaA, c.sigmaA, 1e-10);
        // The pressure is that of the fitted a along the window's path.
        EXPECT_EQ(r.pGpa, hv::PressureOfLattice(Std("NaCl"), 25, r.a).pGpa);
    }
}

// Slopes checked against central differences of the engine's own single-precision output,
// with steps wide enough that rounding stays far below the tolerance.
TEST(Core, UncertaintyFollowsTheModelsSlopes)
{
    struct Case { const char* standard; float t; double a; };
    for (const Case c : {Case{"NaCl", 25, 5.5}, Case{"NaCl", 800, 5.2}, Case{"CsCl", 25, 3.9},
                         Case{"CsCl", 300, 4.3}, Case{"KCl", 25, 6.0}, Case{"NaCl", -250, 5.6}}) {
        SCOPED_TRACE(std::string(c.standard) + " " + std::to_string(c.a));
        const hv::Standard& s = Std(c.standard);
        auto p = [&](double t, double a) {
            float vdiff = 0, kbar = 0;
            int16_t status = 0;
            EXPECT_TRUE(hv::RelativeVolume(a, s.a0, vdiff));
            clsKolvane().Kolvane(s.code, static_cast<float>(t), vdiff, kbar, status);
            return static_cast<double>(kbar);
        };
        const double ha = 0.01, ht = std::min(10.0, (c.t + 273.15) / 10);
        const double dPda = (-p(c.t, c.a + 2 * ha) + 8 * p(c.t, c.a + ha) - 8 * p(c.t, c.a - ha) + p(c.t, c.a - 2 * ha)) /
                            (12 * ha);
        const double dPdT = (-p(c.t + 2 * ht, c.a) + 8 * p(c.t + ht, c.a) - 8 * p(c.t - ht, c.a) + p(c.t - 2 * ht, c.a)) /
                            (12 * ht);
        const hv::Slopes slopes = hv::PressureSlopes(s, c.t, c.a);
        ASSERT_TRUE(slopes.ok);
        EXPECT_NEAR(slopes.dPda, dPda, 2e-4 * std::fabs(dPda));
        EXPECT_NEAR(slopes.dPdT, dPdT, 2e-3 * std::fabs(dPdT) + 1e-6);
        EXPECT_LT(slopes.dPda, 0);  // compression raises the pressure
        EXPECT_GT(slopes.dPdT, 0);  // so does heat

        // sigma_a = 0.002 from one lp peak, sigma_T = 5 K, added in quadrature, in GPa.
        const hv::Result r = FitOf(c.standard, c.t, {{Refl("lp", c.standard), c.a, 0.002}}, 5);
        ASSERT_NE(r.status, Status::Error) << r.message;
        EXPECT_NEAR(r.sigmaPGpa, std::hypot(dPda * 0.002, dPdT * 5) / 10, 2e-4 * r.sigmaPGpa);
    }
}

// Python and batch callers fit millions of single peaks: the ok path must not touch the heap.
TEST(Core, OnePeakFitAllocatesNothing)
{
    const hv::Peak plain{Refl("200"), 2.75}, weighted{Refl("200"), 2.75, 0.001};
    for (const hv::Peak& peak : {plain, weighted}) {
        const long before = allocations.load();
        const hv::Result r = hv::Fit(Std("NaCl"), 25, {&peak, 1}, 5);
        const long after = allocations.load();
        EXPECT_EQ(r.status, Status::Ok);
        EXPECT_EQ(after - before, 0);
    }
}

TEST(Core, BadFitsSayWhy)
{
    const hv::Reflection r200 = Refl("200"), lp = Refl("lp");
    const double nan = hv::kNone, inf = INFINITY;
    struct Case { const char* what; float t; std::vector<hv::Peak> peaks; double sigmaT; const char* why; };
    const Case cases[] = {
        {"no peaks", 25, {}, nan, "no peaks"},
        {"zero d", 25, {{r200, 0}}, nan, "positive"},
        {"negative d", 25, {{r200, -2.75}}, nan, "positive"},
        {"NaN d", 25, {{r200, nan}}, nan, "positive"},
        {"infinite d", 25, {{r200, inf}}, nan, "positive"},
        {"beyond single", 25, {{r200, 1e39}}, nan, "out of range"},
        {"underflows single", 25, {{r200, 1e-50}}, nan, "out of range"},
        {"no volume", 25, {{lp, 1e-30}}, nan, "too small"},
        {"zero sigma", 25, {{r200, 2.75, 0}}, nan, "sigma_d"},
        {"negative sigma", 25, {{r200, 2.75, -1}}, nan, "sigma_d"},
        {"mixed sigmas", 25, {{r200, 2.75, 0.001}, {r200, 2.76}}, nan, "every peak"},
        {"negative sigma_t", 25, {{r200, 2.75}}, -1, "sigma_t"},
        {"below 0 K", -300, {{r200, 2.75}}, nan, "absolute zero"},
        {"huge cell", 25, {{lp, 1e30}}, nan, "too large"},
        {"second peak named", 25, {{r200, 2.75}, {lp, -1}}, nan, "(lp)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const hv::Result r = FitOf("NaCl", c.t, c.peaks, c.sigmaT);
        EXPECT_EQ(r.status, Status::Error);
        EXPECT_NE(r.message.find(c.why), std::string::npos) << r.message;
        EXPECT_TRUE(std::isnan(r.pGpa) && std::isnan(r.a) && std::isnan(r.sigmaPGpa));
    }
    // Outside 0.5 - 1.5 the pressure stands, with a warning.
    const hv::Result low = FitOf("NaCl", 25, {{lp, 4.3}});
    EXPECT_EQ(low.status, Status::Warning);
    EXPECT_NE(low.message.find("below 0.5"), std::string::npos);
    EXPECT_GT(low.pGpa, 80);
}

// Pressure to spacings and back: each listed d, read as a typed single, gives the pressure
// asked for along the window's path.
TEST(Core, InverseRoundTrip)
{
    struct Case { const char* standard; float t; double p; Status status; };
    for (const Case c : {Case{"NaCl", 25, 0, Status::Ok}, Case{"NaCl", 25, 10, Status::Ok},
                         Case{"NaCl", 500, 30, Status::Ok}, Case{"NaCl", 25, -1, Status::Ok},
                         Case{"NaCl", 25, 100, Status::Warning}, Case{"CsCl", 25, 5, Status::Ok},
                         Case{"CsCl", 1000, 40, Status::Ok}, Case{"CsCl", 25, -2, Status::Ok},
                         Case{"KCl", 25, 1, Status::Ok}, Case{"NaCl", -273.15f, 2, Status::Ok}}) {
        SCOPED_TRACE(std::string(c.standard) + " " + std::to_string(c.p));
        const hv::SpacingResult s = hv::SpacingsAt(Std(c.standard), c.t, c.p, 20, 0.4133);
        ASSERT_EQ(s.status, c.status) << s.message;
        ASSERT_FALSE(s.rows.empty());
        for (const hv::SpacingRow& row : s.rows) {
            std::string why;
            double d = 0;
            ASSERT_TRUE(hv::ParseNumber(hv::Shortest(static_cast<float>(row.d)), d, why));
            const hv::Peak peak{{row.hkl, row.n, false}, d};
            const hv::Result back = hv::Fit(Std(c.standard), c.t, {&peak, 1});
            EXPECT_NEAR(back.pGpa, c.p, 0.005) << hv::HklText(row.hkl);
            // Bragg: lambda = 2 d sin(theta).
            EXPECT_NEAR(0.4133, 2 * row.d * std::sin(row.twoTheta / 2 * M_PI / 180), 1e-12);
        }
    }
    // CsCl under tension: only the branch on the compressed side of the minimum, near
    // V/V0 = 1.4 at 25 C.
    EXPECT_LT(hv::SpacingsAt(Std("CsCl"), 25, -2.1).vRatio, 1.4);
}

TEST(Core, SpacingOfOneReflection)
{
    struct Case { double a; int n; double d; };
    // Square roots exact in binary: the spacing is exact too.
    for (const Case c : {Case{5.5, 4, 2.75}, Case{4.2, 1, 4.2}, Case{6.0, 9, 2.0}, Case{5.64, 16, 1.41},
                         Case{10.0, 100, 1.0}}) {
        EXPECT_EQ(hv::Spacing(c.a, c.n), c.d) << c.n;
    }
    EXPECT_NEAR(hv::Spacing(5.64, 3), 3.2562555, 1e-7);  // 111 of ambient NaCl
}

TEST(Core, InverseOutOfReach)
{
    struct Case { const char* standard; float t; double p, wavelength; const char* why; };
    for (const Case c : {Case{"CsCl", 25, -3, hv::kNone, "no pressure below -2.1"},
                         Case{"NaCl", 25, 1e5, hv::kNone, "out of the model's reach"},
                         Case{"NaCl", -300, 1, hv::kNone, "absolute zero"},
                         Case{"NaCl", 25, NAN, hv::kNone, "finite"},
                         Case{"NaCl", 25, 1, -1, "wavelength"}}) {
        SCOPED_TRACE(c.why);
        const hv::SpacingResult s = hv::SpacingsAt(Std(c.standard), c.t, c.p, 20, c.wavelength);
        EXPECT_EQ(s.status, Status::Error);
        EXPECT_TRUE(s.rows.empty());
        EXPECT_NE(s.message.find(c.why), std::string::npos) << s.message;
    }
    // A wavelength too long for a reflection leaves its 2-theta empty.
    const hv::SpacingResult s = hv::SpacingsAt(Std("NaCl"), 25, 0, 4, 6.0);
    ASSERT_EQ(s.rows.size(), 2u);
    EXPECT_NEAR(s.rows[0].twoTheta, 2 * std::asin(6.0 * std::sqrt(3.0) / (2 * s.a)) * 180 / M_PI, 1e-9);
    EXPECT_NEAR(s.rows[0].twoTheta, 134.3, 0.1);  // 111: d = 3.26
    EXPECT_TRUE(std::isnan(s.rows[1].twoTheta));  // 200: d = 2.82, lambda / 2d > 1
}

}  // namespace
