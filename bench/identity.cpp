// By hand (make bench-identity): FastKolvane against Kolvane over COUNT random inputs
// (100,000,000 unless given), on every core, with the inputs of the bit-identity test. Prints
// the count of differences in the stored pressure's bits, in IERR, or in whether P was
// written at all, and the first few; exits 1 when there is any.
#include "engine/clsKolvane.h"
#include "tests/kolvane_inputs.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

namespace {

constexpr uint32_t kUnsetBits = 0x7fa5a5a5u;  // a NaN the engine never stores

}  // namespace

int main(int argc, char** argv)
{
    const long long count = argc > 1 ? std::atoll(argv[1]) : 100000000LL;
    const unsigned threads = std::max(1u, std::thread::hardware_concurrency());
    if (count <= 0) {
        std::fprintf(stderr, "usage: hv_identity [COUNT]\n");
        return 2;
    }
    std::atomic<long long> differences{0}, written{0};
    std::mutex printing;
    const auto start = std::chrono::steady_clock::now();
    std::vector<std::thread> pool;
    for (unsigned t = 0; t < threads; ++t) {
        pool.emplace_back([&, t] {
            // Each thread its own stream; thread 0 repeats the test's million first.
            hv_test::KolvaneInputs inputs(t == 0 ? 20261209 : 20261209 + 7919ull * t);
            const clsKolvane engine;
            long long mine = 0, wrote = 0;
            const long long n = count / threads + (t < count % threads ? 1 : 0);
            for (long long i = 0; i < n; ++i) {
                const hv_test::KolvaneInput in = inputs.Next();
                float p = std::bit_cast<float>(kUnsetBits), q = p;
                int16_t e = 99, f = 99;
                engine.Kolvane(in.istd, in.tcel, in.vdiff, p, e);
                kolvane_model::FastKolvane(in.istd, in.tcel, in.vdiff, q, f);
                const uint32_t pb = std::bit_cast<uint32_t>(p), qb = std::bit_cast<uint32_t>(q);
                wrote += pb != kUnsetBits;
                if (pb == qb && e == f) continue;
                if (++mine <= 5) {
                    const std::lock_guard lock(printing);
                    std::printf("difference: ISTD %d TCEL %a VDIFF %a: Kolvane P %08x IERR %d, FastKolvane P %08x IERR %d\n",
                                in.istd, static_cast<double>(in.tcel), static_cast<double>(in.vdiff), pb, e, qb, f);
                }
            }
            differences += mine;
            written += wrote;
        });
    }
    for (auto& th : pool) th.join();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%lld comparisons on %u threads in %.0f s (%lld with a pressure written): %lld differences in P "
                "bits or IERR\n",
                count, threads, seconds, written.load(), differences.load());
    return differences == 0 ? 0 : 1;
}
