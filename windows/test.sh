#!/usr/bin/env bash
# Proof of the Windows zips: both checked file by file, then both run for
# real, each unzipped into a fresh Wine and used as a person would: the x86_64
# one under 64-bit Wine, the i686 one under 32-bit Wine run by qemu-i386 in a
# trixie root (windows/wine32-root.sh). The two chronelle-shift.exe give the
# same bytes on the same cases; FFmpeg's libraries decode films there.
set -euo pipefail
cd "$(dirname "$0")/.."

# debootstrap here, not by wine32-root.sh while build-stack.sh runs apt too.
need=(wine wine64 fonts-wine xvfb xauth x11-xkb-utils xdotool xclip imagemagick x11-utils unzip file g++ libx11-dev
      ffmpeg espeak-ng python3-numpy debootstrap)
missing=()
for p in "${need[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq -o DPkg::Lock::Timeout=600 \
    --no-install-recommends "${missing[@]}" >/dev/null
fi

work=$(mktemp -d /tmp/chronelle-windows-test-XXXXXX)
xvfb_pid= app_pid= root_pid=
root32=$work/root32  # the overlay over the trixie root for 32-bit Wine
in_root32() {  # whether some process still runs in the root
  local p
  for p in /proc/[0-9]*/root; do [ "$(readlink "$p" 2>/dev/null)" != "$root32" ] || return 0; done
  return 1
}
unmount_root32() {
  mountpoint -q "$root32" || return 0
  chroot "$root32" env WINEPREFIX=/root/pfx32 /usr/lib/wine/wineserver -k 2>/dev/null || true
  local m _
  for _ in $(seq 100); do in_root32 || break; sleep 0.1; done
  for m in "$work" /tmp/.X11-unix /dev /proc ""; do
    mountpoint -q "$root32$m" || continue
    umount "$root32$m" 2>/dev/null || umount -l "$root32$m"
  done
}
cleanup() {
  [ -z "$app_pid" ] || kill "$app_pid" 2>/dev/null || true
  [ -z "$root_pid" ] || kill "$root_pid" 2>/dev/null || true
  [ -z "${WINEPREFIX:-}" ] || wineserver -k 2>/dev/null || true
  unmount_root32
  [ -z "$xvfb_pid" ] || kill "$xvfb_pid" 2>/dev/null || true
  # Never through a mount left behind: the root's /dev is the machine's.
  rm -rf --one-file-system "$work"
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
# The wall and CPU time of each stage, for the README. The CPU is that of
# the programs this script ran and waited for (compilers, Wine's programs,
# qemu), not that of the Wine servers, which live on.
lap_wall=$SECONDS lap_cpu=0
lap() {
  local cpu
  cpu=$(times | tail -n 1 | awk '{ split($1, u, /[ms]/); split($2, s, /[ms]/)
                                   print int(60 * (u[1] + s[1]) + u[2] + s[2]) }')
  echo "windows: time: $1: $((SECONDS - lap_wall)) s, $((cpu - lap_cpu)) s of CPU"
  lap_wall=$SECONDS lap_cpu=$cpu
}

echo "== the zips"
# The trixie root for 32-bit Wine is built meanwhile, if the cache has none:
# it mostly waits on the mirror while the stacks keep both cores busy.
bash windows/wine32-root.sh >"$work/root32.path" 2>"$work/root32.log" &
root_pid=$!
bash windows/package.sh | tee "$work/package.log"
mapfile -t zips < <(tail -n 2 "$work/package.log")
for z in "${zips[@]}"; do [ -f "$z" ] || fail "package.sh did not end with the zips' paths"; done
lap "the stacks (unless cached) and the zips"

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
           share/licenses/gettext/COPYING.LIB share/locale/fr/LC_MESSAGES/gtk20.mo \
           share/locale/fr/LC_MESSAGES/chronelle.mo; do
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
  # The command line needs no GTK: Windows' own DLLs, gettext's libintl for
  # its messages and, to read films, FFmpeg's, which come with their licence
  # and source.
  for dll in $(imports "$dir/bin/chronelle-shift.exe"); do
    grep -qix "$dll" <<<"$system_dlls" || [[ $dll =~ ^((avformat|avcodec|avutil|swresample)-[0-9]+|libintl-8)\.dll$ ]] ||
      fail "$arch: chronelle-shift.exe needs $dll"
  done
  if ls "$dir"/bin/avcodec-*.dll >/dev/null 2>&1; then
    grep -q '(LGPL v2.1+)' "$dir/share/licenses/ffmpeg/LICENSE.md" &&
      [ -s "$dir/share/licenses/ffmpeg/COPYING.LGPLv2.1" ] && grep -q '^ffmpeg ' "$dir/share/licenses/SOURCES.txt" ||
      fail "$arch: FFmpeg's DLLs without its licence or its source named"
  fi
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
  ok "$arch zip: $pe for $machine, chronelle.exe GUI, chronelle-shift.exe console without GTK, $(ls "$dir"/bin/*.dll | wc -l) DLLs all imported and none missing"
done

lap "both zips checked file by file"

echo "== both zips under Wine"
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

# 64-bit Wine, this machine's. No .NET or HTML engine to offer to install,
# no menu entries made.
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

# 32-bit Wine: the cached trixie root, through an overlay that this run
# throws away; $work is mounted at the same path inside, so that a path
# under it is the same for both.
status=0
wait "$root_pid" || status=$?
root_pid=
[ "$status" -eq 0 ] || fail "windows/wine32-root.sh: $(cat "$work/root32.log")"
lower=$(cat "$work/root32.path")
mkdir -p "$work/upper32" "$work/overlay32" "$root32"
mount -t overlay overlay -o "lowerdir=$lower,upperdir=$work/upper32,workdir=$work/overlay32" "$root32"
mount -t proc proc "$root32/proc"
mount --bind /dev "$root32/dev"
mkdir -p "$root32/tmp/.X11-unix" "$root32$work"
mount --bind /tmp/.X11-unix "$root32/tmp/.X11-unix"
mount --bind "$work" "$root32$work"
mkdir -m 700 "$root32/tmp/xdg"
echo "windows: i686 under $(tr '\n' ' ' <"$lower/VERSIONS")(qemu-i386)"

# run_ARCH DIR PROGRAM ARGS...: PROGRAM run by that Wine in DIR (a path as
# that Wine's side sees it). They exec: call them in a subshell, so that the
# subshell's pid is the program's.
run_x86_64() { cd "$1" && exec wine "${@:2}"; }
run_i686() {
  exec chroot "$root32" env -C "$1" WINEPREFIX=/root/pfx32 WINEARCH=win32 XDG_RUNTIME_DIR=/tmp/xdg \
    /usr/lib/wine/wine "${@:2}"
}
# Each Wine's server kept running, and its services started now, their
# output to a log: else every program would start them anew (about 15 s
# under qemu) and they would write into that program's output.
wineserver -p
(run_x86_64 / wineboot) >"$work/wine64-start.log" 2>&1
chroot "$root32" env WINEPREFIX=/root/pfx32 /usr/lib/wine/wineserver -p
(run_i686 / wineboot) >"$work/wine32-start.log" 2>&1
lap "both Wines ready (the 64-bit prefix; the root for 32-bit Wine, unless cached, and its overlay)"

# Unzipped in a folder whose name has accents and a space, as anywhere.
declare -A app
for z in "${zips[@]}"; do
  arch=${z##*-}; arch=${arch%.zip}
  app[$arch]="$work/Logiciels été/Chronelle $arch"
  mkdir -p "${app[$arch]}"
  unzip -q "$z" -d "${app[$arch]}"
done

# Subtitles, CR LF: three cues with the timing lines given.
cues() { printf '%s\r\n' 1 "$1" 'Bonjour.' '' 2 "$2" 'Ça va ?' '' 3 "$3" 'Très bien, merci.' ''; }
original=('00:00:20,000 --> 00:00:24,400' '00:00:25,000 --> 00:00:28,000' '00:01:10,500 --> 00:01:12,000')
plus2=('00:00:22,000 --> 00:00:26,400' '00:00:27,000 --> 00:00:30,000' '00:01:12,500 --> 00:01:14,000')
minus2=('00:00:18,000 --> 00:00:22,400' '00:00:23,000 --> 00:00:26,000' '00:01:08,500 --> 00:01:10,000')
minus1_5=('00:00:18,500 --> 00:00:22,900' '00:00:23,500 --> 00:00:26,500' '00:01:09,000 --> 00:01:10,500')

echo "-- chronelle-shift.exe"
# The same cases for both: each shifts its own copy of a file; the exit
# status, the output and the bytes after are kept in $work/cli-ARCH/NAME.*
# and compared between the two.
cues "${original[@]}" >"$work/three.srt"
printf 'Pas des sous-titres.\r\n' >"$work/notes.txt"
cases=(
  'Épisode été.srt|three.srt|-a 2'
  'retirer.srt|three.srt|-r 0:00:01,5'
  'fps.srt|exemple.srt|--fps 25:23.976'
  'sync.srt|exemple.srt|--sync 0:00:04.8=0:00:05,0:00:40=0:00:41.3'
  'to.srt|exemple.srt|--to 0:00:41,300'
  'part.srt|exemple.srt|--from 0:00:08 --until 0:00:30 --add 1,5'
  'cues.srt|exemple.srt|--cues 2-4 -r 5'
  'held.srt|three.srt|-r 0:00:21'
  'dry.srt|exemple.srt|--dry-run --fps 24:25'
  'notes.txt|notes.txt|-a 2'
  'usage.srt|three.srt|--fps 25'
)
cp data/exemple.srt "$work/"
cli_cases() {
  local arch=$1 dir="$work/Séries été/cli-$1" case name from args status
  mkdir -p "$dir"
  for case in "${cases[@]}"; do
    IFS='|' read -r name from args <<<"$case"
    cp "$work/$from" "$dir/$name"
    status=0
    # shellcheck disable=SC2086  # the arguments are words
    (run_$arch "$dir" "${app[$arch]}/bin/chronelle-shift.exe" $args "$name") \
      >"$dir/$name.out" 2>"$dir/$name.err" || status=$?
    echo "$status" >"$dir/$name.status"
  done
}
for arch in x86_64 i686; do
  cli_cases "$arch"
  dir="$work/Séries été/cli-$arch"
  cmp -s "$dir/Épisode été.srt" <(cues "${plus2[@]}") || fail "$arch: a name with accents: not shifted by 2 s"
  cmp -s "$dir/retirer.srt" <(cues "${minus1_5[@]}") || fail "$arch: not shifted by -1.5 s"
  [ "$(cat "$dir/notes.txt.status")" = 1 ] && cmp -s "$dir/notes.txt" "$work/notes.txt" ||
    fail "$arch: a file that is not subtitles was not refused untouched"
  # In the language of this Windows, French; in English in the C locale.
  grep -q "notes.txt"$'\xc2\xa0'": pas un fichier de sous-titres" "$dir/notes.txt.err" ||
    fail "$arch: not in French: $(cat "$dir/notes.txt.err")"
  english=$(LC_MESSAGES=C run_$arch "$dir" "${app[$arch]}/bin/chronelle-shift.exe" -a 2 notes.txt 2>&1) || true
  grep -q 'notes.txt: not a subtitle file' <<<"$english" || fail "$arch: not in English in the C locale: $english"
  [ "$(cat "$dir/usage.srt.status")" = 2 ] || fail "$arch: a rate alone is not a usage error"
  for case in "${cases[@]:0:9}"; do
    [ "$(cat "$dir/${case%%|*}.status")" = 0 ] || fail "$arch: ${case//|/ }: $(cat "$dir/${case%%|*}.err")"
  done
done
diff -r "$work/Séries été/cli-x86_64" "$work/Séries été/cli-i686" >"$work/cli.diff" ||
  fail "the two chronelle-shift.exe differ: $(head -c 2000 "$work/cli.diff")"
lap "the CLI cases under both Wines"
ok "both chronelle-shift.exe: the same bytes, output and status on ${#cases[@]} cases (every change, selections, a name with accents, held times, a dry run, a refusal, a usage error), said in French, in English in the C locale"

# Over 4 GiB, sparse: cues at the start, one across 2^32 and one past it, one
# at the very end; a second shift started while the first runs is refused.
big_case() {
  local arch=$1 big=$work/grand-$1.srt first status line=${original[0]} shifted=${minus1_5[0]}
  local size=$((2 ** 32 + 512 * 2 ** 20))
  put() { printf '%s' "$2" | dd of="$big" bs=1 seek="$1" conv=notrunc status=none; }
  at() { dd if="$big" bs=1 skip="$1" count="$2" status=none; }
  cues "${original[@]}" >"$big"
  put $((2 ** 32 - 20)) $'\n'"$line"$'\r\n'
  put $((2 ** 32 + 100)) $'\n'"$line"$'\r\n'
  truncate -s $((size - 32)) "$big"
  put $((size - 32)) $'\n'"$line"$'\r\n'
  (run_$arch "$work" "${app[$arch]}/bin/chronelle-shift.exe" -r 0:00:01,5 "${big##*/}") >"$work/first" 2>&1 &
  first=$!
  # Opened by some process: 32-bit Wine runs the program in a process of its
  # own, not in the one it was started as; the wineserver holds it too.
  opened() {
    [ -n "$(find /proc/[0-9]*/fd -maxdepth 1 -lname "*/${big##*/}" 2>/dev/null | head -n 1)" ]
  }
  within 60 opened || fail "$arch: the first shift of the big file did not open it"
  status=0
  (run_$arch "$work" "${app[$arch]}/bin/chronelle-shift.exe" -a 1 "${big##*/}") >"$work/second" 2>&1 || status=$?
  [ "$status" -eq 1 ] && grep -q 'un autre processus décale ce fichier' "$work/second" ||
    fail "$arch: a second shift during the first: status $status, $(cat "$work/second")"
  status=0
  wait "$first" || status=$?
  [ "$status" -eq 0 ] || fail "$arch: the first shift of the big file: status $status, $(cat "$work/first")"
  [ "$(stat -c %s "$big")" -eq "$size" ] &&
    cmp -s <(head -c "$(cues "${original[@]}" | wc -c)" "$big") <(cues "${minus1_5[@]}") &&
    [ "$(at $((2 ** 32 - 19)) 29)" = "$shifted" ] &&
    [ "$(at $((2 ** 32 + 101)) 29)" = "$shifted" ] &&
    [ "$(at $((size - 31)) 29)" = "$shifted" ] || fail "$arch: the big file was not shifted by -1.5 s exactly once"
  grep -q "^${big##*/}"$'\xc2\xa0'": 6 lignes de temps décalées" "$work/first" || fail "$arch: first shift said: $(cat "$work/first")"
  rm -f "$big"
  ok "$arch chronelle-shift.exe shifts a sparse $((size >> 20)) MiB file across and past 2^32; a second shift meanwhile is refused"
}
source tests/ui/x_helpers.sh
big_case x86_64
big_case i686
lap "the 4.5 GiB file under both Wines"

echo "-- chronelle-shift.exe --match"
# A two-minute film with a known truth (tests/films/), AC-3 5.1 in Matroska;
# its subtitle 3.5 s late, and timed for 25 fps where the film runs at
# 23.976. Each Wine's chronelle-shift.exe, with the zip's FFmpeg, must put
# the cues back on the speech, and leave an unrelated subtitle untouched.
films=$work/films
mkdir -p "$films"
/usr/bin/python3 tests/films/make_film.py --seed 1501 --duration 2:00 --codec ac3 -o "$films/film.mkv" \
  >"$films/make.log" 2>&1 || fail "the test film could not be made: $(tail -n 5 "$films/make.log")"
for c in 'late:offset --offset 3.5' 'fps:fps --fps 25:23.976' 'unrelated:unrelated --other-seed 1502'; do
  /usr/bin/python3 tests/films/make_case.py "$films/film.json" ${c#*:} -o "$films/${c%%:*}.srt" \
    >>"$films/make.log" 2>&1 || fail "the case ${c%%:*} could not be made: $(tail -n 5 "$films/make.log")"
done
for arch in x86_64 i686; do
  for name in late fps unrelated; do
    cp "$films/$name.srt" "$films/$name-$arch.srt"
    status=0
    (run_$arch "$films" "${app[$arch]}/bin/chronelle-shift.exe" --match film.mkv "$name-$arch.srt") \
      >"$films/$name-$arch.out" 2>&1 || status=$?
    want=0
    [ "$name" != unrelated ] || want=1
    [ "$status" -eq "$want" ] && /usr/bin/python3 tests/films/check_match.py "$films/$name.json" \
      "$films/$name-$arch.srt" >"$films/$name-$arch.check" 2>&1 ||
      fail "$arch: --match on $name: status $status: $(tr -d '\r' <"$films/$name-$arch.out"; cat "$films/$name-$arch.check")"
  done
  ok "$arch chronelle-shift.exe --match: the zip's FFmpeg hears AC-3 5.1 in Matroska; 3.5 s late and 25 to 23.976 put back on the speech, an unrelated subtitle refused untouched"
done
lap "--match under both Wines"

echo "-- chronelle.exe"
g++ -O2 -o "$work/close_window" tests/ui/close_window.cpp -lX11

# The window of ARCH's zip: its working folder (where the chooser opens) on
# that Wine's C: drive, so that the picture shows a Windows path, with no
# pictures there, so that they come from the zip's share/chronelle.
# gui_in is that folder as the Wine sees it, gui_out as this script does.
use_gui() {
  arch=$1
  case $arch in
    x86_64) gui_in="$WINEPREFIX/drive_c/Vidéos été" gui_out=$gui_in slow=1 ;;
    i686) gui_in="/root/pfx32/drive_c/Vidéos été" gui_out=$root32$gui_in slow=4 ;;
  esac
  mkdir -p "$gui_out"
  cues "${original[@]}" >"$gui_out/épisode 2 été.srt"
  cues "${original[@]}" >"$gui_out/épisode 3 été.srt"
  printf 'Pas des sous-titres.\r\n' >"$gui_out/notes.txt"
  cp data/exemple.srt "$gui_out/film 25 images.srt"
  highlight=$(colour Hilight)
  [ -n "$highlight" ] || fail "$arch: no highlight colour in Wine's registry"
}
cues "${minus2[@]}" >"$work/minus2.srt"
cues "${plus2[@]}" >"$work/plus2.srt"
start_gui() {
  (run_$arch "$gui_in" "${app[$arch]}/bin/chronelle.exe" "$@") >"$work/gui.log" 2>&1 &
  app_pid=$!
  # "Chronelle", or "NAME – Chronelle" once a file is accepted.
  within $((60 * slow)) is_visible 'Chronelle$' || fail "$arch: the window did not open"
  window=$(visible 'Chronelle$')
  focus "$window" || fail "$arch: cannot focus the window"
}
# What the entry (which has the focus) shows, read back through the clipboard.
entry_shows() {
  xdotool key ctrl+a ctrl+c
  within $((5 * slow)) bash -c '[ "$(xclip -o -selection clipboard -t UTF8_STRING 2>/dev/null)" = "$1" ]' _ "$1"
}
windows_path() { (run_$arch / winepath -w "$gui_in/$1") 2>/dev/null | tr -d '\r'; }
choose() {  # from "Ouvrir un fichier sous-titres": the name typed in the chooser
  xdotool key Return
  within $((20 * slow)) is_visible '^Open File$' || fail "$arch: the chooser did not open"
  focus "$(visible '^Open File$')" || fail "$arch: cannot focus the chooser"
  xdotool key ctrl+l
  xdotool type --delay 20 "$1"
  # Return only once the whole name is in: while GTK is still completing it,
  # Return takes the completion and leaves the chooser open. End drops a
  # completion's selection.
  entry_shows "$1" || fail "$arch: the chooser's entry does not show $1"
  xdotool key End Return
  within $((15 * slow)) is_hidden '^Open File$' || fail "$arch: the chooser did not take the file"
  focus "$window" || fail "$arch: cannot focus the window again"
}
ended() { has_ended "$app_pid"; }
close_gui() {
  "$work/close_window" "$window" || fail "$arch: cannot ask the window to close"
  within $((15 * slow)) ended || fail "$arch: chronelle.exe did not end when its window was closed"
  local status=0
  wait "$app_pid" || status=$?
  app_pid=
  [ "$status" -eq 0 ] || fail "$arch: chronelle.exe ended with status $status"
}
colour() {  # one of Windows' colours, as "R G B"
  (run_$arch / reg query 'HKCU\Control Panel\Colors' /v "$1") 2>/dev/null | tr -d '\r' |
    awk -v name="$1" '$1 == name { print $3, $4, $5 }'
}
# Whether the window, captured into $work/window.png, shows a shift's end:
# its bar full (a row at the foot of its left half, where the bar is even
# with "Plus de réglages" open beside it, mostly in Windows' highlight
# colour, which the bar takes only at 100 %), and nothing changed since the
# last capture.
shows_end() {
  local full half
  [ -f "$work/window.png" ] && mv "$work/window.png" "$work/before.png"
  import -window "$window" "$work/window.png" 2>/dev/null || return 1
  half=$(identify -format '%[fx:floor(w/2)]' "$work/window.png")
  full=$(convert "$work/window.png" -gravity southwest -crop "${half}x30+0+0" +repage \
    -fill black +opaque "rgb(${highlight// /,})" -fill white -opaque "rgb(${highlight// /,})" \
    -scale '1x30!' -format '%[fx:maxima]' info:)
  awk -v f="$full" 'BEGIN { exit !(f > 0.8) }' && [ -f "$work/before.png" ] &&
    [ "$(compare -metric AE "$work/before.png" "$work/window.png" null: 2>&1)" = 0 ]
}
# The window as it ends, into $1: every control, the file's name and the
# success, with the banner, the icon and the MS-Windows theme's colours.
picture() {
  rm -f "$work/window.png"
  within $((10 * slow)) shows_end || fail "$arch: after the shift, the bar is not full or the window keeps changing"
  convert "$work/window.png" -strip -define png:exclude-chunks=date,time "$1"
  read -r width height < <(identify -format '%w %h\n' "$work/window.png")
  read -r bwidth bheight < <(identify -format '%w %h\n' "${app[$arch]}/share/chronelle/banniere.jpg")
  [ "$width" -ge "$bwidth" ] && [ "$height" -gt "$bheight" ] ||
    fail "$arch: the window (${width}x$height) cannot hold the banner (${bwidth}x$bheight)"
  face=$(colour ButtonFace)
  pixel=$(convert "$work/window.png" -format '%[fx:int(255*p{40,60}.r)] %[fx:int(255*p{40,60}.g)] %[fx:int(255*p{40,60}.b)]' info:)
  [ "$pixel" = "$face" ] || fail "$arch: the window's background is $pixel, not Windows' button face $face: no MS-Windows theme"
  xprop -id "$window" _NET_WM_ICON >"$work/icon"
  grep -q 'Icon (' "$work/icon" || fail "$arch: the window has no icon"
}

# "Plus de réglages" at the keyboard, the file given at start: Alt+P opens
# it beside the rows, Tab to its first change, Down three times to
# "Convertir la fréquence d'images puis décaler", Tab to "Fréquence
# d'origine": 25, Tab Tab (past the list's button) to "Fréquence voulue":
# 23,976; Alt+M is "Move It! ". The bytes are those of chronelle-shift.exe
# --fps 25:23.976 on a copy (the CLI cases above). Open, the window still
# fits a laptop's screen (1000x700).
convert_rates() {
  start_gui 'film 25 images.srt'
  # Keys sent before the settings are drawn would go elsewhere: Tab waits
  # until the window has grown, and each key gives Wine time to take it.
  size() { xdotool getwindowgeometry "$window" | awk '/Geometry/ { split($2, g, "x"); print g[1], g[2] }'; }
  local before width height
  read -r before _ < <(size)
  xdotool key alt+p
  grown() { local w; read -r w _ < <(size); [ "$w" -gt "$before" ]; }
  within $((10 * slow)) grown || fail "$arch: Alt+P did not open \"Plus de réglages\""
  read -r width height < <(size)
  [ "$width" -le 1000 ] && [ "$height" -le 700 ] ||
    fail "$arch: with \"Plus de réglages\" open, the window is ${width}x$height, more than 1000x700"
  xdotool key --delay $((150 * slow)) Tab Down Down Down Tab
  xdotool type --delay $((100 * slow)) 25
  xdotool key --delay $((150 * slow)) Tab Tab
  xdotool type --delay $((100 * slow)) 23,976
  xdotool key alt+m
  within $((10 * slow)) same_bytes "$gui_out/film 25 images.srt" "$work/Séries été/cli-$arch/fps.srt" ||
    fail "$arch: the window did not convert the file from 25 to 23,976 as chronelle-shift.exe does"
  picture "docs/chronelle-windows-$arch-reglages.png"
  close_gui
  ok "$arch: \"Plus de réglages\" opens beside the rows (${width}x$height) and at the keyboard converts from 25 to 23,976 images per second, byte for byte as chronelle-shift.exe --fps 25:23.976 (docs/chronelle-windows-$arch-reglages.png)"
}

use_gui x86_64
start_gui
choose notes.txt
xdotool key Tab
entry_shows 'Type de fichier non compatible' || fail "notes.txt was not refused"
ok "x86_64: the chooser refuses a file that is not subtitles: \"Type de fichier non compatible\""

xdotool key shift+Tab
choose 'épisode 2 été.srt'
xdotool key Tab
entry_shows "$(windows_path 'épisode 2 été.srt')" || fail "the entry does not show the chosen file"
xdotool key Tab Right Tab Tab Tab
xdotool type 2
xdotool key Tab Tab Return
within 10 same_bytes "$gui_out/épisode 2 été.srt" "$work/minus2.srt" || fail "the file was not shifted by -2 s"
ok "x86_64: chosen at the keyboard, \"épisode 2 été.srt\" is shifted by \"Retirer\" 2 s exactly"
picture docs/chronelle-windows.png
ok "x86_64: the window opens with its banner, its icon and the MS-Windows theme (docs/chronelle-windows.png)"
close_gui
ok "x86_64: closing the window ends chronelle.exe with status 0"

# "Open with": the file named on the command line is accepted at start.
start_gui 'épisode 3 été.srt'
xdotool key Tab
entry_shows "$(windows_path 'épisode 3 été.srt')" || fail "chronelle.exe FILE did not accept FILE"
xdotool key Tab Tab Tab Tab
xdotool type 2
xdotool key Tab Tab Return
within 10 same_bytes "$gui_out/épisode 3 été.srt" "$work/plus2.srt" || fail "the file given at start was not shifted by +2 s"
close_gui
ok "x86_64: chronelle.exe FILE accepts the file at start; \"Ajouter\" 2 s shifts it"
convert_rates
lap "the x86_64 window"

# The 32-bit program, the one to offer first: chosen at the keyboard and
# shifted once, as above.
use_gui i686
# The file given at start: under 32-bit Wine run by qemu, GTK's chooser
# keeps the name typed in its entry and never answers (the x86_64 window
# above is driven through it).
start_gui 'épisode 2 été.srt'
xdotool key Tab
entry_shows "$(windows_path 'épisode 2 été.srt')" || fail "i686: the entry does not show the file given at start"
xdotool key Tab Right Tab Tab Tab
xdotool type 2
xdotool key Tab Tab Return
within 40 same_bytes "$gui_out/épisode 2 été.srt" "$work/minus2.srt" || fail "i686: the file was not shifted by -2 s"
picture docs/chronelle-windows-i686.png
close_gui
ok "i686: given at start, \"épisode 2 été.srt\" is shifted by \"Retirer\" 2 s exactly; banner, icon, theme (docs/chronelle-windows-i686.png); status 0 at close"
convert_rates
lap "the i686 window"

echo "windows: $passed passed, 0 failed"
