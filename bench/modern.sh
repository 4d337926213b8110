#!/usr/bin/env bash
# Whole-process comparison on the pictures phones and the web make: the
# project's photograph scaled by Pillow to 4032 × 3024 (a phone camera's size)
# and encoded once by Debian's encoders as HEIC (heif-enc -q 90), AVIF
# (avifenc at its default quality, speed 6) and JPEG XL (cjxl -d 1, its default
# distance). Each is then read by one process:
#
#   octtool       build/native/octtool convert X out.bmp (the 8 levels, a BMP)
#   heif-convert  libheif-examples, X to PNG (HEIC)
#   avifdec       libavif-bin, X to PNG (AVIF)
#   djxl          libjxl-tools, X to PNG (JPEG XL)
#
# The reference decoders write a full-colour PNG; octtool decodes the same
# picture, reduces it and writes a BMP. Debian 12's Pillow 9.4 reads none of
# the three formats (no plugin), so it has no row. The pictures are written
# afresh into build/native on every run. Prints the median wall-clock time of
# RUNS runs (default 5) after one warm-up run each.
# Usage: bench/modern.sh   (RUNS=N; BENCH_RECORD=FILE as for bench/peers.sh)
set -euo pipefail
cd "$(dirname "$0")/.."

runs=${RUNS:-5}
source bench/process_bench.sh
process_bench_start modern
out=$scratch

missing=()
for t in heif-enc:libheif-examples avifenc:libavif-bin cjxl:libjxl-tools; do
  command -v "${t%%:*}" >/dev/null || missing+=("${t#*:}")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "modern: installing ${missing[*]}" >&2
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; fi
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

base=$build/bench-phone
/usr/bin/python3 - tests/data/photo/harvesters.bmp "$base.png" <<'PY'
import sys
from PIL import Image
with Image.open(sys.argv[1]) as im:
    im.convert("RGB").resize((4032, 3024), Image.LANCZOS).save(sys.argv[2], compress_level=1)
PY
heif-enc -q 90 -o "$base.heic" "$base.png" >/dev/null
avifenc -s 6 "$base.png" "$base.avif" >/dev/null
cjxl -d 1 "$base.png" "$base.jxl" >/dev/null 2>&1
pixels=$((4032 * 3024))

echo "picture: $base.{heic,avif,jxl} (4032 x 3024, $pixels pixels); $runs runs each, median; timer: $(median_timer)"
echo "load before: $(uptime | sed 's/.*load average: //')"
printf '%-6s %-13s %10s %10s %9s\n' format tool "median ms" MPixel/s "time/ours"
for pair in heic:heif-convert avif:avifdec jxl:djxl; do
  ext=${pair%%:*} peer=${pair#*:}
  picture=$base.$ext
  case $peer in
    heif-convert) peerCommand="heif-convert '$picture' '$out/peer.png' >/dev/null" ;;
    avifdec) peerCommand="avifdec '$picture' '$out/peer.png' >/dev/null" ;;
    djxl) peerCommand="djxl '$picture' '$out/peer.png' >/dev/null 2>&1" ;;
  esac
  ours=0
  for name in octtool "$peer"; do
    if [ "$name" = octtool ]; then command="'$tool' convert '$picture' '$out/octtool.bmp'"; else command=$peerCommand; fi
    ms=$(median_ms "$command" "$out")
    [ "$name" = octtool ] && ours=$ms
    awk -v f="$ext" -v n="$name" -v ms="$ms" -v px="$pixels" -v o="$ours" \
      'BEGIN { printf "%-6s %-13s %10d %10.1f %9.2f\n", f, n, ms, px / ms / 1000, ms / o }'
    bench_record bench=modern picture="$(basename "$picture")" width=4032 height=3024 tool="$name" \
      median_ms="$ms" runs="$runs" timer="$(median_timer)"
  done
done
echo "load after:  $(uptime | sed 's/.*load average: //')"
