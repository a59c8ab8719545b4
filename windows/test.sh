#!/usr/bin/env bash
# Proof of the Windows zips: the x86_64 one unzipped into a fresh 64-bit Wine
# and used as a person would; both checked file by file without running them.
set -euo pipefail
cd "$(dirname "$0")/.."

need=(wine wine64 fonts-wine xvfb xauth x11-xkb-utils xdotool xclip imagemagick x11-utils unzip file g++ libx11-dev)
missing=()
for p in "${need[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

work=$(mktemp -d /tmp/chronelle-windows-test-XXXXXX)
xvfb_pid= app_pid=
cleanup() {
  [ -z "$app_pid" ] || kill "$app_pid" 2>/dev/null || true
  [ -z "${WINEPREFIX:-}" ] || wineserver -k 2>/dev/null || true
  [ -z "$xvfb_pid" ] || kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

passed=0
ok() { passed=$((passed + 1)); echo "windows: ok: $*"; }
fail() {
  echo "windows: FAILED: $*" >&2
  if [ -n "${DISPLAY:-}" ]; then
    shot=/tmp/chronelle-windows-failure-$$.png
    import -window root "$shot" 2>/dev/null && echo "windows: screen saved in $shot" >&2
  fi
  exit 1
}

echo "== the zips"
bash windows/package.sh | tee "$work/package.log"
mapfile -t zips < <(tail -n 2 "$work/package.log")
for z in "${zips[@]}"; do [ -f "$z" ] || fail "package.sh did not end with the zips' paths"; done

# A cached tarball that is not the one in windows/sources.txt is refused
# before anything is built from it.
mkdir -p "$work/cache/sources"
cp -s "${CHRONELLE_CACHE:-/var/cache/chronelle/windows}"/sources/*.orig.* "$work/cache/sources/"
tarball=$(grep -o 'fribidi_[^ ]*' windows/sources.txt)
rm "$work/cache/sources/$tarball"
echo 'not fribidi' >"$work/cache/sources/$tarball"
status=0
CHRONELLE_CACHE=$work/cache bash windows/build-stack.sh i686 >/dev/null 2>"$work/changed" || status=$?
[ "$status" -eq 1 ] && grep -q "$tarball .*does not match its SHA-256" "$work/changed" ||
  fail "a changed tarball: status $status, $(cat "$work/changed")"
ok "build-stack.sh refuses a tarball that does not match its SHA-256"

echo "== both zips, file by file"
system_dlls=$(grep -v '^#' windows/system-dlls.txt)
for z in "${zips[@]}"; do
  case $z in
    *-i686.zip) arch=i686 pe='PE32' machine='Intel 80386' ;;
    *-x86_64.zip) arch=x86_64 pe='PE32+' machine='x86-64' ;;
  esac
  dir=$work/unzipped-$arch
  unzip -q "$z" -d "$dir"
  for f in bin/chronelle.exe bin/chronelle-shift.exe share/chronelle/icone_chronelle.png \
           share/chronelle/banniere.jpg lib/gtk-2.0/2.10.0/engines/libwimp.dll \
           share/themes/MS-Windows/gtk-2.0/gtkrc exemple.srt LISEZMOI.txt \
           share/licenses/SOURCES.txt share/licenses/gtk+2.0/COPYING share/licenses/glib2.0/COPYING \
           share/licenses/gettext/COPYING.LIB share/locale/fr/LC_MESSAGES/gtk20.mo; do
    [ -s "$dir/$f" ] || fail "$arch: $f missing from the zip"
  done
  grep -qx 'gtk-theme-name = "MS-Windows"' <(tr -d '\r' < "$dir/etc/gtk-2.0/gtkrc") ||
    fail "$arch: etc/gtk-2.0/gtkrc does not choose the MS-Windows theme"
  cmp -s "$dir/exemple.srt" data/exemple.srt || fail "$arch: exemple.srt differs from data/"

  # What each program is; every DLL imported is in bin/ (or is Windows'
  # own), and every DLL in bin/ is imported.
  file -b "$dir/bin/chronelle.exe" | grep -q "^$pe executable (GUI) $machine" ||
    fail "$arch: chronelle.exe is $(file -b "$dir/bin/chronelle.exe")"
  file -b "$dir/bin/chronelle-shift.exe" | grep -q "^$pe executable (console) $machine" ||
    fail "$arch: chronelle-shift.exe is $(file -b "$dir/bin/chronelle-shift.exe")"
  imports() { "$arch-w64-mingw32-objdump" -p "$1" | awk '/DLL Name:/ { print $3 }'; }
  for dll in $(imports "$dir/bin/chronelle-shift.exe"); do
    grep -qix "$dll" <<<"$system_dlls" || fail "$arch: chronelle-shift.exe needs $dll"
  done
  imported=" "
  while read -r f; do
    [[ $f == *.exe ]] || file -b "$f" | grep -q "^$pe executable (DLL) ([A-Za-z]*) $machine" ||
      fail "$arch: ${f#$dir/} is $(file -b "$f")"
    for dll in $(imports "$f"); do
      [ -f "$dir/bin/$dll" ] && imported+="$dll " || grep -qix "$dll" <<<"$system_dlls" ||
        fail "$arch: ${f#$dir/} imports $dll, not in the zip"
    done
  done < <(find "$dir" -name '*.exe' -o -name '*.dll')
  for f in "$dir"/bin/*.dll; do
    [[ $imported == *" ${f##*/} "* ]] || fail "$arch: ${f##*/} is in the zip but nothing imports it"
  done
  ok "$arch zip: $pe for $machine, chronelle.exe GUI, chronelle-shift.exe console on system DLLs alone, $(ls "$dir"/bin/*.dll | wc -l) DLLs all imported and none missing"
done

echo "== the x86_64 zip under Wine"
# A display of our own, so that no other window takes the keyboard.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 200); do [ -s "$work/display" ] && break; sleep 0.05; done
[ -s "$work/display" ] || fail "Xvfb did not start"
export DISPLAY=":$(head -n 1 "$work/display")"
# A French keyboard, as a French user has: é is a key of its own, which
# xdotool can type (under Wine, it cannot type a letter it must remap a key
# for). Wine's Windows is in French too, with file names in UTF-8.
setxkbmap fr
unset LANG LC_ALL
{ export LC_CTYPE=C.UTF-8 LC_MESSAGES=fr_FR.UTF-8; } 2>/dev/null  # not a locale of this system: Wine alone reads it

# No .NET or HTML engine to offer to install, no menu entries made.
export WINEPREFIX=$work/wine WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
wine wineboot --init >"$work/wineboot.log" 2>&1
# Pango lists fonts through DirectWrite, which in Wine 8 does not see Wine's
# own Tahoma (the font of the MS-Windows theme) until it is registered;
# Marlett draws the title bars' buttons.
fonts='HKLM\Software\Microsoft\Windows NT\CurrentVersion\Fonts'
for font in 'Tahoma:tahoma' 'Tahoma Bold:tahomabd' 'Marlett:marlett'; do
  cp "/usr/share/wine/fonts/${font#*:}.ttf" "$WINEPREFIX/drive_c/windows/Fonts/"
  wine reg add "$fonts" /v "${font%:*} (TrueType)" /t REG_SZ /d "${font#*:}.ttf" /f >/dev/null 2>&1
done
# No window manager here: Wine draws title bars and borders itself.
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /t REG_SZ /d N /f >/dev/null 2>&1
wineserver -w

# Unzipped in a folder whose name has accents and a space, as anywhere.
app="$work/Logiciels été/Chronelle"
mkdir -p "$app"
unzip -q "${zips[1]}" -d "$app"
shift_exe=$app/bin/chronelle-shift.exe
gui_exe=$app/bin/chronelle.exe

# Subtitles, CR LF: three cues with the timing lines given.
cues() { printf '%s\r\n' 1 "$1" 'Bonjour.' '' 2 "$2" 'Ça va ?' '' 3 "$3" 'Très bien, merci.' ''; }
original=('00:00:20,000 --> 00:00:24,400' '00:00:25,000 --> 00:00:28,000' '00:01:10,500 --> 00:01:12,000')
plus2=('00:00:22,000 --> 00:00:26,400' '00:00:27,000 --> 00:00:30,000' '00:01:12,500 --> 00:01:14,000')
minus2=('00:00:18,000 --> 00:00:22,400' '00:00:23,000 --> 00:00:26,000' '00:01:08,500 --> 00:01:10,000')
minus1_5=('00:00:18,500 --> 00:00:22,900' '00:00:23,500 --> 00:00:26,500' '00:01:09,000 --> 00:01:10,500')

echo "-- chronelle-shift.exe"
cli="$work/Séries été"
mkdir -p "$cli"
cues "${original[@]}" >"$cli/Épisode été.srt"
(cd "$cli" && wine "$shift_exe" -a 2 'Épisode été.srt') >"$work/out" 2>&1 || fail "non-ASCII name: $(cat "$work/out")"
cmp -s "$cli/Épisode été.srt" <(cues "${plus2[@]}") || fail "non-ASCII name: not shifted by 2 s"
ok "chronelle-shift.exe shifts a file whose name and folder have accents"

# Over 4 GiB, sparse: cues at the start, one across 2^32 and one past it, one
# at the very end; a second shift started while the first runs is refused.
big=$cli/grand.srt
cues "${original[@]}" >"$big"
line=${original[0]}
put() { printf '%s' "$2" | dd of="$big" bs=1 seek="$1" conv=notrunc status=none; }
put $((2 ** 32 - 20)) $'\n'"$line"$'\r\n'
put $((2 ** 32 + 100)) $'\n'"$line"$'\r\n'
size=$((2 ** 32 + 512 * 2 ** 20))
truncate -s $((size - 32)) "$big"
put $((size - 32)) $'\n'"$line"$'\r\n'
(cd "$cli" && exec wine "$shift_exe" -r 0:00:01,5 grand.srt) >"$work/first" 2>&1 &
first=$!
opened() { ls -l "/proc/$first/fd" 2>/dev/null | grep -q grand.srt; }
for _ in $(seq 300); do opened && break; sleep 0.05; done
opened || fail "the first shift of grand.srt did not open it"
status=0
(cd "$cli" && wine "$shift_exe" -a 1 grand.srt) >"$work/second" 2>&1 || status=$?
[ "$status" -eq 1 ] && grep -q 'another process is shifting this file' "$work/second" ||
  fail "a second shift during the first: status $status, $(cat "$work/second")"
status=0
wait "$first" || status=$?
[ "$status" -eq 0 ] || fail "the first shift of grand.srt: status $status, $(cat "$work/first")"
at() { dd if="$big" bs=1 skip="$1" count="$2" status=none; }
shifted=${minus1_5[0]}
[ "$(stat -c %s "$big")" -eq "$size" ] &&
  cmp -s <(head -c "$(cues "${original[@]}" | wc -c)" "$big") <(cues "${minus1_5[@]}") &&
  [ "$(at $((2 ** 32 - 19)) 29)" = "$shifted" ] &&
  [ "$(at $((2 ** 32 + 101)) 29)" = "$shifted" ] &&
  [ "$(at $((size - 31)) 29)" = "$shifted" ] || fail "grand.srt was not shifted by -1.5 s exactly once"
grep -q '^grand.srt: 6 timing lines shifted' "$work/first" || fail "first shift said: $(cat "$work/first")"
ok "chronelle-shift.exe shifts a sparse $((size >> 20)) MiB file across and past 2^32; a second shift meanwhile is refused"

echo "-- chronelle.exe"
g++ -O2 -o "$work/close_window" tests/ui/close_window.cpp -lX11
source tests/ui/x_helpers.sh

# The program's working folder, where the chooser opens, on Wine's C: drive
# (so that the screenshot shows a Windows path); no pictures there, so that
# they come from the zip's share/chronelle.
gui="$WINEPREFIX/drive_c/Vidéos été"
mkdir -p "$gui"
cues "${original[@]}" >"$gui/épisode 2 été.srt"
cues "${original[@]}" >"$gui/épisode 3 été.srt"
cues "${minus2[@]}" >"$work/minus2.srt"
cues "${plus2[@]}" >"$work/plus2.srt"
printf 'Pas des sous-titres.\r\n' >"$gui/notes.txt"

start_gui() {
  (cd "$gui" && exec wine "$gui_exe" "$@") >"$work/gui.log" 2>&1 &
  app_pid=$!
  within 60 is_visible '^Chronelle$' || fail "the window did not open"
  window=$(visible '^Chronelle$')
  focus "$window" || fail "cannot focus the window"
}
# What the entry (which has the focus) shows, read back through the clipboard.
entry_shows() {
  xdotool key ctrl+a ctrl+c
  within 5 bash -c '[ "$(xclip -o -selection clipboard -t UTF8_STRING 2>/dev/null)" = "$1" ]' _ "$1"
}
choose() {  # from "Ouvrir un fichier sous-titres": the name typed in the chooser
  xdotool key Return
  within 20 is_visible '^Open File$' || fail "the chooser did not open"
  focus "$(visible '^Open File$')" || fail "cannot focus the chooser"
  xdotool key ctrl+l
  xdotool type --delay 20 "$1"
  xdotool key Return
  within 15 is_hidden '^Open File$' || fail "the chooser did not take the file"
  focus "$window" || fail "cannot focus the window again"
}
ended() { has_ended "$app_pid"; }
close_gui() {
  "$work/close_window" "$window" || fail "cannot ask the window to close"
  within 15 ended || fail "chronelle.exe did not end when its window was closed"
  local status=0
  wait "$app_pid" || status=$?
  app_pid=
  [ "$status" -eq 0 ] || fail "chronelle.exe ended with status $status"
}

start_gui
choose notes.txt
xdotool key Tab
entry_shows 'Type de fichier non compatible' || fail "notes.txt was not refused"
ok "the chooser refuses a file that is not subtitles: \"Type de fichier non compatible\""

xdotool key shift+Tab
choose 'épisode 2 été.srt'
xdotool key Tab
entry_shows "$(winepath -w "$gui/épisode 2 été.srt")" || fail "the entry does not show the chosen file"
xdotool key Tab Right Tab Tab Tab
xdotool type 2
xdotool key Tab Tab Return
within 10 same_bytes "$gui/épisode 2 été.srt" "$work/minus2.srt" || fail "the file was not shifted by -2 s"
ok "chosen at the keyboard, \"épisode 2 été.srt\" is shifted by \"Retirer\" 2 s exactly"

# The window as it ends: every control, the file's name and the success.
sleep 1
import -window "$window" "$work/window.png"
convert "$work/window.png" -strip -define png:exclude-chunks=date,time docs/chronelle-windows.png
read -r width height < <(identify -format '%w %h\n' "$work/window.png")
read -r bwidth bheight < <(identify -format '%w %h\n' "$app/share/chronelle/banniere.jpg")
[ "$width" -ge "$bwidth" ] && [ "$height" -gt "$bheight" ] ||
  fail "the window (${width}x$height) cannot hold the banner (${bwidth}x$bheight)"
face=$(wine reg query 'HKCU\Control Panel\Colors' /v ButtonFace 2>/dev/null | tr -d '\r' | awk '/ButtonFace/ { print $3, $4, $5 }')
pixel=$(convert "$work/window.png" -format '%[fx:int(255*p{40,60}.r)] %[fx:int(255*p{40,60}.g)] %[fx:int(255*p{40,60}.b)]' info:)
[ "$pixel" = "$face" ] || fail "the window's background is $pixel, not Windows' button face $face: no MS-Windows theme"
xprop -id "$window" _NET_WM_ICON >"$work/icon"
grep -q 'Icon (' "$work/icon" || fail "the window has no icon"
ok "the window opens with its banner, its icon and the MS-Windows theme (docs/chronelle-windows.png)"

close_gui
ok "closing the window ends chronelle.exe with status 0"

# "Open with": the file named on the command line is accepted at start.
start_gui 'épisode 3 été.srt'
xdotool key Tab
entry_shows "$(winepath -w "$gui/épisode 3 été.srt")" || fail "chronelle.exe FILE did not accept FILE"
xdotool key Tab Tab Tab Tab
xdotool type 2
xdotool key Tab Tab Return
within 10 same_bytes "$gui/épisode 3 été.srt" "$work/plus2.srt" || fail "the file given at start was not shifted by +2 s"
close_gui
ok "chronelle.exe FILE accepts the file at start; \"Ajouter\" 2 s shifts it"

echo "windows: $passed passed, 0 failed"
