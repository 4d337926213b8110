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
# over date +%s%N. Usage: bench/peers.sh [PICTURE.bmp]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

runs=${RUNS:-5}
build=$root/build/native
picture=${1:-$build/bench-4096.bmp}
tool=$build/octtool
mkdir -p "$build"
out=$(mktemp -d "$build/peers.XXXXXX")
trap 'rm -rf "$out"' EXIT

if [ ! -x "$tool" ] || [ ! -x "$build/oct_bench" ]; then
  scripts/setup
  cmake --preset native >/dev/null
  cmake --build build/native -j2 --target octtool oct_bench
fi
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
    gray.point(table).save(sys.argv[2], format="BMP")
EOF

names=(octtool Pillow)
commands=("'$tool' convert '$picture' '$out/octtool.bmp'"
          "/usr/bin/python3 '$out/pillow.py' '$picture' '$out/Pillow.bmp'")
if [ -x /usr/bin/convert ]; then
  names+=(ImageMagick)
  commands+=("/usr/bin/convert '$picture' -colorspace Gray -posterize 8 +dither '$out/ImageMagick.bmp'")
fi

# Median of the runs in milliseconds, one command.
median_ms() {
  local command=$1
  if command -v hyperfine >/dev/null; then
    hyperfine --style none --warmup 1 --runs "$runs" --export-json "$out/h.json" "$command" >/dev/null
    /usr/bin/python3 -c 'import json,sys; print(round(json.load(open(sys.argv[1]))["results"][0]["median"] * 1000))' "$out/h.json"
    return
  fi
  bash -c "$command"
  local times=() t0 t1
  for ((i = 0; i < runs; i++)); do
    t0=$(date +%s%N)
    bash -c "$command"
    t1=$(date +%s%N)
    times+=($(((t1 - t0) / 1000000)))
  done
  printf '%s\n' "${times[@]}" | sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : int((v[NR / 2] + v[NR / 2 + 1]) / 2) }'
}

pixels=$(/usr/bin/python3 -c 'import sys; from PIL import Image; w, h = Image.open(sys.argv[1]).size; print(w * h)' "$picture")
echo "picture: $picture ($pixels pixels); $runs runs each, median; timer: $(command -v hyperfine >/dev/null && echo hyperfine || echo 'date +%s%N loop')"
echo "load before: $(uptime | sed 's/.*load average: //')"
printf '%-12s %10s %10s %12s %9s\n' tool "median ms" MPixel/s "out bytes" "time/ours"
ours=0
for i in "${!names[@]}"; do
  ms=$(median_ms "${commands[$i]}")
  [ "$i" -eq 0 ] && ours=$ms
  bytes=$(stat -c %s "$out/${names[$i]}.bmp")
  awk -v n="${names[$i]}" -v ms="$ms" -v px="$pixels" -v b="$bytes" -v o="$ours" \
    'BEGIN { printf "%-12s %10d %10.1f %12d %9.2f\n", n, ms, px / ms / 1000, b, ms / o }'
done
echo "load after:  $(uptime | sed 's/.*load average: //')"

# The Pillow peer follows our rule: count the pixels where it disagrees.
/usr/bin/python3 - "$out/octtool.bmp" "$out/Pillow.bmp" <<'EOF'
import sys
from PIL import Image, ImageChops
ours = Image.open(sys.argv[1]).convert("L")
theirs = Image.open(sys.argv[2]).convert("L")
print(f"Pillow vs octtool: {sum(ImageChops.difference(ours, theirs).histogram()[1:])} differing pixels")
EOF
