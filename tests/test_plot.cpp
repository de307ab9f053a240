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

// Drawing in this process leaves cairo's and fontconfig's caches, which the program frees
// before it exits; so do the tests, or the leak checker counts them.
class ReleaseCaches : public testing::Environment {
public:
    void TearDown() override { hv::cli::ReleasePlotCaches(); }
};
const testing::Environment* const releaseCaches = testing::AddGlobalTestEnvironment(new ReleaseCaches);

// x = 0..99, data 10 everywhere, fitted windows (curve 12 over a background of 9) on
// [10, 20), [40, 50) and [70, 80); peaks (fitted position, used) as the case says.
struct Case {
    const char* what;
    hv::Status status;
    std::vector<std::pair<double, bool>> peaks;
    int drawnFrom, drawnTo;  // the points drawn as fit, background and residual
    bool used, leftOut, reflections;
};

std::vector<int> Drawn(const std::vector<double>& v)
{
    std::vector<int> out;
    for (std::size_t i = 0; i < v.size(); ++i) {
        if (!std::isnan(v[i])) out.push_back(static_cast<int>(i));
    }
    return out;
}

// A window is drawn only where a used reflection was fitted in it; a refused pattern, never.
TEST(Plot, OnlyWindowsWithUsedReflectionsAreDrawn)
{
    const Case cases[] = {
        // [70, 80) holds no reflection: a fit whose peaks all left. 150 lies off the pattern.
        {"used and left out", hv::Status::Ok, {{15, true}, {45, false}, {150, false}}, 10, 20, true, true, true},
        {"a warning as ok", hv::Status::Warning, {{45, true}}, 40, 50, true, false, true},
        {"nothing used", hv::Status::Ok, {{15, false}}, 0, 0, false, true, true},
        {"refused", hv::Status::Error, {{15, true}}, 0, 0, false, false, false},
    };
    for (const Case& c : cases) {
        hv::pattern::Pattern p;
        hv::pattern::Outcome o;
        o.result.status = c.status;
        o.curve.assign(100, NAN);
        o.background.assign(100, NAN);
        for (int i = 0; i < 100; ++i) {
            p.x.push_back(i);
            p.intensity.push_back(10);
            if ((i >= 10 && i < 20) || (i >= 40 && i < 50) || (i >= 70 && i < 80)) {
                o.curve[static_cast<std::size_t>(i)] = 12;
                o.background[static_cast<std::size_t>(i)] = 9;
            }
        }
        for (const auto& [at, used] : c.peaks) {
            hv::pattern::PeakRow row;
            row.predicted = row.position = at;
            row.used = used;
            o.peaks.push_back(row);
        }
        const hv::cli::FitLayers l = ChooseLayers(p, o);
        std::vector<int> want;
        for (int i = c.drawnFrom; i < c.drawnTo; ++i) want.push_back(i);
        EXPECT_EQ(Drawn(l.curve), want) << c.what;
        EXPECT_EQ(Drawn(l.background), want) << c.what;
        EXPECT_EQ(Drawn(l.residual), want) << c.what;
        if (!want.empty()) {
            EXPECT_EQ(l.residual[static_cast<std::size_t>(want[0])], -2) << c.what;  // 10 under 12
        }
        EXPECT_EQ(l.fit, !want.empty()) << c.what;
        EXPECT_EQ(l.residualPanel, !want.empty()) << c.what;
        EXPECT_EQ(l.used, c.used) << c.what;
        EXPECT_EQ(l.leftOut, c.leftOut) << c.what;
        EXPECT_EQ(l.reflections, c.reflections) << c.what;
    }
}

TEST(Plot, LabelsStayInsideInOrder)
{
    struct Spread {
        std::vector<double> at;
        double pitch, lo, hi;
        std::vector<double> want;
    } cases[] = {
        {{10, 12, 14}, 5, 0, 100, {10, 15, 20}},           // pushed along
        {{10, 30, 50}, 5, 0, 100, {10, 30, 50}},           // room enough: where the marks are
        {{95, 97, 99}, 5, 0, 100, {90, 95, 100}},          // at the right edge: pushed back
        {{1}, 5, 5, 100, {5}},                             // at the left edge
        {{50, 50, 50, 50}, 40, 0, 100, {0, 20, 60, 100}},  // too many: inside, overlapping
        {{}, 5, 0, 100, {}},
    };
    for (const Spread& c : cases) EXPECT_EQ(hv::cli::SpreadLabels(c.at, c.pitch, c.lo, c.hi), c.want);
}

// Named points make room for their names under the plot; numbered ones keep the old size.
TEST(Plot, SeriesNamesItsPoints)
{
    const char* keep = std::getenv("HV_PLOT_KEEP");  // a folder to look at the pictures in
    const fs::path dir = keep ? fs::path(keep) : fs::temp_directory_path() / ("hv_plot_" + std::to_string(getpid()));
    fs::create_directories(dir);
    std::vector<hv::cli::SeriesPoint> points(12);
    for (int i = 0; i < 12; ++i) {
        points[static_cast<std::size_t>(i)] = {2 + 1.5 * i, 0.05 + 0.02 * i, "run3/compression_" + std::to_string(100 + i) + ".chi"};
    }
    points[4].pGpa = NAN;  // refused
    points[7] = {30, 0.1, points[7].label, true};  // a jump, flagged
    const auto height = [&](const char* name) {
        const std::string path = (dir / name).string();
        EXPECT_EQ(hv::cli::DrawSeries(path, hv::cli::PlotFormat::Png, points), "");
        std::ifstream in(path, std::ios::binary);
        unsigned char b[24] = {};
        in.read(reinterpret_cast<char*>(b), sizeof b);  // the PNG header's height, big-endian
        return (unsigned{b[20]} << 24) | (unsigned{b[21]} << 16) | (unsigned{b[22]} << 8) | b[23];
    };
    const unsigned named = height("named.png");
    EXPECT_GT(named, 600u);  // names of 27 characters read upwards
    EXPECT_LT(named, 700u);
    for (auto& p : points) p.label.clear();
    EXPECT_EQ(height("numbered.png"), 500u);
    if (!keep) fs::remove_all(dir);
}

}  // namespace
