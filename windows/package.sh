#!/usr/bin/env bash
# Builds chronelle.exe and chronelle-shift.exe for 32- and 64-bit Windows
# against the GTK+ 2 stack of build-stack.sh, and packs each in a zip.
# Usage: windows/package.sh [ARCH...]   (default: i686 x86_64)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
archs=("$@")
[ ${#archs[@]} -gt 0 ] || archs=(i686 x86_64)

version=$(sed -n 's/^project(chronelle VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
[ -n "$version" ] || { echo "package: no version in CMakeLists.txt" >&2; exit 1; }
if ! command -v zip >/dev/null || ! command -v file >/dev/null; then
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends zip file >/dev/null
fi
out=$root/build-windows
zips=()

# Copies into $stage/bin every DLL that $1 imports from the stack, and what
# those import in turn; an import found neither there nor among Windows' own
# DLLs is an error.
system_dlls=$(tr 'A-Z' 'a-z' < windows/system-dlls.txt)
bundle_imports() {
  local dll
  for dll in $("$host-objdump" -p "$1" | awk '/DLL Name:/ { print $3 }'); do
    [ ! -f "$stage/bin/$dll" ] || continue
    if [ -f "$prefix/bin/$dll" ]; then
      cp "$prefix/bin/$dll" "$stage/bin/"
      bundle_imports "$stage/bin/$dll"
    elif ! grep -qx "$(echo "$dll" | tr 'A-Z' 'a-z')" <<<"$system_dlls"; then
      echo "package: $1 imports $dll, which is neither in the stack nor a Windows DLL" >&2
      exit 1
    fi
  done
}

# Both stacks at once: much of a build is one configure script or one link
# at a time, which leaves the other core idle.
mkdir -p "$out"
pids=()
for arch in "${archs[@]}"; do
  bash windows/build-stack.sh "$arch" >"$out/stack-$arch" &
  pids+=($!)
done
for i in "${!pids[@]}"; do
  wait "${pids[$i]}" || { echo "package: the ${archs[$i]} stack failed to build" >&2; exit 1; }
done

for arch in "${archs[@]}"; do
  host=$arch-w64-mingw32
  prefix=$(cat "$out/stack-$arch")
  echo "== chronelle $version for Windows ($arch), against $prefix"

  build=$out/build-$arch
  # pkg-config's answers are kept in CMake's cache: against another stack,
  # start afresh.
  grep -qxF "GTK2_BUNDLE:PATH=$prefix" "$build/CMakeCache.txt" 2>/dev/null || rm -rf "$build"
  cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" \
    -DMINGW_TRIPLET="$host" -DGTK2_BUNDLE="$prefix" -DCMAKE_BUILD_TYPE=Release \
    -DCHRONELLE_BUILD_TESTS=OFF -DCHRONELLE_WERROR=ON >/dev/null
  cmake --build "$build" -j "$(nproc)" >/dev/null

  name=chronelle-$version-windows-$arch
  stage=$out/$name
  rm -rf "$stage"
  cmake --install "$build" --prefix "$stage" >/dev/null

  # The MS-Windows theme, its engine, and the settings that choose it.
  engines=lib/gtk-2.0/2.10.0/engines
  mkdir -p "$stage/$engines" "$stage/share/themes" "$stage/etc/gtk-2.0"
  cp "$prefix/$engines/libwimp.dll" "$stage/$engines/"
  cp -r "$prefix/share/themes/MS-Windows" "$stage/share/themes/"
  printf 'gtk-theme-name = "MS-Windows"\r\n' > "$stage/etc/gtk-2.0/gtkrc"
  for f in "$stage"/bin/*.exe "$stage/$engines/libwimp.dll"; do bundle_imports "$f"; done

  # French for the toolkit's own texts (the chooser's buttons and columns).
  mkdir -p "$stage/share/locale/fr/LC_MESSAGES"
  cp "$prefix"/share/locale/fr/LC_MESSAGES/{gtk20,glib20}.mo "$stage/share/locale/fr/LC_MESSAGES/"

  # Licence notices of the libraries, and where their code came from;
  # FFmpeg's only when its DLLs are shipped.
  mkdir -p "$stage/share/licenses"
  cp -r "$prefix"/share/licenses/* "$stage/share/licenses/"
  unshipped='^#'
  if ! ls "$stage"/bin/avcodec-*.dll >/dev/null 2>&1; then
    rm -r "$stage/share/licenses/ffmpeg"
    unshipped='^#\|^ffmpeg '
  fi
  mkdir -p "$stage/share/licenses/zlib" "$stage/share/licenses/gcc-runtime"
  cp /usr/share/doc/libz-mingw-w64/copyright "$stage/share/licenses/zlib/"
  cp /usr/share/doc/gcc-mingw-w64-base/copyright "$stage/share/licenses/gcc-runtime/"
  {
    echo "Debian source packages (suite, upstream tarball, SHA-256) the libraries were built from:"
    grep -v "$unshipped" windows/sources.txt
    echo
    echo "zlib and GCC's runtime: Debian's libz-mingw-w64 and gcc-mingw-w64 packages."
    echo "Changes made to build them for Windows:"
    echo "- cairo: _FORTIFY_SOURCE taken out of its generated Makefiles (MinGW has no __memcpy_chk)."
    for p in windows/patches/*.patch; do echo "- $(basename "$p" .patch): $(head -n 1 "$p")"; done
  } | sed 's/$/\r/' > "$stage/share/licenses/SOURCES.txt"

  cp data/exemple.srt "$stage/"
  { printf '\357\273\277'; sed -e "s/@VERSION@/$version/" -e "s/@ARCH@/$arch/" -e 's/$/\r/' windows/LISEZMOI.txt; } \
    > "$stage/LISEZMOI.txt"

  find "$stage" \( -name '*.exe' -o -name '*.dll' \) -exec "$host-strip" --strip-unneeded {} +
  rm -f "$out/$name.zip"
  (cd "$stage" && zip -qr -X "$out/$name.zip" .)
  echo "$name.zip: $(find "$stage/bin" -name '*.dll' | wc -l) DLLs, $(du -sh "$stage" | cut -f1) unpacked, $(du -h "$out/$name.zip" | cut -f1)"
  zips+=("$out/$name.zip")
done
printf '%s\n' "${zips[@]}"
