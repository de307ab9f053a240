// Recognition of the standard by its whole expected pattern: the hard cases of real cells
// (another phase's lattice, the wrong standard, a zero error, spikes, detector gaps) must
// give an error or a warning, never a confident wrong pressure.
#include "core/intensity.h"
#include "core/inverse.h"
#include "core/pressure.h"
#include "pattern/pattern.h"
#include "tests/pattern_synth.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <string>
#include <vector>

namespace {

using hv::Status;
using hv::XUnit;
using hv::pattern::FitPattern;
using hv::pattern::Options;
using hv::pattern::Outcome;
using hv::pattern::Pattern;

constexpr double kLambda = 0.4133;

Pattern Of(const synth::Generated& g)
{
    Pattern p;
    p.x = g.twoTheta;
    p.intensity = g.counts;
    p.unit = XUnit::TwoThetaDeg;
    p.wavelength = kLambda;
    return p;
}

Options For(const char* name, float tCelsius = 25)
{
    Options o;
    o.standard = hv::FindStandard(name);
    o.tCelsius = tCelsius;
    return o;
}

const hv::pattern::PeakRow* Row(const Outcome& o, int n)
{
    for (const auto& r : o.peaks) {
        if (r.reflection.n == n) return &r;
    }
    return nullptr;
}

// An fcc metal: h, k, l unmixed, every reflection present, 111 strongest.
synth::Recipe Gold(double a)
{
    synth::Recipe r;
    r.a = a;
    r.weak = 30000;  // the all-odd reflections, 111 first, as strong as the all-even ones
    r.strong = 16000;
    r.from = 5;
    r.to = 22;
    r.seed = 5;
    return r;
}

TEST(PatternRecognition, GoldIsNoSalt)
{
    // Gold at about 40 GPa beside neon: no alkali halide in the cell.
    synth::Recipe r = Gold(3.85);
    for (int n : {3, 4, 8, 11}) r.extra.push_back({synth::BraggTwoTheta(3.53 / std::sqrt(n), kLambda), 6000, 0});
    const Pattern p = Of(synth::Make(r));
    for (const char* name : {"CsCl", "KCl", "NaCl"}) {
        const Outcome o = FitPattern(p, For(name));
        EXPECT_EQ(o.result.status, Status::Error) << name << ": " << o.result.message << " a " << o.result.a;
        EXPECT_TRUE(std::isnan(o.result.pGpa)) << name;
    }
}

// NaCl's pattern asked as CsCl: CsCl's 110 and 100 would have to stand where NaCl has nothing.
TEST(PatternRecognition, WrongStandardIsRefused)
{
    for (const double a : {5.64, 5.45, 5.2}) {
        synth::Recipe r;
        r.a = a;
        r.seed = 11;
        const Outcome o = FitPattern(Of(synth::Make(r)), For("CsCl"));
        EXPECT_EQ(o.result.status, Status::Error) << a << ": " << o.result.message << " a " << o.result.a;
        EXPECT_TRUE(std::isnan(o.result.pGpa));
        EXPECT_EQ(o.result.message.find("no CsCl pattern"), 0u) << o.result.message;
    }
}

// Single bright points at the standard's places are no powder pattern.
TEST(PatternRecognition, SpikesAreNoPeaks)
{
    synth::Recipe r;
    r.a = 5.64;
    r.strong = r.weak = 0;
    r.seed = 17;
    synth::Generated g = synth::Make(r);
    for (int n : {3, 4, 8, 11, 12, 16}) {
        const double t = synth::BraggTwoTheta(5.64 / std::sqrt(n), kLambda);
        const auto at = std::lower_bound(g.twoTheta.begin(), g.twoTheta.end(), t) - g.twoTheta.begin();
        g.counts[static_cast<std::size_t>(at)] += 20000;
    }
    const Outcome o = FitPattern(Of(g), For("NaCl"));
    EXPECT_EQ(o.result.status, Status::Error) << o.result.message;
    // The same points as rings a few points wide are found.
    r.strong = 20000;
    r.weak = 4000;
    EXPECT_EQ(FitPattern(Of(synth::Make(r)), For("NaCl")).result.status, Status::Ok);
}

// A single-crystal spike two points wide a few points beside each strong ring, ten times its
// height (a spot on the ring, as cells give): the rings are still found, at their places.
TEST(PatternRecognition, SpikesBesideRingsHideNothing)
{
    synth::Recipe r;
    r.a = 5.64;
    r.seed = 19;
    synth::Generated g = synth::Make(r);
    const double step = g.twoTheta[1] - g.twoTheta[0];
    for (const synth::Reflection& ref : g.reflections) {
        if (ref.n % 2) continue;
        const double t = ref.twoTheta + std::max(2 * ref.fwhm, 4 * step);
        const auto at = static_cast<std::size_t>(std::lower_bound(g.twoTheta.begin(), g.twoTheta.end(), t) - g.twoTheta.begin());
        if (at + 1 >= g.counts.size()) continue;
        g.counts[at] += 10 * ref.height;
        g.counts[at + 1] += 6 * ref.height;
    }
    const Outcome o = FitPattern(Of(g), For("NaCl"));
    ASSERT_NE(o.result.status, Status::Error) << o.result.message;
    EXPECT_NEAR(o.result.a, 5.64, 5e-4) << o.result.message;
    EXPECT_EQ(o.strongFound, 3) << o.result.message;
}

// A detector gap (a run of exact zeros) ending a width and a half before each strong ring:
// the rings are fitted on the data beside them, not on the zeros, which drag the background
// down, widen the peak and make its position 16 times less sure.
TEST(PatternRecognition, RingsAtADetectorGapsEdge)
{
    synth::Recipe r;
    r.a = 5.64;
    r.seed = 19;
    synth::Generated g = synth::Make(r);
    int gaps = 0;
    for (const synth::Reflection& ref : g.reflections) {
        if (ref.n % 2 || ref.n > 12) continue;
        const double edge = ref.twoTheta - 1.5 * ref.fwhm;
        const auto end = static_cast<std::size_t>(std::lower_bound(g.twoTheta.begin(), g.twoTheta.end(), edge) - g.twoTheta.begin());
        for (std::size_t i = end >= 30 ? end - 30 : 0; i < end; ++i) g.counts[i] = 0;
        ++gaps;
    }
    ASSERT_EQ(gaps, 3);
    const Outcome o = FitPattern(Of(g), For("NaCl"));
    ASSERT_NE(o.result.status, Status::Error) << o.result.message;
    EXPECT_NEAR(o.result.a, 5.64, std::max(5e-4, 3 * o.result.sigmaA)) << o.result.message;
    EXPECT_EQ(o.strongFound, 3) << o.result.message;
    // Their positions as sure as those of 400 and 420, far from any gap, and right within that.
    double farthest = 0;
    for (const hv::pattern::PeakRow& row : o.peaks) {
        if (row.reflection.n == 16 || row.reflection.n == 20) farthest = std::max(farthest, row.sigmaPosition);
    }
    ASSERT_GT(farthest, 0);
    for (const hv::pattern::PeakRow& row : o.peaks) {
        if (row.reflection.n % 2 || row.reflection.n > 12) continue;
        EXPECT_TRUE(row.used) << row.reflection.n << ": " << row.note;
        EXPECT_LT(row.sigmaPosition, 2 * farthest) << row.reflection.n;
        for (const synth::Reflection& ref : g.reflections) {
            if (ref.n == row.reflection.n) {
                EXPECT_NEAR(row.position, ref.twoTheta, 3 * row.sigmaPosition) << ref.n;
            }
        }
    }
}

// A constant 2-theta error of +0.15 degrees: no ok pressure without the zero refined; with
// it, the lattice and the offset come back within their sigma.
TEST(PatternRecognition, ZeroShift)
{
    const double aTrue = hv::SpacingsAt(*hv::FindStandard("NaCl"), 25, 7.3).a;
    synth::Recipe r;
    r.a = aTrue;
    r.seed = 23;
    r.from = 6;
    r.to = 22;
    synth::Generated g = synth::Make(r);
    for (double& t : g.twoTheta) t += 0.15;
    const Pattern p = Of(g);
    const Outcome plain = FitPattern(p, For("NaCl"));
    EXPECT_NE(plain.result.status, Status::Ok) << plain.result.message << " a " << plain.result.a;
    EXPECT_EQ(plain.result.message, "no NaCl pattern at the positions as measured; it is there if x is off by about 0.15 "
                                    "2theta (a zero error): refine it with --zero-shift");
    Options opt = For("NaCl");
    opt.zeroShift = true;
    const Outcome zero = FitPattern(p, opt);
    ASSERT_EQ(zero.result.status, Status::Ok) << zero.result.message;
    EXPECT_LT(std::fabs(zero.result.a - aTrue), 3 * zero.result.sigmaA) << zero.result.a << " " << aTrue;
    EXPECT_LT(std::fabs(zero.zeroShift - 0.15), 3 * zero.sigmaZeroShift) << zero.zeroShift;
    EXPECT_LT(zero.sigmaZeroShift, 0.01);
    EXPECT_NEAR(zero.result.pGpa, 7.3, 3 * zero.result.sigmaPGpa + 1e-3);
    // Every used d is the spacing of its position less the offset.
    for (const auto& row : zero.peaks) {
        if (!row.used) continue;
        const double theta = (row.position - zero.zeroShift) / 2 * std::numbers::pi / 180;
        EXPECT_NEAR(row.d, kLambda / (2 * std::sin(theta)), 1e-12);
    }
    // Without a shift the refined offset is nought within its sigma.
    const Outcome clean = FitPattern(Of(synth::Make(r)), opt);
    ASSERT_EQ(clean.result.status, Status::Ok) << clean.result.message;
    EXPECT_LT(std::fabs(clean.zeroShift), 3 * clean.sigmaZeroShift);
    EXPECT_LT(std::fabs(clean.trend), 3 * clean.sigmaTrend);
}

// Zeros where a detector has a gap hide a strong reflection without making it absent.
TEST(PatternRecognition, DetectorGap)
{
    synth::Recipe r;
    r.a = 5.64;
    r.seed = 29;
    synth::Generated g = synth::Make(r);
    const double t200 = synth::BraggTwoTheta(5.64 / 2, kLambda);
    for (std::size_t i = 0; i < g.twoTheta.size(); ++i) {
        if (std::fabs(g.twoTheta[i] - t200) < 0.3) g.counts[i] = 0;
    }
    const Outcome o = FitPattern(Of(g), For("NaCl"));
    ASSERT_EQ(o.result.status, Status::Ok) << o.result.message;
    const auto* r200 = Row(o, 4);
    ASSERT_NE(r200, nullptr);
    EXPECT_FALSE(r200->used);
    EXPECT_EQ(r200->note, "in a detector gap");
    EXPECT_LT(std::fabs(o.result.a - 5.64), 3 * o.result.sigmaA);
}

// An energy-dispersive spectrum (made from a 2-theta pattern at the detector's fixed angle):
// positions only, so three reflections are not enough where a 2-theta pattern takes them.
TEST(PatternRecognition, EnergyDispersive)
{
    const double fixed = 10;  // degrees
    const auto spectrum = [&](double from, double to) {
        synth::Recipe r;
        r.a = 5.64;
        r.seed = 37;
        r.from = from;
        r.to = to;
        const synth::Generated g = synth::Make(r);
        Pattern p;
        for (std::size_t i = g.twoTheta.size(); i-- > 0;) {
            const double d = kLambda / (2 * std::sin(g.twoTheta[i] / 2 * std::numbers::pi / 180));
            p.x.push_back(hv::kHcKevAngstrom / (2 * d * std::sin(fixed / 2 * std::numbers::pi / 180)));
            p.intensity.push_back(g.counts[i]);
        }
        return p;
    };
    Options opt = For("NaCl");
    opt.unit = XUnit::EnergyKev;
    opt.twoThetaFixed = fixed;
    const Outcome wide = FitPattern(spectrum(6, 20), opt);
    ASSERT_NE(wide.result.status, Status::Error) << wide.result.message;
    EXPECT_LT(std::fabs(wide.result.a - 5.64), 3 * wide.result.sigmaA);
    EXPECT_TRUE(std::isnan(wide.fom));
    // 200, 220 and 311 only (the range of SearchFindsTheLatticeAmongOtherPeaks' three).
    const Outcome three = FitPattern(spectrum(8.0, 14.2), opt);
    EXPECT_EQ(three.result.status, Status::Error) << three.result.message;
}

// NaCl at 750 C and no pressure lies beyond V/V0 1.1; the search reaches it.
TEST(PatternRecognition, HotAndAmbient)
{
    const hv::SpacingResult hot = hv::SpacingsAt(*hv::FindStandard("NaCl"), 750, 0);
    ASSERT_NE(hot.status, Status::Error);
    ASSERT_GT(hot.vRatio, 1.1);
    synth::Recipe r;
    r.a = hot.a;
    r.seed = 41;
    const Outcome o = FitPattern(Of(synth::Make(r)), For("NaCl", 750));
    ASSERT_NE(o.result.status, Status::Error) << o.result.message;
    EXPECT_LT(std::fabs(o.result.pGpa), 3 * o.result.sigmaPGpa + 0.01f);
}

// Tension inside the search range is a warning that says so.
TEST(PatternRecognition, TensionIsAWarning)
{
    synth::Recipe r;
    r.a = hv::SpacingsAt(*hv::FindStandard("NaCl"), 25, -0.4).a;
    r.seed = 43;
    const Outcome o = FitPattern(Of(synth::Make(r)), For("NaCl"));
    ASSERT_EQ(o.result.status, Status::Warning) << o.result.message;
    EXPECT_NE(o.result.message.find("tension"), std::string::npos) << o.result.message;
    EXPECT_NEAR(o.result.pGpa, -0.4, 0.05);
}

// A range beyond what the model reaches is narrowed to it, and the row says so.
TEST(PatternRecognition, PressureRangeIsClamped)
{
    synth::Recipe r;
    r.cell = synth::Cell::Primitive;
    r.a = hv::SpacingsAt(*hv::FindStandard("CsCl"), 25, 1).a;
    r.seed = 47;
    r.to = 16;
    Options opt = For("CsCl");
    opt.pressureLo = -50;
    opt.pressureHi = 2;
    const Outcome o = FitPattern(Of(synth::Make(r)), opt);
    ASSERT_NE(o.result.status, Status::Error) << o.result.message;
    EXPECT_NE(o.result.message.find("pressure range clamped to "), std::string::npos) << o.result.message;
    EXPECT_NEAR(o.result.pGpa, 1, 0.05);
}

// Expected intensities from the structures: NaCl's 200 then 220 strongest; KCl's odd
// reflections almost vanish (K+ and Cl- scatter nearly alike); CsCl's 110, then 100 and 211.
TEST(PatternRecognition, ExpectedIntensities)
{
    synth::Recipe r;
    r.a = 5.64;
    r.seed = 53;
    r.from = 5;
    r.to = 20;
    Outcome o = FitPattern(Of(synth::Make(r)), For("NaCl"));
    ASSERT_EQ(o.result.status, Status::Ok) << o.result.message;
    ASSERT_NE(Row(o, 4), nullptr);
    EXPECT_EQ(Row(o, 4)->expected, 100);
    for (const auto& row : o.peaks) {
        if (row.reflection.n != 4 && row.reflection.n != 8) {
            EXPECT_LT(row.expected, Row(o, 8)->expected) << row.reflection.n;
        }
    }
    EXPECT_EQ(o.strongFound, 3);
    EXPECT_EQ(o.strongExpected, 3);
    EXPECT_GT(o.fom, 0.99);

    // Every even reflection as high as the fall makes it, multiplicities aside: heights a bcc
    // lattice of a/sqrt2 explains as well as KCl's structure, so it warns of that lattice.
    r.a = 6.29;
    r.weak = 0;
    o = FitPattern(Of(synth::Make(r)), For("KCl"));
    ASSERT_EQ(o.result.status, Status::Warning) << o.result.message;
    EXPECT_NE(o.result.message.find("bcc lattice of a 4.44"), std::string::npos) << o.result.message;
    for (int n : {3, 11, 19}) {
        ASSERT_NE(Row(o, n), nullptr) << n;
        EXPECT_LT(Row(o, n)->expected, 1) << n;
    }
    EXPECT_GT(o.fom, 0.97);

    r.cell = synth::Cell::Primitive;
    r.a = 4.12;
    r.to = 16;
    o = FitPattern(Of(synth::Make(r)), For("CsCl"));
    ASSERT_NE(o.result.status, Status::Error) << o.result.message;
    std::vector<std::pair<double, int>> order;
    for (const auto& row : o.peaks) order.emplace_back(-row.expected, row.reflection.n);
    std::sort(order.begin(), order.end());
    ASSERT_GE(order.size(), 3u);
    EXPECT_EQ(order[0].second, 2);
    EXPECT_EQ(std::min(order[1].second, order[2].second), 1);
    EXPECT_EQ(std::max(order[1].second, order[2].second), 6);
}

// A strong peak on 111's place. KCl makes its 111 too weak to see at four times the height
// its other reflections' scale gives it: the peak is another phase's, and the row says so.
// NaCl's 111 is a tenth of its 200, so there the peak is NaCl's own (texture may make it so).
TEST(PatternRecognition, AnotherPhasesPeakOnAReflectionTooWeakToSee)
{
    struct Case {
        const char* standard;
        double a, weak;
        bool used;
    };
    // 200 stands about 20 sigma above the background: KCl's 111, half a percent of it, would
    // stand under 3 sigma even four times as strong.
    for (const Case c : {Case{"KCl", 6.29, 0, false}, Case{"NaCl", 5.64, 50, true}}) {
        synth::Recipe r;
        r.a = c.a;
        r.strong = 500;
        r.weak = c.weak;
        r.seed = 59;
        r.extra.push_back({synth::BraggTwoTheta(c.a / std::sqrt(3.0), kLambda), 150, 0});
        const Outcome o = FitPattern(Of(synth::Make(r)), For(c.standard));
        SCOPED_TRACE(std::string(c.standard) + ": " + o.result.message);
        ASSERT_NE(o.result.status, Status::Error);
        EXPECT_NEAR(o.result.a, c.a, 3 * o.result.sigmaA + 1e-4);
        const auto* row = Row(o, 3);
        ASSERT_NE(row, nullptr);
        EXPECT_EQ(row->used, c.used) << row->note;
        EXPECT_EQ(row->note.find("too weak to see") != std::string::npos, !c.used) << row->note;
        EXPECT_EQ(o.result.message.find("another phase's peak on 111") != std::string::npos, !c.used);
    }
}

// 2-theta data read as q: whatever is found, no data peak serves two used reflections and
// no ok pressure comes of it.
TEST(PatternRecognition, OneDataPeakOneReflection)
{
    synth::Recipe r;
    r.a = 5.64;
    r.seed = 59;
    Pattern p = Of(synth::Make(r));
    p.unit = XUnit::QPerAngstrom;
    const Outcome o = FitPattern(p, For("NaCl"));
    EXPECT_NE(o.result.status, Status::Ok) << o.result.message << " a " << o.result.a;
    for (const auto& a : o.peaks) {
        for (const auto& b : o.peaks) {
            if (&a == &b || !a.used || !b.used) continue;
            EXPECT_GT(std::fabs(a.position - b.position), 0.5 * std::max(a.fwhm, b.fwhm));
        }
    }
}

// Two used reflections give a number, as a warning that says so.
TEST(PatternRecognition, TwoReflectionsAreAWarning)
{
    synth::Recipe r;
    r.a = 5.64;
    r.seed = 7;
    r.from = 8.0;
    r.to = 12.5;  // 200 and 220
    Options opt = For("NaCl");
    opt.pressureGuess = 0.5;
    const Outcome o = FitPattern(Of(synth::Make(r)), opt);
    ASSERT_EQ(o.result.status, Status::Warning) << o.result.message;
    EXPECT_EQ(o.result.peaks, 2);
    EXPECT_NE(o.result.message.find("only 2 reflections used"), std::string::npos) << o.result.message;
}

}  // namespace

namespace {

// The rows' expected intensities agree with the core's expected pattern of the structure,
// computed there class by class (a second, separate derivation of the same physics).
TEST(PatternRecognition, ExpectedIntensitiesAgreeWithTheCore)
{
    struct Case {
        const char* standard;
        synth::Cell cell;
        double a;
    } cases[] = {
        {"NaCl", synth::Cell::RockSalt, 5.4},
        {"KCl", synth::Cell::RockSalt, 6.2},
        {"CsCl", synth::Cell::Primitive, 4.0},
    };
    for (const Case& c : cases) {
        synth::Recipe r;
        r.cell = c.cell;
        r.a = c.a;
        r.seed = 61;
        const Outcome o = FitPattern(Of(synth::Make(r)), For(c.standard));
        ASSERT_NE(o.result.status, Status::Error) << c.standard << ": " << o.result.message;
        const hv::Standard& s = *hv::FindStandard(c.standard);
        ASSERT_NE(s.structure, nullptr);
        const auto core = hv::ExpectedByN(*s.structure, o.result.a, 0.8, kLambda);
        // Both as shares of the row with n = 4 (200), to 1e-4: the rows' are at the searched
        // lattice, a few 1e-5 from the fitted one used here.
        const auto coreOf = [&](int n) {
            for (const auto& e : core) {
                if (e.n == n) return e.intensity;
            }
            return 0.0;
        };
        const auto* ref = Row(o, 4);
        ASSERT_NE(ref, nullptr);
        for (const auto& row : o.peaks) {
            if (std::isnan(row.expected)) continue;
            EXPECT_NEAR(row.expected / ref->expected, coreOf(row.reflection.n) / coreOf(4),
                        1e-4 * row.expected / ref->expected)
                << c.standard << " n " << row.reflection.n;
        }
    }
}

}  // namespace

namespace {

// The work a pattern may cause grows with its reflections: all forty of a wide CsCl pattern
// (as a calibrant's) are fitted and used, none starved.
TEST(PatternRecognition, EveryReflectionOfAWidePatternIsFitted)
{
    synth::Recipe r;
    r.cell = synth::Cell::Primitive;
    r.a = 4.12;
    r.from = 4;
    r.to = 40;
    r.points = 6000;
    r.maxN = 200;
    r.seed = 9;
    r.fall = 1.0;  // heights falling with angle as CsCl's do
    const synth::Generated g = synth::Make(r);
    ASSERT_EQ(g.reflections.size(), 40u);
    const Outcome o = FitPattern(Of(g), For("CsCl"));
    ASSERT_NE(o.result.status, Status::Error) << o.result.message;
    EXPECT_EQ(o.result.peaks, 40) << o.result.message;
    for (const auto& row : o.peaks) EXPECT_EQ(row.note, "") << hv::ReflectionText(row.reflection);
}

}  // namespace
