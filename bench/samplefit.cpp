// Equation-of-state fits: one BM3 fit of 50 MgO-like points, timed over many repetitions
// (microseconds per fit, the thread's own CPU time), then 10,000 bootstrap fits of the same
// set (points drawn with replacement) on every core: wall seconds, and the bootstrap's
// scatter of V0, K0, K0' beside the fit's own sigmas.
//   hv_samplefit_bench [bootstraps] [workers]
#include "samplefit/samplefit.h"

#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace ef = hv::samplefit;

double ThreadSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

std::vector<ef::Point> MgO(int n)
{
    hv::eos::Params p;
    p.isotherm = hv::eos::Isotherm::BM3;
    p.v0 = 74.7;
    p.k0 = 160;
    p.k0p = 4;
    std::mt19937_64 rng(1);
    std::normal_distribution<double> g(0, 1);
    std::vector<ef::Point> pts;
    for (int i = 0; i < n; ++i) {
        ef::Point q;
        q.v = 74.7 * (1 - 0.25 * i / (n - 1));
        q.p = hv::eos::IsothermPressure(p, q.v) + 0.1 * g(rng);
        q.v += 0.02 * g(rng);
        q.sigmaP = 0.1;
        q.sigmaV = 0.02;
        q.line = i + 2;
        pts.push_back(q);
    }
    return pts;
}

}  // namespace

int main(int argc, char** argv)
{
    const int boots = argc > 1 ? std::atoi(argv[1]) : 10000;
    const unsigned hw = std::thread::hardware_concurrency();
    const int workers = argc > 2 ? std::atoi(argv[2]) : static_cast<int>(hw ? hw : 1);
    if (boots < 1 || workers < 1) {
        std::fprintf(stderr, "usage: hv_samplefit_bench [bootstraps] [workers]\n");
        return 2;
    }
    const std::vector<ef::Point> pts = MgO(50);
    const ef::Options o;

    constexpr int kRepeats = 2000;
    ef::Result r;
    const double t0 = ThreadSeconds();
    for (int i = 0; i < kRepeats; ++i) r = ef::Fit(pts, o);
    const double perFit = (ThreadSeconds() - t0) / kRepeats;
    if (!r.ok) {
        std::fprintf(stderr, "the fit failed: %s\n", r.message.c_str());
        return 1;
    }
    std::printf("BM3 fit of 50 points: %.1f us per fit (%d rounds of weights)\n", perFit * 1e6, r.iterations);

    // Each resample starts from the whole set's solution, as a bootstrap would.
    ef::Options from = o;
    for (int j = 0; j < 3; ++j) from.start[static_cast<std::size_t>(j)] = r.value[static_cast<std::size_t>(j)];
    std::atomic<int> next{0}, failed{0};
    std::vector<std::array<double, 3>> values(static_cast<std::size_t>(boots));
    const auto start = std::chrono::steady_clock::now();
    std::vector<std::thread> threads;
    for (int w = 0; w < workers; ++w) {
        threads.emplace_back([&, w] {
            std::mt19937_64 rng(1000 + static_cast<uint64_t>(w));
            std::uniform_int_distribution<std::size_t> pick(0, pts.size() - 1);
            std::vector<ef::Point> sample(pts.size());
            for (int k; (k = next++) < boots;) {
                for (ef::Point& q : sample) q = pts[pick(rng)];
                const ef::Result b = ef::Fit(sample, from);
                if (!b.ok) {
                    ++failed;
                    values[static_cast<std::size_t>(k)].fill(NAN);
                    continue;
                }
                values[static_cast<std::size_t>(k)] = {b.value[ef::kV0], b.value[ef::kK0], b.value[ef::kK0p]};
            }
        });
    }
    for (std::thread& t : threads) t.join();
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%d bootstrap fits on %d workers: %.2f s wall, %d failed\n", boots, workers, wall, failed.load());
    for (int j = 0; j < 3; ++j) {
        double s = 0, s2 = 0;
        int n = 0;
        for (const auto& v : values) {
            if (std::isnan(v[static_cast<std::size_t>(j)])) continue;
            s += v[static_cast<std::size_t>(j)];
            s2 += v[static_cast<std::size_t>(j)] * v[static_cast<std::size_t>(j)];
            ++n;
        }
        const double mean = s / n, sd = std::sqrt(s2 / n - mean * mean);
        std::printf("  %-4s fit %.5g +/- %.3g, bootstrap sd %.3g\n", std::string(ef::ParamLabel(j)).c_str(),
                    r.value[static_cast<std::size_t>(j)], r.sigma[static_cast<std::size_t>(j)], sd);
    }
    return failed.load() == 0 ? 0 : 1;
}
