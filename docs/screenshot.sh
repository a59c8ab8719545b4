#!/usr/bin/env bash
# Takes the window's pictures on a private Xvfb: docs/chronelle.png, the
# window as it opens (run from data/, as tools/run.sh does), and
# docs/chronelle-reglages.png, "Plus de réglages" open for a frame-rate
# conversion of a copy of the sample file, set at the keyboard.
# Usage: docs/screenshot.sh [CHRONELLE]   (default: build/main/chronelle)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
chronelle=$(realpath "${1:-$root/build/main/chronelle}")

shoot() {
  local root=$1 chronelle=$2 window= pid
  local copy=/tmp/chronelle-screenshot/Films  # a name that reads well in the entry
  rm -rf /tmp/chronelle-screenshot
  mkdir -p "$copy"
  open_window() {
    "$chronelle" "$@" >/dev/null 2>&1 &
    pid=$!
    for _ in $(seq 100); do
      window=$(xdotool search --onlyvisible --name '^Chronelle$' 2>/dev/null | head -n 1) || true
      [ -n "$window" ] && break
      sleep 0.1
    done
    [ -n "$window" ] || { echo "screenshot.sh: the window did not open" >&2; kill "$pid"; exit 1; }
    sleep 0.5  # its first paint
  }
  take() { import -window "$window" png:- | convert - -strip "$root/docs/$1"; }
  close_window() { kill "$pid"; wait "$pid" 2>/dev/null || true; window=; }

  cd "$root/data"
  open_window
  take chronelle.png
  close_window

  # The conversion of a copy, set as the keyboard sets it (see README).
  cp exemple.srt "$copy/exemple.srt"
  open_window "$copy/exemple.srt"
  xdotool windowfocus --sync "$window"
  xdotool key alt+p Tab Down Down Down Tab
  xdotool type 25
  xdotool key Tab Tab
  xdotool type 23,976
  sleep 0.5
  take chronelle-reglages.png
  close_window
  rm -rf /tmp/chronelle-screenshot
}
export -f shoot
bash "$root/tests/ui/with_display.sh" --private bash -c 'shoot "$@"' _ "$root" "$chronelle"
echo "docs/chronelle.png docs/chronelle-reglages.png"
