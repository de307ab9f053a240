// Patterns in, pressures out, on every core: 1,000 generated NaCl patterns of 3,000 points
// with eight reflections each, written as .xy files, then read and fitted by one worker per
// core. Prints milliseconds per pattern per core (wall time x workers / patterns, and the
// workers' own CPU time, which the machine's other load does not inflate) and the share of
// that time spent reading.
//   hv_pattern_bench [patterns] [workers]
#include "pattern/pattern.h"
#include "tests/pattern_synth.h"

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

double ThreadSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

struct Tally {
    double readCpu = 0, fitCpu = 0;
    int done = 0, failed = 0;
    double worstZ = 0;
};

}  // namespace

int main(int argc, char** argv)
{
    const int patterns = argc > 1 ? std::atoi(argv[1]) : 1000;
    const unsigned hw = std::thread::hardware_concurrency();
    const int workers = argc > 2 ? std::atoi(argv[2]) : static_cast<int>(hw ? hw : 1);
    if (patterns < 1 || workers < 1) {
        std::fprintf(stderr, "usage: hv_pattern_bench [patterns] [workers]\n");
        return 2;
    }

    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("hv_pattern_bench_" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    std::vector<std::string> files;
    std::vector<double> truth;
    std::mt19937_64 random(1);
    // Rock-salt NaCl as the search takes it at 25 C: from 37.5 GPa (V/V0 0.615) to -0.5 GPa.
    std::uniform_real_distribution<double> volume(0.62, 1.02);
    for (int k = 0; k < patterns; ++k) {
        synth::Recipe r;
        r.a = 5.64 * std::cbrt(volume(random));
        r.seed = static_cast<uint64_t>(k) + 1;
        r.points = 3000;
        r.from = synth::BraggTwoTheta(r.a / std::sqrt(3.0), r.wavelength) - 1.5;
        r.to = synth::BraggTwoTheta(r.a / std::sqrt(20.0), r.wavelength) + 0.8;
        const synth::Generated g = synth::Make(r);
        files.push_back((dir / ("p" + std::to_string(k) + ".xy")).string());
        std::ofstream(files.back()) << synth::WriteXy(g, r.wavelength);
        truth.push_back(r.a);
    }

    hv::pattern::Options options;
    options.standard = hv::FindStandard("NaCl");
    options.tCelsius = 25;
    std::atomic<int> next{0};
    std::vector<Tally> tallies(static_cast<std::size_t>(workers));
    const auto start = std::chrono::steady_clock::now();
    std::vector<std::thread> threads;
    for (int t = 0; t < workers; ++t) {
        threads.emplace_back([&, t] {
            Tally& tally = tallies[static_cast<std::size_t>(t)];
            for (int k; (k = next.fetch_add(1)) < patterns;) {
                const double t0 = ThreadSeconds();
                const hv::pattern::ReadOutcome read = hv::pattern::ReadFile(files[static_cast<std::size_t>(k)]);
                const double t1 = ThreadSeconds();
                const hv::pattern::Outcome out = hv::pattern::FitPattern(read.pattern, options);
                const double t2 = ThreadSeconds();
                tally.readCpu += t1 - t0;
                tally.fitCpu += t2 - t1;
                ++tally.done;
                if (!read.ok || out.result.status == hv::Status::Error) {
                    ++tally.failed;
                    continue;
                }
                const double z = std::fabs(out.result.a - truth[static_cast<std::size_t>(k)]) / out.result.sigmaA;
                tally.worstZ = std::max(tally.worstZ, z);
            }
        });
    }
    for (std::thread& t : threads) t.join();
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::filesystem::remove_all(dir);

    Tally sum;
    for (const Tally& t : tallies) {
        sum.readCpu += t.readCpu;
        sum.fitCpu += t.fitCpu;
        sum.done += t.done;
        sum.failed += t.failed;
        sum.worstZ = std::max(sum.worstZ, t.worstZ);
    }
    const double cpu = sum.readCpu + sum.fitCpu;
    std::printf("%d patterns of 3000 points, 8 reflections, %d workers on %u cores\n", patterns, workers, hw);
    std::printf("wall %.3f s: %.3f ms per pattern per core\n", wall, wall * workers / patterns * 1e3);
    std::printf("cpu  %.3f s: %.3f ms per pattern (read %.3f ms, fit %.3f ms)\n", cpu, cpu / patterns * 1e3,
                sum.readCpu / patterns * 1e3, sum.fitCpu / patterns * 1e3);
    std::printf("reading: %.1f %% of the time\n", 100 * sum.readCpu / cpu);
    std::printf("failed: %d, largest |a_fit - a_true| / sigma_a: %.2f\n", sum.failed, sum.worstZ);
    return sum.failed ? 1 : 0;
}
