#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test headless: the normal
# build, the same tests under AddressSanitizer and UndefinedBehaviorSanitizer,
# and a short fuzzing run.
set -euo pipefail
cd "$(dirname "$0")/.."
# A home and XDG folders of the run's own: nothing of whoever runs the tests
# counts (each test gets another, fresh, from ctest).
if [ "${1:-}" != --own-home ]; then
  exec bash tests/own_home.sh bash tools/test.sh --own-home "$@"
fi
bash tools/deps.sh test

jobs=$(nproc)

# A virtual display of our own for the window tests. -noreset: Xvfb would
# otherwise reset whenever its last window closes, and turn away the next
# test that connects meanwhile.
if [ -z "${DISPLAY:-}" ]; then
  xdir=$(mktemp -d /tmp/chronelle-test-xvfb-XXXXXX)
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$xdir/display" 2>"$xdir/log" &
  xvfb_pid=$!
  trap 'kill $xvfb_pid 2>/dev/null || true; rm -rf "$xdir"' EXIT
  for _ in $(seq 200); do [ -s "$xdir/display" ] && break; sleep 0.05; done
  [ -s "$xdir/display" ] || { echo "test.sh: Xvfb did not start" >&2; cat "$xdir/log" >&2; exit 1; }
  export DISPLAY=":$(head -n 1 "$xdir/display")"
fi

echo "== the sources as .clang-format describes them"
git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror --style=file

echo "== build and test"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCHRONELLE_WERROR=ON >/dev/null
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure -j "$jobs" | tee build/ctest.log

echo "== the same tests under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=Debug -DCHRONELLE_WERROR=ON \
  -DCHRONELLE_SANITIZE=ON >/dev/null
cmake --build build-sanitize -j "$jobs"
ASAN_OPTIONS=detect_leaks=0 ctest --test-dir build-sanitize --output-on-failure -j "$jobs" |
  tee build-sanitize/ctest.log

echo "== a minute of fuzzing the patcher (clang-14, libFuzzer) on the committed corpus"
bash fuzz/run.sh 60

# One closing line for the whole run, the fuzzing counted as one test (any
# failure above has already stopped the script).
awk '/tests passed, 0 tests failed out of/ { n += $NF } END { print "tests: " n + 1 " passed, 0 failed" }' \
  build/ctest.log build-sanitize/ctest.log
