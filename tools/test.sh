#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test headless: the normal
# build, the same tests under AddressSanitizer and UndefinedBehaviorSanitizer,
# and a short fuzzing run.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/deps.sh test

jobs=$(nproc)

# A virtual display of our own for the window tests.
if [ -z "${DISPLAY:-}" ]; then
  display=":$((90 + RANDOM % 100))"
  Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb_pid=$!
  trap 'kill $xvfb_pid 2>/dev/null || true' EXIT
  export DISPLAY=$display
  for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
fi

echo "== build and test"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCHRONELLE_WERROR=ON >/dev/null
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure -j "$jobs"

echo "== the same tests under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=Debug -DCHRONELLE_WERROR=ON \
  -DCHRONELLE_SANITIZE=ON >/dev/null
cmake --build build-sanitize -j "$jobs"
ASAN_OPTIONS=detect_leaks=0 ctest --test-dir build-sanitize --output-on-failure -j "$jobs"

echo "== a minute of fuzzing the patcher (clang-14, libFuzzer) on the committed corpus"
bash fuzz/run.sh 60
