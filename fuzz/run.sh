#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each for a short fixed time, a few at a
# time; fails when any of them finds a crash, a leak, a hang or an allocation
# larger than the input could describe.
#
#   fuzz/run.sh                 build into build-fuzz/ and run every target
#   fuzz/run.sh fuzz_md5mesh    run the targets named
# Environment: ZV_FUZZ_BUILD (build folder), ZV_FUZZ_SECONDS (per target, 20),
# ZV_FUZZ_JOBS (targets at once, 4).  The corpus each target grows is kept in
# <build>/fuzz-run/corpus/ for the next run; a failing input lands in
# <build>/fuzz-run/crashes/<target>/ and replays with <build>/fuzz/<target> <input>.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${ZV_FUZZ_BUILD:-build-fuzz}
seconds=${ZV_FUZZ_SECONDS:-20}
jobs=${ZV_FUZZ_JOBS:-4}

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
  -DCMAKE_CXX_COMPILER=clang++ -DZV_FUZZ=ON -DZV_BUILD_TESTS=OFF -DZV_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build "$build" --target zv_fuzz -j"$jobs"

bin=$build/fuzz
work=$build/fuzz-run
rm -rf "$work/seeds"
mkdir -p "$work/corpus" "$work/crashes" "$work/logs"
"$bin/zvfuzzseeds" "$work/seeds"

if [ $# -gt 0 ]; then
  targets=("$@")
else
  targets=()
  for t in "$bin"/fuzz_*; do [ -x "$t" ] && targets+=("$(basename "$t")"); done
fi

# The inputs are a few kilobytes: one allocation above these limits is more
# than such a file can describe.  The model and text readers allocate a small
# multiple of their file; a few kilobytes of PNG or JPEG can describe an
# image of some tens of megabytes (deflate expands up to 1032 times, one bit
# of PNG can be a whole BGRA pixel, JPEG takes a few bits per 8x8 block).
malloc_limit() {
  case "$1" in
    fuzz_image_*) echo 256 ;;
    *) echo 64 ;;
  esac
}

run_one() {
  local t=$1
  local corpus=$work/corpus/${t#fuzz_}
  rm -rf "$work/crashes/$t"
  mkdir -p "$corpus" "$work/crashes/$t"
  # -close_fd_mask=1: the engine's log goes to standard output.
  local rc=0 pid
  ASAN_OPTIONS=detect_leaks=1 \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    "$bin/$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -malloc_limit_mb="$(malloc_limit "$t")" -close_fd_mask=1 -print_final_stats=1 \
      -artifact_prefix="$work/crashes/$t/" "$corpus" "$work/seeds/${t#fuzz_}" \
      </dev/null >"$work/logs/$t.log" 2>&1 &
  pid=$!
  wait "$pid" || rc=$?
  # A target that crashed could not remove its scratch folder.
  rm -rf "${TMPDIR:-/tmp}/zvfuzz.$pid"
  echo "$rc" >"$work/logs/$t.rc"
}

running=0
for t in "${targets[@]}"; do
  rm -f "$work/logs/$t.rc"
  run_one "$t" &
  running=$((running + 1))
  if [ "$running" -ge "$jobs" ]; then
    wait -n || true
    running=$((running - 1))
  fi
done
wait

failed=()
for t in "${targets[@]}"; do
  if [ "$(cat "$work/logs/$t.rc" 2>/dev/null)" = 0 ]; then
    runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$work/logs/$t.log" | grep -o '[0-9]*$' || echo "?")
    echo "ok     $t ($runs runs in ${seconds} s)"
  else
    echo "FAILED $t (see $work/logs/$t.log, inputs in $work/crashes/$t/)"
    grep -m3 -E 'ERROR: |runtime error|broken promise' "$work/logs/$t.log" || true
    failed+=("$t")
  fi
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzzing found faults in: ${failed[*]}" >&2
  exit 1
fi
echo "fuzzing: ${#targets[@]} targets, ${seconds} s each, no faults"
