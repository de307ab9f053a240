"""By hand, not in CI: hivarnisse.pressure on 1,000,000 points against the engine's own cost.

    sh setup.sh bench && make bench-python

The goal: the whole array in at most 0.6x (points x the engine's ns per call / cores), that
is faster than Kolvane alone on every core. The engine's ns per call comes from Google
Benchmark's BM_Kolvane (hv_bench), run in the same session, before and after, or from
--engine-ns (bench/fast.sh passes its own). Run it on an idle machine: check that no compiler
is running.
"""
import argparse
import json
import os
import statistics
import subprocess
import time

import numpy as np

import hivarnisse

GOAL = 0.6


def engine_ns(hv_bench):
    """Median ns per Kolvane call of NaCl at V/V0 0.9, the middle of the arrays below."""
    out = subprocess.run([hv_bench, "--benchmark_filter=BM_Kolvane/istd:1/vdiff_milli:-100$",
                          "--benchmark_repetitions=5", "--benchmark_format=json"],
                         check=True, capture_output=True, text=True).stdout
    runs = [b["real_time"] for b in json.loads(out)["benchmarks"] if b.get("run_type") == "iteration"]
    return statistics.median(runs)


def timed(repeats, call):
    """Best and median wall time, and the least CPU time of all threads, in seconds."""
    times, cpu = [], []
    for _ in range(repeats):
        start, start_cpu = time.perf_counter(), time.process_time()
        call()
        times.append(time.perf_counter() - start)
        cpu.append(time.process_time() - start_cpu)
    return min(times), statistics.median(times), min(cpu)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--hv-bench", help="path of hv_bench (Google Benchmark of the engine)")
    parser.add_argument("--engine-ns", type=float, help="Kolvane's ns per call, measured elsewhere")
    parser.add_argument("--repeats", type=int, default=7)
    parser.add_argument("--points", type=int, default=1_000_000)
    args = parser.parse_args()
    if (args.hv_bench is None) == (args.engine_ns is None):
        parser.error("give one of --hv-bench and --engine-ns")
    points = args.points

    cores = os.cpu_count()
    rng = np.random.default_rng(1)
    # NaCl 200 from ambient to about 8 GPa at 15-35 C: every point takes the quadrature path.
    d = rng.uniform(2.66, 2.82, points)
    t = rng.uniform(15, 35, points)
    hkl = rng.choice(["200", "2 0 0", "220", "111"], points)
    d_mixed = d * 2 / np.sqrt(np.where(hkl == "220", 8, np.where(hkl == "111", 3, 4)))
    cases = {
        "one reflection": lambda: hivarnisse.pressure("NaCl", t, "200", d),
        "four hkl texts": lambda: hivarnisse.pressure("NaCl", t, hkl, d_mixed),
    }

    before = engine_ns(args.hv_bench) if args.hv_bench else args.engine_ns
    results = {name: timed(args.repeats, call) for name, call in cases.items()}
    after = engine_ns(args.hv_bench) if args.hv_bench else args.engine_ns
    ns = min(before, after)
    goal = points * ns * 1e-9 / cores
    print(f"engine: {before:.0f} ns per call before, {after:.0f} after; using {ns:.0f}")
    print(f"Python module, {points:,} points on {cores} cores, against {points:,} x {ns:.0f} ns / {cores} = {goal:.3f} s"
          f" (goal: {GOAL}x or less, {GOAL * goal:.3f} s)")
    # CPU time does not depend on what else the machine runs: against points x ns it shows the
    # module's own cost per point; wall time shows how well the cores were used as well.
    for name, (best, median, cpu) in results.items():
        print(f"{name:15s} best {best:.3f} s ({best / goal:.2f}x), median {median:.3f} s ({median / goal:.2f}x);"
              f" CPU {cpu:.3f} s = {cpu / (points * ns * 1e-9):.2f}x points x engine ns")
    r = hivarnisse.pressure("NaCl", t, hkl, d_mixed)
    print("statuses:", dict(zip(*np.unique(r.status, return_counts=True))))
    # With sigma_d every point also takes four model evaluations for the slopes: for information.
    best, median, _ = timed(3, lambda: hivarnisse.pressure("NaCl", t, "200", d, sigma_d=0.001, sigma_t=2))
    print(f"with sigmas     best {best:.3f} s, median {median:.3f} s")


if __name__ == "__main__":
    main()
