#!/usr/bin/env bash
# Throughput of octtool convert with many inputs: the same pictures converted
# with one worker thread (-j 1) and with two (-j 2), in one process each.
#
# The pictures are COUNT (default 16) files made by the project's own code:
# half of them copies of the 4096 × 4096 24-bit benchmark picture (written
# by oct_bench --make-picture), half of them that picture scaled to
# 2048 × 2048 by octtool resize (32 bits, so the alpha path runs too).
# With INPUT=jpeg they are JPEGs of quality 90 that Pillow saves from the
# 24-bit picture, half at 4096 × 4096 and half scaled by Pillow to
# 2048 × 2048 (2 × 2 box average), so that decoding runs on the threads too.
#
# Prints the median wall-clock time of RUNS runs (default 5) after one
# warm-up run each, measured with hyperfine when it is installed, else with a
# loop over date +%s%N; then pictures per second and the speed-up of -j 2.
# Usage: bench/many.sh   (COUNT=N RUNS=N INPUT=bmp|jpeg BENCH_RECORD=FILE in
# the environment; BENCH_RECORD: see bench_record in process_bench.sh)
set -euo pipefail
cd "$(dirname "$0")/.."

runs=${RUNS:-5}
count=${COUNT:-16}
input=${INPUT:-bmp}
case $input in
  bmp) ext=bmp ;;
  jpeg) ext=jpg ;;
  *) echo "many: INPUT must be bmp or jpeg, not '$input'" >&2; exit 2 ;;
esac
source bench/process_bench.sh
process_bench_start many
work=$scratch

"$build/oct_bench" --make-picture "$work/big.bmp"
if [ "$input" = jpeg ]; then
  /usr/bin/python3 - "$work/big.bmp" "$work/big.jpg" "$work/small.jpg" <<'PY'
import sys
from PIL import Image
with Image.open(sys.argv[1]) as im:
    im.save(sys.argv[2], quality=90)
    im.resize((im.width // 2, im.height // 2), Image.BOX).save(sys.argv[3], quality=90)
PY
  kinds="4096 x 4096 JPEG, $((count / 2)) of 2048 x 2048 JPEG (quality 90)"
else
  "$tool" resize 2048x2048 "$work/big.bmp" "$work/small.bmp"
  kinds="4096 x 4096 x 24 bits, $((count / 2)) of 2048 x 2048 x 32 bits"
fi
mkdir -p "$work/in" "$work/out"
pictures=()
for ((i = 0; i < count; i++)); do
  if ((i % 2 == 0)); then src=big; else src=small; fi
  cp "$work/$src.$ext" "$work/in/$src-$i.$ext"
  pictures+=("$work/in/$src-$i.$ext")
done
rm -f "$work"/big.* "$work"/small.*
input_mb=$(du -sm "$work/in" | cut -f1)


echo "pictures: $count ($((count - count / 2)) of $kinds; ${input_mb} MB)"
echo "$runs runs each, median; timer: $(median_timer); $(nproc) cores"
echo "load before: $(uptime | sed 's/.*load average: //')"
printf '%-8s %10s %12s %9s\n' threads "median ms" pictures/s speed-up
base=0
for threads in 1 2; do
  ms=$(median_ms "'$tool' convert -j $threads -o '$work/out' ${pictures[*]}" "$work")
  [ "$threads" -eq 1 ] && base=$ms
  awk -v t="$threads" -v ms="$ms" -v n="$count" -v b="$base" \
    'BEGIN { printf "%-8s %10d %12.2f %9.2f\n", "-j " t, ms, n * 1000 / ms, b / ms }'
  bench_record bench=many input="$input" count="$count" threads="$threads" median_ms="$ms" \
    runs="$runs" timer="$(median_timer)" input_mb="$input_mb"
done
echo "load after:  $(uptime | sed 's/.*load average: //')"
