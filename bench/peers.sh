#!/usr/bin/env bash
# Whole-process comparison on the 4096 × 4096 24-bit benchmark picture (the
# one oct_bench measures, written by oct_bench --make-picture): one process
# reads the BMP, reduces it to 8 gray levels and writes a BMP.
#
#   octtool      build/native/octtool convert big.bmp out.bmp
#   Pillow       Debian's /usr/bin/python3 with python3-pil: the picture to
#                "L" with the matrix (1/3, 1/3, 1/3, −1/3), which gives
#                (b+g+r) div 3 exactly, then a 256-entry point() table that
#                maps v to the palette value of level v div 32 — the same rule
#                as ours, (b+g+r) div 96; saved as an 8-bit BMP
#   ImageMagick  Debian's /usr/bin/convert big.bmp -colorspace Gray
#                -posterize 8 +dither out.bmp (its own gray and level rules);
#                installed with apt-get when missing, skipped when it cannot be
#                (/usr/local/bin/convert on these machines is a stand-in, not
#                ImageMagick, and is never used)
#
# Prints the median wall-clock time of RUNS runs (default 5) after one warm-up
# run each, measured with hyperfine when it is installed, else with a loop
# over date +%s%N. Usage: bench/peers.sh [PICTURE]   (OUT=png in the
# environment writes PNG instead of BMP: octtool's 4-bit indexed PNG, Pillow's
# 8-bit gray PNG at its default settings, ImageMagick's own choice;
# BENCH_RECORD=FILE also appends each median to FILE as a JSON line, see
# bench_record in process_bench.sh)
set -euo pipefail
cd "$(dirname "$0")/.."

runs=${RUNS:-5}
ext=${OUT:-bmp}
source bench/process_bench.sh
process_bench_start peers
out=$scratch
picture=${1:-$build/bench-4096.bmp}
# The default picture is the one oct_bench measures, made by the project's
# own code (bench/picture_maker.h) and rewritten when stale; a picture given
# on the command line is made only when it does not exist yet.
if [ $# -eq 0 ] || [ ! -f "$picture" ]; then
  mkdir -p "$(dirname "$picture")"
  "$build/oct_bench" --make-picture "$picture"
fi

if [ ! -x /usr/bin/convert ]; then
  echo "peers: /usr/bin/convert is missing; installing Debian's imagemagick" >&2
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; fi
  if ! { DEBIAN_FRONTEND=noninteractive $SUDO apt-get update -qq &&
         DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends imagemagick >/dev/null; }; then
    echo "peers: could not install imagemagick; skipping that peer" >&2
  fi
fi

cat >"$out/pillow.py" <<'EOF'
import sys
from PIL import Image
palette = [0, 29, 59, 89, 119, 149, 179, 255]
table = [palette[v // 32] for v in range(256)]
with Image.open(sys.argv[1]) as im:
    # −1/3 turns the rounding of (b+g+r)/3 into truncation, so v div 32 is (b+g+r) div 96.
    gray = im.convert("L", matrix=(1 / 3, 1 / 3, 1 / 3, -1 / 3))
    gray.point(table).save(sys.argv[2])
EOF

names=(octtool Pillow)
commands=("'$tool' convert '$picture' '$out/octtool.$ext'"
          "/usr/bin/python3 '$out/pillow.py' '$picture' '$out/Pillow.$ext'")
if [ -x /usr/bin/convert ]; then
  names+=(ImageMagick)
  commands+=("/usr/bin/convert '$picture' -colorspace Gray -posterize 8 +dither '$out/ImageMagick.$ext'")
fi


read -r width height < <(/usr/bin/python3 -c 'import sys; from PIL import Image; print(*Image.open(sys.argv[1]).size)' "$picture")
pixels=$((width * height))
echo "picture: $picture ($pixels pixels); $runs runs each, median; timer: $(median_timer)"
echo "load before: $(uptime | sed 's/.*load average: //')"
printf '%-12s %10s %10s %12s %9s\n' tool "median ms" MPixel/s "out bytes" "time/ours"
ours=0
for i in "${!names[@]}"; do
  ms=$(median_ms "${commands[$i]}" "$out")
  [ "$i" -eq 0 ] && ours=$ms
  bytes=$(stat -c %s "$out/${names[$i]}.$ext")
  awk -v n="${names[$i]}" -v ms="$ms" -v px="$pixels" -v b="$bytes" -v o="$ours" \
    'BEGIN { printf "%-12s %10d %10.1f %12d %9.2f\n", n, ms, px / ms / 1000, b, ms / o }'
  bench_record bench=peers picture="$(basename "$picture")" width="$width" height="$height" out="$ext" \
    tool="${names[$i]}" median_ms="$ms" runs="$runs" timer="$(median_timer)" out_bytes="$bytes"
done
echo "load after:  $(uptime | sed 's/.*load average: //')"

# The Pillow peer follows our rule: count the pixels where it disagrees.
/usr/bin/python3 - "$out/octtool.$ext" "$out/Pillow.$ext" <<'EOF'
import sys
from PIL import Image, ImageChops
ours = Image.open(sys.argv[1]).convert("L")
theirs = Image.open(sys.argv[2]).convert("L")
print(f"Pillow vs octtool: {sum(ImageChops.difference(ours, theirs).histogram()[1:])} differing pixels")
EOF
