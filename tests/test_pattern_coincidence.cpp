// The chance that a lattice's matched reflections are luck: few peaks make it tiny, a
// crowded pattern makes a few matches worthless.
#include "pattern/steps.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

using hv::pattern::detail::BinomialTail;
using hv::pattern::detail::Candidate;
using hv::pattern::detail::CoincidenceOf;

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
        const auto got = CoincidenceOf(Peaks(c.peaks, c.tol), 0, 1, 1.0, 1.2, c.predicted, c.matched, c.searches);
        EXPECT_NEAR(got.chance, c.want, 1e-9 * c.want) << c.peaks << " peaks, " << c.matched << " of " << c.predicted;
    }
}

}  // namespace
