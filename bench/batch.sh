#!/bin/sh
# The batch command on a million rows against the engine's own cost, its peak memory, a
# 1 GB line, and the pressure command from start to answer. By hand, on a quiet machine:
#   make bench-batch            (ROWS=... and RUNS=... to change the defaults)
set -eu
BUILD=${1:-build-bench}
ROWS=${ROWS:-1000000}
RUNS=${RUNS:-5}
CALC=$BUILD/cli/hivarnisse-calc
HELPER=$BUILD/bench/hv_batch_bench
DATA=$BUILD/bench/batch-$ROWS.csv
CORES=$(nproc)

[ -f "$DATA" ] || "$HELPER" generate "$ROWS" "$DATA"
NS=$("$HELPER" engine "$DATA")
NSALL=$("$HELPER" engine "$DATA" "$CORES")
echo "engine alone: $NS ns per call on one core; $NSALL ns per call on each of $CORES cores at once"
# The engine benchmark's own figures, for comparison (built by make bench).
if [ -x "$BUILD/bench/hv_bench" ]; then
    "$BUILD/bench/hv_bench" --benchmark_filter=BM_Kolvane --benchmark_min_time=0.2 2>/dev/null | grep BM_Kolvane || true
fi

# Wall seconds and peak resident kB of each run, sorted by time.
runs=""
i=0
while [ $i -lt "$RUNS" ]; do
    /usr/bin/time -f "%e %M" -o "$BUILD/bench/time.txt" "$CALC" batch "$DATA" >/dev/null
    runs="$runs$(cat "$BUILD/bench/time.txt")
"
    i=$((i + 1))
done
printf '%s' "$runs" | sort -n | awk -v rows="$ROWS" -v ns="$NS" -v nsall="$NSALL" -v cores="$CORES" '
    { t[NR] = $1; m[NR] = $2 }
    END {
        floor = rows * ns / cores / 1e9
        med = (NR % 2) ? t[(NR + 1) / 2] : (t[NR / 2] + t[NR / 2 + 1]) / 2
        peak = 0; for (i = 1; i <= NR; i++) if (m[i] > peak) peak = m[i]
        printf "batch of %d rows on %d cores: best %.3f s, median %.3f s (%d runs)\n", rows, cores, t[1], med, NR
        printf "rows x engine ns / cores = %.3f s: best %.2fx, median %.2fx (goal 0.6x)\n", floor, t[1] / floor, med / floor
        busy = rows * nsall / cores / 1e9
        printf "rows x engine ns with all cores busy / cores = %.3f s: best %.2fx, median %.2fx\n", busy, t[1] / busy, med / busy
        printf "peak memory %.1f MB\n", peak / 1024
    }'

# A single 1 GB line between two good rows: a message, and memory stays small.
{
    echo "standard,t_c,hkl,d"
    echo "NaCl,25,200,2.75"
    printf 'NaCl,25,200,'
    head -c 1000000000 /dev/zero | tr '\0' 9
    echo
    echo "NaCl,25,200,2.75"
} | /usr/bin/time -f "%e %M" -o "$BUILD/bench/time.txt" "$CALC" batch >"$BUILD/bench/long.csv" || true
# (time adds a line of its own for the exit status 1 that the bad row gives.)
awk 'NF == 2 { printf "1 GB line: %.2f s, peak memory %.1f MB; ", $1, $2 / 1024 }' "$BUILD/bench/time.txt"
sed -n 3p "$BUILD/bench/long.csv"

# pressure: process start to answer.
printf 'pressure, start to answer: '
"$HELPER" start "$CALC" pressure --standard NaCl --temperature 25 200:2.75
