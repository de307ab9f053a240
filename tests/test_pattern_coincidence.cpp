// The chance that a lattice's matched reflections are luck: few peaks make it tiny, a
// crowded pattern makes a few matches worthless.
#include "pattern/steps.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

using hv::pattern::detail::BinomialTail;
using hv::pattern::detail::Candidate;
using hv::pattern::detail::MatchChance;

TEST(Coincidence, BinomialTailByHand)
{
    struct Case {
        int k, m;
        double p, want;
    };
    const Case cases[] = {
        {4, 3, 0.5, 5.0 / 16},                 // 4 ways of three heads, one of four
        {3, 3, 0.1, 1e-3},                     // all three
        {10, 1, 0.1, 1 - std::pow(0.9, 10)},   // at least one
        {5, 0, 0.3, 1},                        // nothing asked
        {2, 3, 0.5, 0},                        // more than there are
        {6, 2, 0, 0},                          // no window anywhere
        {6, 6, 1, 1},                          // windows everywhere
        {300, 300, 0.5, std::pow(0.5, 300)},   // large k without overflow
    };
    for (const Case& c : cases) {
        EXPECT_NEAR(BinomialTail(c.k, c.m, c.p), c.want, 1e-12 * c.want + 1e-300) << c.k << " " << c.m << " " << c.p;
    }
}

std::vector<Candidate> Peaks(int count, double tolLog)
{
    std::vector<Candidate> out(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        out[static_cast<std::size_t>(i)].logD = (i + 0.5) / count;
        out[static_cast<std::size_t>(i)].tolLog = tolLog;
    }
    return out;
}

TEST(Coincidence, FewPeaksTinyCrowdedLarge)
{
    // log d spans 1, log a 0.2: trials = 0.2 / tol.
    const double p5 = 5 * 2 * 0.002;  // 0.02 of log d covered
    const double tail5 = 28 * std::pow(p5, 6) * std::pow(1 - p5, 2) + 8 * std::pow(p5, 7) * (1 - p5) + std::pow(p5, 8);
    struct Case {
        int peaks;
        double tol;
        int predicted, matched, searches;
        double want;
    };
    const Case cases[] = {
        {5, 0.002, 8, 6, 1, 100 * tail5},        // a clean pattern: 1.7e-7
        {5, 0.002, 8, 6, 3, 300 * tail5},        // three zero offsets searched: three times the tries
        {60, 0.004, 4, 3, 1, 1},                 // p 0.48, 50 tries x 0.28: certain
        {60, 0.001, 4, 4, 1, 200 * std::pow(0.12, 4)},  // narrow windows, all four: still 0.04
        {60, 0.01, 8, 8, 1, 1},                  // windows cover all of log d
        {0, 0.002, 8, 3, 1, 0},                  // no peaks, no luck
    };
    for (const Case& c : cases) {
        const auto got = MatchChance(Peaks(c.peaks, c.tol), 0, 1, 1.0, 1.2, c.predicted, c.matched, c.searches);
        EXPECT_NEAR(got.chance, c.want, 1e-9 * c.want) << c.peaks << " peaks, " << c.matched << " of " << c.predicted;
    }
}

}  // namespace

namespace {

using hv::pattern::PeakRow;
using hv::pattern::detail::ChiSquareTail;
using hv::pattern::detail::CoincidenceOf;

// Closed forms: dof 2 is exp(-x/2); dof 1 erfc(sqrt(x/2)); dof 4 exp(-x/2)(1 + x/2); dof 3
// erfc(sqrt(x/2)) + sqrt(2x/pi) exp(-x/2). Both sides of the series/fraction switch.
TEST(Coincidence, ChiSquareTailClosedForms)
{
    const double pi = 3.14159265358979323846;
    struct Case {
        double x;
        int dof;
        double want;
    };
    const Case cases[] = {
        {1, 2, std::exp(-0.5)},
        {50, 2, std::exp(-25.0)},
        {9, 1, std::erfc(std::sqrt(4.5))},
        {0.1, 1, std::erfc(std::sqrt(0.05))},
        {3, 4, std::exp(-1.5) * 2.5},
        {40, 4, std::exp(-20.0) * 21},
        {7, 3, std::erfc(std::sqrt(3.5)) + std::sqrt(14 / pi) * std::exp(-3.5)},
        {0, 3, 1},   // nothing off: certain
        {5, 0, 1},   // no freedom left: nothing to judge
    };
    for (const Case& c : cases) {
        EXPECT_NEAR(ChiSquareTail(c.x, c.dof), c.want, 1e-12 + 1e-9 * c.want) << c.x << " " << c.dof;
    }
}

std::vector<PeakRow> UsedRows(const std::vector<double>& relSigma)
{
    std::vector<PeakRow> rows;
    for (const double r : relSigma) {
        PeakRow row;
        row.used = true;
        row.d = 2;
        row.sigmaD = 2 * r;
        rows.push_back(row);
    }
    PeakRow unused;  // not used: no part in the chance
    unused.d = 1;
    unused.sigmaD = 0.5;
    rows.push_back(unused);
    return rows;
}

// At least m of k, each with chance p, by the binomial sum.
double AtLeast(int k, int m, double p)
{
    double sum = 0;
    for (int j = m; j <= k; ++j) {
        sum += std::tgamma(k + 1.0) / (std::tgamma(j + 1.0) * std::tgamma(k - j + 1.0)) * std::pow(p, j) * std::pow(1 - p, k - j);
    }
    return sum;
}

// The fit's own chance: 30 peaks over log d 1, windows of 3 sigma; log a 0.2.
TEST(Coincidence, FittedReflectionsCloseAsLuckWouldPutThem)
{
    struct Case {
        const char* what;
        std::vector<double> rel;  // sigma_d / d of the used rows
        double relA;
        int predicted, searches;
        double want;
        double scatter = 1;
    };
    const double w = 3e-4, p = 2 * w * 30;  // a window of 3 x 1e-4, 0.018 of log d
    const double wa = 3 * std::sqrt(2e-8);  // with sigma_a / a 1e-4 as well
    const Case cases[] = {
        {"three of six, sharp", {1e-4, 1e-4, 1e-4}, 0, 6, 1, 0.2 / w * AtLeast(6, 3, p)},
        {"with a's sigma the windows widen", {1e-4, 1e-4, 1e-4}, 1e-4, 6, 1, 0.2 / wa * AtLeast(6, 3, 2 * wa * 30)},
        {"five zero offsets: five times the tries", {1e-4, 1e-4, 1e-4}, 0, 6, 5, 5 * 0.2 / w * AtLeast(6, 3, p)},
        {"two of eight: luck", {1e-4, 1e-4}, 0, 8, 1, std::min(1.0, 0.2 / w * AtLeast(8, 2, p))},
        {"six of six, sharp: none", {1e-5, 1e-5, 1e-5, 1e-5, 1e-5, 1e-5}, 0, 6, 1, 0.2 / 3e-5 * std::pow(1.8e-3, 6)},
        // Rows scattering twice their sigmas sit as closely as rows of twice the sigma.
        {"scattering twice their sigma", {1e-4, 1e-4, 1e-4}, 0, 6, 1, 0.2 / (2 * w) * AtLeast(6, 3, 2 * p), 2},
    };
    for (const Case& c : cases) {
        std::vector<hv::pattern::detail::Candidate> cands(30);
        const auto got = CoincidenceOf(cands, 0, 1, 1.0, 1.2, c.predicted, UsedRows(c.rel), c.relA, c.searches, c.scatter);
        EXPECT_EQ(got.matched, static_cast<int>(c.rel.size())) << c.what;
        EXPECT_NEAR(got.chance, c.want, 1e-9 * c.want) << c.what;
    }
}

// A row left out as an outlier that sits within a quarter of its width of the lattice's
// place (a blend with another phase's line) counts, its window its offset plus three sigma;
// one further off, or at the edge of a narrow peak, is another phase's peak and does not.
TEST(Coincidence, ABlendedReflectionCountsByItsOffset)
{
    const double a = 4, off = 5e-4;
    struct Case {
        const char* what;
        double fwhm;  // in x, where d moves 0.2 per unit of x: the width in d is 0.2 fwhm / 2
        const char* note;
        int matched;
    };
    const Case cases[] = {
        {"a quarter width is 2.5e-3: a blend", 0.1, "outlier: a_i is 5 sigma off", 3},
        {"a quarter width is 1.25e-4: another peak", 0.005, "outlier: a_i is 5 sigma off", 2},
        {"not significant: no peak to count", 0.1, "not significant: height 1 sigma", 2},
    };
    for (const Case& c : cases) {
        std::vector<PeakRow> rows = UsedRows({1e-4, 1e-4});
        PeakRow out;
        out.d = 2;
        out.sigmaD = 2e-4;
        out.sigmaPosition = 1e-3;
        out.fwhm = c.fwhm;
        out.aI = a * std::exp(off);
        out.note = c.note;
        rows.push_back(out);
        std::vector<hv::pattern::detail::Candidate> cands(30);
        const auto got = CoincidenceOf(cands, 0, 1, 1.0, 1.2, 6, rows, 0, 1, 1, a);
        EXPECT_EQ(got.matched, c.matched) << c.what;
        if (c.matched == 3) {
            // Windows 3e-4, 3e-4 and 8e-4 over 30 peaks per unit of log d; the median one
            // spaces the tries in log a.
            const double p = std::cbrt(0.018 * 0.018 * 0.048);
            EXPECT_NEAR(got.chance, 0.2 / 3e-4 * AtLeast(6, 3, p), 1e-9) << c.what;
        }
    }
}

}  // namespace

namespace {

using hv::pattern::detail::AgreementOf;
using hv::pattern::detail::Slot;
using hv::pattern::detail::Work;

// A used Gaussian row of this area at spacing d, or a weak one whose fit allows at most
// `area` (its height 0, three sigma at the expected width with mixing one half).
Slot Row(double intensity, double area, double d, bool used = true)
{
    Slot s;
    s.intensity = intensity;
    s.d = d;
    s.fwhm = 0.01;
    s.row.used = used;
    s.row.reflection.hkl = {2, 0, 0};
    if (used) {
        s.row.fwhm = 0.01;
        s.row.eta = 0;
        s.row.height = area / (0.01 * std::sqrt(3.14159265358979323846 / std::log(2.0)) / 2);
        s.fit.height = s.row.height;
        s.fit.sigmaHeight = 0;
    } else {
        s.weakHeight = 0;
        s.weakSigma = area / (3 * 0.01 * (0.5 * 1.5707963267948966 + 0.5 * 1.0644670194312262));
    }
    return s;
}

TEST(Coincidence, IntensitiesAgreeUnderTextureOrNot)
{
    const double ln20 = std::log(20.0);
    struct Case {
        const char* what;
        std::vector<Slot> slots;
        double chiSquare, chance;
        std::size_t strong, weak;
    };
    const double b = 2;  // a Debye-Waller B 2 angstrom^2 above the model's: exp(-2 b s^2)
    const auto fall = [&](double d) { return std::exp(-2 * b * 0.25 / (d * d)); };
    const Case cases[] = {
        {"the structure's pattern", {Row(100, 300, 2), Row(50, 150, 1.5), Row(20, 60, 1.2), Row(5, 15, 1)}, 0, 1, 0, 0},
        {"another B: the line takes it",
         {Row(100, 100 * fall(2), 2), Row(50, 50 * fall(1.5), 1.5), Row(20, 20 * fall(1.2), 1.2), Row(5, 5 * fall(1), 1)},
         0, 1, 0, 0},
        {"one peak 20 times too strong",
         {Row(10, 10, 1), Row(10, 10, 1), Row(10, 10, 1), Row(10, 10, 1), Row(10, 200, 1)},
         ln20 * ln20 * 0.8 / 0.36, ChiSquareTail(ln20 * ln20 * 0.8 / 0.36, 4), 1, 0},
        {"a strong one absent", {Row(10, 10, 1), Row(10, 10, 1), Row(10, 10, 1), Row(10 * std::exp(3.0), 10, 1, false)},
         25, ChiSquareTail(25, 3), 0, 1},
        {"absent beyond the used angles: no evidence",
         {Row(10, 10, 1), Row(10, 10, 1), Row(10, 10, 1), Row(10 * std::exp(3.0), 10, 0.8, false)}, 0, 1, 0, 0},
    };
    Work w;
    for (const Case& c : cases) {
        const auto got = AgreementOf(c.slots, w);
        EXPECT_NEAR(got.chiSquare, c.chiSquare, 1e-9) << c.what;
        EXPECT_NEAR(got.chance, c.chance, 1e-9) << c.what;
        EXPECT_EQ(got.strong.size(), c.strong) << c.what;
        EXPECT_EQ(got.weak.size(), c.weak) << c.what;
    }
    // Energy-dispersive: the source spectrum sets the intensities, nothing to judge.
    w.intensitiesKnown = false;
    EXPECT_EQ(AgreementOf(cases[2].slots, w).chance, 1);
}

}  // namespace

namespace {

using hv::pattern::Outcome;
using hv::pattern::detail::Coincidence;
using hv::pattern::detail::IntensityAgreement;
using hv::pattern::detail::Refused;

// The verdict on a fitted result by its chances: luck refused from 1 %, or from 5 % near a
// guess; a warning from 0.1 %; intensities refused below 0.1 % in a crowded pattern only.
TEST(Coincidence, VerdictByChance)
{
    struct Case {
        const char* what;
        double luck, search, intensities;
        int peaks;  // in the pattern; 5 matched
        bool guided;
        hv::Status status;
        const char* says;  // in the message
    };
    const Case cases[] = {
        {"clean", 1e-5, 1e-6, 0.5, 30, false, hv::Status::Ok, ""},
        {"luck a warning", 3e-3, 1e-6, 0.5, 30, false, hv::Status::Warning, "as closely with a chance of ~0.003"},
        {"luck refused", 0.02, 1e-6, 0.5, 30, false, hv::Status::Error, "by chance (~0.02); a pressure guess"},
        // The count alone is likely by luck, the places are not: a warning that says both.
        {"the count a warning", 1e-5, 0.5, 0.5, 30, false, hv::Status::Warning,
         "would match 5 of 8 reflections with a chance of ~0.5, and as closely as they sit with a chance of ~1e-05"},
        {"near a guess a warning", 0.04, 1e-6, 0.5, 30, true, hv::Status::Warning, "range searched near the guess"},
        {"near a guess refused", 0.06, 1e-6, 0.5, 30, true, hv::Status::Error, "by chance (~0.06)"},
        {"intensities off in a crowd", 1e-5, 1e-6, 1e-4, 30, false, hv::Status::Error, "not NaCl's, even with texture"},
        {"intensities off alone: a warning", 1e-5, 1e-6, 1e-4, 10, false, hv::Status::Warning, "not NaCl's, even with texture"},
    };
    for (const Case& c : cases) {
        Outcome o;
        o.result.status = hv::Status::Ok;
        o.result.pGpa = 5;
        o.peaks.resize(1);
        o.peaks[0].used = true;
        o.fom = 0.9;
        Coincidence luck, search;
        luck.chance = c.luck;
        search.chance = c.search;
        search.peaks = luck.peaks = c.peaks;
        search.matched = luck.matched = 5;
        search.predicted = luck.predicted = 8;
        IntensityAgreement agreement;
        agreement.chance = c.intensities;
        hv::pattern::Options options;
        if (c.guided) options.pressureGuess = 5;
        const bool refused = Refused(o, "NaCl", luck, search, agreement, options);
        EXPECT_EQ(refused, c.status == hv::Status::Error) << c.what;
        EXPECT_EQ(o.result.status, c.status) << c.what << ": " << o.result.message;
        EXPECT_NE(o.result.message.find(c.says), std::string::npos) << c.what << ": " << o.result.message;
        EXPECT_EQ(std::isnan(o.result.pGpa), refused) << c.what;
        // A refused lattice uses nothing and explains nothing.
        EXPECT_EQ(o.peaks[0].used, !refused) << c.what;
        EXPECT_EQ(o.fom, refused ? 0 : 0.9) << c.what;
    }
}

}  // namespace

namespace {

using hv::pattern::detail::Candidate;
using hv::pattern::detail::IntensityLuck;

// Random peaks of a crowd rarely agree with the structure as the standard's own do; peaks
// against the structure are no better than random ones.
TEST(Coincidence, IntensitiesByLuck)
{
    std::vector<Candidate> crowd(30);
    for (std::size_t i = 0; i < crowd.size(); ++i) {
        crowd[i].prominence = 100 * std::pow(1.3, static_cast<double>((i * 7) % 30));  // heights over a factor 2,000
        crowd[i].fwhm = 0.01;
    }
    const std::vector<Slot> agree = {Row(100, 300, 2), Row(30, 90, 1.5), Row(10, 30, 1.2), Row(60, 180, 1)};
    const std::vector<Slot> against = {Row(100, 30, 2), Row(30, 90, 1.5), Row(10, 300, 1.2), Row(60, 3, 1)};
    Work w;
    const double good = IntensityLuck(agree, crowd, w), bad = IntensityLuck(against, crowd, w);
    EXPECT_LT(good, 0.02);
    EXPECT_GT(bad, 0.5);
    EXPECT_EQ(good, IntensityLuck(agree, crowd, w));  // the same every time
    EXPECT_EQ(IntensityLuck({Row(100, 300, 2), Row(30, 90, 1.5)}, crowd, w), 1);  // two: too little to judge
    w.intensitiesKnown = false;
    EXPECT_EQ(IntensityLuck(agree, crowd, w), 1);
}

// A reflection beside a taller peak: the detector sees it only where it makes a dip of its
// own. Widths of 0.01 at 4 points, and at 100 (finely sampled data), noise of the running
// mean 1.
TEST(Coincidence, APeakOnATallerOnesFlankDoesNotStandClear)
{
    hv::pattern::detail::Work w;
    w.x = {0.0, 1.0};
    w.var = {1.5, 1.5};  // sqrt(1.5 / 3 * 2) = 1
    Candidate tall;
    tall.fwhm = 0.01;
    tall.prominence = 1000;
    const struct {
        double apart;  // in widths
        double p;
        bool clear;
    } cases[] = {
        {6, 20, true},     // far off: four times the clear threshold
        {6, 3, false},     // far off, but under five sigma
        {0.3, 200, false}, // on its top: one peak
        {1, 100, false},   // a tenth as high, one width off: on its flank
        {2, 1000, true},   // as high, two widths off: a deep dip between
    };
    for (const double step : {0.0025, 0.0001}) {
        w.step = step;
        for (const auto& c : cases) {
            tall.x = 0.5 + c.apart * tall.fwhm;
            EXPECT_EQ(hv::pattern::detail::StandsClearOf(w, 0.5, c.p, tall), c.clear)
                << c.apart << " widths, " << c.p << ", step " << step;
        }
    }
}

}  // namespace
