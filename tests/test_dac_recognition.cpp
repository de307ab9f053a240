// The diamond-anvil-cell generator against what the physics says its patterns must hold, and
// the pattern library's recognition of a standard among them.
#include "core/inverse.h"
#include "pattern/pattern.h"
#include "tests/dac_synth.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>

namespace {

constexpr double kPi = 3.14159265358979323846;

const hv::Standard& Named(const char* name) { return *hv::FindStandardAnyCase(name); }

const dacsynth::Line* Find(const std::vector<dacsynth::Line>& lines, int n)
{
    for (const dacsynth::Line& l : lines) {
        if (l.n == n) return &l;
    }
    return nullptr;
}

TEST(DacRandom, UniformIsTheTwisterSTopBits)
{
    // The library fixes mt19937_64's 10,000th output from its default seed: 9981545732273789042.
    dacsynth::Random r(5489);
    double u = 0;
    for (int i = 0; i < 10000; ++i) u = r.Uniform();
    EXPECT_EQ(u, static_cast<double>(9981545732273789042ULL >> 11) / 9007199254740992.0);
}

TEST(DacRandom, DrawsHaveTheirMoments)
{
    dacsynth::Random r(7);
    constexpr int kN = 200000;
    double s = 0, s2 = 0, p4 = 0, p4v = 0, p400 = 0, p400v = 0;
    for (int i = 0; i < kN; ++i) {
        const double z = r.Normal();
        s += z;
        s2 += z * z;
        const double a = r.Poisson(4), b = r.Poisson(400);
        p4 += a;
        p4v += (a - 4) * (a - 4);
        p400 += b;
        p400v += (b - 400) * (b - 400);
    }
    // Standard errors: 1/sqrt(N) = 0.0022 for the mean, sqrt(2/N) = 0.0032 for the variance.
    EXPECT_NEAR(s / kN, 0, 0.012);
    EXPECT_NEAR(s2 / kN, 1, 0.016);
    EXPECT_NEAR(p4 / kN, 4, 0.03);
    EXPECT_NEAR(p4v / kN, 4, 0.1);
    EXPECT_NEAR(p400 / kN, 400, 0.3);
    EXPECT_NEAR(p400v / kN, 400, 10);
    EXPECT_EQ(r.Poisson(0), 0);
    EXPECT_EQ(r.Poisson(-3), 0);
}

TEST(DacProfile, BraggAndHalfMaximum)
{
    // lambda = 2 d sin(15 degrees) puts the reflection at 2-theta 30.
    EXPECT_NEAR(dacsynth::BraggTwoTheta(0.5 / (2 * std::sin(15 * kPi / 180)), 0.5), 30, 1e-12);
    EXPECT_NEAR(dacsynth::BraggTwoTheta(1.0, 2.0), 180, 1e-12);
    EXPECT_TRUE(std::isnan(dacsynth::BraggTwoTheta(1.0, 2.1)));
    for (const double eta : {0.0, 0.3, 1.0}) {
        EXPECT_DOUBLE_EQ(dacsynth::PseudoVoigt(0, 0.02, eta), 1);
        EXPECT_NEAR(dacsynth::PseudoVoigt(0.01, 0.02, eta), 0.5, 1e-15);
        EXPECT_NEAR(dacsynth::PseudoVoigt(-0.01, 0.02, eta), 0.5, 1e-15);
    }
    // Three half widths out: Lorentzian 1/(1+9), Gaussian 2^-9.
    EXPECT_NEAR(dacsynth::PseudoVoigt(0.03, 0.02, 1), 0.1, 1e-15);
    EXPECT_NEAR(dacsynth::PseudoVoigt(0.03, 0.02, 0), 1.0 / 512, 1e-15);
}

// Which reflections each structure has, and how many hkl each gathers, follow from the
// atoms alone.
TEST(DacLines, AbsencesAndMultiplicitiesFollowFromTheAtoms)
{
    const dacsynth::Scatterer x{20, 1}, y{50, 1};
    struct Case {
        const char* what;
        dacsynth::Phase phase;
        std::vector<int> n;             // h^2+k^2+l^2 present, up to 12
        std::vector<int> multiplicity;  // of each
    };
    const Case cases[] = {
        {"fcc", dacsynth::Fcc("f", x, 4), {3, 4, 8, 11, 12}, {8, 6, 12, 24, 8}},
        {"bcc", dacsynth::Bcc("b", x, 4), {2, 4, 6, 8, 10, 12}, {12, 6, 24, 12, 24, 8}},
        // Rock salt of two different ions keeps the odd reflections; CsCl type keeps them all,
        // 300 and 221 together (6 + 24).
        {"rock salt", dacsynth::RockSalt("r", x, y, 6), {3, 4, 8, 11, 12}, {8, 6, 12, 24, 8}},
        {"CsCl type", dacsynth::CsClType("c", x, y, 4), {1, 2, 3, 4, 5, 6, 8, 9, 10, 11, 12}, {6, 12, 8, 6, 24, 24, 12, 30, 24, 24, 8}},
    };
    for (const Case& c : cases) {
        const double dMin = c.phase.a / std::sqrt(12.0) * 0.999;
        const std::vector<dacsynth::Line> lines = dacsynth::Lines(c.phase, 0.3, dMin);
        ASSERT_EQ(lines.size(), c.n.size()) << c.what;
        for (std::size_t i = 0; i < lines.size(); ++i) {
            EXPECT_EQ(lines[i].n, c.n[i]) << c.what;
            EXPECT_EQ(lines[i].multiplicity, c.multiplicity[i]) << c.what << " n " << c.n[i];
            EXPECT_NEAR(lines[i].d, c.phase.a / std::sqrt(c.n[i]), 1e-12) << c.what;
        }
    }
    // hcp: 001 and 111 are absent (h + 2k a multiple of 3 with l odd); 100 gathers 6 hkl,
    // 002 two, 101 and 102 twelve, 110 six.
    const double a = 2.76, c = 4.46;
    const auto hexD = [&](double m, double l) { return 1 / std::sqrt(4.0 / 3 * m / (a * a) + l * l / (c * c)); };
    const std::vector<dacsynth::Line> hex = dacsynth::Lines(dacsynth::Hcp("Re", x, a, c), 0.3, 1.3);
    const double d[] = {hexD(1, 0), hexD(0, 2), hexD(1, 1), hexD(1, 2), hexD(3, 0)};
    const int m[] = {6, 2, 12, 12, 6};
    ASSERT_EQ(hex.size(), 5u);
    EXPECT_GT(hexD(3, 1), 1.3);  // 111 would be in range
    for (std::size_t i = 0; i < 5; ++i) {
        EXPECT_NEAR(hex[i].d, d[i], 1e-12) << i;
        EXPECT_EQ(hex[i].multiplicity, m[i]) << i;
    }
}

TEST(DacLines, IntensityIsMultiplicityStructureFactorAndLorentzPolarisation)
{
    // Four atoms of 10 electrons, no fall with angle and no thermal motion: |F|^2 = 40^2.
    dacsynth::Phase p = dacsynth::Fcc("f", {10, 0}, 4);
    p.bIso = 0;
    const std::vector<dacsynth::Line> lines = dacsynth::Lines(p, 0.3, 1.9);
    ASSERT_EQ(lines.size(), 2u);
    const double sin111 = 0.3 / (2 * 4 / std::sqrt(3.0));
    const double cos2 = 1 - 2 * sin111 * sin111;
    const double lp = (1 + cos2 * cos2) / (sin111 * sin111 * std::sqrt(1 - sin111 * sin111));
    EXPECT_NEAR(lines[0].intensity / (8 * 1600 * lp), 1, 1e-12);
    EXPECT_NEAR(lines[0].twoTheta, 2 * std::asin(sin111) * 180 / kPi, 1e-12);
    // Thermal motion B = 2: exp(-2 B s^2) with s = 1 / (2 d).
    p.bIso = 2;
    const double s2 = 3.0 / (4 * 16);
    EXPECT_NEAR(dacsynth::Lines(p, 0.3, 1.9)[0].intensity / lines[0].intensity, std::exp(-4 * s2), 1e-12);
}

TEST(DacLines, TheStandardsStrongestAndWeakest)
{
    // NaCl: 200 and 220 strongest; 311 scatters with f(Na+) - f(Cl-), about 2.3 electrons
    // at s = 0.33 against a sum of about 21 for 200 at s = 0.2, so with 4 times 200's
    // multiplicity and a Lorentz-polarisation factor 2.6 times smaller it is about 1.8 % of
    // 200. KCl: K+ and Cl- carry 18 electrons each, so the odd reflections almost vanish.
    // CsCl: 110 strongest.
    const auto at = [](const char* name, double a) {
        return dacsynth::Lines(dacsynth::StandardPhase(Named(name), a), 0.4, 1.2);
    };
    const auto nacl = at("NaCl", 5.64), kcl = at("KCl", 6.29), cscl = at("CsCl", 4.12);
    std::vector<dacsynth::Line> byIntensity = nacl;
    std::sort(byIntensity.begin(), byIntensity.end(),
              [](const auto& x, const auto& y) { return x.intensity > y.intensity; });
    EXPECT_EQ(std::min(byIntensity[0].n, byIntensity[1].n), 4);
    EXPECT_EQ(std::max(byIntensity[0].n, byIntensity[1].n), 8);
    ASSERT_NE(Find(nacl, 11), nullptr);
    EXPECT_GT(Find(nacl, 11)->intensity, 0.01 * Find(nacl, 4)->intensity);
    EXPECT_LT(Find(nacl, 11)->intensity, 0.03 * Find(nacl, 4)->intensity);
    for (const int odd : {3, 11, 19}) {
        ASSERT_NE(Find(kcl, odd), nullptr);
        EXPECT_LT(Find(kcl, odd)->intensity, 0.01 * Find(kcl, 4)->intensity) << odd;
    }
    for (const dacsynth::Line& l : cscl) EXPECT_LE(l.intensity, Find(cscl, 2)->intensity) << l.n;
}

dacsynth::Made MakeOne(const char* standard, uint64_t seed, bool positive, double signal = hv::kNone)
{
    dacsynth::Recipe r;
    r.standard = &Named(standard);
    r.seed = seed;
    r.positive = positive;
    r.signal = signal;
    return dacsynth::Make(r);
}

TEST(DacMake, SeededAndShapedAsABeamlineGivesIt)
{
    for (const char* name : {"NaCl", "KCl", "CsCl"}) {
        for (uint64_t seed = 1; seed <= 20; ++seed) {
            const dacsynth::Made m = MakeOne(name, seed, true);
            const hv::pattern::Pattern& p = m.pattern;
            SCOPED_TRACE(std::string(name) + " seed " + std::to_string(seed));
            std::string why;
            EXPECT_TRUE(hv::pattern::CheckPattern(p, why)) << why;
            EXPECT_GE(p.x.size(), 2000u);
            EXPECT_LE(p.x.size(), 5000u);
            EXPECT_GE(p.wavelength, 0.2);
            EXPECT_LT(p.wavelength, 0.62);
            EXPECT_EQ(p.unit, hv::XUnit::TwoThetaDeg);
            EXPECT_EQ(m.truth.standard, &Named(name));
            EXPECT_GE(m.truth.crowdLines, 20);
            EXPECT_LE(m.truth.crowdLines, 60);
            EXPECT_GE(m.truth.crowd.size(), 2u);
            // The truth is the model's lattice at the truth's pressure and temperature.
            EXPECT_GE(m.truth.pGpa, 0);
            EXPECT_LE(m.truth.pGpa, dacsynth::Pressures(Named(name)).hi);
            const hv::SpacingResult s =
                hv::SpacingsAt(Named(name), static_cast<float>(m.truth.tCelsius), m.truth.pGpa, 1);
            EXPECT_EQ(s.status, hv::Status::Ok);
            EXPECT_DOUBLE_EQ(s.a, m.truth.a);
            // The same seed, the same pattern.
            EXPECT_EQ(MakeOne(name, seed, true).pattern.intensity, p.intensity);
        }
    }
}

TEST(DacMake, NegativesAreThePositivesWithoutTheStandard)
{
    for (uint64_t seed = 1; seed <= 10; ++seed) {
        SCOPED_TRACE(seed);
        const dacsynth::Made with = MakeOne("NaCl", seed, true, 300);
        const dacsynth::Made without = MakeOne("NaCl", seed, false, 300);
        EXPECT_FALSE(without.truth.present);
        EXPECT_EQ(with.truth.crowd, without.truth.crowd);
        ASSERT_EQ(with.pattern.x, without.pattern.x);
        const auto& x = with.pattern.x;
        const auto index = [&](double tt) {
            return static_cast<std::size_t>(std::lower_bound(x.begin(), x.end(), tt) - x.begin());
        };
        // At the strongest line 300 times the background's noise stands out; at a point no
        // line of the standard comes near, the counts are the same to the count.
        const dacsynth::Line& top = *std::max_element(
            with.truth.standardLines.begin(), with.truth.standardLines.end(),
            [](const auto& a, const auto& b) { return a.intensity < b.intensity; });
        const std::size_t i = index(top.twoTheta);
        if (without.pattern.intensity[i] > 0) {
            EXPECT_GT(with.pattern.intensity[i] - without.pattern.intensity[i], 30 * std::sqrt(without.pattern.intensity[i]));
        }
        double differ = 0;
        for (std::size_t k = 0; k < x.size(); ++k) differ += with.pattern.intensity[k] != without.pattern.intensity[k];
        EXPECT_GT(differ, 0);
        const std::size_t far = index(with.truth.standardLines.front().twoTheta) / 2;
        if (x[far] < with.truth.standardLines.front().twoTheta - 40 * 6 * (x[1] - x[0])) {
            EXPECT_EQ(with.pattern.intensity[far], without.pattern.intensity[far]);
        }
    }
}

TEST(DacMake, WidthsTextureZerosAndCrowd)
{
    std::vector<double> logs;
    int zeroEdges = 0, mimics = 0, fcc = 0, bcc = 0, hcp = 0;
    for (uint64_t seed = 1; seed <= 40; ++seed) {
        SCOPED_TRACE(seed);
        const dacsynth::Made with = MakeOne("CsCl", seed, true, 3000);
        const dacsynth::Made without = MakeOne("CsCl", seed, false, 3000);
        const dacsynth::Truth& t = with.truth;
        // Texture: the drawn intensities against the structure's own.
        const auto bare = dacsynth::Lines(dacsynth::StandardPhase(Named("CsCl"), t.a), with.pattern.wavelength, 0.8);
        for (const dacsynth::Line& l : t.standardLines) {
            ASSERT_NE(Find(bare, l.n), nullptr);
            logs.push_back(std::log(l.intensity / Find(bare, l.n)->intensity));
        }
        // The strongest line of the standard spans 2.5 to 6 points at half maximum.
        const dacsynth::Line& top = *std::max_element(
            t.standardLines.begin(), t.standardLines.end(), [](const auto& a, const auto& b) { return a.intensity < b.intensity; });
        const auto& x = with.pattern.x;
        const std::size_t at = static_cast<std::size_t>(std::lower_bound(x.begin(), x.end(), top.twoTheta) - x.begin());
        std::vector<double> diff;
        for (std::size_t k = at > 12 ? at - 12 : 0; k < std::min(x.size(), at + 12); ++k) {
            diff.push_back(with.pattern.intensity[k] - without.pattern.intensity[k]);
        }
        const double peak = *std::max_element(diff.begin(), diff.end());
        if (peak > 0 && with.pattern.intensity[at] > 0) {
            const auto above = std::count_if(diff.begin(), diff.end(), [&](double v) { return v > peak / 2; });
            EXPECT_GE(above, 2);
            EXPECT_LE(above, 7);
        }
        const auto& y = with.pattern.intensity;
        zeroEdges += y.front() == 0 || y.back() == 0;
        mimics += t.mimic;
        for (const std::string& c : t.crowd) {
            fcc += c.find(" fcc ") != std::string::npos;
            bcc += c.find(" bcc ") != std::string::npos;
            hcp += c.find(" hcp ") != std::string::npos;
        }
    }
    double mean = 0, var = 0;
    for (const double v : logs) mean += v / static_cast<double>(logs.size());
    for (const double v : logs) var += (v - mean) * (v - mean) / static_cast<double>(logs.size() - 1);
    EXPECT_GT(logs.size(), 200u);
    EXPECT_NEAR(std::sqrt(var), 0.5, 0.06);
    EXPECT_NEAR(mean, 0, 0.08);
    // Half the patterns lose each edge: about 30 of 40 lose one; a third hold a mimic.
    EXPECT_GE(zeroEdges, 20);
    EXPECT_GE(mimics, 6);
    EXPECT_GE(fcc, 10);
    EXPECT_GE(bcc, 5);
    EXPECT_GE(hcp, 5);
}

// Every standard of the table: its own structure read right, its pressures where a search
// looks (V/V0 0.55 and above), and no phase of its own kind in the crowd inside its range.
TEST(DacMake, EveryStandardOfTheTable)
{
    EXPECT_EQ(dacsynth::Ion("Na1+").z, dacsynth::Ion("Na+").z);
    EXPECT_EQ(dacsynth::Ion("O2-").z, 10);
    EXPECT_EQ(dacsynth::Ion("Xx").z, 0);
    const hv::Standard* re = hv::FindStandardAnyCase("Re");
    ASSERT_NE(re, nullptr);
    ASSERT_TRUE(dacsynth::Knows(*re));
    const auto own = dacsynth::Lines(dacsynth::StandardPhase(*re, 2.7, 4.36), 0.3, 1.1);
    const auto mine = dacsynth::Lines(dacsynth::Hcp("Re", dacsynth::Ion("Re"), 2.7, 4.36), 0.3, 1.1);
    ASSERT_EQ(own.size(), mine.size());
    for (std::size_t i = 0; i < own.size(); ++i) {
        EXPECT_NEAR(own[i].d, mine[i].d, 1e-12);
        EXPECT_EQ(own[i].multiplicity, mine[i].multiplicity);
    }
    int known = 0;
    for (const hv::Standard& standard : hv::AllStandards()) {
        if (!dacsynth::Knows(standard)) continue;
        ++known;
        SCOPED_TRACE(std::string(standard.name));
        const std::string kind(standard.structure->name);
        for (uint64_t seed = 1; seed <= 6; ++seed) {
            const dacsynth::Made m = MakeOne(std::string(standard.name).c_str(), seed, true);
            const hv::SpacingResult s =
                hv::SpacingsAt(standard, static_cast<float>(m.truth.tCelsius), m.truth.pGpa, 1);
            EXPECT_GE(s.vRatio, 0.55);
            EXPECT_GE(m.truth.pGpa, dacsynth::Pressures(standard).lo);
            EXPECT_LE(m.truth.pGpa, dacsynth::Pressures(standard).hi);
            for (const std::string& c : m.truth.crowd) {
                const std::size_t space = c.find(' '), at = c.find(" a=");
                const std::string k = c.substr(space + 1, at - space - 1);
                const double a = std::stod(c.substr(at + 3));
                const bool inside = a > standard.a0 * std::cbrt(0.45) && a < standard.a0 * std::cbrt(1.15);
                EXPECT_FALSE(k == kind && inside) << c;
            }
        }
    }
    EXPECT_GE(known, 3);
}

// ---- Recognition ----

// NaCl's 111th pair: an fcc metal at a = 5.2977 sits on every NaCl place, its 311 beside a
// sample peak that hides it. Without NaCl it is refused as that fcc lattice; with NaCl, the
// search's next lattice is NaCl's own.
TEST(DacRecognition, AnFccMetalOnRockSaltPlacesIsNoRockSalt)
{
    hv::pattern::Options o;
    o.standard = &Named("NaCl");
    for (const bool positive : {false, true}) {
        const dacsynth::Made m = MakeOne("NaCl", 111, positive);
        o.tCelsius = static_cast<float>(m.truth.tCelsius);
        const hv::Result r = hv::pattern::FitPattern(m.pattern, o).result;
        if (positive) {
            ASSERT_NE(r.status, hv::Status::Error) << r.message;
            EXPECT_NEAR(r.a, m.truth.a, std::max(3 * r.sigmaA, 5e-4)) << r.message;
        } else {
            EXPECT_EQ(r.status, hv::Status::Error) << r.a << ": " << r.message;
            EXPECT_NE(r.message.find("fcc lattice of a 5.297"), std::string::npos) << r.message;
        }
    }
}

struct Score {
    int positives = 0, recovered = 0, wrong = 0, wrongOk = 0, negatives = 0, falsePressure = 0;
    std::string failures;
};

Score Recognise(const hv::Standard& standard, int count)
{
    Score s;
    for (int k = 0; k < 2 * count; ++k) {
        const dacsynth::Made m = MakeOne(std::string(standard.name).c_str(), static_cast<uint64_t>(k / 2) + 1, k % 2 == 0);
        hv::pattern::Options o;
        o.standard = &standard;
        o.tCelsius = static_cast<float>(m.truth.tCelsius);
        const hv::Result r = hv::pattern::FitPattern(m.pattern, o).result;
        const bool given = r.status != hv::Status::Error && std::isfinite(r.pGpa);
        const double off = std::fabs(r.a - m.truth.a);
        if (m.truth.present) {
            ++s.positives;
            s.recovered += given && off <= std::max(3 * r.sigmaA, 5e-4);
            if (given && !(off <= std::max(5 * r.sigmaA, 2e-3))) {
                ++s.wrong;
                s.wrongOk += r.status == hv::Status::Ok;
                s.failures += " positive " + std::to_string(k / 2 + 1) + ": a " + std::to_string(r.a) + " for " +
                              std::to_string(m.truth.a) + ";";
            }
        } else {
            ++s.negatives;
            if (given) {
                ++s.falsePressure;
                s.failures += " negative " + std::to_string(k / 2 + 1) + ": " + std::to_string(r.pGpa) + " GPa;";
            }
        }
    }
    return s;
}

// Among 40 cell patterns with the standard and 40 without: no wrong pressure is ok, at most
// wrongWarnings are warnings, none comes without the standard (those are refused as
// coincidences, another lattice or intensities that are not the standard's), and `found`
// are found.
void ExpectRecognised(int found, int wrongWarnings)
{
    for (const char* name : {"NaCl", "KCl", "CsCl"}) {
        const Score s = Recognise(Named(name), 40);
        SCOPED_TRACE(name + s.failures);
        EXPECT_EQ(s.wrongOk, 0);
        EXPECT_LE(s.wrong, wrongWarnings);
        EXPECT_EQ(s.falsePressure, 0);
        EXPECT_GE(s.recovered, found) << "of " << s.positives;
    }
}

// A generated pattern and the fit of it, unguided or near a guess 1 GPa above its truth.
struct Fitted {
    dacsynth::Made made;
    hv::pattern::Outcome out;
};

Fitted FitOne(const char* standard, uint64_t seed, bool positive, bool nearGuess = false)
{
    Fitted f{MakeOne(standard, seed, positive), {}};
    hv::pattern::Options o;
    o.standard = &Named(standard);
    o.tCelsius = static_cast<float>(f.made.truth.tCelsius);
    if (nearGuess) o.pressureGuess = f.made.truth.pGpa + 1;
    f.out = hv::pattern::FitPattern(f.made.pattern, o);
    return f;
}

// Re at 2.6 GPa among a sample's peaks, seven reflections clear: their spacings scatter
// beyond their sigmas, and none is far off the others' cell. Judged by its own sigma against
// a cell the others pulled, each precise reflection in turn looked the outlier until three
// were left, too few to trust.
TEST(DacRecognition, PreciseHexagonalReflectionsAreNoOutliers)
{
    const auto [m, out] = FitOne("Re:Ono2022", 17, true);
    ASSERT_NE(out.result.status, hv::Status::Error) << out.result.message;
    EXPECT_NEAR(out.result.a, m.truth.a, std::max(3 * out.result.sigmaA, 5e-4)) << out.result.message;
    EXPECT_NEAR(out.result.c, m.truth.c, std::max(3 * out.result.sigmaC, 5e-4)) << out.result.message;
    EXPECT_GE(out.result.peaks, 6) << out.result.message;
}

// KCl at 0.9 GPa near a guess 1 GPa off: the lattice the search accepts there keeps none of
// 200, 220 and 420 once its fit is done. Texture does not take every strong reflection away;
// that lattice is not KCl's, and its a was 0.3 % off.
TEST(DacRecognition, NoneOfTheStrongestUsedIsNoPattern)
{
    const hv::pattern::Outcome out = FitOne("KCl", 270, true, true).out;
    EXPECT_EQ(out.result.status, hv::Status::Error) << out.result.message;
    EXPECT_NE(out.result.message.find("none of its strongest reflections"), std::string::npos) << out.result.message;
}

// A generated pattern whose fit must be refused, and the words its reason must hold.
struct RefusedCase {
    const char* standard;
    int seed;
    bool positive, nearGuess;
    const char* why;
};

void ExpectRefused(const RefusedCase& c)
{
    const hv::pattern::Outcome out = FitOne(c.standard, static_cast<uint64_t>(c.seed), c.positive, c.nearGuess).out;
    EXPECT_EQ(out.result.status, hv::Status::Error) << c.standard << " " << c.seed << ": " << out.result.message;
    EXPECT_NE(out.result.message.find(c.why), std::string::npos) << out.result.message;
}

// Near a guess, another plain lattice on the used peaks, whose heights or whose absent places
// of the standard's (absent even at a quarter of their height) speak for it: both gave a
// wrong pressure as a warning.
TEST(DacRecognition, EvidenceForAnotherLatticeRefusesEvenNearAGuess)
{
    for (const RefusedCase& c : {
             RefusedCase{"MgO:Speziale2001", 248, true, true,
                         "which their heights and MgO:Speziale2001's own weaker reflections speak for"},
             RefusedCase{"Au:Fei2007", 30, false, true, "own 111 is absent, and would stand clear"},
         }) {
        ExpectRefused(c);
    }
}

// KCl's 220 beside a taller peak of the crowd, on its flank (seed 49), and its 420 between
// two taller ones as a shoulder whose dip is too shallow for a candidate (seed 161): no peak
// of its own in the candidates, yet not absent. Each lattice was refused for it.
TEST(DacRecognition, AReflectionOnATallerPeaksFlankIsNotAbsent)
{
    for (const int seed : {49, 161}) {
        const auto [m, out] = FitOne("KCl", static_cast<uint64_t>(seed), true);
        ASSERT_NE(out.result.status, hv::Status::Error) << seed << ": " << out.result.message;
        EXPECT_NEAR(out.result.a, m.truth.a, std::max(3 * out.result.sigmaA, 5e-4)) << out.result.message;
    }
}

// A reflection is called one of the standard's strongest only when it is among the three
// strongest in range; where taller peaks hide those, the absent ones are named for what they
// are. KCl-B2's 100 (0.4 % of its 110) was called absent "one of its strongest" near a guess:
// so weak a reflection is no evidence, and the lattice's intensities refuse it instead.
TEST(DacRecognition, AnAbsentReflectionIsCalledStrongestOnlyWhereItIs)
{
    for (const RefusedCase& c : {
             RefusedCase{"NaCl", 2, false, false, "no NaCl pattern: 200 and 222, its strongest reflections, are absent"},
             RefusedCase{"NaCl", 160, false, false,
                         "no NaCl pattern: 222, the strongest of its reflections that no taller peak hides, is absent"},
             RefusedCase{"KCl-B2:Tateno2019", 38, true, true,
                         "the fitted intensities are not KCl-B2:Tateno2019's, even with texture"},
         }) {
        ExpectRefused(c);
    }
}

// Two lattices tie in the search and the whole pattern refuses both: the message says so.
TEST(DacRecognition, ATieOfTwoRefusedLatticesSaysNeitherPasses)
{
    const std::string message = FitOne("NaCl", 252, true).out.result.message;
    EXPECT_NE(message.find("angstrom), and neither passes the tests of NaCl's whole pattern: give a pressure guess"),
              std::string::npos)
        << message;
}

// Two lattices pass every test of the standard's pattern: a crowd phase of the standard's
// structure beside it. The one with more used reflections stands, the row names the other and
// is no longer ok. KCl near a guess: the search's first lattice was the crowd's, a wrong
// pressure.
TEST(DacRecognition, OfTwoLatticesThatPassTheOneWithMoreReflectionsStands)
{
    const struct {
        const char* standard;
        int seed;
        bool nearGuess;
        const char* note;
    } cases[] = {
        {"KCl", 65, true, "a lattice of a 6.0643 angstrom passes KCl's tests too, on 5 reflections (the search's first choice)"},
        {"MgO:Tange2009", 21, false, "a lattice of a 4.0772 angstrom passes MgO:Tange2009's tests too, on 4 reflections"},
    };
    for (const auto& c : cases) {
        const auto [m, out] = FitOne(c.standard, static_cast<uint64_t>(c.seed), true, c.nearGuess);
        EXPECT_EQ(out.result.status, hv::Status::Warning) << c.standard << ": " << out.result.message;
        EXPECT_NEAR(out.result.a, m.truth.a, std::max(3 * out.result.sigmaA, 5e-4)) << out.result.message;
        EXPECT_EQ(out.result.message, c.note);
    }
}

// Among a crowd's peaks and no NaCl, a lattice at some offset of x is one more coincidence
// (its fit with the offset refined is refused): the reason as measured stands. These three
// were told "it is there if x is off by about ...", which --zero-shift did not bear out.
TEST(DacRecognition, AnOffsetThatFindsOnlyACoincidenceIsNoZeroError)
{
    for (const int seed : {5, 28, 49}) {
        const std::string message = FitOne("NaCl", static_cast<uint64_t>(seed), false).out.result.message;
        EXPECT_EQ(message.rfind("no lattice of NaCl with a ", 0), 0u) << seed << ": " << message;
    }
}

// What holds now, on every build: NaCl finds 35, KCl 35, CsCl 38, and none gives a wrong
// pressure (one, a warning, is allowed).
TEST(DacRecognition, NoWrongOkPressureAndNoneWithoutTheStandard) { ExpectRecognised(33, 1); }

// The goal: the same, and nine in ten found.
TEST(DacRecognition, FindsTheStandardAndNothingElse)
{
    const char* on = std::getenv("HV_RECOGNITION");
    if (!on || std::string(on) != "1") {
        GTEST_SKIP() << "the recognition does not reach these figures on generated cell patterns yet (make "
                        "bench-recognition): set HV_RECOGNITION=1 to run";
    }
    ExpectRecognised(36, 0);
}

}  // namespace
