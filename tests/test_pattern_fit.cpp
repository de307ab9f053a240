#include "core/inverse.h"
#include "core/pressure.h"
#include "pattern/pattern.h"
#include "tests/pattern_synth.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>
#include <string>
#include <vector>

namespace {

using hv::Status;
using hv::XUnit;
using hv::pattern::FitPattern;
using hv::pattern::Options;
using hv::pattern::Outcome;
using hv::pattern::Pattern;

// Release builds check more patterns; a sanitized debug build runs the same test on fewer.
#ifdef NDEBUG
constexpr int kPatterns = 400, kCrowded = 40;
#else
constexpr int kPatterns = 100, kCrowded = 20;
#endif

const hv::Standard& NaCl()
{
    return *hv::FindStandard("NaCl");
}

// A NaCl pattern from 1.5 degrees below 111 to just past 420: eight reflections.
synth::Recipe EightReflections(double a, uint64_t seed)
{
    synth::Recipe r;
    r.a = a;
    r.seed = seed;
    // Heights falling with angle about as NaCl's do (400 a third of 200), which the
    // recognition expects of a rock-salt pattern.
    r.fall = 2.5;
    r.from = synth::BraggTwoTheta(a / std::sqrt(3.0), r.wavelength) - 1.5;
    r.to = synth::BraggTwoTheta(a / std::sqrt(20.0), r.wavelength) + 0.8;
    return r;
}

Pattern Of(const synth::Generated& g, double wavelength = 0.4133)
{
    Pattern p;
    p.x = g.twoTheta;
    p.intensity = g.counts;
    p.unit = XUnit::TwoThetaDeg;
    p.wavelength = wavelength;
    return p;
}

Options NaClAt25()
{
    Options o;
    o.standard = &NaCl();
    o.tCelsius = 25;
    return o;
}

const hv::pattern::PeakRow* Row(const Outcome& o, int n)
{
    for (const auto& r : o.peaks) {
        if (r.reflection.n == n) return &r;
    }
    return nullptr;
}

// Many patterns of known a across the model's range: a within 3 sigma in at least 99 % of
// them, and the spread of (a_fit - a_true) / sigma_a close to one. No guess: each one's
// lattice is found by the search.
TEST(PatternFit, RecoversTheLatticeWithinItsSigma)
{
    std::mt19937_64 random(2026);
    // What rock-salt NaCl can be in a cell at 25 C: V/V0 1.022 is -0.5 GPa, 0.615 is 37.5 GPa,
    // past its B1-B2 transition.
    std::uniform_real_distribution<double> volume(0.62, 1.02);
    int within = 0, found = 0;
    double sum = 0, sum2 = 0;
    for (int k = 0; k < kPatterns; ++k) {
        const double a = 5.64 * std::cbrt(volume(random));
        synth::Recipe r = EightReflections(a, 100 + static_cast<uint64_t>(k));
        r.eta = 0.2 + 0.5 * (k % 7) / 6.0;
        const Outcome o = FitPattern(Of(synth::Make(r)), NaClAt25());
        ASSERT_NE(o.result.status, Status::Error) << "a " << a << ": " << o.result.message;
        ++found;
        const double z = (o.result.a - a) / o.result.sigmaA;
        within += std::fabs(z) <= 3;
        sum += z;
        sum2 += z * z;
    }
    const double mean = sum / found, sd = std::sqrt(sum2 / found - mean * mean);
    EXPECT_GE(within, static_cast<int>(std::ceil(0.99 * found)));
    EXPECT_GT(sd, 0.7);
    EXPECT_LT(sd, 1.4);
    EXPECT_LT(std::fabs(mean), 4 / std::sqrt(static_cast<double>(found)));  // no bias beyond 4 standard errors
}

// The pressure is the core's Fit of the used peaks, to the bit: what "hivarnisse-calc
// pressure" gives for them.
TEST(PatternFit, PressureIsTheCoresFitOfTheUsedPeaks)
{
    Options opt = NaClAt25();
    opt.sigmaT = 2;
    const Pattern p = Of(synth::Make(EightReflections(5.5, 3)));
    const Outcome o = FitPattern(p, opt);
    ASSERT_EQ(o.result.status, Status::Ok) << o.result.message;
    // The curve is the fitted model: Poisson residuals of unit variance where it is drawn.
    double chi2 = 0;
    int drawn = 0;
    for (std::size_t i = 0; i < p.x.size(); ++i) {
        if (std::isnan(o.curve[i])) continue;
        chi2 += (p.intensity[i] - o.curve[i]) * (p.intensity[i] - o.curve[i]) / o.curve[i];
        ++drawn;
        EXPECT_LT(o.background[i], o.curve[i] + 1e-9);
    }
    EXPECT_GT(drawn, 400);
    EXPECT_NEAR(chi2 / drawn, 1, 0.15);
    std::vector<hv::Peak> used;
    for (const auto& r : o.peaks) {
        if (r.used) used.push_back({r.reflection, r.d, r.sigmaD});
        EXPECT_EQ(r.used, r.note.empty());
        // d is the position's spacing, a_i its lattice parameter.
        EXPECT_DOUBLE_EQ(r.d, 0.4133 / (2 * std::sin(r.position / 2 * std::numbers::pi / 180)));
        EXPECT_DOUBLE_EQ(r.aI, r.d * std::sqrt(static_cast<double>(r.reflection.n)));
    }
    EXPECT_EQ(used.size(), 8u);
    const hv::Result fit = hv::Fit(NaCl(), 25, used, 2);
    EXPECT_EQ(o.result.pGpa, fit.pGpa);
    EXPECT_EQ(o.result.a, fit.a);
    EXPECT_EQ(o.result.sigmaPGpa, fit.sigmaPGpa);
    EXPECT_EQ(o.result.peaks, 8);
    // Rows by position, the reflections of rock salt in order.
    const int order[] = {3, 4, 8, 11, 12, 16, 19, 20};
    ASSERT_EQ(o.peaks.size(), 8u);
    for (std::size_t i = 0; i < 8; ++i) EXPECT_EQ(o.peaks[i].reflection.n, order[i]);
    EXPECT_EQ(o.unitSource, "file");
    EXPECT_EQ(o.wavelengthSource, "file");
}

// The four file formats of one pattern (and plain columns) give the same lattice.
TEST(PatternFit, EveryFormatGivesTheLattice)
{
    const double a = 5.6;
    const synth::Generated g = synth::Make(EightReflections(a, 11));
    const std::string texts[][2] = {
        {synth::WriteXy(g, 0.4133), "p.xy"},   {synth::WriteChi(g), "p.chi"}, {synth::WriteFxye(g, 0.4133), "p.fxye"},
        {synth::WriteXye(g), "p.xye"},         {synth::WriteCsv(g), "p.csv"},
    };
    for (const auto& t : texts) {
        const auto read = hv::pattern::ReadText(t[0], t[1]);
        ASSERT_TRUE(read.ok) << read.error;
        Options opt = NaClAt25();
        const Outcome without = FitPattern(read.pattern, opt);
        if (std::isnan(read.pattern.wavelength)) {
            // A missing wavelength when 2-theta needs one: an error that says so.
            EXPECT_EQ(without.result.status, Status::Error);
            EXPECT_NE(without.result.message.find("wavelength"), std::string::npos) << without.result.message;
            opt.energy = 12.398419843320026 / 0.4133;
        }
        const Outcome o = FitPattern(read.pattern, opt);
        ASSERT_NE(o.result.status, Status::Error) << t[1] << ": " << o.result.message;
        EXPECT_LT(std::fabs(o.result.a - a), 3 * o.result.sigmaA) << t[1];
        EXPECT_EQ(o.wavelengthSource, std::isnan(read.pattern.wavelength) ? "energy" : "file") << t[1];
        EXPECT_NEAR(o.wavelength, 0.4133, 1e-12);
    }
}

// What the user says wins over the file: a wrong wavelength in the file, the right one given.
TEST(PatternFit, UserWinsOverTheFile)
{
    const double a = 5.3;
    Pattern p = Of(synth::Make(EightReflections(a, 5)), 0.5);
    Options opt = NaClAt25();
    opt.wavelength = 0.4133;
    const Outcome o = FitPattern(p, opt);
    ASSERT_NE(o.result.status, Status::Error) << o.result.message;
    EXPECT_EQ(o.wavelengthSource, "user");
    EXPECT_LT(std::fabs(o.result.a - a), 3 * o.result.sigmaA);
    p.unit.reset();
    EXPECT_EQ(FitPattern(p, opt).unitSource, "assumed");
    opt.unit = XUnit::TwoThetaDeg;
    EXPECT_EQ(FitPattern(p, opt).unitSource, "user");
}

// The same pattern in q, falling d, and photon energy at a fixed angle.
TEST(PatternFit, EveryUnit)
{
    const double a = 5.45, lambda = 0.4133;
    const synth::Generated g = synth::Make(EightReflections(a, 9));
    struct Case {
        XUnit unit;
        double twoThetaFixed;
    } cases[] = {{XUnit::TwoThetaRad, NAN}, {XUnit::QPerAngstrom, NAN}, {XUnit::QPerNm, NAN},
                 {XUnit::DAngstrom, NAN},   {XUnit::EnergyKev, 9.0}};
    for (const Case& c : cases) {
        Pattern p;
        p.intensity = g.counts;
        for (double tt : g.twoTheta) {
            const double theta = tt / 2 * std::numbers::pi / 180, d = lambda / (2 * std::sin(theta));
            double x = 0;
            switch (c.unit) {
            case XUnit::TwoThetaRad: x = 2 * theta; break;
            case XUnit::QPerAngstrom: x = 2 * std::numbers::pi / d; break;
            case XUnit::QPerNm: x = 20 * std::numbers::pi / d; break;
            case XUnit::DAngstrom: x = d; break;
            default: x = 12.398419843320026 / (2 * d * std::sin(c.twoThetaFixed / 2 * std::numbers::pi / 180));
            }
            p.x.push_back(x);
        }
        p.unit = c.unit;
        if (c.unit == XUnit::TwoThetaRad) p.wavelength = lambda;
        Options opt = NaClAt25();
        opt.twoThetaFixed = c.twoThetaFixed;
        const Outcome o = FitPattern(p, opt);
        ASSERT_NE(o.result.status, Status::Error) << hv::XUnitName(c.unit) << ": " << o.result.message;
        EXPECT_EQ(o.result.peaks, 8) << hv::XUnitName(c.unit);
        // Peaks symmetric in 2-theta are skewed in d = lambda / (2 sin theta), which moves a
        // symmetric profile's centre by a few of its sigma; in q and energy they stay symmetric.
        const double allowed = c.unit == XUnit::DAngstrom ? 6 : 3;
        EXPECT_LT(std::fabs(o.result.a - a), allowed * o.result.sigmaA) << hv::XUnitName(c.unit);
        EXPECT_EQ(o.wavelengthSource, c.unit == XUnit::TwoThetaRad ? "file" : "") << hv::XUnitName(c.unit);
        if (c.unit == XUnit::DAngstrom) {
            // Falling x: the curve still sits on the caller's points.
            const auto* r200 = Row(o, 4);
            ASSERT_NE(r200, nullptr);
            const auto at = std::min_element(p.x.begin(), p.x.end(),
                                             [&](double u, double v) { return std::fabs(u - r200->position) < std::fabs(v - r200->position); });
            const std::size_t i = static_cast<std::size_t>(at - p.x.begin());
            EXPECT_NEAR(o.curve[i], p.intensity[i], 6 * std::sqrt(p.intensity[i]));
        }
    }
}

// The search alone decides, among peaks of another phase, whenever three reflections stand clear.
TEST(PatternFit, SearchFindsTheLatticeAmongOtherPeaks)
{
    std::mt19937_64 random(99);
    std::uniform_real_distribution<double> volume(0.62, 1.02), u01(0, 1);
    for (int k = 0; k < kCrowded; ++k) {
        const double a = 5.64 * std::cbrt(volume(random));
        synth::Recipe r = EightReflections(a, 500 + static_cast<uint64_t>(k));
        // Six peaks of a sample, some as strong as the standard's.
        for (int e = 0; e < 6; ++e) r.extra.push_back({r.from + 0.3 + u01(random) * (r.to - r.from - 0.6), 2000 + 25000 * u01(random), 0});
        const Outcome o = FitPattern(Of(synth::Make(r)), NaClAt25());
        ASSERT_NE(o.result.status, Status::Error) << "a " << a << ": " << o.result.message;
        EXPECT_NEAR(o.result.a, a, 1e-3) << k;
    }
    // Exactly three reflections in a narrow range: 200, 220 and 311 at a = 5.64.
    synth::Recipe three = EightReflections(5.64, 7);
    three.from = 8.0;
    three.to = 14.2;
    three.extra = {{10.0, 15000, 0}, {9.2, 8000, 0}};
    Outcome o = FitPattern(Of(synth::Make(three)), NaClAt25());
    ASSERT_NE(o.result.status, Status::Error) << o.result.message;
    EXPECT_EQ(o.result.peaks, 3);
    EXPECT_NEAR(o.result.a, 5.64, 1e-3);

    // Two: no lattice is trusted, and there are no numbers.
    three.to = 12.5;
    o = FitPattern(Of(synth::Make(three)), NaClAt25());
    EXPECT_EQ(o.result.status, Status::Error);
    EXPECT_NE(o.result.message.find("no lattice of NaCl"), std::string::npos) << o.result.message;
    EXPECT_TRUE(std::isnan(o.result.a));
    EXPECT_TRUE(std::isnan(o.result.pGpa));
    // ... unless a guess near the truth supplies the rest.
    Options near = NaClAt25();
    near.pressureGuess = 0.5;
    o = FitPattern(Of(synth::Make(three)), near);
    ASSERT_NE(o.result.status, Status::Error) << o.result.message;
    EXPECT_NEAR(o.result.a, 5.64, 1e-3);

    // Background alone, and peaks of another phase alone.
    synth::Recipe none = EightReflections(5.64, 8);
    none.strong = none.weak = 0;
    EXPECT_EQ(FitPattern(Of(synth::Make(none)), NaClAt25()).result.status, Status::Error);
    none.extra = {{8.0, 9000, 0}, {11.0, 9000, 0}, {15.3, 9000, 0}, {17.9, 6000, 0}};
    EXPECT_EQ(FitPattern(Of(synth::Make(none)), NaClAt25()).result.status, Status::Error);
}

// Two lattices with three peaks each: no guessing between them, but a pressure range decides.
TEST(PatternFit, TwoLatticesAreAmbiguous)
{
    // 200, 220, 311 and 222 of each, at the same heights, so that neither explains more than
    // the other.
    synth::Recipe r = EightReflections(5.64, 13);
    r.from = 8.0;
    r.to = 15.0;
    for (int n : {4, 8, 11, 12}) {
        const double d = 5.55 / std::sqrt(n);
        r.extra.push_back({synth::BraggTwoTheta(d, r.wavelength), (n % 2 ? r.weak : r.strong) * std::exp(-r.fall / (d * d)), 0});
    }
    const Pattern p = Of(synth::Make(r));
    Outcome o = FitPattern(p, NaClAt25());
    EXPECT_EQ(o.result.status, Status::Error);
    EXPECT_NE(o.result.message.find("two lattices of NaCl explain the peaks about equally well"), std::string::npos)
        << o.result.message;
    // Both within a guess's reach: the guess cannot tell them apart, a narrower range can.
    Options opt = NaClAt25();
    opt.pressureGuess = 1;
    o = FitPattern(p, opt);
    EXPECT_EQ(o.result.status, Status::Error);
    EXPECT_TRUE(o.result.message.ends_with("angstrom): give a pressure range narrower than the guess's")) << o.result.message;
    opt.pressureGuess = NAN;
    opt.pressureLo = -0.5;
    opt.pressureHi = 0.5;
    o = FitPattern(p, opt);
    ASSERT_NE(o.result.status, Status::Error) << o.result.message;
    EXPECT_NEAR(o.result.a, 5.64, 1e-3);
}

// A guess or a range keeps the search near it; the wrong one finds nothing.
TEST(PatternFit, PressureGuessAndRange)
{
    const double a = hv::SpacingsAt(NaCl(), 25, 10).a;  // NaCl at 10 GPa
    const Pattern p = Of(synth::Make(EightReflections(a, 21)));
    struct Case {
        double guess, lo, hi;
        bool found;
    } cases[] = {
        {10, NAN, NAN, true}, {8, NAN, NAN, true},  {30, NAN, NAN, false},
        {NAN, 5, 15, true},   {NAN, 15, 25, false}, {NAN, 0, 10.5, true},
    };
    for (const Case& c : cases) {
        Options opt = NaClAt25();
        opt.pressureGuess = c.guess;
        opt.pressureLo = c.lo;
        opt.pressureHi = c.hi;
        const Outcome o = FitPattern(p, opt);
        EXPECT_EQ(o.result.status != Status::Error, c.found) << c.guess << " " << c.lo << ":" << c.hi << " " << o.result.message;
        if (c.found) {
            EXPECT_NEAR(o.result.pGpa, 10, 0.05);
        } else {
            // Not found near a guess: where it looked, not a hint to give a guess. A range may
            // still be narrowed by one.
            const bool hinted = o.result.message.find("(--pressure-guess)") != std::string::npos;
            EXPECT_EQ(hinted, std::isnan(c.guess)) << o.result.message;
            EXPECT_EQ(o.result.message.find("searched only within max(2 GPa, 20 %) of the pressure guess") != std::string::npos,
                      !std::isnan(c.guess))
                << o.result.message;
        }
    }
}

// Rock-salt NaCl gives way to B2 near 30 GPa: unguided, its lattice is searched to 37.5 GPa
// (transitions lag), no further, and the message says how to search beyond.
TEST(PatternFit, SearchEndsPastThePhase)
{
    struct Case {
        double p, lo, hi;
        const char* says;  // in the message; found unless it names the search's end
    } cases[] = {
        {35, NAN, NAN, "use NaCl-B2"},
        {40, NAN, NAN, "searched up to 37.5 GPa, past which NaCl is another phase"},
        {40, 35, 45, "use NaCl-B2"},
    };
    for (const Case& c : cases) {
        const double a = hv::SpacingsAt(NaCl(), 25, c.p).a;
        Options opt = NaClAt25();
        opt.pressureLo = c.lo;
        opt.pressureHi = c.hi;
        const Outcome o = FitPattern(Of(synth::Make(EightReflections(a, 23))), opt);
        const bool found = std::string(c.says).find("searched") == std::string::npos;
        EXPECT_EQ(o.result.status, found ? Status::Warning : Status::Error) << c.p << ": " << o.result.message;
        EXPECT_NE(o.result.message.find(c.says), std::string::npos) << o.result.message;
        if (found) {
            EXPECT_NEAR(o.result.pGpa, c.p, 0.1);
        }
    }
}

// A sample peak on top of 220, a third of a width off: 220 goes, with its reason, the rest stand.
TEST(PatternFit, SpoiledReflectionIsLeftOut)
{
    const double a = 5.64;
    synth::Recipe r = EightReflections(a, 31);
    const double t220 = synth::BraggTwoTheta(a / std::sqrt(8.0), r.wavelength);
    r.extra = {{t220 + 0.015, 12000, 0}};
    const Outcome o = FitPattern(Of(synth::Make(r)), NaClAt25());
    ASSERT_NE(o.result.status, Status::Error) << o.result.message;
    const auto* r220 = Row(o, 8);
    ASSERT_NE(r220, nullptr);
    EXPECT_FALSE(r220->used);
    EXPECT_NE(r220->note.find("outlier"), std::string::npos) << r220->note;
    EXPECT_EQ(o.result.status, Status::Warning);
    EXPECT_EQ(o.result.message, "left out as outliers: 220; strong reflection 220 not used");
    EXPECT_EQ(o.result.peaks, 7);
    EXPECT_LT(std::fabs(o.result.a - a), 3 * o.result.sigmaA);
}

// Reflections that all scatter far beyond their sigma (a profile the fit does not quite
// match) are kept together; a spoiled one still stands out of that scatter.
TEST(PatternFit, CommonScatterIsNoOutlier)
{
    synth::Recipe r = EightReflections(5.64, 33);
    r.jitter = 0.002;  // some 30 times the positions' sigma
    Outcome o = FitPattern(Of(synth::Make(r)), NaClAt25());
    ASSERT_NE(o.result.status, Status::Error) << o.result.message;
    EXPECT_EQ(o.result.peaks, 8) << o.result.message;
    r.extra = {{synth::BraggTwoTheta(5.64 / std::sqrt(12.0), r.wavelength) + 0.02, 15000, 0}};
    o = FitPattern(Of(synth::Make(r)), NaClAt25());
    ASSERT_NE(o.result.status, Status::Error) << o.result.message;
    EXPECT_EQ(o.result.message.rfind("left out as outliers: 222", 0), 0u) << o.result.message;
}

// Among other phases' peaks, a_i that scatter far beyond their uncertainties may be two
// nearly equal lattices taken as one: a warning; the same positions alone are a profile the
// fit misses, and the same crowd without the scatter says nothing.
TEST(PatternFit, ScatterAmongOtherPhasesWarns)
{
    for (const double jitter : {0.0, 0.002}) {
        for (const bool crowd : {false, true}) {
            synth::Recipe r = EightReflections(5.64, 33);
            r.jitter = jitter;
            if (crowd) {
                // 22 sample peaks, a third of a degree and more from NaCl's.
                std::mt19937_64 random(5);
                std::uniform_real_distribution<double> at(r.from + 0.2, r.to - 0.2), height(1000, 6000);
                while (r.extra.size() < 22) {
                    const double t = at(random);
                    bool clear = true;
                    for (int n : {3, 4, 8, 11, 12, 16, 19, 20}) {
                        clear = clear && std::fabs(t - synth::BraggTwoTheta(5.64 / std::sqrt(n), r.wavelength)) > 0.3;
                    }
                    if (clear) r.extra.push_back({t, height(random), 0});
                }
            }
            const Outcome o = FitPattern(Of(synth::Make(r)), NaClAt25());
            ASSERT_NE(o.result.status, Status::Error) << o.result.message;
            const bool warned = o.result.message.find("times their uncertainties") != std::string::npos;
            EXPECT_EQ(warned, crowd && jitter > 0) << jitter << " " << crowd << ": " << o.result.message;
        }
    }
}

// Odd reflections absent (KCl-like contrast): they are predicted, fitted, found insignificant.
// The even ones left are a bcc lattice's of a/sqrt2 = 3.8891 as well, and NaCl's 111 (8 % of
// 200) would stand clear even at a quarter of that: no NaCl, though a guess says where.
TEST(PatternFit, AbsentReflectionsAreNotSignificant)
{
    synth::Recipe r = EightReflections(5.5, 41);
    r.weak = 0;
    const Pattern p = Of(synth::Make(r));
    for (const bool guided : {false, true}) {
        Options opt = NaClAt25();
        if (guided) opt.pressureGuess = static_cast<double>(hv::PressureOfLattice(NaCl(), 25, 5.5).pGpa);
        const Outcome o = FitPattern(p, opt);
        EXPECT_EQ(o.result.status, Status::Error) << o.result.message;
        EXPECT_NE(o.result.message.find("bcc lattice of a 3.889"), std::string::npos) << o.result.message;
        EXPECT_NE(o.result.message.find("111, 311, 331 are absent"), std::string::npos) << o.result.message;
        for (int n : {3, 11, 19}) {
            const auto* row = Row(o, n);
            ASSERT_NE(row, nullptr) << n;
            EXPECT_FALSE(row->used);
            EXPECT_NE(row->note.find("not significant"), std::string::npos) << n << ": " << row->note;
        }
    }
}

// A reflection where the other reflections put the lattice is measured, not discovered: it
// counts from 3.5 sigma of its height. The heights in sigma are those the fit reports.
TEST(PatternFit, AWeakReflectionOnItsPlaceCountsFromThreeAndAHalfSigma)
{
    const struct {
        double weak;  // the odd reflections' scale
        int n;
        const char* note;  // empty where used
    } cases[] = {
        {120, 11, ""},  // 4.6 sigma
        {80, 3, ""},    // 5.0 sigma
        {80, 11, "not significant: height 3.4 sigma"},
        {120, 19, "not significant: height 2.7 sigma"},
    };
    for (const auto& c : cases) {
        synth::Recipe r = EightReflections(5.5, 41);
        r.weak = c.weak;
        const Outcome o = FitPattern(Of(synth::Make(r)), NaClAt25());
        const auto* row = Row(o, c.n);
        ASSERT_NE(row, nullptr) << o.result.message;
        EXPECT_EQ(row->used, *c.note == '\0') << c.weak << " " << c.n;
        EXPECT_EQ(row->note, c.note) << c.weak << " " << c.n;
    }
}

// Only the listed reflections, only inside the range; one used reflection is an error.
TEST(PatternFit, ReflectionsAndRange)
{
    const Pattern p = Of(synth::Make(EightReflections(5.64, 51)));
    std::string why;
    Options opt = NaClAt25();
    opt.reflections = {*hv::ParseReflection("200", NaCl(), why), *hv::ParseReflection("420", NaCl(), why),
                       *hv::ParseReflection("600", NaCl(), why), *hv::ParseReflection("2 0 0", NaCl(), why)};
    Outcome o = FitPattern(p, opt);
    ASSERT_NE(o.result.status, Status::Error) << o.result.message;
    ASSERT_EQ(o.peaks.size(), 3u);
    EXPECT_EQ(o.result.peaks, 2);
    EXPECT_EQ(o.peaks[2].reflection.n, 36);
    EXPECT_EQ(o.peaks[2].note, "outside the pattern's range");

    opt.reflections.erase(opt.reflections.begin() + 1, opt.reflections.begin() + 3);  // 200 twice
    o = FitPattern(p, opt);
    EXPECT_EQ(o.result.status, Status::Error);
    EXPECT_EQ(o.result.message, "1 reflection of NaCl fitted well enough; at least two are needed");
    EXPECT_TRUE(std::isnan(o.result.pGpa));

    Options ranged = NaClAt25();
    ranged.xLo = 8;
    ranged.xHi = 15;
    o = FitPattern(p, ranged);
    ASSERT_NE(o.result.status, Status::Error) << o.result.message;
    EXPECT_EQ(o.peaks.size(), 4u);  // 200, 220, 311, 222
    for (std::size_t i = 0; i < p.x.size(); ++i) {
        if (p.x[i] < 8 || p.x[i] > 15) {
            EXPECT_TRUE(std::isnan(o.curve[i]));
        }
    }
}

// The counts' scale does not change the answer: normalised intensities give the same sigma.
TEST(PatternFit, ScaledIntensitiesKeepTheirUncertainty)
{
    Pattern p = Of(synth::Make(EightReflections(5.2, 61)));
    const Outcome counts = FitPattern(p, NaClAt25());
    for (double& v : p.intensity) v *= 0.002;
    const Outcome scaled = FitPattern(p, NaClAt25());
    ASSERT_NE(scaled.result.status, Status::Error) << scaled.result.message;
    EXPECT_NEAR(scaled.result.a, counts.result.a, 0.2 * counts.result.sigmaA);
    EXPECT_NEAR(scaled.result.sigmaA / counts.result.sigmaA, 1, 0.1);

    // Without noise the profile is the fitter's own: a to a millionth.
    synth::Recipe exact = EightReflections(5.2, 61);
    exact.noise = false;
    const Outcome clean = FitPattern(Of(synth::Make(exact)), NaClAt25());
    ASSERT_NE(clean.result.status, Status::Error) << clean.result.message;
    EXPECT_NEAR(clean.result.a, 5.2, 1e-6);
}

// CsCl's primitive lattice: 100, 110, 111, ... all appear.
TEST(PatternFit, PrimitiveStandard)
{
    synth::Recipe r;
    r.cell = synth::Cell::Primitive;
    r.a = 4.0;
    r.seed = 71;
    r.from = 5;
    r.to = 16.5;
    Options opt = NaClAt25();
    opt.standard = hv::FindStandard("CsCl");
    const Outcome o = FitPattern(Of(synth::Make(r)), opt);
    ASSERT_NE(o.result.status, Status::Error) << o.result.message;
    // 100 to 211; 220 lies just past the range, and no reflection has h^2+k^2+l^2 = 7.
    EXPECT_EQ(o.result.peaks, 6);
    ASSERT_EQ(o.peaks.size(), 6u);
    for (std::size_t i = 0; i < 6; ++i) EXPECT_EQ(o.peaks[i].reflection.n, static_cast<int>(i) + 1);
    EXPECT_LT(std::fabs(o.result.a - 4.0), 3 * o.result.sigmaA);
}

TEST(PatternFit, BadInputsAreErrors)
{
    const Pattern good = Of(synth::Make(EightReflections(5.64, 81)));
    struct Case {
        const char* says;
        void (*spoil)(Pattern&, Options&);
    } cases[] = {
        {"no standard given", [](Pattern&, Options& o) { o.standard = nullptr; }},
        {"temperature below absolute zero", [](Pattern&, Options& o) { o.tCelsius = -300; }},
        {"give the wavelength or the energy, not both", [](Pattern&, Options& o) { o.wavelength = 0.4; o.energy = 30; }},
        {"the wavelength must be a positive number", [](Pattern&, Options& o) { o.wavelength = -1; }},
        {"2-theta needs a wavelength", [](Pattern& p, Options&) { p.wavelength = NAN; }},
        {"energies need the detector's fixed 2-theta", [](Pattern&, Options& o) { o.unit = XUnit::EnergyKev; }},
        {"x, intensity and sigma must have the same length, not ", [](Pattern& p, Options&) { p.intensity.pop_back(); }},
        {"19 points; a pattern needs at least 20", [](Pattern& p, Options&) { p.x.resize(19); p.intensity.resize(19); }},
        {"point 3: intensity is not finite", [](Pattern& p, Options&) { p.intensity[2] = NAN; }},
        {"point 5: x repeats the x before it", [](Pattern& p, Options&) { p.x[4] = p.x[3]; }},
        {"the range must run from a lower to a higher position", [](Pattern&, Options& o) { o.xLo = 10; o.xHi = 9; }},
        {" points with a spacing inside the range; at least 20", [](Pattern&, Options& o) { o.xLo = 8; o.xHi = 8.024; }},
        {"give a pressure guess or a pressure range, not both", [](Pattern&, Options& o) { o.pressureGuess = 1; o.pressureLo = 0; o.pressureHi = 2; }},
        {"the pressure range must run from a lower to a higher pressure", [](Pattern&, Options& o) { o.pressureLo = 3; o.pressureHi = 2; }},
        {"sigma_t must be a number of kelvin", [](Pattern&, Options& o) { o.sigmaT = -1; }},
    };
    for (const Case& c : cases) {
        Pattern p = good;
        Options o = NaClAt25();
        c.spoil(p, o);
        const Outcome out = FitPattern(p, o);
        EXPECT_EQ(out.result.status, Status::Error) << c.says;
        EXPECT_NE(out.result.message.find(c.says), std::string::npos) << out.result.message;
        EXPECT_TRUE(std::isnan(out.result.pGpa)) << c.says;
    }
}

}  // namespace
