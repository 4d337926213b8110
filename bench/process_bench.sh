# Sourced by the whole-process benchmarks (peers.sh, many.sh), from the
# source root, with $runs set.
#
# process_bench_start NAME: sets $build (build/native), $tool (its octtool)
# and $scratch (a fresh folder in $BENCH_DIR when set, e.g. /dev/shm for
# outputs on tmpfs, else in $build; removed on exit), and builds octtool and
# oct_bench when they are missing.
process_bench_start() {
  build=$PWD/build/native
  tool=$build/octtool
  mkdir -p "$build"
  scratch=$(mktemp -d "${BENCH_DIR:-$build}/$1.XXXXXX")
  trap 'rm -rf "$scratch"' EXIT
  if [ ! -x "$tool" ] || [ ! -x "$build/oct_bench" ]; then
    scripts/setup
    cmake --preset native >/dev/null
    cmake --build build/native -j2 --target octtool oct_bench
  fi
}
#
# median_ms COMMAND SCRATCH: the median wall-clock time in milliseconds of
# $runs runs of the shell command COMMAND after one warm-up run, measured
# with hyperfine when it is installed, else with a loop over date +%s%N.
# SCRATCH is a folder for hyperfine's results.
median_ms() {
  local command=$1 scratch=$2
  if command -v hyperfine >/dev/null; then
    hyperfine --style none --warmup 1 --runs "$runs" --export-json "$scratch/h.json" "$command" >/dev/null
    /usr/bin/python3 -c 'import json,sys; print(round(json.load(open(sys.argv[1]))["results"][0]["median"] * 1000))' "$scratch/h.json"
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

# The timer median_ms uses, for the benchmarks' headings.
median_timer() { command -v hyperfine >/dev/null && echo hyperfine || echo 'date +%s%N loop'; }

# bench_record KEY=VALUE...: when BENCH_RECORD names a file (an absolute path:
# the scripts run from the source root), appends the pairs to it as one JSON
# object on a line, values that read as numbers written as numbers, so that
# bench/run-all can gather every figure of a run without reading the printed
# tables. Without BENCH_RECORD it does nothing and the output is unchanged.
bench_record() {
  [ -n "${BENCH_RECORD:-}" ] || return 0
  /usr/bin/python3 - "$@" >>"$BENCH_RECORD" <<'PY'
import json, re, sys
pairs = (arg.split("=", 1) for arg in sys.argv[1:])
number = re.compile(r"-?[0-9]+(\.[0-9]+)?")
print(json.dumps({k: (float(v) if "." in v else int(v)) if number.fullmatch(v) else v for k, v in pairs}))
PY
}
