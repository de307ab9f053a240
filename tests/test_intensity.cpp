// Form factors and expected powder intensities, against structure factors, multiplicities
// and orderings worked out by hand.
#include "core/form_factors.h"
#include "core/intensity.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdlib>
#include <numbers>
#include <string>
#include <vector>

namespace hv {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Rock salt: cation at the fcc points, anion shifted by 1/2 0 0.
std::array<Site, 8> RockSalt(std::string_view cation, std::string_view anion)
{
    return {{{cation, 0, 0, 0},
             {cation, 0, 0.5, 0.5},
             {cation, 0.5, 0, 0.5},
             {cation, 0.5, 0.5, 0},
             {anion, 0.5, 0.5, 0.5},
             {anion, 0.5, 0, 0},
             {anion, 0, 0.5, 0},
             {anion, 0, 0, 0.5}}};
}

const std::array<Site, 8> kNaCl = RockSalt("Na1+", "Cl1-");
const std::array<Site, 8> kKCl = RockSalt("K1+", "Cl1-");
const std::array<Site, 2> kCsCl = {{{"Cs1+", 0, 0, 0}, {"Cl1-", 0.5, 0.5, 0.5}}};
const std::array<Site, 4> kAu = {{{"Au", 0, 0, 0}, {"Au", 0, 0.5, 0.5}, {"Au", 0.5, 0, 0.5}, {"Au", 0.5, 0.5, 0}}};
const std::array<Site, 2> kMo = {{{"Mo", 0, 0, 0}, {"Mo", 0.5, 0.5, 0.5}}};
const std::array<Site, 1> kCu = {{{"Cu", 0, 0, 0}}};
const std::array<Site, 2> kRe = {{{"Re", 1.0 / 3, 2.0 / 3, 0.25}, {"Re", 2.0 / 3, 1.0 / 3, 0.75}}};

Structure Cubic(std::span<const Site> sites, double b = 0)
{
    return {"test", CrystalSystem::Cubic, sites, b};
}

Structure Hexagonal(std::span<const Site> sites, double b = 0)
{
    return {"test", CrystalSystem::Hexagonal, sites, b};
}

double F(std::string_view species, double s)
{
    return ScatteringFactor(*FindFormFactor(species), s);
}

const ExpectedReflection* Find(const std::vector<ExpectedReflection>& list, Hkl hkl)
{
    for (const ExpectedReflection& r : list) {
        if (r.hkl == hkl) return &r;
    }
    return nullptr;
}

TEST(FormFactor, AtZeroAngleCountsTheElectrons)
{
    struct Case {
        std::string_view species;
        int electrons;
    };
    const Case cases[] = {{"Na1+", 10}, {"K1+", 18}, {"Cs1+", 54}, {"Cl1-", 18}, {"Mg2+", 10}, {"O2-", 10},
                          {"Au", 79},   {"Pt", 78},  {"Ne", 10},   {"Re", 75},   {"Mo", 42},   {"W", 74},
                          {"Ar", 18},   {"Fe", 26},  {"Cu", 29},   {"Si", 14},   {"C", 6}};
    EXPECT_EQ(FormFactors().size(), std::size(cases));
    for (const Case& c : cases) {
        const FormFactor* f = FindFormFactor(c.species);
        ASSERT_NE(f, nullptr) << c.species;
        EXPECT_NEAR(ScatteringFactor(*f, 0), c.electrons, 0.15) << c.species;
        // Scattering weakens with angle across the fit's range.
        for (double s = 0.05; s <= 2.0; s += 0.05) {
            EXPECT_LT(ScatteringFactor(*f, s), ScatteringFactor(*f, s - 0.05)) << c.species << " s " << s;
        }
    }
    // Names are exact: an ion is not its atom, and letter case counts.
    EXPECT_EQ(FindFormFactor("Na"), nullptr);
    EXPECT_EQ(FindFormFactor("Na+"), nullptr);
    EXPECT_EQ(FindFormFactor("au"), nullptr);
}

TEST(FormFactor, NeonAtHalfAnInverseAngstrom)
{
    // Ne: a = 3.9553 3.1125 1.4546 1.1251, b = 8.4042 3.4262 0.2306 21.7184, c = 0.3515 (IT92);
    // at s = 0.5, s^2 = 0.25: 0.48384 + 1.32164 + 1.37311 + 0.00493 + 0.3515 = 3.53503 electrons.
    EXPECT_NEAR(F("Ne", 0.5), 3.53503, 1e-5);
}

// F of rock salt: 4(f+ + f-) for all even, 4(f+ - f-) for all odd, 0 for mixed indices.
TEST(ExpectedPattern, RockSaltStructureFactors)
{
    const double a = 5.64;
    const auto list = ExpectedPattern(Cubic(kNaCl), a, kNaN, 0.8, kNaN, true);
    struct Case {
        Hkl hkl;
        int sign;  // +1 all even, -1 all odd, 0 mixed
    };
    const Case cases[] = {{{1, 1, 1}, -1}, {{2, 0, 0}, 1}, {{2, 2, 0}, 1}, {{3, 1, 1}, -1}, {{2, 2, 2}, 1},
                          {{4, 0, 0}, 1},  {{3, 3, 1}, -1}, {{1, 0, 0}, 0}, {{1, 1, 0}, 0}, {{2, 1, 0}, 0},
                          {{2, 1, 1}, 0},  {{3, 0, 0}, 0},  {{2, 2, 1}, 0}, {{3, 2, 1}, 0}};
    for (const Case& c : cases) {
        const ExpectedReflection* r = Find(list, c.hkl);
        ASSERT_NE(r, nullptr) << c.hkl.h << c.hkl.k << c.hkl.l;
        const int n = c.hkl.h * c.hkl.h + c.hkl.k * c.hkl.k + c.hkl.l * c.hkl.l;
        const double s = std::sqrt(n) / (2 * a);
        const double expected = 4 * (F("Na1+", s) + c.sign * F("Cl1-", s));
        EXPECT_EQ(r->n, n);
        EXPECT_NEAR(r->d, a / std::sqrt(n), 1e-12);
        EXPECT_EQ(r->absent, c.sign == 0) << c.hkl.h << c.hkl.k << c.hkl.l;
        EXPECT_NEAR(r->f2, c.sign == 0 ? 0 : expected * expected, 1e-9 * (1 + expected * expected));
    }
}

TEST(ExpectedPattern, DebyeWallerDampsBySquaredAngle)
{
    // With B, |F|^2 falls by exp(-2 B s^2): at 4 0 0 of a = 5.64, s^2 = 16 / (4 * 31.8096).
    const auto cold = ExpectedPattern(Cubic(kNaCl, 0), 5.64, kNaN, 1.0);
    const auto warm = ExpectedPattern(Cubic(kNaCl, 1.5), 5.64, kNaN, 1.0);
    const double s2 = 16 / (4 * 5.64 * 5.64);
    EXPECT_NEAR(Find(warm, {4, 0, 0})->f2 / Find(cold, {4, 0, 0})->f2, std::exp(-3 * s2), 1e-12);
}

TEST(ExpectedPattern, KclOddReflectionsAlmostVanish)
{
    // K+ and Cl- both have 18 electrons: the odd reflections' 4(f+ - f-) is nearly nothing.
    const auto list = ExpectedPattern(Cubic(kKCl, 1.0), 6.29, kNaN, 0.9, 0.4133);
    for (Hkl hkl : {Hkl{1, 1, 1}, Hkl{3, 1, 1}, Hkl{3, 3, 1}}) {
        const ExpectedReflection* r = Find(list, hkl);
        ASSERT_NE(r, nullptr) << hkl.h << hkl.k << hkl.l;
        EXPECT_GT(r->intensity, 0);
        EXPECT_LT(r->intensity, 1.0) << hkl.h << hkl.k << hkl.l;
    }
    EXPECT_DOUBLE_EQ(Find(list, {2, 0, 0})->intensity, 100);
}

// The order of the strongest few, at lambda 0.4133 as at a beamline.
TEST(ExpectedPattern, StrongestReflectionsOfTheSalts)
{
    const auto nacl = ExpectedPattern(Cubic(kNaCl, 1.0), 5.64, kNaN, 0.8, 0.4133);
    ASSERT_GE(nacl.size(), 3u);
    std::vector<ExpectedReflection> byIntensity = nacl;
    std::sort(byIntensity.begin(), byIntensity.end(),
              [](const auto& x, const auto& y) { return x.intensity > y.intensity; });
    EXPECT_EQ(byIntensity[0].hkl, (Hkl{2, 0, 0}));
    EXPECT_EQ(byIntensity[1].hkl, (Hkl{2, 2, 0}));
    EXPECT_DOUBLE_EQ(byIntensity[0].intensity, 100);

    // CsCl's 1 0 0 (m 6, F = f+ - f-) and 2 1 1 (m 24, F = f+ + f-) come close: by hand, at
    // s 0.121 and 0.297, m F^2 is about 7,800 and 58,800 and LP about 792 and 130, so without
    // thermal motion 2 1 1 leads by some 25 %. The room-temperature B of CsCl, near 2.5
    // angstrom^2, damps 2 1 1 by exp(-2 B s^2) = 0.64 against 0.93: then 1 0 0 leads.
    const auto cscl = ExpectedPattern(Cubic(kCsCl, 2.5), 4.12, kNaN, 0.8, 0.4133);
    const double i110 = Find(cscl, {1, 1, 0})->intensity;
    const double i100 = Find(cscl, {1, 0, 0})->intensity;
    const double i211 = Find(cscl, {2, 1, 1})->intensity;
    EXPECT_DOUBLE_EQ(i110, 100);
    EXPECT_GT(i100, i211);
    for (const ExpectedReflection& r : cscl) {
        if (!(r.hkl == Hkl{1, 1, 0}) && !(r.hkl == Hkl{1, 0, 0})) {
            EXPECT_LE(r.intensity, i211) << r.hkl.h << r.hkl.k << r.hkl.l;
        }
    }
}

// Absences of centred lattices follow from the atoms: fcc all even or all odd, bcc h+k+l even.
TEST(ExpectedPattern, CentredLatticeAbsences)
{
    struct Case {
        std::span<const Site> sites;
        bool (*present)(const Hkl&);
    };
    const Case cases[] = {
        {kAu, [](const Hkl& x) { return (x.h % 2 == x.k % 2) && (x.k % 2 == x.l % 2); }},
        {kMo, [](const Hkl& x) { return (x.h + x.k + x.l) % 2 == 0; }},
        {kCu, [](const Hkl&) { return true; }},
    };
    for (const Case& c : cases) {
        const auto list = ExpectedPattern(Cubic(c.sites, 0.5), 4.0, kNaN, 0.5, kNaN, true);
        int classes = 0;
        for (int h = 1; h <= 8; ++h) {
            for (int k = 0; k <= h; ++k) {
                for (int l = 0; l <= k; ++l) classes += h * h + k * k + l * l <= 64;
            }
        }
        ASSERT_EQ(static_cast<int>(list.size()), classes);
        for (const ExpectedReflection& r : list) {
            EXPECT_EQ(r.absent, !c.present(r.hkl)) << r.hkl.h << r.hkl.k << r.hkl.l;
            EXPECT_EQ(r.absent, r.intensity == 0);
        }
        // Without keepAbsences only the present ones are listed.
        for (const ExpectedReflection& r : ExpectedPattern(Cubic(c.sites, 0.5), 4.0, kNaN, 0.5)) {
            EXPECT_TRUE(c.present(r.hkl)) << r.hkl.h << r.hkl.k << r.hkl.l;
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
    struct Case {
        Hkl hkl;
        double timesF2;
    };
    const Case cases[] = {{{0, 0, 1}, 0}, {{1, 0, 0}, 1}, {{0, 0, 2}, 4}, {{1, 0, 1}, 3}, {{1, 0, 2}, 1},
                          {{1, 1, 0}, 4}, {{1, 0, 3}, 3}, {{2, 0, 0}, 1}, {{1, 1, 2}, 4}, {{2, 0, 1}, 3},
                          {{0, 0, 3}, 0}, {{1, 1, 1}, 0}, {{0, 0, 4}, 4}, {{2, 0, 2}, 1}};
    for (const Case& cs : cases) {
        const ExpectedReflection* r = Find(list, cs.hkl);
        ASSERT_NE(r, nullptr) << cs.hkl.h << cs.hkl.k << cs.hkl.l;
        const Hkl& x = cs.hkl;
        const double d = 1 / std::sqrt(4.0 / 3 * (x.h * x.h + x.h * x.k + x.k * x.k) / (a * a) + x.l * x.l / (c * c));
        const double f = F("Re", 1 / (2 * d));
        EXPECT_NEAR(r->d, d, 1e-12);
        EXPECT_EQ(r->n, 0);
        EXPECT_EQ(r->absent, cs.timesF2 == 0) << x.h << x.k << x.l;
        EXPECT_NEAR(r->f2, cs.timesF2 * f * f, 1e-9 * f * f) << x.h << x.k << x.l;
    }
}

TEST(ExpectedPattern, Multiplicities)
{
    struct Case {
        CrystalSystem system;
        Hkl hkl;
        int multiplicity;
    };
    const Case cases[] = {
        {CrystalSystem::Cubic, {1, 0, 0}, 6},      {CrystalSystem::Cubic, {1, 1, 0}, 12},
        {CrystalSystem::Cubic, {1, 1, 1}, 8},      {CrystalSystem::Cubic, {2, 1, 0}, 24},
        {CrystalSystem::Cubic, {2, 1, 1}, 24},     {CrystalSystem::Cubic, {3, 2, 1}, 48},
        {CrystalSystem::Cubic, {2, 2, 1}, 24},     {CrystalSystem::Cubic, {3, 3, 3}, 8},
        {CrystalSystem::Hexagonal, {1, 0, 0}, 6},  {CrystalSystem::Hexagonal, {0, 0, 2}, 2},
        {CrystalSystem::Hexagonal, {1, 0, 1}, 12}, {CrystalSystem::Hexagonal, {1, 1, 0}, 6},
        {CrystalSystem::Hexagonal, {1, 0, 2}, 12}, {CrystalSystem::Hexagonal, {2, 0, 1}, 12},
        {CrystalSystem::Hexagonal, {2, 1, 0}, 12}, {CrystalSystem::Hexagonal, {2, 1, 1}, 24},
        {CrystalSystem::Hexagonal, {1, 1, 2}, 12}, {CrystalSystem::Hexagonal, {3, 0, 0}, 6},
    };
    const auto cubic = ExpectedPattern(Cubic(kCu), 4.0, kNaN, 0.5, kNaN, true);
    const auto hexagonal = ExpectedPattern(Hexagonal(kRe), 2.761, 4.456, 0.5, kNaN, true);
    for (const Case& c : cases) {
        const ExpectedReflection* r = Find(c.system == CrystalSystem::Cubic ? cubic : hexagonal, c.hkl);
        ASSERT_NE(r, nullptr);
        EXPECT_EQ(r->multiplicity, c.multiplicity) << c.hkl.h << c.hkl.k << c.hkl.l;
    }
}

// Every integer h k l but 0 0 0 within the sphere d >= dMin belongs to exactly one listed
// class: the multiplicities add up to the count of lattice points.
TEST(ExpectedPattern, ClassesCoverEveryLatticePoint)
{
    const double a = 2.761, c = 4.456, dMin = 0.6;
    struct Case {
        CrystalSystem system;
        std::span<const Site> sites;
    };
    for (const Case& cs : {Case{CrystalSystem::Cubic, kCu}, Case{CrystalSystem::Hexagonal, kRe}}) {
        const bool cubic = cs.system == CrystalSystem::Cubic;
        const Structure structure{"test", cs.system, cs.sites, 0};
        int sum = 0;
        for (const ExpectedReflection& r : ExpectedPattern(structure, a, c, dMin, kNaN, true)) {
            sum += r.multiplicity;
        }
        int points = 0;
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
        const double d = a / std::sqrt(n);
        const double theta = std::asin(lambda / (2 * d));
        const double f = F("Cu", 1 / (2 * d));
        const double factor = lp ? (1 + std::pow(std::cos(2 * theta), 2)) /
                                       (std::pow(std::sin(theta), 2) * std::cos(theta))
                                 : 1;
        return m * f * f * factor;
    };
    const auto withLp = ExpectedPattern(Cubic(kCu), a, kNaN, 0.5, lambda);
    const auto without = ExpectedPattern(Cubic(kCu), a, kNaN, 0.5);
    // With LP 1 0 0 (m 6) is the strongest; 1 1 0 (12) and 2 1 1 (24) relative to it.
    EXPECT_DOUBLE_EQ(Find(withLp, {1, 0, 0})->intensity, 100);
    EXPECT_NEAR(Find(withLp, {1, 1, 0})->intensity, 100 * intensity(2, 12, true) / intensity(1, 6, true), 1e-9);
    EXPECT_NEAR(Find(withLp, {2, 1, 1})->intensity, 100 * intensity(6, 24, true) / intensity(1, 6, true), 1e-9);
    EXPECT_NEAR(Find(without, {1, 1, 0})->intensity / Find(without, {1, 0, 0})->intensity,
                intensity(2, 12, false) / intensity(1, 6, false), 1e-12);
}

TEST(ExpectedPattern, NothingBeyondBackscattering)
{
    // lambda 2, a 4: d must exceed lambda / 2 = 1, so n < 16; without a wavelength 0.5 is the limit.
    const auto list = ExpectedPattern(Cubic(kCu), 4.0, kNaN, 0.5, 2.0);
    ASSERT_FALSE(list.empty());
    EXPECT_EQ(list.back().n, 14);
    EXPECT_EQ(ExpectedPattern(Cubic(kCu), 4.0, kNaN, 0.5).back().n, 64);
}

TEST(ExpectedPattern, OrderFollowsSpacingThenFallingH)
{
    const auto list = ExpectedPattern(Cubic(kCsCl), 4.12, kNaN, 0.6);
    for (std::size_t i = 1; i < list.size(); ++i) {
        EXPECT_TRUE(list[i - 1].n < list[i].n || (list[i - 1].n == list[i].n && list[i - 1].hkl.h > list[i].hkl.h));
    }
    // n = 9: 3 0 0 before 2 2 1, as core/standards.h lists them.
    EXPECT_EQ(Find(list, {3, 0, 0}) + 1, Find(list, {2, 2, 1}));
}

TEST(ExpectedByN, SumsTheClassesOfOneN)
{
    const double lambda = 0.4133;
    const auto classes = ExpectedPattern(Cubic(kCsCl, 1.0), 4.12, kNaN, 0.6, lambda);
    const auto rows = ExpectedByN(Cubic(kCsCl, 1.0), 4.12, 0.6, lambda);
    ASSERT_FALSE(rows.empty());
    double strongestRow = 0;
    for (int n = 1; n <= 47; ++n) {
        double sum = 0;
        for (const ExpectedReflection& r : classes) sum += r.n == n ? r.intensity : 0;
        strongestRow = std::max(strongestRow, sum);
    }
    const ExpectedReflection* nine = nullptr;
    for (const ExpectedReflection& r : rows) {
        if (r.n == 9) nine = &r;
    }
    ASSERT_NE(nine, nullptr);
    EXPECT_EQ(nine->hkl, (Hkl{3, 0, 0}));
    EXPECT_EQ(nine->multiplicity, 6 + 24);
    const double sum9 = Find(classes, {3, 0, 0})->intensity + Find(classes, {2, 2, 1})->intensity;
    EXPECT_NEAR(nine->intensity, 100 * sum9 / strongestRow, 1e-9);
    double top = 0;
    for (const ExpectedReflection& r : rows) top = std::max(top, r.intensity);
    EXPECT_DOUBLE_EQ(top, 100);

    // Rock salt: 5 1 1 and 3 3 3 share n = 27; mixed n such as 5 (2 1 0) have no row.
    const auto salt = ExpectedByN(Cubic(kNaCl), 5.64, 0.8);
    bool has27 = false;
    for (const ExpectedReflection& r : salt) {
        EXPECT_NE(r.n, 5);
        if (r.n == 27) {
            has27 = true;
            EXPECT_EQ(r.hkl, (Hkl{5, 1, 1}));
            EXPECT_EQ(r.multiplicity, 24 + 8);
        }
    }
    EXPECT_TRUE(has27);
    EXPECT_TRUE(ExpectedByN(Hexagonal(kRe), 2.761, 0.8).empty());
}

TEST(ExpectedPattern, RefusedInputs)
{
    const std::array<Site, 1> unknown = {{{"Xx", 0, 0, 0}}};
    const std::array<Site, 1> notFinite = {{{"Cu", kNaN, 0, 0}}};
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
