#!/usr/bin/env bash
# Takes the window's pictures on a private Xvfb the size of a laptop's
# screen, 1366x768: docs/chronelle.png, the window as it opens (run from
# data/, as tools/run.sh does); docs/chronelle-reglages.png, the whole screen
# with "Plus de réglages" open on a copy of the sample file, a two-point sync
# chosen by subtitle numbers, every control in sight; docs/chronelle-apercu.png,
# "Aperçu" of that sync over the window.
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
      window=$(xdotool search --onlyvisible --name 'Chronelle$' 2>/dev/null | head -n 1) || true
      [ -n "$window" ] && break
      sleep 0.1
    done
    [ -n "$window" ] || { echo "screenshot.sh: the window did not open" >&2; kill "$pid"; exit 1; }
    sleep 0.5  # its first paint
    xdotool windowfocus --sync "$window"
  }
  take() { import -window "${2:-$window}" png:- | convert - -strip "$root/docs/$1"; }
  close_window() { kill "$pid"; wait "$pid" 2>/dev/null || true; window=; }

  cd "$root/data"
  open_window
  take chronelle.png
  close_window

  # A sync of the 2nd and the 11th subtitles, each a second later, set at
  # the keyboard: Alt+Y chooses it, Alt+S and Alt+N its first point, Alt+R
  # and Alt+A its second.
  cp exemple.srt "$copy/exemple.srt"
  open_window "$copy/exemple.srt"
  xdotool key alt+p
  sleep 0.5  # the column shown
  xdotool key alt+y alt+s ctrl+a
  xdotool type 2
  xdotool key Tab alt+n ctrl+a
  xdotool type 0:00:05,500
  xdotool key alt+r ctrl+a
  xdotool type 11
  xdotool key Tab alt+a ctrl+a
  xdotool type 0:00:40,000
  xdotool key Tab
  sleep 0.5
  take chronelle-reglages.png root
  xdotool key alt+e
  sleep 1
  take chronelle-apercu.png root
  close_window
  rm -rf /tmp/chronelle-screenshot
}
export -f shoot
dir=$(mktemp -d /tmp/chronelle-screenshot-xvfb-XXXXXX)
Xvfb -displayfd 3 -screen 0 1366x768x24 -nolisten tcp -noreset 3>"$dir/display" 2>"$dir/log" &
xvfb=$!
trap 'kill "$xvfb" 2>/dev/null || true; rm -rf "$dir"' EXIT
for _ in $(seq 200); do [ -s "$dir/display" ] && break; sleep 0.05; done
[ -s "$dir/display" ] || { echo "screenshot.sh: Xvfb did not start" >&2; exit 1; }
DISPLAY=":$(head -n 1 "$dir/display")" bash "$root/tests/own_home.sh" bash -c 'shoot "$@"' _ "$root" "$chronelle"
echo "docs/chronelle.png docs/chronelle-reglages.png docs/chronelle-apercu.png"
