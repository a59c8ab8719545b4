#!/usr/bin/env bash
# The Debian package, as a user would get it: built by CPack from this build,
# its control fields and its list of files checked, then unpacked into a
# temporary folder (dpkg-deb -x) and used from there: chronelle-shift on a
# real file, chronelle on the display in $DISPLAY, from a working directory
# without pictures, finding the package's own pictures beside its bin folder,
# and opening a file named on its command line (open_with_test.sh).
# Run it through tests/ui/with_display.sh --private.
# Usage: package_test.sh CPACK BUILD_DIR SOURCE_DIR CLOSE_WINDOW VERSION BUILT_DATADIR
set -euo pipefail
cpack=$1
build=$2
source=$3
close_window=$4
version=$5
built_datadir=$6  # the data folder compiled into chronelle
here=$(dirname "$(readlink -f "$0")")

for tool in dpkg-deb dpkg-shlibdeps xdotool xprop xwininfo xclip; do
  command -v "$tool" >/dev/null || { echo "package test skipped: $tool is missing (bash tools/deps.sh test)"; exit 77; }
done

work=$(mktemp -d /tmp/chronelle-package-XXXXXX)
pid=
cleanup() {
  if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then kill "$pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "package: $*" >&2
  exit 1
}

# Built into a folder of its own, so that the build folder is left as it was.
"$cpack" --config "$build/CPackConfig.cmake" -G DEB -B "$work/out" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log" >&2; fail "cpack failed"; }
debs=("$work"/out/*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || fail "cpack made no single .deb: ${debs[*]}"
deb=${debs[0]}
arch=$(dpkg --print-architecture)
[ "$(basename "$deb")" = "chronelle_${version}_${arch}.deb" ] || fail "named $(basename "$deb")"

# Control fields.
field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = chronelle ] || fail "Package: $(field Package)"
[ "$(field Version)" = "$version" ] || fail "Version: $(field Version)"
[ "$(field Architecture)" = "$arch" ] || fail "Architecture: $(field Architecture)"
[ "$(field Section)" = video ] || fail "Section: $(field Section)"
[ -n "$(field Maintainer)" ] || fail "no Maintainer"
[ -n "$(field Description)" ] || fail "no Description"
depends=$(field Depends)
# Found by dpkg-shlibdeps in what the programs link: the toolkit and the C
# and C++ runtimes, each with a version.
dependencies=$(tr ',' '\n' <<<"$depends" | sed 's/^ *//')
for package in libgtk2.0-0 libglib2.0-0 libc6 libstdc++6; do
  awk -v p="$package" '$1 == p && $2 == "(>=" { found = 1 } END { exit !found }' <<<"$dependencies" ||
    fail "Depends lacks $package: $depends"
done
# Every dependency is a package that exists here (they were built against).
for package in $(sed 's/(.*)//; s/|.*//' <<<"$dependencies"); do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
    fail "Depends names $package, which is not installed here"
done
echo "package: $(basename "$deb"), Depends: $depends"

# Its files: exactly these, in these places, with these modes.
expected="-rwxr-xr-x ./usr/bin/chronelle
-rwxr-xr-x ./usr/bin/chronelle-shift
-rwxr-xr-x ./usr/libexec/chronelle/chronelle-shift-match
-rw-r--r-- ./usr/share/applications/chronelle.desktop
-rw-r--r-- ./usr/share/chronelle/banniere.jpg
-rw-r--r-- ./usr/share/chronelle/icone_chronelle.png"
for size in 128 16 22 24 256 32 48 64; do
  expected+=$'\n'"-rw-r--r-- ./usr/share/icons/hicolor/${size}x${size}/apps/chronelle.png"
done
expected+=$'\n'"-rw-r--r-- ./usr/share/man/man1/chronelle-shift.1.gz"
expected+=$'\n'"-rw-r--r-- ./usr/share/man/man1/chronelle.1.gz"
expected+=$'\n'"-rw-r--r-- ./usr/share/locale/fr/LC_MESSAGES/chronelle.mo"
for page in "$source"/man/fr/*.1; do
  expected+=$'\n'"-rw-r--r-- ./usr/share/man/fr/man1/${page##*/}.gz"
done
actual=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $1, $6 }' | sort)
[ "$actual" = "$(sort <<<"$expected")" ] ||
  fail "files of the package:"$'\n'"$(diff <(sort <<<"$expected") <(echo "$actual"))"
dpkg-deb -c "$deb" | awk '{ print $2 }' | grep -qv '^root/root$' && fail "files not owned by root"

root=$work/root
dpkg-deb -x "$deb" "$root"
for picture in icone_chronelle.png banniere.jpg; do
  cmp -s "$source/data/$picture" "$root/usr/share/chronelle/$picture" || fail "$picture differs from data/"
done
cmp -s "$source/data/chronelle.desktop" "$root/usr/share/applications/chronelle.desktop" ||
  fail "the desktop entry differs from data/"
desktop-file-validate "$root/usr/share/applications/chronelle.desktop" || fail "the entry does not validate"
for program in bin/chronelle bin/chronelle-shift libexec/chronelle/chronelle-shift-match; do
  ldd "$root/usr/$program" | grep 'not found' && fail "$program lacks a library"
  file -b "$root/usr/$program" | grep -q ', stripped' || fail "$program is not stripped"
done

# chronelle-shift from the package, on a real file.
shift=$root/usr/bin/chronelle-shift
[ "$("$shift" --version)" = "chronelle-shift $version" ] || fail "version: $("$shift" --version)"
printf '%s\r\n' 1 '00:00:20,000 --> 00:00:24,400' 'Bonjour.' '' 2 '00:00:25,000 --> 00:00:28,000' \
  'Au revoir.' '' 3 '00:01:00,000 --> 00:01:02,500' 'Fin.' '' >"$work/film.srt"
printf '%s\r\n' 1 '00:00:18,750 --> 00:00:23,150' 'Bonjour.' '' 2 '00:00:23,750 --> 00:00:26,750' \
  'Au revoir.' '' 3 '00:00:58,750 --> 00:01:01,250' 'Fin.' '' >"$work/expected.srt"
out=$("$shift" --remove 1,250 "$work/film.srt") || fail "chronelle-shift ended with $?"
[ "$out" = "$work/film.srt: 3 timing lines shifted" ] || fail "chronelle-shift said: $out"
cmp -s "$work/film.srt" "$work/expected.srt" || fail "chronelle-shift did not shift the file by -1.25 s"
status=0
"$shift" -a 1 "$root/usr/share/applications/chronelle.desktop" 2>/dev/null || status=$?
[ $status -eq 1 ] || fail "a file that is not subtitles gave status $status, not 1"
# In French from the package's catalogue, found beside its bin folder.
out=$(env -u LC_ALL -u LANGUAGE LANG=fr_FR.UTF-8 "$shift" --add 1,250 "$work/film.srt") || fail "chronelle-shift ended with $?"
[ "$out" = "$work/film.srt"$'\xc2\xa0'": 3 lignes de temps décalées" ] || fail "chronelle-shift said in French: $out"
echo "package: chronelle-shift shifted a file, refused another, and speaks French"

# chronelle from the package, started in an empty folder: the pictures come
# from ../share/chronelle beside its bin folder. Shown by the window's icon
# (128 pixels) and by the banner's height (its 100 pixels, where the broken
# image is much smaller), then by their absence once that folder is moved.
mkdir "$work/empty"
source "$(dirname "$0")/../ui/x_helpers.sh"
# Starts the packaged chronelle; prints "ICON-LINE HEIGHT" and closes it.
look() {
  (cd "$work/empty" && exec "$root/usr/bin/chronelle" >"$work/chronelle.log" 2>&1) &
  pid=$!
  within 15 is_visible '^Chronelle$' || { cat "$work/chronelle.log" >&2; fail "the packaged window did not open"; }
  local window
  window=$(visible '^Chronelle$')
  xprop -id "$window" _NET_WM_ICON >"$work/icon" 2>&1 || true
  local height
  height=$(xwininfo -id "$window" | awk '/Height:/ { print $2 }')
  "$close_window" "$window"
  local status=0
  wait "$pid" || status=$?
  pid=
  [ $status -eq 0 ] || fail "the packaged chronelle ended with status $status"
  echo "$(head -n 1 "$work/icon" | tr -d '\t') $height"
}
with=$(look)
grep -q 'Icon (128 x 128)' <<<"$with" || fail "no 128-pixel window icon: $with"
if [ -e "$built_datadir" ]; then
  echo "package: $built_datadir exists on this machine; the window is not tried without the package's pictures"
else
  mv "$root/usr/share/chronelle" "$work/pictures"
  without=$(look)
  mv "$work/pictures" "$root/usr/share/chronelle"
  grep -q 'not found' <<<"$without" || fail "a window icon without the pictures: $without"
  [ "${with##* }" -ge $((${without##* } + 50)) ] ||
    fail "the banner did not show: $with (with the pictures), $without (without)"
fi
echo "package: the packaged window found its pictures from an empty folder ($with)"

# "Open with" on the packaged chronelle.
bash "$here/open_with_test.sh" "$root/usr/bin/chronelle" "$close_window"
