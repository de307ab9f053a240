// Form factors and expected powder intensities, against structure factors, multiplicities
// and orderings worked out by hand.
#include "core/form_factors.h"
#include "core/intensity.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <string>
#include <vector>

namespace hv {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Rock salt: cation at the fcc points, anion shifted by 1/2 0 0.
std::array<Site, 8> RockSalt(std::string_view m, std::string_view x)
{
    return {{{m, 0, 0, 0}, {m, 0, 0.5, 0.5}, {m, 0.5, 0, 0.5}, {m, 0.5, 0.5, 0},
             {x, 0.5, 0.5, 0.5}, {x, 0.5, 0, 0}, {x, 0, 0.5, 0}, {x, 0, 0, 0.5}}};
}

const std::array<Site, 8> kNaCl = RockSalt("Na1+", "Cl1-");
const std::array<Site, 8> kKCl = RockSalt("K1+", "Cl1-");
const std::array<Site, 2> kCsCl = {{{"Cs1+", 0, 0, 0}, {"Cl1-", 0.5, 0.5, 0.5}}};
const std::array<Site, 4> kAu = {{{"Au", 0, 0, 0}, {"Au", 0, 0.5, 0.5}, {"Au", 0.5, 0, 0.5}, {"Au", 0.5, 0.5, 0}}};
const std::array<Site, 2> kMo = {{{"Mo", 0, 0, 0}, {"Mo", 0.5, 0.5, 0.5}}};
const std::array<Site, 1> kCu = {{{"Cu", 0, 0, 0}}};
const std::array<Site, 2> kRe = {{{"Re", 1.0 / 3, 2.0 / 3, 0.25}, {"Re", 2.0 / 3, 1.0 / 3, 0.75}}};

Structure Cubic(std::span<const Site> sites, double b = 0) { return {"test", CrystalSystem::Cubic, sites, b}; }
Structure Hexagonal(std::span<const Site> sites, double b = 0) { return {"test", CrystalSystem::Hexagonal, sites, b}; }
double F(std::string_view species, double s) { return ScatteringFactor(*FindFormFactor(species), s); }
Hkl H(std::string_view digits) { return {digits[0] - '0', digits[1] - '0', digits[2] - '0'}; }

const ExpectedReflection* Find(const std::vector<ExpectedReflection>& list, std::string_view hkl)
{
    for (const ExpectedReflection& r : list) {
        if (r.hkl == H(hkl)) return &r;
    }
    return nullptr;
}

TEST(FormFactor, AtZeroAngleCountsTheElectrons)
{
    const std::pair<std::string_view, int> cases[] = {
        {"Na1+", 10}, {"K1+", 18}, {"Cs1+", 54}, {"Cl1-", 18}, {"Mg2+", 10}, {"O2-", 10}, {"Au", 79}, {"Pt", 78},
        {"Ne", 10},   {"Re", 75},  {"Mo", 42},   {"W", 74},    {"Ar", 18},   {"Fe", 26},  {"Cu", 29}, {"Si", 14},
        {"C", 6}};
    EXPECT_EQ(FormFactors().size(), std::size(cases));
    for (const auto& [species, electrons] : cases) {
        ASSERT_NE(FindFormFactor(species), nullptr) << species;
        EXPECT_NEAR(F(species, 0), electrons, 0.15) << species;
        // Scattering weakens with angle across the fit's range.
        for (double s = 0.05; s <= 2.0; s += 0.05) EXPECT_LT(F(species, s), F(species, s - 0.05)) << species << s;
    }
    // Names are exact: an ion is not its atom, and letter case counts.
    EXPECT_EQ(FindFormFactor("Na"), nullptr);
    EXPECT_EQ(FindFormFactor("Na+"), nullptr);
    EXPECT_EQ(FindFormFactor("au"), nullptr);
    // Ne: a = 3.9553 3.1125 1.4546 1.1251, b = 8.4042 3.4262 0.2306 21.7184, c = 0.3515 (IT92);
    // at s = 0.5, s^2 = 0.25: 0.48384 + 1.32164 + 1.37311 + 0.00493 + 0.3515 = 3.53503 electrons.
    EXPECT_NEAR(F("Ne", 0.5), 3.53503, 1e-5);
}

// F of rock salt: 4(f+ + f-) for all even, 4(f+ - f-) for all odd, 0 for mixed indices; B
// damps |F|^2 by exp(-2 B s^2).
TEST(ExpectedPattern, RockSaltStructureFactors)
{
    const double a = 5.64, b = 1.5;
    const auto list = ExpectedPattern(Cubic(kNaCl, b), a, kNaN, 0.8, kNaN, true);
    const std::pair<std::string_view, int> cases[] = {  // +1 all even, -1 all odd, 0 mixed
        {"111", -1}, {"200", 1}, {"220", 1}, {"311", -1}, {"222", 1}, {"400", 1}, {"331", -1},
        {"100", 0},  {"110", 0}, {"210", 0}, {"211", 0},  {"300", 0}, {"221", 0}, {"321", 0}};
    for (const auto& [hkl, sign] : cases) {
        const ExpectedReflection* r = Find(list, hkl);
        ASSERT_NE(r, nullptr) << hkl;
        const int n = SquareSum(H(hkl));
        const double s = std::sqrt(n) / (2 * a);
        const double f2 = std::pow(4 * (F("Na1+", s) + sign * F("Cl1-", s)), 2) * std::exp(-2 * b * s * s);
        EXPECT_EQ(r->n, n);
        EXPECT_NEAR(r->d, a / std::sqrt(n), 1e-12);
        EXPECT_EQ(r->absent, sign == 0) << hkl;
        EXPECT_NEAR(r->f2, sign == 0 ? 0 : f2, 1e-9 * (1 + f2)) << hkl;
    }
}

// The strongest few at lambda 0.4133, as at a beamline.
TEST(ExpectedPattern, StrongestReflectionsOfTheSalts)
{
    auto byIntensity = ExpectedPattern(Cubic(kNaCl, 1.0), 5.64, kNaN, 0.8, 0.4133);
    std::sort(byIntensity.begin(), byIntensity.end(), [](auto& x, auto& y) { return x.intensity > y.intensity; });
    EXPECT_EQ(byIntensity[0].hkl, H("200"));
    EXPECT_DOUBLE_EQ(byIntensity[0].intensity, 100);
    EXPECT_EQ(byIntensity[1].hkl, H("220"));

    // K+ and Cl- both have 18 electrons: the odd reflections' 4(f+ - f-) is nearly nothing.
    const auto kcl = ExpectedPattern(Cubic(kKCl, 1.0), 6.29, kNaN, 0.9, 0.4133);
    for (std::string_view odd : {"111", "311", "331"}) {
        ASSERT_NE(Find(kcl, odd), nullptr) << odd;
        EXPECT_GT(Find(kcl, odd)->intensity, 0);
        EXPECT_LT(Find(kcl, odd)->intensity, 1.0) << odd;
    }

    // CsCl's 1 0 0 (m 6, F = f+ - f-) and 2 1 1 (m 24, F = f+ + f-) come close: by hand, at
    // s 0.121 and 0.297, m F^2 is about 7,800 and 58,800 and LP about 792 and 130, so without
    // thermal motion 2 1 1 leads by some 25 %. The room-temperature B of CsCl, near 2.5
    // angstrom^2, damps 2 1 1 by exp(-2 B s^2) = 0.64 against 0.93: then 1 0 0 leads.
    auto cscl = ExpectedPattern(Cubic(kCsCl, 2.5), 4.12, kNaN, 0.8, 0.4133);
    std::sort(cscl.begin(), cscl.end(), [](auto& x, auto& y) { return x.intensity > y.intensity; });
    EXPECT_EQ(cscl[0].hkl, H("110"));
    EXPECT_EQ(cscl[1].hkl, H("100"));
    EXPECT_EQ(cscl[2].hkl, H("211"));
}

// Absences of centred lattices follow from the atoms: fcc all even or all odd, bcc h+k+l even.
TEST(ExpectedPattern, CentredLatticeAbsences)
{
    const std::pair<std::span<const Site>, bool (*)(const Hkl&)> cases[] = {
        {kAu, [](const Hkl& x) { return (x.h % 2 == x.k % 2) && (x.k % 2 == x.l % 2); }},
        {kMo, [](const Hkl& x) { return (x.h + x.k + x.l) % 2 == 0; }},
        {kCu, [](const Hkl&) { return true; }},
    };
    for (const auto& [sites, present] : cases) {
        const auto list = ExpectedPattern(Cubic(sites, 0.5), 4.0, kNaN, 0.5, kNaN, true);
        ASSERT_EQ(list.size(), 79u);  // every h >= k >= l >= 0 with 0 < h^2 + k^2 + l^2 <= 64
        for (const ExpectedReflection& r : list) {
            EXPECT_EQ(r.absent, !present(r.hkl)) << r.hkl.h << r.hkl.k << r.hkl.l;
            EXPECT_EQ(r.absent, r.intensity == 0);
        }
        // Without keepAbsences only the present ones are listed.
        for (const ExpectedReflection& r : ExpectedPattern(Cubic(sites, 0.5), 4.0, kNaN, 0.5)) {
            EXPECT_TRUE(present(r.hkl)) << r.hkl.h << r.hkl.k << r.hkl.l;
        }
    }
}

// hcp with atoms at 1/3 2/3 1/4 and 2/3 1/3 3/4: F = 2 f cos(2 pi ((h + 2k)/3 + l/4)) up to a
// phase, so |F|^2 = 4f^2 (h+2k = 3m, l even), 3f^2 (h+2k != 3m, l odd), f^2 (h+2k != 3m, l
// even) and 0 (h+2k = 3m, l odd: 0 0 1, 1 1 1).
TEST(ExpectedPattern, HcpStructureFactors)
{
    const double a = 2.761, c = 4.456;
    const auto list = ExpectedPattern(Hexagonal(kRe), a, c, 0.8, kNaN, true);
    const std::pair<std::string_view, double> cases[] = {
        {"001", 0}, {"100", 1}, {"002", 4}, {"101", 3}, {"102", 1}, {"110", 4}, {"103", 3},
        {"200", 1}, {"112", 4}, {"201", 3}, {"003", 0}, {"111", 0}, {"004", 4}, {"202", 1}};
    for (const auto& [hkl, timesF2] : cases) {
        const ExpectedReflection* r = Find(list, hkl);
        ASSERT_NE(r, nullptr) << hkl;
        const Hkl x = H(hkl);
        const double d = 1 / std::sqrt(4.0 / 3 * (x.h * x.h + x.h * x.k + x.k * x.k) / (a * a) + x.l * x.l / (c * c));
        const double f = F("Re", 1 / (2 * d));
        EXPECT_NEAR(r->d, d, 1e-12);
        EXPECT_EQ(r->n, 0);
        EXPECT_EQ(r->absent, timesF2 == 0) << hkl;
        EXPECT_NEAR(r->f2, timesF2 * f * f, 1e-9 * f * f) << hkl;
    }
}

TEST(ExpectedPattern, Multiplicities)
{
    const auto cubic = ExpectedPattern(Cubic(kCu), 4.0, kNaN, 0.5, kNaN, true);
    const auto hexagonal = ExpectedPattern(Hexagonal(kRe), 2.761, 4.456, 0.5, kNaN, true);
    const std::pair<std::string_view, int> cubicCases[] = {
        {"100", 6}, {"110", 12}, {"111", 8}, {"210", 24}, {"211", 24}, {"321", 48}, {"221", 24}, {"333", 8}};
    const std::pair<std::string_view, int> hexagonalCases[] = {
        {"100", 6},  {"002", 2},  {"101", 12}, {"110", 6},  {"102", 12},
        {"201", 12}, {"210", 12}, {"211", 24}, {"112", 12}, {"300", 6}};
    for (const auto& [hkl, m] : cubicCases) EXPECT_EQ(Find(cubic, hkl)->multiplicity, m) << hkl;
    for (const auto& [hkl, m] : hexagonalCases) EXPECT_EQ(Find(hexagonal, hkl)->multiplicity, m) << hkl;
}

// Every integer h k l but 0 0 0 with d >= dMin belongs to exactly one listed class: the
// multiplicities add up to the count of lattice points.
TEST(ExpectedPattern, ClassesCoverEveryLatticePoint)
{
    const double a = 2.761, c = 4.456, dMin = 0.6;
    for (const Structure& structure : {Cubic(kCu), Hexagonal(kRe)}) {
        const bool cubic = structure.system == CrystalSystem::Cubic;
        int sum = 0, points = 0;
        for (const ExpectedReflection& r : ExpectedPattern(structure, a, c, dMin, kNaN, true)) sum += r.multiplicity;
        for (int h = -12; h <= 12; ++h) {
            for (int k = -12; k <= 12; ++k) {
                for (int l = -12; l <= 12; ++l) {
                    const double invD2 = cubic ? (h * h + k * k + l * l) / (a * a)
                                               : 4.0 / 3 * (h * h + h * k + k * k) / (a * a) + l * l / (c * c);
                    points += (h != 0 || k != 0 || l != 0) && invD2 <= 1 / (dMin * dMin);
                }
            }
        }
        EXPECT_GT(points, 50);
        EXPECT_EQ(sum, points) << (cubic ? "cubic" : "hexagonal");
    }
}

TEST(ExpectedPattern, LorentzPolarisationAtAWavelength)
{
    // One copper atom, a = 3: I = m f^2 LP with LP = (1 + cos^2 2t) / (sin^2 t cos t).
    const double a = 3.0, lambda = 0.7;
    auto intensity = [&](int n, int m, bool lp) {
        const double d = a / std::sqrt(n), theta = std::asin(lambda / (2 * d)), f = F("Cu", 1 / (2 * d));
        const double factor = (1 + std::pow(std::cos(2 * theta), 2)) / (std::pow(std::sin(theta), 2) * std::cos(theta));
        return m * f * f * (lp ? factor : 1);
    };
    const auto withLp = ExpectedPattern(Cubic(kCu), a, kNaN, 0.5, lambda);
    const auto without = ExpectedPattern(Cubic(kCu), a, kNaN, 0.5);
    // With LP 1 0 0 (m 6) is the strongest; 1 1 0 (12) and 2 1 1 (24) relative to it.
    EXPECT_DOUBLE_EQ(Find(withLp, "100")->intensity, 100);
    EXPECT_NEAR(Find(withLp, "110")->intensity, 100 * intensity(2, 12, true) / intensity(1, 6, true), 1e-9);
    EXPECT_NEAR(Find(withLp, "211")->intensity, 100 * intensity(6, 24, true) / intensity(1, 6, true), 1e-9);
    EXPECT_NEAR(Find(without, "110")->intensity / Find(without, "100")->intensity,
                intensity(2, 12, false) / intensity(1, 6, false), 1e-12);
    // Only d > lambda / 2 diffracts: at lambda 2, a 4, n stops below 16; without a wavelength
    // at dMin (a 3, dMin 0.5: n 36).
    EXPECT_EQ(ExpectedPattern(Cubic(kCu), 4.0, kNaN, 0.5, 2.0).back().n, 14);
    EXPECT_EQ(without.back().n, 36);
}

TEST(ExpectedByN, SumsTheClassesOfOneN)
{
    // CsCl: 1 1 0 is the strongest class and alone at n = 2, so it is the strongest row too.
    const auto classes = ExpectedPattern(Cubic(kCsCl, 1.0), 4.12, kNaN, 0.6, 0.4133);
    const auto rows = ExpectedByN(Cubic(kCsCl, 1.0), 4.12, 0.6, 0.4133);
    ASSERT_GE(rows.size(), 9u);
    EXPECT_DOUBLE_EQ(rows[1].intensity, 100);
    EXPECT_EQ(rows[1].hkl, H("110"));
    // n = 9: 3 0 0 and 2 2 1, listed in that order as core/standards.h lists them.
    EXPECT_EQ(Find(classes, "300") + 1, Find(classes, "221"));
    const ExpectedReflection& nine = rows[7];  // n 1 2 3 4 5 6 8 9: CsCl has no 7
    EXPECT_EQ(nine.n, 9);
    EXPECT_EQ(nine.hkl, H("300"));
    EXPECT_EQ(nine.multiplicity, 6 + 24);
    EXPECT_NEAR(nine.intensity, Find(classes, "300")->intensity + Find(classes, "221")->intensity, 1e-9);

    // Rock salt: 5 1 1 and 3 3 3 share n = 27; mixed n such as 5 (2 1 0) have no row.
    bool has27 = false;
    for (const ExpectedReflection& r : ExpectedByN(Cubic(kNaCl), 5.64, 0.8)) {
        EXPECT_NE(r.n, 5);
        if (r.n != 27) continue;
        has27 = true;
        EXPECT_EQ(r.hkl, H("511"));
        EXPECT_EQ(r.multiplicity, 24 + 8);
    }
    EXPECT_TRUE(has27);
    EXPECT_TRUE(ExpectedByN(Hexagonal(kRe), 2.761, 0.8).empty());
}

TEST(ExpectedPattern, RefusedInputs)
{
    const std::array<Site, 1> unknown = {{{"Xx", 0, 0, 0}}}, notFinite = {{{"Cu", kNaN, 0, 0}}};
    struct Case {
        Structure structure;
        double a, c, dMin, wavelength;
        std::string_view why;
    };
    const Case cases[] = {
        {Cubic(unknown), 4, kNaN, 1, kNaN, "no X-ray form factor for \"Xx\""},
        {Cubic(notFinite), 4, kNaN, 1, kNaN, "an atom's coordinates are not finite"},
        {Cubic({}), 4, kNaN, 1, kNaN, "the structure has no atoms"},
        {Cubic(kCu, -1), 4, kNaN, 1, kNaN, "the Debye-Waller B must be finite and not negative"},
        {Cubic(kCu), -4, kNaN, 1, kNaN, "a must be positive"},
        {Hexagonal(kRe), 2.7, kNaN, 1, kNaN, "a and c must be positive"},
        {Cubic(kCu), 4, kNaN, 0.2, kNaN,
         "the smallest spacing must be at least 0.25 angstrom, where the form factors end"},
        {Cubic(kCu), 60, kNaN, 0.25, kNaN, "the cell is over 200 times the smallest spacing"},
        {Cubic(kCu), 4, kNaN, 1, 0, "the wavelength must be positive"},
    };
    for (const Case& c : cases) {
        std::string why;
        EXPECT_FALSE(CheckExpectedInput(c.structure, c.a, c.c, c.dMin, c.wavelength, why));
        EXPECT_EQ(why, c.why);
        EXPECT_TRUE(ExpectedPattern(c.structure, c.a, c.c, c.dMin, c.wavelength).empty()) << c.why;
    }
    std::string why;
    EXPECT_TRUE(CheckExpectedInput(Cubic(kCu), 50, kNaN, 0.25, 0.3, why)) << why;
}

}  // namespace
}  // namespace hv
