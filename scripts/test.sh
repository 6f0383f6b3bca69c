#!/usr/bin/env bash
# Installs what is missing, builds everything and runs the whole test suite; then builds the
# engine's tests with AddressSanitizer and UndefinedBehaviorSanitizer and runs them too; then
# runs each fuzz target for thirty seconds.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

cmake -S . -B build-test -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-test -j2
(cd build-test && ctest --output-on-failure -j2)

if [ "${ORVIK_SKIP_SANITIZERS:-0}" != "1" ]; then
  cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=Debug -DORVIK_SANITIZE=ON \
        -DORVIK_BUILD_APP=OFF -DORVIK_BUILD_BENCH=OFF >/dev/null
  cmake --build build-sanitize -j2
  (cd build-sanitize && ctest --output-on-failure -j2)
fi

# Thirty seconds of each fuzz target (clang, under the sanitizers).
if [ "${ORVIK_SKIP_FUZZ:-0}" != "1" ]; then
  bash scripts/fuzz.sh 30
fi
