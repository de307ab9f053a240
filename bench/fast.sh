#!/bin/sh
# In one run: Kolvane's ns per call and FastKolvane's over the same million rows, then
# hivarnisse-calc batch on those rows on every core and the Python module on a million points,
# each against rows x Kolvane's ns / cores (the goal: 0.6 or less). By hand, on a quiet machine:
#   make bench-fast            (ROWS=..., RUNS=... to change the defaults)
# Wall times suffer from anything else the machine runs; the CPU times beside them (all
# threads, against rows x Kolvane's ns) do not.
set -eu
BUILD=${1:-build-bench}
ROWS=${ROWS:-1000000}
RUNS=${RUNS:-7}
PYTHON=${PYTHON:-/usr/bin/python3}
CALC=$BUILD/cli/hivarnisse-calc
HELPER=$BUILD/bench/hv_batch_bench
DATA=$BUILD/bench/batch-$ROWS.csv
CORES=$(nproc)

[ -f "$DATA" ] || "$HELPER" generate "$ROWS" "$DATA"
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg) on $CORES cores"

# Before and after everything else; the smaller of the two makes the stricter floor.
NS1=$("$HELPER" engine "$DATA")
FAST1=$("$HELPER" fast "$DATA")

runs=""
i=0
while [ $i -lt "$RUNS" ]; do
    /usr/bin/time -f "%e %U %S" -o "$BUILD/bench/time.txt" "$CALC" batch "$DATA" >/dev/null
    runs="$runs$(cat "$BUILD/bench/time.txt")
"
    i=$((i + 1))
done

NS2=$("$HELPER" engine "$DATA")
FAST2=$("$HELPER" fast "$DATA")
NS=$(echo "$NS1 $NS2" | awk '{ print ($1 < $2) ? $1 : $2 }')
FAST=$(echo "$FAST1 $FAST2" | awk '{ print ($1 < $2) ? $1 : $2 }')

echo "Kolvane: $NS1 ns per call before, $NS2 after; FastKolvane: $FAST1 before, $FAST2 after (one core, the file's rows)"
echo "$NS $FAST" | awk '{ printf "FastKolvane is %.1fx faster than Kolvane (goal: 4x or more)\n", $1 / $2 }'

printf '%s' "$runs" | sort -n | awk -v rows="$ROWS" -v ns="$NS" -v cores="$CORES" '
    { t[NR] = $1; cpu[NR] = $2 + $3 }
    END {
        floor = rows * ns / cores / 1e9
        med = (NR % 2) ? t[(NR + 1) / 2] : (t[NR / 2] + t[NR / 2 + 1]) / 2
        least = cpu[1]; for (i = 2; i <= NR; i++) if (cpu[i] < least) least = cpu[i]
        printf "batch of %d rows on %d cores: best %.3f s, median %.3f s (%d runs)\n", rows, cores, t[1], med, NR
        printf "  against rows x Kolvane ns / cores = %.3f s: best %.2fx, median %.2fx (goal: 0.6x or less)\n",
               floor, t[1] / floor, med / floor
        printf "  CPU time of all threads, least %.3f s = %.2fx rows x Kolvane ns\n", least, least / (rows * ns / 1e9)
    }'

if PYTHONPATH=$BUILD/python "$PYTHON" -c "import hivarnisse" 2>/dev/null; then
    PYTHONPATH=$BUILD/python "$PYTHON" bench/bench_python.py --engine-ns "$NS" --repeats "$RUNS" --points "$ROWS"
else
    echo "Python module not built: configure with -DHV_PYTHON=ON"
fi
