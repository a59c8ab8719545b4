#!/usr/bin/env bash
# Drag and drop, end to end: a real drag source (drag_source, text/uri-list,
# as a file manager drags) and the real chronelle on a private display, the
# mouse moved by xdotool. A file that is not subtitles is refused and left as
# it was; a subtitle file dropped is taken into the entry (read back through
# its selection) and "Move It! " (Alt+M) shifts it; two files at once are
# neither taken.
# Usage: drop_test.sh CHRONELLE DRAG_SOURCE   (through with_display.sh --private)
set -euo pipefail
chronelle=$(readlink -f "$1")
drag_source=$(readlink -f "$2")

work=$(mktemp -d /tmp/chronelle-drop-XXXXXX)
pid=
source_pid=
cleanup() {
  for p in $pid $source_pid; do kill "$p" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "drop: $*" >&2
  [ -f "$work/chronelle.log" ] && sed 's/^/chronelle: /' "$work/chronelle.log" >&2
  [ -f "$work/source.log" ] && sed 's/^/source: /' "$work/source.log" >&2
  exit 1
}

source "$(dirname "$0")/x_helpers.sh"
export HOME=$work/home XDG_DATA_HOME=$work/home/data XDG_CONFIG_HOME=$work/home/config
mkdir -p "$XDG_DATA_HOME" "$XDG_CONFIG_HOME" "$work/empty" "$work/Séries été"

primary() { xclip -o -selection primary 2>/dev/null || true; }
primary_is() { [ "$(primary)" = "$1" ]; }
said() { grep -qx "$1" "$work/source.log" 2>/dev/null; }
source_ended() { has_ended "$source_pid"; }

# Drags "$@" from a new source window onto the middle of chronelle's window
# and lets go once chronelle has said it takes the drop.
drop() {
  : >"$work/source.log"
  "$drag_source" 900 100 "$@" >"$work/source.log" 2>&1 &
  source_pid=$!
  within 10 said shown || fail "the drag source did not open"
  xdotool mousemove 980 150 mousedown 1 mousemove 1000 160
  xdotool mousemove "$target_x" "$target_y"
  nudge() { xdotool mousemove_relative 1 0; said accepted; }
  within 10 nudge || fail "chronelle did not take the drag of $*"
  xdotool mouseup 1
  within 10 source_ended || fail "the drag did not end"
  wait "$source_pid" || true
  source_pid=
  focus "$window" || fail "cannot focus the window"
}

entry_should_read() {
  xdotool key ctrl+a
  within 5 primary_is "$1" || fail "the entry reads '$(primary)', not '$1'"
}

good="$work/Séries été/Épisode 1.srt"
printf '%s\r\n' 1 '00:00:20,000 --> 00:00:24,400' 'Bonjour.' '' \
  2 '00:00:25,000 --> 00:00:28,000' 'Ça va ?' '' \
  3 '00:01:00,500 --> 00:01:02,000' 'Très bien, merci.' '' >"$good"
printf '%s\r\n' 1 '00:00:22,000 --> 00:00:26,400' 'Bonjour.' '' \
  2 '00:00:27,000 --> 00:00:30,000' 'Ça va ?' '' \
  3 '00:01:02,500 --> 00:01:04,000' 'Très bien, merci.' '' >"$work/expected.srt"
notes="$work/notes.txt"
printf 'Liste de courses\r\npain\r\nlait\r\n' >"$notes"
cp "$notes" "$work/notes.orig"

(cd "$work/empty" && exec "$chronelle" >"$work/chronelle.log" 2>&1) &
pid=$!
within 15 is_visible '^Chronelle$' || fail "the window did not open"
window=$(visible '^Chronelle$')
eval "$(xdotool getwindowgeometry --shell "$window")"
target_x=$((X + WIDTH / 2))
target_y=$((Y + HEIGHT / 2))
focus "$window" || fail "cannot focus the window"
xdotool key Tab  # from the open button to the entry

# Not subtitles: refused, untouched.
drop "$notes"
entry_should_read "Type de fichier non compatible"
same_bytes "$notes" "$work/notes.orig" || fail "the refused file changed"
echo "drop: a file that is not subtitles was refused"

# A subtitle file: taken as if chosen, and shifted by 2 s.
drop "$good"
xdotool key alt+f
entry_should_read "$good"
xdotool key alt+s ctrl+a
xdotool type 2
xdotool key alt+m
within 10 same_bytes "$good" "$work/expected.srt" || fail "the dropped file was not shifted by 2 s"
echo "drop: a subtitle file dropped was taken and shifted"

# Two files: neither is taken (the entry keeps the file before), both untouched.
other="$work/Séries été/Épisode 2.srt"
cp "$work/expected.srt" "$other"
drop "$other" "$notes"
xdotool key alt+f
entry_should_read "$good"
same_bytes "$other" "$work/expected.srt" && same_bytes "$notes" "$work/notes.orig" ||
  fail "a file of the two dropped changed"
echo "drop: two files dropped at once were neither taken"
