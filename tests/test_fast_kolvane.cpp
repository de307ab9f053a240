// FastKolvane against Kolvane: the same pressure bits, the same status, and the pressure
// left alone exactly when Kolvane leaves it alone.
#include "engine/clsKolvane.h"
#include "tests/kolvane_inputs.h"

#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using hv_test::KolvaneInput;
using hv_test::KolvaneInputs;

// A NaN payload that neither path ever stores (they store finite pressures only), so a P
// still holding it was not written.
constexpr uint32_t kUnsetBits = 0x7fa5a5a5u;

struct Both {
    uint32_t plain = kUnsetBits, fast = kUnsetBits;
    int16_t plainErr = 99, fastErr = 99;
    // The pressure in double before its narrowing, where a change in the last bit of a node
    // or weight shows far more often than in the single that Kolvane stores.
    kolvane_model::Outcome plainModel, fastModel;

    bool Same() const
    {
        return plain == fast && plainErr == fastErr && plainModel.status == fastModel.status &&
               plainModel.written == fastModel.written &&
               std::bit_cast<uint64_t>(plainModel.p) == std::bit_cast<uint64_t>(fastModel.p);
    }
    bool Written() const { return plain != kUnsetBits; }
};

Both BothPaths(const KolvaneInput& in)
{
    Both b;
    const double t = in.tcel, v = in.vdiff;
    b.plainModel = kolvane_model::Evaluate(in.istd, t, v, true, kolvane_model::Nodes::PerCall);
    b.fastModel = kolvane_model::Evaluate(in.istd, t, v, true, kolvane_model::Nodes::Cached);
    float p = std::bit_cast<float>(kUnsetBits);
    clsKolvane().Kolvane(in.istd, in.tcel, in.vdiff, p, b.plainErr);
    b.plain = std::bit_cast<uint32_t>(p);
    float q = std::bit_cast<float>(kUnsetBits);
    kolvane_model::FastKolvane(in.istd, in.tcel, in.vdiff, q, b.fastErr);
    b.fast = std::bit_cast<uint32_t>(q);
    return b;
}

std::string Describe(const KolvaneInput& in, const Both& b)
{
    std::ostringstream out;
    out.precision(9);
    out << "ISTD " << in.istd << " TCEL " << in.tcel << " (0x" << std::hex << std::bit_cast<uint32_t>(in.tcel)
        << ") VDIFF " << std::dec << in.vdiff << " (0x" << std::hex << std::bit_cast<uint32_t>(in.vdiff)
        << "): Kolvane P 0x" << b.plain << " IERR " << std::dec << b.plainErr << ", FastKolvane P 0x" << std::hex
        << b.fast << " IERR " << std::dec << b.fastErr << "; in double " << std::hex
        << std::bit_cast<uint64_t>(b.plainModel.p) << " against " << std::bit_cast<uint64_t>(b.fastModel.p);
    return out.str();
}

// The heart: a million random inputs, every status reached many times over, not one
// difference (about 2 s optimised, 7 s under the sanitizers in a debug build).
TEST(FastKolvane, SameBitsAndStatusAsKolvaneOnRandomInputs)
{
    constexpr long kInputs = 1000000;
    KolvaneInputs inputs(20261209);
    std::array<long, 7> statuses{};
    long written = 0, differences = 0;
    for (long i = 0; i < kInputs; ++i) {
        const KolvaneInput in = inputs.Next();
        const Both b = BothPaths(in);
        if (!b.Same()) {
            if (++differences <= 10) ADD_FAILURE() << Describe(in, b);
            continue;
        }
        ASSERT_GE(b.plainErr, 0) << Describe(in, b);
        ASSERT_LE(b.plainErr, 6) << Describe(in, b);
        ++statuses[static_cast<std::size_t>(b.plainErr)];
        written += b.Written();
    }
    EXPECT_EQ(differences, 0) << "of " << kInputs;
    // The inputs really reach every outcome: each status at least 0.5 % of the time, and the
    // pressure both written and left alone often.
    for (std::size_t s = 0; s < statuses.size(); ++s) EXPECT_GT(statuses[s], kInputs / 200) << "IERR " << s;
    EXPECT_GT(written, kInputs / 5);
    EXPECT_GT(kInputs - written, kInputs / 5);
}

// Cases whose outcome follows from the model's rules alone, both paths alike.
TEST(FastKolvane, EdgesGiveTheModelsStatuses)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const float belowHalf = std::nextafter(-0.5f, -1.0f);
    const float aboveHalf = std::nextafter(0.5f, 1.0f);
    const float justVolume = std::nextafter(-1.0f, 0.0f);
    struct Case {
        KolvaneInput in;
        int16_t ierr;
        bool written;
    };
    const Case cases[] = {
        {{1, 25, 0}, 0, true},
        {{2, 25, 0}, 1, true},            // KCl
        {{3, 25, -0.1f}, 0, true},
        {{0, 25, 0}, 2, false},           // unknown standards
        {{4, 25, 0}, 2, false},
        {{INT16_MIN, 25, 0}, 2, false},
        {{4, nan, nan}, 2, false},        // the code is checked first
        {{1, 25, -0.5f}, 0, true},        // V/V0 = 0.5 is inside
        {{1, 25, belowHalf}, 3, true},
        {{2, 25, belowHalf}, 3, true},    // the volume's status replaces KCl's
        {{1, 25, 0.5f}, 0, true},         // V/V0 = 1.5 is inside
        {{3, 25, aboveHalf}, 4, true},
        {{1, 25, justVolume}, 3, true},   // a sliver of volume still has a pressure
        {{1, 25, -1.0f}, 3, false},       // none at all
        {{1, 25, -2.0f}, 3, false},
        {{1, -300, 0}, 5, false},         // below absolute zero
        {{1, -273.15f, 0}, 0, true},      // just above it: the asymptote
        {{1, nan, 0}, 6, false},
        {{3, 25, inf}, 6, false},
        {{1, -inf, 0}, 6, false},
    };
    for (const Case& c : cases) {
        const Both b = BothPaths(c.in);
        EXPECT_TRUE(b.Same()) << Describe(c.in, b);
        EXPECT_EQ(b.fastErr, c.ierr) << Describe(c.in, b);
        EXPECT_EQ(b.Written(), c.written) << Describe(c.in, b);
    }
}

// Every single within 64 steps of each seam: theta / T = 20 (quadrature to asymptote) and
// 1e-5 (quadrature to the limit 1), for each standard at three volumes.
TEST(FastKolvane, SameBitsAcrossTheDebyeSeams)
{
    int compared = 0;
    for (int16_t istd = 1; istd <= 3; ++istd) {
        for (float vdiff : {0.0f, -0.3f, 0.4f}) {
            for (double seam : {20.0, 1.0e-5}) {
                const float c = static_cast<float>(KolvaneInputs::SeamCelsius(istd, vdiff, seam));
                for (int k = -64; k <= 64; ++k) {
                    const KolvaneInput in{istd, KolvaneInputs::Step(c, k), vdiff};
                    const Both b = BothPaths(in);
                    EXPECT_TRUE(b.Same()) << Describe(in, b);
                    EXPECT_TRUE(b.Written()) << Describe(in, b);
                    ++compared;
                }
            }
        }
    }
    EXPECT_EQ(compared, 3 * 3 * 2 * 129);
}

// The double-precision model behind the error bars and the inverse: the cached rule gives
// the same doubles as the rule formed per call, with and without the single-precision step.
TEST(FastKolvane, CachedModelMatchesPerCallModel)
{
    std::mt19937_64 rng(7);
    std::uniform_real_distribution<double> t(-273.15, 3000), v(-0.7, 0.8);
    long compared = 0;
    for (int i = 0; i < 20000; ++i) {
        const int16_t istd = static_cast<int16_t>(1 + i % 3);
        const double tc = t(rng), vd = v(rng);
        for (bool round : {true, false}) {
            const auto a = kolvane_model::Evaluate(istd, tc, vd, round, kolvane_model::Nodes::PerCall);
            const auto b = kolvane_model::Evaluate(istd, tc, vd, round, kolvane_model::Nodes::Cached);
            ASSERT_EQ(a.status, b.status) << istd << " " << tc << " " << vd;
            ASSERT_EQ(a.written, b.written) << istd << " " << tc << " " << vd;
            ASSERT_EQ(std::bit_cast<uint64_t>(a.p), std::bit_cast<uint64_t>(b.p)) << istd << " " << tc << " " << vd;
            compared += a.written;
        }
    }
    EXPECT_GT(compared, 30000);
}

// Threads that start together all find the same roots. Run on its own, as ctest runs each
// test, the first calls come from several threads at once.
TEST(FastKolvane, ThreadsAgreeWithKolvane)
{
    constexpr int kThreads = 4;
    std::array<long, kThreads> differences{};
    std::vector<std::thread> pool;
    for (int t = 0; t < kThreads; ++t) {
        pool.emplace_back([t, &differences] {
            KolvaneInputs inputs(static_cast<uint64_t>(100 + t));
            for (int i = 0; i < 5000; ++i) differences[static_cast<std::size_t>(t)] += !BothPaths(inputs.Next()).Same();
        });
    }
    for (auto& th : pool) th.join();
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(differences[static_cast<std::size_t>(t)], 0) << "thread " << t;
}

}  // namespace
