#include "cli/plot.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;
using hv::cli::ChooseLayers;
using hv::cli::FitLayers;
using hv::cli::SpreadLabels;

// x = 0..99, flat data of 10; fitted windows on [10, 20), [40, 50) and [70, 80).
struct Fitted {
    hv::pattern::Pattern pattern;
    hv::pattern::Outcome outcome;
    Fitted()
    {
        for (int i = 0; i < 100; ++i) {
            pattern.x.push_back(i);
            pattern.intensity.push_back(10);
        }
        outcome.result.status = hv::Status::Ok;
        outcome.curve.assign(100, NAN);
        outcome.background.assign(100, NAN);
        for (int from : {10, 40, 70}) {
            for (int i = from; i < from + 10; ++i) {
                outcome.curve[static_cast<std::size_t>(i)] = 12;
                outcome.background[static_cast<std::size_t>(i)] = 9;
            }
        }
    }
    void Peak(double at, bool used)
    {
        hv::pattern::PeakRow p;
        p.predicted = p.position = at;
        p.used = used;
        outcome.peaks.push_back(p);
    }
};

std::vector<int> Drawn(const std::vector<double>& v)
{
    std::vector<int> out;
    for (std::size_t i = 0; i < v.size(); ++i) {
        if (!std::isnan(v[i])) out.push_back(static_cast<int>(i));
    }
    return out;
}

std::vector<int> Span(int from, int to)
{
    std::vector<int> out;
    for (int i = from; i < to; ++i) out.push_back(i);
    return out;
}

// A window is drawn only where a used reflection was fitted in it.
TEST(Plot, OnlyWindowsWithUsedReflectionsAreDrawn)
{
    Fitted f;
    f.Peak(15, true);    // used: its window stays
    f.Peak(45, false);   // left out: its window goes
    f.Peak(150, false);  // off the pattern: no tick
    // [70, 80) holds no reflection at all: a fit whose peaks all left.
    const FitLayers l = ChooseLayers(f.pattern, f.outcome);
    EXPECT_EQ(Drawn(l.curve), Span(10, 20));
    EXPECT_EQ(Drawn(l.background), Span(10, 20));
    EXPECT_EQ(Drawn(l.residual), Span(10, 20));
    EXPECT_EQ(l.residual[12], -2);  // data 10 under a curve of 12
    EXPECT_TRUE(l.fit && l.reflections && l.used && l.leftOut && l.residualPanel);

    // Nothing used: ticks, but no curve, no residual panel and no legend line for them.
    Fitted none;
    none.Peak(15, false);
    const FitLayers n = ChooseLayers(none.pattern, none.outcome);
    EXPECT_TRUE(Drawn(n.curve).empty() && Drawn(n.residual).empty());
    EXPECT_FALSE(n.fit || n.used || n.residualPanel);
    EXPECT_TRUE(n.reflections && n.leftOut);
}

// A refused pattern draws its data only, whatever curve the outcome holds.
TEST(Plot, RefusedPatternDrawsNoFit)
{
    Fitted f;
    f.Peak(15, true);
    f.outcome.result.status = hv::Status::Error;
    const FitLayers l = ChooseLayers(f.pattern, f.outcome);
    EXPECT_TRUE(Drawn(l.curve).empty() && Drawn(l.background).empty() && Drawn(l.residual).empty());
    EXPECT_FALSE(l.fit || l.reflections || l.used || l.leftOut || l.residualPanel);
    // A warning draws as an ok does.
    f.outcome.result.status = hv::Status::Warning;
    EXPECT_EQ(Drawn(ChooseLayers(f.pattern, f.outcome).curve), Span(10, 20));
}

TEST(Plot, LabelsStayInsideInOrder)
{
    struct Case {
        std::vector<double> at;
        double pitch, lo, hi;
        std::vector<double> want;
    } cases[] = {
        {{10, 12, 14}, 5, 0, 100, {10, 15, 20}},          // pushed along
        {{10, 30, 50}, 5, 0, 100, {10, 30, 50}},          // room enough: where the marks are
        {{95, 97, 99}, 5, 0, 100, {90, 95, 100}},         // at the right edge: pushed back
        {{1}, 5, 5, 100, {5}},                            // at the left edge
        {{50, 50, 50, 50}, 40, 0, 100, {0, 20, 60, 100}}, // too many: inside, overlapping
        {{}, 5, 0, 100, {}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SpreadLabels(c.at, c.pitch, c.lo, c.hi), c.want);
    }
}

// The height a PNG's header gives.
unsigned PngHeight(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    unsigned char b[24] = {};
    in.read(reinterpret_cast<char*>(b), sizeof b);
    return (unsigned{b[20]} << 24) | (unsigned{b[21]} << 16) | (unsigned{b[22]} << 8) | b[23];
}

// Named points make room for their names under the plot; numbered ones keep the old size.
TEST(Plot, SeriesNamesItsPoints)
{
    const char* keep = std::getenv("HV_PLOT_KEEP");  // a folder to look at the pictures in
    const fs::path dir = keep ? fs::path(keep) : fs::temp_directory_path() / ("hv_plot_" + std::to_string(getpid()));
    fs::create_directories(dir);
    std::vector<hv::cli::SeriesPoint> points;
    for (int i = 0; i < 12; ++i) {
        hv::cli::SeriesPoint p;
        p.pGpa = 2 + 1.5 * i;
        p.sigmaPGpa = 0.05 + 0.02 * i;
        p.label = "run3/compression_" + std::to_string(100 + i) + ".chi";
        points.push_back(p);
    }
    points[4].pGpa = NAN;      // refused
    points[7].flagged = true;  // a jump
    points[7].pGpa = 30;
    const std::string named = (dir / "named.png").string(), numbered = (dir / "numbered.png").string();
    ASSERT_EQ(hv::cli::DrawSeries(named, hv::cli::PlotFormat::Png, points), "");
    for (auto& p : points) p.label.clear();
    ASSERT_EQ(hv::cli::DrawSeries(numbered, hv::cli::PlotFormat::Png, points), "");
    EXPECT_EQ(PngHeight(numbered), 500u);
    EXPECT_GT(PngHeight(named), 500u + 100u);  // names of 27 characters read upwards
    EXPECT_LT(PngHeight(named), 500u + 200u);
    if (!keep) fs::remove_all(dir);
}

}  // namespace
