#include "engine/clsKolvane.h"

#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>

namespace {

// One pressure evaluation: the static terms, one Debye function and its quadrature.
// Arguments: standard code and VDIFF in thousandths.
void BM_Kolvane(benchmark::State& state)
{
    const clsKolvane engine;
    const int16_t istd = static_cast<int16_t>(state.range(0));
    float tcel = 25;
    float vdiff = static_cast<float>(state.range(1)) / 1000;
    float p = 0;
    int16_t ierr = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(tcel);
        benchmark::DoNotOptimize(vdiff);
        engine.Kolvane(istd, tcel, vdiff, p, ierr);
        benchmark::DoNotOptimize(p);
        benchmark::DoNotOptimize(ierr);
    }
}
BENCHMARK(BM_Kolvane)
    ->ArgNames({"istd", "vdiff_milli"})
    ->Args({1, 0})->Args({1, -100})->Args({1, -300})
    ->Args({3, 0})->Args({3, -100})->Args({3, -300});

// The same pressures with the 10-point rule's roots formed once per process.
void BM_FastKolvane(benchmark::State& state)
{
    const int16_t istd = static_cast<int16_t>(state.range(0));
    float tcel = 25;
    float vdiff = static_cast<float>(state.range(1)) / 1000;
    float p = 0;
    int16_t ierr = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(tcel);
        benchmark::DoNotOptimize(vdiff);
        kolvane_model::FastKolvane(istd, tcel, vdiff, p, ierr);
        benchmark::DoNotOptimize(p);
        benchmark::DoNotOptimize(ierr);
    }
}
BENCHMARK(BM_FastKolvane)
    ->ArgNames({"istd", "vdiff_milli"})
    ->Args({1, 0})->Args({1, -100})->Args({1, -300})
    ->Args({3, 0})->Args({3, -100})->Args({3, -300});

// The quadrature regime (1e-5 < TNORM < 20): one rule of ten points, ten integrands.
void BM_Debye(benchmark::State& state)
{
    const clsKolvane engine;
    double tnorm = 0.936;
    double f = 0;
    int16_t ierr = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(tnorm);
        engine.DEBYE(tnorm, f, ierr);
        benchmark::DoNotOptimize(f);
        benchmark::DoNotOptimize(ierr);
    }
}
BENCHMARK(BM_Debye);

void BM_Gauleg10(benchmark::State& state)
{
    const clsKolvane engine;
    std::array<double, 11> x{}, w{};
    double x1 = 0, x2 = 1;
    const int16_t n = 10;
    for (auto _ : state) {
        benchmark::DoNotOptimize(x1);
        benchmark::DoNotOptimize(x2);
        engine.GAULEG(x1, x2, x, w, n);
        benchmark::DoNotOptimize(x.data());
        benchmark::DoNotOptimize(w.data());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_Gauleg10);

}  // namespace
