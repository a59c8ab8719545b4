#!/usr/bin/env bash
# Takes docs/chronelle.png, the window as it opens (run from data/, as
# tools/run.sh does), on a private Xvfb.
# Usage: docs/screenshot.sh [CHRONELLE]   (default: build/main/chronelle)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
chronelle=$(realpath "${1:-$root/build/main/chronelle}")

shoot() {
  local root=$1 chronelle=$2 window= pid
  cd "$root/data"
  "$chronelle" >/dev/null 2>&1 &
  pid=$!
  for _ in $(seq 100); do
    window=$(xdotool search --onlyvisible --name '^Chronelle$' 2>/dev/null | head -n 1) || true
    [ -n "$window" ] && break
    sleep 0.1
  done
  [ -n "$window" ] || { echo "screenshot.sh: the window did not open" >&2; kill "$pid"; exit 1; }
  sleep 0.5  # its first paint
  import -window "$window" png:- | convert - -strip "$root/docs/chronelle.png"
  kill "$pid"
  wait "$pid" 2>/dev/null || true
}
export -f shoot
bash "$root/tests/ui/with_display.sh" --private bash -c 'shoot "$@"' _ "$root" "$chronelle"
echo "docs/chronelle.png"
