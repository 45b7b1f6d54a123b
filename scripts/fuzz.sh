#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, AddressSanitizer, UndefinedBehaviorSanitizer) in
# build-fuzz and runs each for SECONDS (default 60) from its checked-in corpus. Fails when a target
# reports anything; the input that did it is left in build-fuzz/fuzz/findings/<target>/.
#   scripts/fuzz.sh [SECONDS]
# FUZZ_JOBS: targets run at once (default 4). FUZZ_TARGETS: a subset, e.g. "fuzz_layers fuzz_profile".
# FUZZ_ARGS: more libFuzzer flags. BUILD_DIR: another build folder.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
build="${BUILD_DIR:-build-fuzz}"

CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DQ7V_FUZZ=ON -DQ7V_BUILD_BENCH=OFF \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQ7V_HARDENING=OFF ${CMAKE_ARGS:-} >/dev/null
cmake --build "$build" --target fuzzers --parallel "${FUZZ_BUILD_JOBS:-$(nproc)}"

targets="${FUZZ_TARGETS:-$(cat "$build/fuzz/fuzzers.txt")}"
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS="${ASAN_OPTIONS:-abort_on_error=1:detect_leaks=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"

run_one() {
  local t="$1" work="$build/fuzz/work/$1" found="$build/fuzz/findings/$1" seeds=()
  rm -rf "$found"
  mkdir -p "$work" "$found"
  [ -d "fuzz/corpus/$t" ] && seeds=("fuzz/corpus/$t")
  # New inputs go to the work folder, kept from run to run; the checked-in seeds (replayed first,
  # reproducers of fixed faults among them) are only read.
  "$build/fuzz/$t" "$work" "${seeds[@]}" -max_total_time="$seconds" -max_len=65536 -timeout=25 \
    -rss_limit_mb=4096 -print_final_stats=1 -artifact_prefix="$found/" ${FUZZ_ARGS:-} \
    >"$build/fuzz/$t.log" 2>&1
}

pids=() names=() failed=0
jobs_max="${FUZZ_JOBS:-4}"
for t in $targets; do
  while [ "$(jobs -rp | wc -l)" -ge "$jobs_max" ]; do sleep 1; done
  run_one "$t" &
  pids+=($!) names+=("$t")
done
for i in "${!pids[@]}"; do
  t="${names[$i]}"
  if wait "${pids[$i]}"; then
    echo "$t: ok, $(grep -m1 -o 'stat::number_of_executed_units: *[0-9]*' "$build/fuzz/$t.log" | grep -o '[0-9]*$') executions"
  else
    echo "$t: FAILED (log $build/fuzz/$t.log, input in $build/fuzz/findings/$t/)"
    grep -m 3 -E 'FUZZ_CHECK|runtime error|ERROR: ' "$build/fuzz/$t.log" || tail -n 20 "$build/fuzz/$t.log"
    failed=1
  fi
done
exit "$failed"
