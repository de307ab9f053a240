// Helper of bench/batch.sh. "generate N FILE" writes a batch input of N rows; "engine FILE"
// times the engine alone over that file's rows, single-threaded, and prints ns per call:
// the floor that the batch command's cost per row is held against; with THREADS, the mean ns
// per call of that many copies running at once. "fast FILE [THREADS]" does the same for
// FastKolvane, the engine with its quadrature's roots formed once. "start PROGRAM ARGS..."
// times a program from start to exit.
#include "core/numbers.h"
#include "core/pressure.h"
#include "core/standards.h"
#include "engine/clsKolvane.h"

#include <spawn.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

int Generate(long rows, const char* path)
{
    std::FILE* f = std::fopen(path, "w");
    if (!f) return 1;
    std::fputs("standard,t_c,hkl,d\n", f);
    unsigned x = 12345;
    for (long i = 0; i < rows; ++i) {
        x = x * 1103515245u + 12345u;
        const double u = (x >> 8) / 16777216.0;
        const int t = 20 + static_cast<int>(i % 280);
        // Spacings from ambient to about 25 GPa, on the reflections people measure.
        if (i % 2) {
            std::fprintf(f, "NaCl,%d,%s,%.5f\n", t, i % 4 == 1 ? "200" : "220", (i % 4 == 1 ? 2.5 : 1.77) + u * 0.3);
        } else {
            std::fprintf(f, "CsCl,%d,%s,%.5f\n", t, i % 4 == 0 ? "110" : "211", (i % 4 == 0 ? 2.6 : 1.5) + u * 0.3);
        }
    }
    return std::fclose(f) == 0 ? 0 : 1;
}

struct Call {
    int16_t code;
    float t, vdiff;
};

int Engine(const char* path, int threads, bool fast)
{
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    std::vector<Call> calls;
    while (std::getline(in, line)) {
        std::stringstream s(line);
        std::string standard, t, hkl, d;
        std::getline(s, standard, ',');
        std::getline(s, t, ',');
        std::getline(s, hkl, ',');
        std::getline(s, d, ',');
        const hv::Standard* st = hv::FindStandard(standard);
        std::string why;
        float tc = 0;
        double dv = 0;
        const auto r = st ? hv::ParseReflection(hkl, *st, why) : std::nullopt;
        Call c{};
        if (!r || !hv::ParseTemperature(t, tc, why) || !hv::ParseNumber(d, dv, why) ||
            !hv::RelativeVolume(hv::LatticeParameter(static_cast<float>(dv), r->n), st->a0, c.vdiff)) {
            continue;
        }
        c.code = st->code;
        c.t = tc;
        calls.push_back(c);
    }
    if (calls.empty()) return 1;
    // One copy of the loop on each of `threads` cores at once: what the machine gives when
    // every core runs the engine, beside what one core alone gives.
    const auto time = [&calls, fast] {
        const clsKolvane engine;
        double best = 1e300;
        volatile float sink = 0;
        for (int round = 0; round < 3; ++round) {
            const auto start = std::chrono::steady_clock::now();
            for (const Call& c : calls) {
                float p = 0;
                int16_t status = 0;
                if (fast) {
                    kolvane_model::FastKolvane(c.code, c.t, c.vdiff, p, status);
                } else {
                    engine.Kolvane(c.code, c.t, c.vdiff, p, status);
                }
                sink = sink + p;
            }
            const std::chrono::duration<double, std::nano> took = std::chrono::steady_clock::now() - start;
            best = std::min(best, took.count() / static_cast<double>(calls.size()));
        }
        return best;
    };
    std::vector<double> each(static_cast<std::size_t>(threads));
    std::vector<std::thread> pool;
    for (int i = 0; i < threads; ++i) pool.emplace_back([&, i] { each[static_cast<std::size_t>(i)] = time(); });
    for (auto& t : pool) t.join();
    double best = 0;
    for (double ns : each) best += ns / threads;
    std::printf("%.1f\n", best);
    return 0;
}

// Runs a program 100 times, standard output to /dev/null: process start to exit, in ms.
int Start(char** argv)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    std::vector<double> ms;
    for (int i = 0; i < 100; ++i) {
        const auto start = std::chrono::steady_clock::now();
        pid_t pid = 0;
        if (posix_spawn(&pid, argv[0], &actions, nullptr, argv, environ) != 0) return 1;
        int status = 0;
        waitpid(pid, &status, 0);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return 1;
        ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(ms.begin(), ms.end());
    std::printf("best %.2f ms, median %.2f ms (100 runs)\n", ms.front(), (ms[49] + ms[50]) / 2);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    const std::string what = argc > 1 ? argv[1] : "";
    if (what == "generate" && argc == 4) return Generate(std::atol(argv[2]), argv[3]);
    if ((what == "engine" || what == "fast") && (argc == 3 || argc == 4)) {
        return Engine(argv[2], argc == 4 ? std::max(1, std::atoi(argv[3])) : 1, what == "fast");
    }
    if (what == "start" && argc > 2) return Start(argv + 2);
    std::fprintf(stderr,
                 "usage: hv_batch_bench generate ROWS FILE | engine FILE [THREADS] | fast FILE [THREADS] | start PROGRAM "
                 "ARGS...\n");
    return 2;
}
