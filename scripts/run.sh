#!/usr/bin/env bash
# Installs what is missing, builds the converter and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DORVIK_BUILD_TESTS=OFF -DORVIK_BUILD_BENCH=OFF >/dev/null
cmake --build build -j2
exec ./build/bin/orvik-converter "$@"
