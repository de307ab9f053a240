// hivarnisse-calc pattern over a series of files: --follow keeps a weak pattern on the
// series' lattice, and a pressure that jumps away from both neighbours is flagged.
#include "cli/pattern_series.h"
#include "core/inverse.h"
#include "core/standards.h"
#include "tests/dac_synth.h"
#include "tests/pattern_synth.h"

#include "calc_fixture.h"

#include <cmath>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Ran = Outcome;
using Row = std::map<std::string, std::string>;

const auto Rows = CsvRows;

bool Flagged(const Row& r) { return r.at("message").find("flag: ") != std::string::npos; }

double Pressure(const Row& r) { return r.at("p_gpa").empty() ? NAN : std::stod(r.at("p_gpa")); }

// The rule itself, sigma included: {P, sigma} of the file before, the file, the file after.
TEST(SeriesJump, AboveOrBelowBothByTheFloorAndFiveSigma)
{
    using hv::cli::SeriesPoint;
    struct Case {
        SeriesPoint before, p, after;
        bool jumps;
    };
    const Case cases[] = {
        {{5, 0.1}, {7, 0.1}, {5.2, 0.1}, true},      // 2 GPa up, 14 sigma
        {{5, 0.1}, {3, 0.1}, {5.2, 0.1}, true},      // and down
        {{5, 0.1}, {7, 0.1}, {9, 0.1}, false},       // between: a step of the run
        {{5, 0.01}, {5.9, 0.01}, {5, 0.01}, false},  // 64 sigma, but under the floor
        {{5, 0.3}, {7, 0.3}, {5, 0.3}, false},       // 2 GPa is 4.7 combined sigma of 0.42
        {{5, 0.2}, {7, 0.2}, {5, 0.2}, true},        // and 7.1 of 0.28
        {{5, 0.5}, {7, 0.2}, {5, 0.2}, false},       // from the first only 3.7 combined sigma
        {{5, hv::kNone}, {7, hv::kNone}, {5, hv::kNone}, true},  // no sigma: the floor alone
        {{5, 0.1}, {7, 0.1}, {7, 0.1}, false},       // level with one neighbour
        {{5, 0.1}, {hv::kNone, 0.1}, {5, 0.1}, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(hv::cli::JumpsAway(c.before, c.p, c.after), c.jumps)
            << c.before.pGpa << " " << c.p.pGpa << " " << c.after.pGpa;
    }
}

TEST(SeriesJump, TheFlagMakesOkAWarningAndKeepsTheMessage)
{
    hv::pattern::Outcome o;
    o.result.status = hv::Status::Ok;
    o.result.pGpa = 12.345f;
    hv::cli::FlagJump(o, {5, 0.1}, {5.5, 0.1});
    EXPECT_EQ(o.result.status, hv::Status::Warning);
    EXPECT_EQ(o.result.message, "flag: 12.35 GPa jumps away from both neighbouring files (5.00 and 5.50 GPa)");
    o.result.message = "left out as outliers: 111";
    hv::cli::FlagJump(o, {5, 0.1}, {5.5, 0.1});
    EXPECT_EQ(o.result.status, hv::Status::Warning);
    EXPECT_EQ(o.result.message.rfind("left out as outliers: 111; flag: 12.35 GPa", 0), 0u) << o.result.message;
}

class PatternSeries : public CalcFixture {
protected:
    // A clean NaCl pattern at p GPa and 25 C, found by any search.
    std::string Clean(const std::string& name, double p, uint64_t seed)
    {
        synth::Recipe r;
        r.a = hv::SpacingsAt(*hv::FindStandard("NaCl"), 25, p, 1).a;
        r.seed = seed;
        Write(name, synth::WriteXy(synth::Make(r), r.wavelength));
        return " " + name;
    }
    // A diamond-anvil-cell pattern of NaCl at p GPa and 25 C; signal: its strongest line
    // over the background's noise.
    std::string Cell(const std::string& name, double p, uint64_t seed, double signal)
    {
        dacsynth::Recipe r;
        r.standard = hv::FindStandard("NaCl");
        r.pGpa = p;
        r.tCelsius = 25;
        r.seed = seed;
        r.signal = signal;
        Write(name, dacsynth::WriteXy(dacsynth::Make(r).pattern));
        return " " + name;
    }
};

// Which files of a series are flagged: those above or below both neighbours with a
// pressure, by more than 1 GPa and 5 combined sigma from each. The clean patterns give
// sigma_P of a few MPa, so the 1 GPa floor decides here.
TEST_F(PatternSeries, FlagsJumpsAwayFromBothNeighbours)
{
    struct Case {
        const char* what;
        std::vector<double> p;  // NaN: a file that cannot be read
        std::vector<bool> flagged;
    };
    const Case cases[] = {
        {"a steady compression in big steps", {3, 8, 13}, {false, false, false}},
        {"a spike up", {5, 12, 5.5}, {false, true, false}},
        {"a dip", {10, 4, 10.5}, {false, true, false}},
        {"a spike under the floor", {5, 5.8, 5}, {false, false, false}},
        {"the ends have one neighbour", {12, 5, 5.2, 12}, {false, false, false, false}},
        {"neighbours across an unread file", {5, NAN, 15, 5.3}, {false, false, true, false}},
        {"two files far off together", {5, 15, 15.2, 5.3}, {false, false, false, false}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string names;
        for (std::size_t i = 0; i < c.p.size(); ++i) {
            const std::string name = "s" + std::to_string(i) + ".xy";
            if (std::isnan(c.p[i])) {
                Write(name, "no pattern here\n");
                names += " " + name;
            } else {
                names += Clean(name, c.p[i], i + 1);
            }
        }
        const Ran r = Calc("pattern --standard NaCl --temperature 25 --jobs 2" + names);
        const std::vector<Row> rows = Rows(r.out);
        ASSERT_EQ(rows.size(), c.p.size()) << r.err;
        for (std::size_t i = 0; i < rows.size(); ++i) {
            EXPECT_EQ(Flagged(rows[i]), c.flagged[i]) << i << ": " << rows[i].at("message");
            if (std::isnan(c.p[i])) continue;
            EXPECT_NEAR(Pressure(rows[i]), c.p[i], 0.05) << i;
            // A flagged pressure is never ok.
            if (c.flagged[i]) {
                EXPECT_EQ(rows[i].at("status"), "warning") << i;
            }
            EXPECT_NE(rows[i].at("status"), "error") << i << ": " << rows[i].at("message");
        }
    }
}

// Eight diamond-anvil-cell patterns of a compression from 3 to 6 GPa: the third is weak (its
// strongest line 8 times the background's noise) and the whole-range search takes a
// coincidence for it; the sixth is a file of the same cell at 20 GPa among them.
TEST_F(PatternSeries, FollowKeepsAWeakPatternAndTheOutlierIsFlagged)
{
    const double p[] = {3, 3.5, 4, 4.5, 5, 20, 5.5, 6};
    const uint64_t seeds[] = {8, 2, 3, 3, 3, 2, 3, 8};
    std::string names;
    for (int i = 0; i < 8; ++i) names += Cell("c" + std::to_string(i) + ".xy", p[i], seeds[i], i == 2 ? 8 : 400);
    const std::string common = "pattern --standard NaCl --temperature 25 --jobs 2";

    const Ran free = Calc(common + " --plot free --plot-format svg" + names);
    const Ran follow = Calc(common + " --follow --plot follow --plot-format svg" + names);
    const std::vector<Row> a = Rows(free.out), b = Rows(follow.out);
    ASSERT_EQ(a.size(), 8u) << free.err;
    ASSERT_EQ(b.size(), 8u) << follow.err;
    for (int i = 0; i < 8; ++i) {
        SCOPED_TRACE(i);
        if (i == 2) continue;
        // The strong files: the truth, in both runs alike; only the outlier flagged.
        for (const Row& r : {a[i], b[i]}) {
            EXPECT_NEAR(Pressure(r), p[i], 0.05);
            EXPECT_EQ(Flagged(r), i == 5) << r.at("message");
            if (i == 5) {
                EXPECT_EQ(r.at("status"), "warning") << r.at("message");
            } else {
                EXPECT_NE(r.at("status"), "error") << r.at("message");
            }
        }
    }
    // Searched near 3.5 GPa, the weak file is found on its lattice.
    EXPECT_NE(b[2].at("status"), "error") << b[2].at("message");
    EXPECT_NEAR(Pressure(b[2]), 4, 0.1);
    EXPECT_FALSE(Flagged(b[2]));
    // Searched over the whole range it is not; whatever it takes instead is no ok pressure.
    EXPECT_FALSE(std::fabs(Pressure(a[2]) - 4) < 0.1 && a[2].at("status") == "ok") << a[2].at("p_gpa");
    EXPECT_NE(a[2].at("status"), "ok") << a[2].at("p_gpa") << " " << a[2].at("message");
    // The series picture rings the flagged in the orange of left-out reflections (and writes
    // their names in it: only the rings are strokes).
    const auto rings = [&](const char* dir) {
        const std::string svg = Slurp(dir_ / dir / "series.svg");
        int n = 0;
        for (std::size_t at = 0; (at = svg.find("stroke:rgb(93%,49%,5%)", at)) != std::string::npos; ++at) ++n;
        return n;
    };
    int flaggedFree = 0;
    for (const Row& r : a) flaggedFree += Flagged(r);
    EXPECT_EQ(rings("follow"), 1);
    EXPECT_EQ(rings("free"), flaggedFree);
    EXPECT_EQ(follow.err, "");
    // A file's own picture carries its flag: the sixth, flagged among its neighbours, is drawn
    // otherwise than alone; the fifth, flagged in neither, alike.
    const Ran among = Calc(common + " --plot among c4.xy c5.xy c6.xy");
    const Ran alone = Calc(common + " --plot alone c4.xy c5.xy");
    ASSERT_EQ(Rows(among.out).size(), 3u) << among.err;
    ASSERT_EQ(Rows(alone.out).size(), 2u) << alone.err;
    EXPECT_TRUE(Flagged(Rows(among.out)[1]));
    EXPECT_FALSE(Flagged(Rows(alone.out)[1]));
    EXPECT_NE(Slurp(dir_ / "among" / "c5.png"), Slurp(dir_ / "alone" / "c5.png"));
    EXPECT_EQ(Slurp(dir_ / "among" / "c4.png"), Slurp(dir_ / "alone" / "c4.png"));
}

}  // namespace
