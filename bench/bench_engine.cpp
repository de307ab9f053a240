#include "core/scales.h"
#include "engine/clsKolvane.h"

#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>
#include <string>

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

// A published scale's pressure in double precision: Au:Fei2007 (Vinet and Mie-Grueneisen-
// Debye), Au:Anderson1989 (third-order Birch-Murnaghan, linear in T), MgO:Speziale2001 (its
// Debye temperature from the exponential integral). Arguments: the scale's row and V/V0 in
// thousandths, at 1000 K.
void BM_PublishedScale(benchmark::State& state)
{
    const hv::eos::Params& p = *hv::AllStandards()[static_cast<std::size_t>(state.range(0))].eos;
    double v = p.v0 * static_cast<double>(state.range(1)) / 1000;
    double t = 1000;
    for (auto _ : state) {
        benchmark::DoNotOptimize(v);
        benchmark::DoNotOptimize(t);
        double pressure = hv::eos::Pressure(p, v, t);
        benchmark::DoNotOptimize(pressure);
    }
    state.SetLabel(std::string(hv::AllStandards()[static_cast<std::size_t>(state.range(0))].name));
}
BENCHMARK(BM_PublishedScale)
    ->ArgNames({"row", "v_milli"})
    ->Args({3, 1000})->Args({3, 800})->Args({4, 1000})->Args({4, 800})->Args({8, 800});

// The inverse: the volume of 50 GPa at 1000 K on Au:Fei2007.
void BM_PublishedVolumeAt(benchmark::State& state)
{
    const hv::eos::Params& p = *hv::AllStandards()[3].eos;
    double pressure = 50, t = 1000;
    for (auto _ : state) {
        benchmark::DoNotOptimize(pressure);
        double v = hv::eos::VolumeAt(p, pressure, t);
        benchmark::DoNotOptimize(v);
    }
}
BENCHMARK(BM_PublishedVolumeAt);

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
