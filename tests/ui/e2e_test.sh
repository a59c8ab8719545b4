#!/usr/bin/env bash
# End to end: starts the real chronelle on the display in $DISPLAY and uses
# it as a person would, with xdotool: opens the chooser, gives it a file
# (ctrl+L, then its name), chooses "Retirer", sets 2 seconds, presses
# "Move It! ", checks the file's bytes, closes the window and checks the exit
# status 0; then converts the file from 25 to 23,976 images per second at the
# keyboard through "Plus de réglages", as chronelle-shift does; and, built
# with the matcher, closes the window while it listens to a film that never
# comes (held on a pipe): the program ends all the same. Started in a folder
# without its pictures, it finds them in the build tree. Run it through
# with_display.sh --private.
# Usage: e2e_test.sh CHRONELLE CLOSE_WINDOW CHRONELLE_SHIFT match|no-match
set -euo pipefail
chronelle=$1
close_window=$2
chronelle_shift=$3
matcher=${4:-no-match}

work=$(mktemp -d /tmp/chronelle-e2e-XXXXXX)
pid=
cleanup() {
  if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then kill "$pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "e2e: $*" >&2
  # What the screen showed, for whoever reads the failure.
  if command -v import >/dev/null; then
    shot=${TMPDIR:-/tmp}/chronelle-e2e-failure-$$.png
    import -window root "$shot" 2>/dev/null && echo "e2e: screen saved in $shot" >&2
  fi
  [ -f "$work/chronelle.log" ] && sed 's/^/chronelle: /' "$work/chronelle.log" >&2
  exit 1
}

step() { echo "e2e: [$SECONDS s] $*"; }

source "$(dirname "$0")/x_helpers.sh"

# A private home: the chooser keeps its recently used files there.
export HOME=$work/home XDG_DATA_HOME=$work/home/data XDG_CONFIG_HOME=$work/home/config \
  XDG_CACHE_HOME=$work/home/cache
mkdir -p "$XDG_DATA_HOME" "$XDG_CONFIG_HOME/gtk-2.0" "$XDG_CACHE_HOME"
# A user whose chooser was left typing locations and opening on the recently
# used files still chooses a file with it.
printf '%s\n' '[Filechooser Settings]' LocationMode=filename-entry StartupMode=recent \
  >"$XDG_CONFIG_HOME/gtk-2.0/gtkfilechooser.ini"

# The program runs in a folder whose name has accents, where the chooser
# opens; the file's name is typed relative to it (xdotool cannot type
# accented letters reliably: it remaps a key for each of them).
folder="$work/Séries été"
mkdir "$folder"
# No pictures there: the build tree holds them where an installation does.
name="Sous-titres episode 1.srt"
file="$folder/$name"

# Three subtitles, CR LF.
printf '%s\r\n' 1 '00:00:20,000 --> 00:00:24,400' 'Bonjour.' '' \
  2 '00:00:25,000 --> 00:00:28,000' 'Ça va ?' '' \
  3 '00:01:00,500 --> 00:01:02,000' 'Très bien, merci.' '' >"$file"
printf '%s\r\n' 1 '00:00:18,000 --> 00:00:22,400' 'Bonjour.' '' \
  2 '00:00:23,000 --> 00:00:26,000' 'Ça va ?' '' \
  3 '00:00:58,500 --> 00:01:00,000' 'Très bien, merci.' '' >"$work/expected.srt"

(cd "$folder" && exec "$chronelle" >"$work/chronelle.log" 2>&1) &
pid=$!

within 15 is_visible '^Chronelle$' || fail "the window did not open"
window=$(visible '^Chronelle$')

has_icon() { xprop -id "$window" _NET_WM_ICON 2>/dev/null | grep -q 'Icon (128 x 128)'; }
within 5 has_icon || fail "the window has no icon: its pictures were not found from the build tree"

# "Ouvrir un fichier sous-titres" has the focus when the window opens.
step "window $window open"
focus "$window" || fail "cannot focus the window"
xdotool key Return
within 10 is_visible '^Open File$' || fail "the chooser did not open"
chooser=$(visible '^Open File$')
step "chooser $chooser open"

# ctrl+L shows the chooser's location entry; the name typed there is taken
# by Return. (No second try: ctrl+L again would hide the entry.)
focus "$chooser" || fail "cannot focus the chooser"
xdotool key ctrl+l
xdotool type --delay 15 "$name"
xdotool key Return
within 15 is_hidden '^Open File$' || fail "the chooser did not take the file"

# Back in the window: Tab to the entry, Tab to "Ajouter", Right to "Retirer";
# Tab to the hours, the minutes, the seconds: 2; Tab to the milliseconds and
# to "Move It! ", Return.
step "chooser closed"
focus "$window" || fail "cannot focus the window again"
xdotool key Tab Tab Right
xdotool key Tab Tab Tab
xdotool type 2
xdotool key Tab Tab Return
step "Move It! pressed"

within 10 same_bytes "$file" "$work/expected.srt" || {
  diff <(od -c "$work/expected.srt") <(od -c "$file") >&2 || true
  fail "the file was not shifted by -2 s"
}

# Close the window as its close button would.
close_and_check_status() {
  "$close_window" "$window" || fail "cannot ask the window to close"
  ended() { has_ended "$pid"; }
  within 10 ended || fail "chronelle did not end"
  local status=0
  wait "$pid" || status=$?
  pid=
  [ "$status" -eq 0 ] || fail "chronelle ended with status $status"
}
close_and_check_status
echo "e2e: shifted by -2 s through the window, closed with status 0"

# A frame-rate conversion at the keyboard, the file named on the command
# line: Alt+P opens "Plus de réglages", Tab goes to its first change, Down
# three times to "Convertir la fréquence d'images puis décaler", Tab to
# "Fréquence d'origine": 25, Tab Tab (past the list's button) to "Fréquence
# voulue": 23,976; Alt+M is "Move It! ".
cp "$work/expected.srt" "$work/converted.srt"
"$chronelle_shift" -q --fps 25:23.976 "$work/converted.srt" ||
  fail "chronelle-shift did not convert the copy"
(cd "$folder" && exec "$chronelle" "$name" >"$work/chronelle.log" 2>&1) &
pid=$!
# The title names the file.
within 15 is_visible "^$name – Chronelle\$" || fail "the window did not open again, named after its file"
window=$(visible "^$name – Chronelle\$")
focus "$window" || fail "cannot focus the window"
xdotool key alt+p Tab Down Down Down Tab
xdotool type 25
xdotool key Tab Tab
xdotool type 23,976
xdotool key alt+m
within 10 same_bytes "$file" "$work/converted.srt" || fail "the file was not converted from 25 to 23,976"
close_and_check_status
echo "e2e: converted from 25 to 23,976 images per second at the keyboard"

[ "$matcher" = match ] || exit 0
# "Trouver le décalage avec la vidéo…" (Alt+T), the well-timed copy as the
# film; the worker is held before it reads anything, as on a disk that does
# not answer. Opening the pipe for writing returns once the worker has it
# open: it is listening, and stays stuck until the pipe is closed.
hold=$work/hold
mkfifo "$hold"
(cd "$folder" && CHRONELLE_TEST_HOLD_LISTENING=$hold exec "$chronelle" "$name" >"$work/chronelle.log" 2>&1) &
pid=$!
within 15 is_visible "^$name – Chronelle\$" || fail "the window did not open a third time"
window=$(visible "^$name – Chronelle\$")
focus "$window" || fail "cannot focus the window"
xdotool key alt+t
within 10 is_visible '^Choisis la vidéo$' || fail "the film's chooser did not open"
chooser=$(visible '^Choisis la vidéo$')
focus "$chooser" || fail "cannot focus the film's chooser"
xdotool key ctrl+l
xdotool type --delay 15 "$work/converted.srt"
xdotool key Return
exec 3>"$hold"
step "listening, held"
close_and_check_status
exec 3>&-
echo "e2e: closed while listening to a film that never came, ended with status 0"
