#!/usr/bin/env bash
# Builds the fuzzer in build-fuzz and runs it for a bounded time on the
# committed corpus; fails when it finds a crash or a broken property.
# Usage: fuzz/run.sh [SECONDS] [JOBS]   (defaults: 60 seconds, 1 job)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
jobs=${2:-1}

cmake -S fuzz -B build-fuzz -DCMAKE_CXX_COMPILER=clang++-14 >/dev/null
cmake --build build-fuzz -j "$(nproc)"

# New inputs go to build-fuzz/corpus; the committed seeds are only read.
mkdir -p build-fuzz/corpus build-fuzz/artifacts
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1
args=(-max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 -print_final_stats=1
      -dict=fuzz/srt.dict -artifact_prefix=build-fuzz/artifacts/)
if [ "$jobs" -gt 1 ]; then
  args+=(-fork="$jobs")
fi
build-fuzz/shift_fuzzer "${args[@]}" build-fuzz/corpus fuzz/corpus
