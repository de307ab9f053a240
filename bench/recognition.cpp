// How often the pattern library finds a standard in diamond-anvil-cell patterns, and how
// often it gives a pressure it should not. For every standard the generator knows: positives
// (the standard injected at a known lattice parameter over its pressure range, among other
// phases, backgrounds, texture, spikes and detector gaps) and negatives (the same patterns
// without it). Each pattern is written as .xy text, read back and fitted; prints per
// standard
//   recovered: ok or warning with a within max(3 sigma_a, 5e-4 A) of the truth (goal >= 95 %),
//     also among the positives whose standard shows 3 or more clear reflections (5 times the
//     noise, in no gap, no other phase's line a quarter as high within two widths)
//   wrong: a pressure given with a off by more than max(5 sigma_a, 2e-3 A) (goal 0)
//   negatives with a pressure (goal 0)
//   ms per pattern per core, and the share of it spent reading.
//   hv_recognition [patterns per class, 300] [workers, one per core] [standard]
//   hv_recognition N W "" dump       also a tab-separated line per pattern (DUMP, standard,
//                                    pos/neg, seed, verdict, status, used, fom, strongest, a,
//                                    true a, true P, message, clear reflections)
//   hv_recognition N W "" guess      each searched near a pressure 1 GPa off its truth, as
//                                    --follow searches near a neighbour's ("guess,dump": both)
//   hv_recognition 1 1 STANDARD write SEED   that seed's positive and negative as .xy files
//                                    here, with the truth and the crowd
#include "pattern/pattern.h"
#include "tests/dac_synth.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

double ThreadSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

struct Tally {
    int positives = 0, negatives = 0;
    int recovered = 0, wrong = 0, wrongOk = 0, refused = 0;
    int clear = 0, recoveredClear = 0;  // positives with 3 or more clear reflections, and found
    int falsePressure = 0, falseOk = 0, falseWithMimic = 0;
    int mimicNegatives = 0;
    double readSeconds = 0, fitSeconds = 0;
    std::vector<std::string> examples;  // the first few failures, for whoever improves the search
};

bool GavePressure(const hv::Result& r) { return r.status != hv::Status::Error && std::isfinite(r.pGpa); }

bool dump = false;
std::string dumpName;

void Judge(const dacsynth::Made& made, const hv::pattern::Outcome& out, Tally& t, uint64_t seed)
{
    if (dump) {
        const hv::Result& r = out.result;
        const double off = std::fabs(r.a - made.truth.a);
        const char* verdict = !GavePressure(r)                               ? "none"
                              : !made.truth.present                          ? "false"
                              : off <= std::max(3 * r.sigmaA, 5e-4)          ? "right"
                              : off <= std::max(5 * r.sigmaA, 2e-3)          ? "near"
                                                                             : "wrong";
        std::printf("DUMP\t%s\t%s\t%llu\t%s\t%s\t%d\t%.3g\t%d/%d\t%.4f\t%.4f\t%.1f\t%s\t%d\n",
                    dumpName.c_str(), made.truth.present ? "pos" : "neg", static_cast<unsigned long long>(seed), verdict,
                    std::string(hv::StatusName(r.status)).c_str(), r.peaks, out.fom, out.strongFound,
                    out.strongExpected, r.a, made.truth.a, made.truth.pGpa, r.message.c_str(), made.truth.clearLines);
    }
    const hv::Result& r = out.result;
    const dacsynth::Truth& truth = made.truth;
    char line[512];
    if (truth.present) {
        ++t.positives;
        const double off = std::fabs(r.a - truth.a);
        const bool given = GavePressure(r);
        const bool found = given && off <= std::max(3 * r.sigmaA, 5e-4);
        t.recovered += found;
        if (truth.clearLines >= 3) {
            ++t.clear;
            t.recoveredClear += found;
        }
        if (!given) ++t.refused;
        if (given && !(off <= std::max(5 * r.sigmaA, 2e-3))) {
            ++t.wrong;
            t.wrongOk += r.status == hv::Status::Ok;
            std::snprintf(line, sizeof line, "  seed %llu positive: %s a %.5f +- %.5f, truth %.5f (%.1f GPa, %.0f C), fom %.2f",
                          static_cast<unsigned long long>(seed), std::string(hv::StatusName(r.status)).c_str(), r.a,
                          r.sigmaA, truth.a, truth.pGpa, truth.tCelsius, out.fom);
            if (t.examples.size() < 6) t.examples.emplace_back(line);
        }
    } else {
        ++t.negatives;
        t.mimicNegatives += truth.mimic;
        if (GavePressure(r)) {
            ++t.falsePressure;
            t.falseOk += r.status == hv::Status::Ok;
            t.falseWithMimic += truth.mimic;
            std::snprintf(line, sizeof line, "  seed %llu negative: %s a %.5f, %.2f GPa from %d reflections, fom %.2f%s",
                          static_cast<unsigned long long>(seed), std::string(hv::StatusName(r.status)).c_str(), r.a,
                          static_cast<double>(r.pGpa), r.peaks, out.fom, truth.mimic ? " (a mimic lattice is present)" : "");
            if (t.examples.size() < 6) t.examples.emplace_back(line);
        }
    }
}

double Percent(int part, int whole) { return whole ? 100.0 * part / whole : 0; }

}  // namespace

int main(int argc, char** argv)
{
    const int count = argc > 1 ? std::atoi(argv[1]) : 300;
    const unsigned hw = std::thread::hardware_concurrency();
    const int workers = argc > 2 ? std::atoi(argv[2]) : static_cast<int>(hw ? hw : 1);
    const std::string only = argc > 3 ? argv[3] : "";
    dump = argc > 4 && std::string(argv[4]).find("dump") != std::string::npos;
    // "guess": each pattern searched near a pressure 1 GPa off its own, as --follow searches a
    // series' file near its neighbour's.
    const bool guess = argc > 4 && std::string(argv[4]).find("guess") != std::string::npos;
    if (count < 1 || workers < 1) {
        std::fprintf(stderr, "usage: hv_recognition [patterns per class] [workers] [standard]\n");
        return 2;
    }
    // "write SEED": the positive and the negative of that seed as .xy files, to look at.
    if (argc > 5 && std::string(argv[4]) == "write") {
        for (const hv::Standard& standard : hv::AllStandards()) {
            if (standard.name != only) continue;
            for (const bool positive : {true, false}) {
                dacsynth::Recipe recipe;
                recipe.standard = &standard;
                recipe.positive = positive;
                recipe.seed = std::strtoull(argv[5], nullptr, 10);
                const dacsynth::Made made = dacsynth::Make(recipe);
                const std::string path = "generated-" + std::string(argv[5]) + (positive ? "-positive" : "-negative") + ".xy";
                if (std::FILE* f = std::fopen(path.c_str(), "w")) {
                    const std::string text = dacsynth::WriteXy(made.pattern);
                    std::fwrite(text.data(), 1, text.size(), f);
                    std::fclose(f);
                }
                std::printf("%s: truth a %.5f at %.2f GPa and %.0f C; crowd:", path.c_str(), made.truth.a,
                            made.truth.pGpa, made.truth.tCelsius);
                for (const std::string& c : made.truth.crowd) std::printf(" %s;", c.c_str());
                std::printf("\n");
                for (const dacsynth::Line& l : made.truth.standardLines) {
                    std::printf("  %d%d%d at %.4f: intensity %.4g\n", l.h, l.k, l.l, l.twoTheta, l.intensity);
                }
            }
        }
        return 0;
    }
    std::printf("%d positives and %d negatives per standard, %d workers\n", count, count, workers);
    for (const hv::Standard& standard : hv::AllStandards()) {
        if (!dacsynth::Knows(standard) || (!only.empty() && standard.name != only)) continue;
        dumpName = standard.name;
        std::atomic<int> next{0};
        std::mutex m;
        Tally sum;
        std::vector<std::thread> threads;
        for (int w = 0; w < workers; ++w) {
            threads.emplace_back([&] {
                Tally t;
                for (int k; (k = next.fetch_add(1)) < 2 * count;) {
                    dacsynth::Recipe recipe;
                    recipe.standard = &standard;
                    recipe.positive = k % 2 == 0;
                    recipe.seed = static_cast<uint64_t>(k / 2) + 1;
                    const dacsynth::Made made = dacsynth::Make(recipe);
                    const std::string text = dacsynth::WriteXy(made.pattern);
                    const double t0 = ThreadSeconds();
                    const hv::pattern::ReadOutcome read = hv::pattern::ReadText(text, "generated.xy");
                    const double t1 = ThreadSeconds();
                    hv::pattern::Options options;
                    options.standard = &standard;
                    options.tCelsius = static_cast<float>(made.truth.tCelsius);
                    if (guess) options.pressureGuess = made.truth.pGpa + 1;
                    hv::pattern::Outcome out;
                    if (read.ok) {
                        out = hv::pattern::FitPattern(read.pattern, options);
                    } else {
                        out.result.message = read.error;
                    }
                    const double t2 = ThreadSeconds();
                    t.readSeconds += t1 - t0;
                    t.fitSeconds += t2 - t1;
                    Judge(made, out, t, recipe.seed);
                }
                const std::lock_guard lock(m);
                sum.positives += t.positives;
                sum.negatives += t.negatives;
                sum.recovered += t.recovered;
                sum.clear += t.clear;
                sum.recoveredClear += t.recoveredClear;
                sum.wrong += t.wrong;
                sum.wrongOk += t.wrongOk;
                sum.refused += t.refused;
                sum.falsePressure += t.falsePressure;
                sum.falseOk += t.falseOk;
                sum.falseWithMimic += t.falseWithMimic;
                sum.mimicNegatives += t.mimicNegatives;
                sum.readSeconds += t.readSeconds;
                sum.fitSeconds += t.fitSeconds;
                for (std::string& e : t.examples) {
                    if (sum.examples.size() < 6) sum.examples.push_back(std::move(e));
                }
            });
        }
        for (std::thread& t : threads) t.join();
        const double seconds = sum.readSeconds + sum.fitSeconds;
        const int patterns = sum.positives + sum.negatives;
        std::printf("%s, %g-%g GPa:\n", std::string(standard.name).c_str(), dacsynth::Pressures(standard).lo,
                    dacsynth::Pressures(standard).hi);
        std::printf("  recovered within max(3 sigma_a, 5e-4 A): %d of %d, %.1f %% (goal >= 95 %%); %d refused\n",
                    sum.recovered, sum.positives, Percent(sum.recovered, sum.positives), sum.refused);
        std::printf("  of the %d positives with 3 or more clear reflections apart from other peaks: %.1f %% recovered\n",
                    sum.clear, Percent(sum.recoveredClear, sum.clear));
        std::printf("  wrong with a pressure, a off > max(5 sigma_a, 2e-3 A): %d (%d of them ok) (goal 0)\n", sum.wrong,
                    sum.wrongOk);
        std::printf("  negatives with a pressure: %d of %d (%d of them ok; %d with a mimic lattice, which %d of the "
                    "negatives hold) (goal 0)\n",
                    sum.falsePressure, sum.negatives, sum.falseOk, sum.falseWithMimic, sum.mimicNegatives);
        std::printf("  %.3f ms per pattern per core, reading %.1f %% of it\n", seconds / patterns * 1e3,
                    Percent(1, 1) * sum.readSeconds / seconds);
        std::sort(sum.examples.begin(), sum.examples.end());
        for (const std::string& e : sum.examples) std::printf("%s\n", e.c_str());
    }
    return 0;
}
