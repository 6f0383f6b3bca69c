#!/usr/bin/env bash
# Replays the corpora that scripts/fuzz.sh grew in build-fuzz/ through their targets and
# prints, per target, the number of inputs, their mean time and the COUNT (default 3)
# slowest inputs with their times. Run scripts/fuzz.sh first.
set -euo pipefail
cd "$(dirname "$0")/.."
count="${1:-3}"
build=build-fuzz
export ASAN_OPTIONS="detect_leaks=0"
for target in source config encoders; do
  bin="$build/bin/fuzz_$target"
  [ -x "$bin" ] || { echo "no $bin: run scripts/fuzz.sh first" >&2; exit 1; }
  times=$(find "$build/fuzz/corpus/$target" "$build/fuzz/seeds/$target" -type f -print0 |
          xargs -0 -r "$bin" 2>&1 | sed -n 's/^Executed \(.*\) in \([0-9]*\) ms$/\2 \1/p' |
          sort -n)
  inputs=$(printf '%s\n' "$times" | grep -c . || true)
  mean=$(printf '%s\n' "$times" | awk '{ s += $1 } END { if (NR) printf "%.1f", s / NR }')
  echo "fuzz_$target: $inputs inputs, mean $mean ms; slowest:"
  printf '%s\n' "$times" | tail -n "$count" | sed 's/^/  ms /'
done
