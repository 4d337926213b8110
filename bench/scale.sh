#!/usr/bin/env bash
# How the whole-process cost grows with the picture: octtool convert of the
# benchmark picture made at 4096², 8192² and 16384² pixels (24-bit BMPs of
# 48 MiB, 192 MiB and 768 MiB, written by oct_bench --make-picture --size N
# and kept in build/native), to a BMP and to a level file. For each size and
# output: the median wall-clock time of RUNS runs (default 3, after one
# warm-up run), nanoseconds per pixel, the peak resident memory of the
# process (GNU time's maximum RSS, which counts every page it touched) and
# that peak over the picture's bytes.
#
# Usage: bench/scale.sh [SIZE...]
set -euo pipefail
cd "$(dirname "$0")/.."
build=$PWD/build/native
runs=${RUNS:-3}
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(4096 8192 16384)

if [ ! -x "$build/octtool" ] || [ ! -x "$build/oct_bench" ]; then
  cmake --preset native >/dev/null
  cmake --build build/native -j2 --target octtool oct_bench
fi
out=$(mktemp -d "$build/scale.XXXXXX")
trap 'rm -rf "$out"' EXIT

printf '%-7s %-6s %10s %8s %10s %8s\n' size output "median ms" ns/pixel "peak MiB" peak/file
for size in "${sizes[@]}"; do
  picture=$build/bench-scale-$size.bmp
  "$build/oct_bench" --make-picture "$picture" --size "$size"
  bytes=$(stat -c %s "$picture")
  for kind in bmp oct; do
    target=$out/out.$kind
    "$build/octtool" convert "$picture" "$target"  # warm-up: the picture in the page cache
    times=() peaks=()
    for ((i = 0; i < runs; i++)); do
      line=$( { /usr/bin/time -f '%e %M' "$build/octtool" convert "$picture" "$target"; } 2>&1 | tail -1)
      times+=("$(awk '{ printf "%d", $1 * 1000 }' <<<"$line")")
      peaks+=("$(awk '{ print $2 }' <<<"$line")")
    done
    ms=$(printf '%s\n' "${times[@]}" | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }')
    kb=$(printf '%s\n' "${peaks[@]}" | sort -n | tail -1)
    awk -v s="$size" -v k="$kind" -v ms="$ms" -v kb="$kb" -v b="$bytes" \
      'BEGIN { printf "%-7s %-6s %10d %8.2f %10.0f %8.2f\n", s, k, ms, ms * 1e6 / (s * s), kb / 1024, kb * 1024 / b }'
  done
done
