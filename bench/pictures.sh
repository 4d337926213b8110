#!/usr/bin/env bash
# Whole-process comparison with real-world inputs and outputs: the 4096 ×
# 4096 benchmark picture (oct_bench --make-picture) saved by Pillow as a JPEG
# of quality 90 and as a PNG (Pillow's default compression), each then
# converted to the 8 levels and written as a BMP by octtool and by its peers
# (bench/peers.sh, the same jobs as for the BMP input, Pillow decoding the
# JPEG or PNG itself); then the BMP and the project's photograph to PNG.
#
# The three pictures are written afresh on every run, beside each other in
# build/native (bench-4096.bmp, .jpg, .png). Usage: bench/pictures.sh   (RUNS=N in the environment)
set -euo pipefail
cd "$(dirname "$0")/.."

build=$PWD/build/native
if [ ! -x "$build/octtool" ] || [ ! -x "$build/oct_bench" ]; then
  scripts/setup
  cmake --preset native >/dev/null
  cmake --build build/native -j2 --target octtool oct_bench
fi
bmp=$build/bench-4096.bmp
"$build/oct_bench" --make-picture "$bmp"
for ext in jpg png; do
  picture=$build/bench-4096.$ext
  /usr/bin/python3 - "$bmp" "$picture" <<'PY'
import sys
from PIL import Image
with Image.open(sys.argv[1]) as im:
    if sys.argv[2].endswith(".jpg"):
        im.save(sys.argv[2], quality=90)
    else:
        im.save(sys.argv[2])
PY
  echo "== $(basename "$picture") to BMP: $(stat -c %s "$picture") bytes"
  bench/peers.sh "$picture"
done
# PNG out, from the BMP and from the photograph the README's size table uses.
for picture in "$bmp" tests/data/photo/harvesters.bmp; do
  echo "== $(basename "$picture") to PNG"
  OUT=png bench/peers.sh "$picture"
done
