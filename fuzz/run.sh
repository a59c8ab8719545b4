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
if command -v llvm-symbolizer-14 >/dev/null; then
  export ASAN_SYMBOLIZER_PATH=$(command -v llvm-symbolizer-14)
fi
args=(-max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 -print_final_stats=1
      -dict=fuzz/srt.dict -artifact_prefix=build-fuzz/artifacts/)
if [ "$jobs" -gt 1 ]; then
  args+=(-fork="$jobs")
fi
log=build-fuzz/fuzz.log
if build-fuzz/shift_fuzzer "${args[@]}" build-fuzz/corpus fuzz/corpus >"$log" 2>&1; then
  grep -E '^(Done|stat::)' "$log" || tail -n 5 "$log"
else
  tail -n 80 "$log"
  echo "fuzz: failed; the input is in build-fuzz/artifacts/, the whole log in $log" >&2
  exit 1
fi
