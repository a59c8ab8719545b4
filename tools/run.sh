#!/usr/bin/env bash
# Installs what is missing, builds Chronelle and opens its window, from data/:
# the pictures are found there, and the chooser opens on the sample file
# exemple.srt.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/deps.sh run
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DCHRONELLE_BUILD_TESTS=OFF >/dev/null
cmake --build build -j "$(nproc)"
if [ -z "${DISPLAY:-}" ]; then
  echo "run.sh: built build/main/chronelle and build/cli/chronelle-shift, but there is no" >&2
  echo "X display to open the window on (DISPLAY is empty)." >&2
  exit 1
fi
cd data
exec ../build/main/chronelle
