#!/usr/bin/env bash
# Usage: scripts/fuzz.sh [SECONDS] [TARGET...]
# Builds the libFuzzer targets with clang under AddressSanitizer and UndefinedBehaviorSanitizer
# and runs each (or the TARGETs named: source, config, encoders) for SECONDS (default 60),
# from the seed corpora the fixture makers write at build time. Prints, per target, the
# executions, executions per second, the slowest input and the peak memory; fails when a
# target finds a crash, a leak, a timeout or runs out of memory (the input that did is kept
# in build-fuzz/fuzz/artifacts/).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(source config encoders)
build=build-fuzz

CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVIK_FUZZ=ON \
      -DORVIK_BUILD_APP=OFF -DORVIK_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j2 --target fuzz_all

seeds="$build/fuzz/seeds"
artifacts="$build/fuzz/artifacts"
mkdir -p "$artifacts"
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
failed=0
printf '%-14s %10s %8s %12s %8s  %s\n' target executions "exec/s" "slowest (s)" "rss MB" result
for target in "${targets[@]}"; do
  # New inputs go to a corpus of the build folder, kept between runs; the seeds stay as made.
  corpus="$build/fuzz/corpus/$target"
  mkdir -p "$corpus"
  log="$build/fuzz/$target.log"
  status=0
  "$build/bin/fuzz_$target" "$corpus" "$seeds/$target" \
      -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=65536 \
      -print_final_stats=1 -artifact_prefix="$artifacts/$target-" >"$log" 2>&1 || status=$?
  stat() { sed -n "s/^stat::$1: *//p" "$log" | tail -1; }
  result=ok
  if [ "$status" -ne 0 ]; then result="FAILED (exit $status, see $log)"; failed=1; fi
  printf '%-14s %10s %8s %12s %8s  %s\n' "fuzz_$target" "$(stat number_of_executed_units)" \
      "$(stat average_exec_per_sec)" "$(stat slowest_unit_time_sec)" "$(stat peak_rss_mb)" \
      "$result"
done
exit "$failed"
