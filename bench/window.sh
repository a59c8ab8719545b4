#!/usr/bin/env bash
# Times the window on a file of many subtitles (bench/window_bench.cpp) on a
# virtual display of its own: opening the file, "Aperçu" with its table of
# every change, scrolling that table, and its "Move It! ". The aim: each in
# a fraction of a second for 100,000 subtitles, a page of the table at once.
# Usage: bench/window.sh [CUES]   (default 100000)
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/deps.sh test
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCHRONELLE_WERROR=ON >/dev/null
cmake --build build -j "$(nproc)" --target window_bench >/dev/null
bash tests/ui/with_display.sh --private build/ui/window_bench "${1:-100000}"
