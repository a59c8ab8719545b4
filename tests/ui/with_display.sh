#!/usr/bin/env bash
# Runs a command on an X display: the one in $DISPLAY, or a private Xvfb of
# its own when there is none or when --private is given (the end-to-end test
# types on the keyboard, and no other test's window may take its focus).
# Listing the tests of a GoogleTest program needs no display.
# It runs with a home and XDG folders of its own (tests/own_home.sh).
# Usage: with_display.sh [--private] COMMAND [ARGS...]
set -euo pipefail
if [ "${1:-}" != --own-home ]; then
  exec bash "$(dirname "$0")/../own_home.sh" bash "$0" --own-home "$@"
fi
shift

private=0
if [ "${1:-}" = --private ]; then
  private=1
  shift
fi
for arg in "$@"; do
  [ "$arg" = --gtest_list_tests ] && exec "$@"
done
if [ $private = 0 ] && [ -n "${DISPLAY:-}" ]; then
  exec "$@"
fi

command -v Xvfb >/dev/null || { echo "with_display.sh: Xvfb is missing (apt-get install xvfb)" >&2; exit 1; }
dir=$(mktemp -d /tmp/chronelle-xvfb-XXXXXX)
# Xvfb picks a free display itself and writes its number once it is ready;
# -noreset keeps it from resetting, and turning clients away, between windows.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$dir/display" 2>"$dir/xvfb.log" &
xvfb=$!
trap 'kill "$xvfb" 2>/dev/null || true; wait "$xvfb" 2>/dev/null || true; rm -rf "$dir"' EXIT
for _ in $(seq 200); do
  [ -s "$dir/display" ] && break
  kill -0 "$xvfb" 2>/dev/null || { cat "$dir/xvfb.log" >&2; exit 1; }
  sleep 0.05
done
[ -s "$dir/display" ] || { echo "with_display.sh: Xvfb did not start" >&2; exit 1; }
DISPLAY=":$(head -n 1 "$dir/display")"
export DISPLAY
"$@"
