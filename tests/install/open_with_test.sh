#!/usr/bin/env bash
# "Open with", end to end: starts the real chronelle with a file on its
# command line, after one of the toolkit's own options (as a desktop may),
# on the display in $DISPLAY. A subtitle file is in the entry (read back
# through the selection the entry takes when the keyboard reaches it) and
# "Move It! " shifts it; a file that is not subtitles shows the refusal text.
# Each run ends by closing the window, with exit status 0. Run it through
# tests/ui/with_display.sh --private: it types on the keyboard.
# Usage: open_with_test.sh CHRONELLE CLOSE_WINDOW
set -euo pipefail
chronelle=$(readlink -f "$1")
close_window=$(readlink -f "$2")

work=$(mktemp -d /tmp/chronelle-open-with-XXXXXX)
pid=
cleanup() {
  if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then kill "$pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "open-with: $*" >&2
  [ -f "$work/chronelle.log" ] && sed 's/^/chronelle: /' "$work/chronelle.log" >&2
  exit 1
}

source "$(dirname "$0")/../ui/x_helpers.sh"
primary() { xclip -o -selection primary 2>/dev/null || true; }
primary_is() { [ "$(primary)" = "$1" ]; }
# The title is "Chronelle", or "NAME – Chronelle" once a file is accepted.
shown_or_ended() { is_visible 'Chronelle$' || ended; }
ended() { has_ended "$pid"; }

# Starts chronelle on "$@" from a folder without pictures; sets $window.
open_window() {
  (cd "$work/empty" && exec "$chronelle" --class=ChronelleOpenWith "$@" >"$work/chronelle.log" 2>&1) &
  pid=$!
  within 15 shown_or_ended || true
  is_visible 'Chronelle$' || fail "the window did not open"
  window=$(visible 'Chronelle$')
  # The toolkit took its option (rather than it being taken for a file).
  xprop -id "$window" WM_CLASS | grep -q '"ChronelleOpenWith"' ||
    fail "the toolkit's --class was not applied: $(xprop -id "$window" WM_CLASS)"
  focus "$window" || fail "cannot focus the window"
}

# The entry: the open button has the focus at start, Tab reaches the entry,
# ctrl+A selects its whole text (not editable, it selects nothing by itself).
entry_should_read() {
  xdotool key Tab ctrl+a
  within 5 primary_is "$1" || fail "the entry reads '$(primary)', not '$1'"
}

close_and_check_status() {
  "$close_window" "$window" || fail "cannot ask the window to close"
  within 10 ended || fail "chronelle did not end"
  local status=0
  wait "$pid" || status=$?
  pid=
  [ "$status" -eq 0 ] || fail "chronelle ended with status $status"
}

mkdir "$work/empty" "$work/Séries été"
file="$work/Séries été/Épisode 1.srt"
printf '%s\r\n' 1 '00:00:20,000 --> 00:00:24,400' 'Bonjour.' '' \
  2 '00:00:25,000 --> 00:00:28,000' 'Ça va ?' '' \
  3 '00:01:00,500 --> 00:01:02,000' 'Très bien, merci.' '' >"$file"
printf '%s\r\n' 1 '00:00:22,000 --> 00:00:26,400' 'Bonjour.' '' \
  2 '00:00:27,000 --> 00:00:30,000' 'Ça va ?' '' \
  3 '00:01:02,500 --> 00:01:04,000' 'Très bien, merci.' '' >"$work/expected.srt"

# A subtitle file: in the entry, and "Move It! " shifts it by +2 s (Tab from
# the entry to "Ajouter", the hours, the minutes, the seconds: 2, then the
# milliseconds and "Move It! ").
open_window "$file"
entry_should_read "$file"
xdotool key Tab Tab Tab Tab
xdotool type 2
xdotool key Tab Tab Return
within 10 same_bytes "$file" "$work/expected.srt" || {
  diff <(od -c "$work/expected.srt") <(od -c "$file") >&2 || true
  fail "the file named on the command line was not shifted by +2 s"
}
close_and_check_status
echo "open-with: a subtitle file on the command line was taken and shifted"

# Not subtitles: refused, as in the chooser.
notes="$work/notes.txt"
printf 'Liste de courses\r\npain\r\nlait\r\n' >"$notes"
open_window "$notes"
entry_should_read "Type de fichier non compatible"
close_and_check_status
cmp -s "$notes" <(printf 'Liste de courses\r\npain\r\nlait\r\n') || fail "the refused file changed"
echo "open-with: a file that is not subtitles was refused"
