#!/usr/bin/env bash
# Installs what is missing, builds Chronelle and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/deps.sh run
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DCHRONELLE_BUILD_TESTS=OFF >/dev/null
cmake --build build -j "$(nproc)"
exec build/cli/chronelle-shift --help
