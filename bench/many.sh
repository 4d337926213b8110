#!/usr/bin/env bash
# Throughput of octtool convert with many inputs: the same pictures converted
# with one worker thread (-j 1) and with two (-j 2), in one process each.
#
# The pictures are COUNT (default 16) files made by the project's own code:
# half of them copies of the 4096 × 4096 24-bit benchmark picture (written
# by oct_bench --make-picture), half of them that picture scaled to
# 2048 × 2048 by octtool resize (32 bits, so the alpha path runs too).
#
# Prints the median wall-clock time of RUNS runs (default 5) after one
# warm-up run each, measured with hyperfine when it is installed, else with a
# loop over date +%s%N; then pictures per second and the speed-up of -j 2.
# Usage: bench/many.sh   (COUNT=N RUNS=N in the environment)
set -euo pipefail
cd "$(dirname "$0")/.."

runs=${RUNS:-5}
count=${COUNT:-16}
source bench/process_bench.sh
process_bench_start many
work=$scratch

"$build/oct_bench" --make-picture "$work/big.bmp"
"$tool" resize 2048x2048 "$work/big.bmp" "$work/small.bmp"
mkdir -p "$work/in" "$work/out"
pictures=()
for ((i = 0; i < count; i++)); do
  if ((i % 2 == 0)); then src=big; else src=small; fi
  cp "$work/$src.bmp" "$work/in/$src-$i.bmp"
  pictures+=("$work/in/$src-$i.bmp")
done
rm "$work/big.bmp" "$work/small.bmp"
input_mb=$(du -sm "$work/in" | cut -f1)


echo "pictures: $count ($((count - count / 2)) of 4096 x 4096 x 24 bits, $((count / 2)) of 2048 x 2048 x 32 bits; ${input_mb} MB)"
echo "$runs runs each, median; timer: $(median_timer); $(nproc) cores"
echo "load before: $(uptime | sed 's/.*load average: //')"
printf '%-8s %10s %12s %9s\n' threads "median ms" pictures/s speed-up
base=0
for threads in 1 2; do
  ms=$(median_ms "'$tool' convert -j $threads -o '$work/out' ${pictures[*]}" "$work")
  [ "$threads" -eq 1 ] && base=$ms
  awk -v t="$threads" -v ms="$ms" -v n="$count" -v b="$base" \
    'BEGIN { printf "%-8s %10d %12.2f %9.2f\n", "-j " t, ms, n * 1000 / ms, b / ms }'
done
echo "load after:  $(uptime | sed 's/.*load average: //')"
