#!/usr/bin/env bash
# Cross-compiles GTK+ 2 and what it needs for Windows (ARCH i686 or x86_64)
# from Debian's source packages, into a prefix cached outside the clone.
# Usage: windows/build-stack.sh ARCH   (prints the prefix's path on stdout)
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
arch=${1:-}
case $arch in
  i686) cpu_family=x86 ;;
  x86_64) cpu_family=x86_64 ;;
  *) echo "usage: windows/build-stack.sh i686|x86_64" >&2; exit 2 ;;
esac
host=$arch-w64-mingw32
build=$(gcc -dumpmachine)
cache=${CHRONELLE_CACHE:-/var/cache/chronelle/windows}
jobs=$(nproc)
cflags="-O2 -pipe"

say() { echo "build-stack: $*" >&2; }
die() { say "$*"; exit 1; }

# ---- tools -----------------------------------------------------------------
# One architecture's build at a time installs tools and fetches tarballs:
# package.sh builds both at once.
mkdir -p "$cache"
exec 9>"$cache/.fetch.lock"
flock 9

tools=(g++-mingw-w64-i686-win32 g++-mingw-w64-x86-64-win32 libz-mingw-w64-dev meson ninja-build
       cmake nasm autoconf automake libtool make pkg-config patch xz-utils bzip2 gettext
       libglib2.0-dev-bin libgdk-pixbuf2.0-bin gtk-update-icon-cache)
missing=()
for p in "${tools[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  say "installing ${missing[*]}"
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq -o DPkg::Lock::Timeout=600 \
    --no-install-recommends "${missing[@]}" >/dev/null
fi

# ---- the recipes ------------------------------------------------------------
# Only these functions, the sources, the patches and the compiler's version go
# into the prefix's name: changing any of them builds a new prefix.

configure_autotools() {
  ./configure --host="$host" --build="$build" --prefix="$prefix" --enable-shared --disable-static "$@"
}

# Removes subdir('NAME') from the top meson.build, so that what NAME holds
# (tests, examples, tools) is neither built nor installed; a NAME not there
# is an error, so that a new version cannot quietly build it again.
drop_meson_subdirs() {
  local d
  for d in "$@"; do
    grep -qx "subdir('$d')" meson.build
    sed -i "/^subdir('$d')\$/d" meson.build
  done
}

setup_meson() {
  meson setup _build --cross-file "$work/cross.txt" --prefix "$prefix" --libdir lib \
    --buildtype release -Ddefault_library=shared --wrap-mode=nofallback "$@"
  ninja -C _build -j "$jobs"
  ninja -C _build install
}

build_gettext() {
  # Only libintl: gettext's tools are not needed on Windows.
  cd gettext-runtime
  configure_autotools --enable-threads=windows --without-libiconv-prefix --without-libintl-prefix \
    --disable-java --disable-csharp --disable-libasprintf --disable-openmp --disable-curses
  make -C intl -j "$jobs"
  make -C intl install
}

build_libffi() {
  configure_autotools --disable-docs --disable-multi-os-directory
  make -j "$jobs"
  make install
}

build_pcre2() {
  configure_autotools --enable-pcre2-8 --disable-pcre2-16 --disable-pcre2-32
  # The library without its tools (pcre2grep, pcre2test).
  make -j "$jobs" bin_PROGRAMS=
  make install bin_PROGRAMS=
}

build_glib2_0() {
  # Only the French translations are shipped.
  echo fr > po/LINGUAS
  drop_meson_subdirs fuzzing
  setup_meson -Dtests=false -Dgtk_doc=false -Dman=false -Dlibelf=disabled -Dsysprof=disabled \
    -Dxattr=false -Dlibmount=disabled -Dselinux=disabled -Ddtrace=false -Dsystemtap=false -Dnls=enabled
}

build_libpng1_6() {
  configure_autotools
  # The library without its tools (pngfix, png-fix-itxt).
  make -j "$jobs" bin_PROGRAMS=
  make install bin_PROGRAMS=
}

build_libjpeg_turbo() {
  cmake -S . -B _build -G Ninja -DCMAKE_SYSTEM_NAME=Windows -DCMAKE_SYSTEM_PROCESSOR="$arch" \
    -DCMAKE_C_COMPILER="$host-gcc" -DCMAKE_RC_COMPILER="$host-windres" \
    -DCMAKE_FIND_ROOT_PATH="/usr/$host;$prefix" -DCMAKE_FIND_ROOT_PATH_MODE_PROGRAM=NEVER \
    -DCMAKE_FIND_ROOT_PATH_MODE_LIBRARY=ONLY -DCMAKE_FIND_ROOT_PATH_MODE_INCLUDE=ONLY \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_C_FLAGS="$cflags" -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DENABLE_STATIC=OFF -DWITH_TURBOJPEG=OFF -DWITH_SIMD=ON -DCMAKE_ASM_NASM_COMPILER=nasm
  ninja -C _build -j "$jobs"
  ninja -C _build install
}

build_pixman() {
  setup_meson -Dtests=disabled -Dgtk=disabled -Dlibpng=disabled -Dopenmp=disabled \
    -Dgnuplot=false -Dtimers=false
}

build_cairo() {
  configure_autotools --enable-win32 --enable-win32-font --enable-png --disable-gobject \
    --disable-xlib --disable-xcb --disable-quartz --disable-ft --disable-fc \
    --disable-trace --disable-interpreter LIBS="-lmsimg32 -lgdi32"
  # configure adds _FORTIFY_SOURCE, whose __memcpy_chk and kin MinGW's
  # runtime lacks without libssp: the DLL would not link.
  find . -name Makefile -exec sed -i 's/-Wp,-D_FORTIFY_SOURCE=2//g' {} +
  ! grep -rq _FORTIFY_SOURCE=2 --include=Makefile .
  make -C src -j "$jobs"
  make -C src install
}

build_fribidi() {
  drop_meson_subdirs bin test
  setup_meson -Ddocs=false
}

build_harfbuzz() {
  drop_meson_subdirs util
  setup_meson -Dglib=enabled -Dgobject=disabled -Dcairo=disabled -Dicu=disabled \
    -Dgraphite=disabled -Dfreetype=disabled -Dgdi=disabled -Ddirectwrite=disabled \
    -Dtests=disabled -Ddocs=disabled -Dintrospection=disabled -Dbenchmark=disabled -Dchafa=disabled
}

build_pango1_0() {
  drop_meson_subdirs utils examples tests
  setup_meson -Dfontconfig=disabled -Dfreetype=disabled -Dxft=disabled -Dlibthai=disabled \
    -Dintrospection=disabled -Dsysprof=disabled -Dcairo=enabled -Dgtk_doc=false
}

build_gdk_pixbuf() {
  # The loaders go inside the DLL: no loaders.cache to make or to ship.
  setup_meson -Dpng=enabled -Djpeg=enabled -Dtiff=disabled -Dbuiltin_loaders=all \
    -Dgtk_doc=false -Dman=false -Dintrospection=disabled -Dinstalled_tests=false -Dtests=false
}

build_at_spi2_core() {
  # atk alone, which is all GTK+ 2 needs of it.
  patch -p1 < "$here/patches/at-spi2-core-atk-only-without-libxml.patch"
  setup_meson -Datk_only=true -Dintrospection=disabled -Ddocs=false -Dx11=disabled
}

build_gtk_2_0() {
  # Only the French translations are shipped.
  echo fr > po/LINGUAS
  configure_autotools --with-gdktarget=win32 --without-x --disable-glibtest --disable-cups \
    --disable-papi --disable-test-print-backend --disable-gtk-doc --disable-man \
    --disable-introspection --with-included-immodules=ime --disable-modules --disable-visibility
  # The libraries, their translations and the MS-Windows theme engine: not
  # the tests that gdk/ and gtk/ build with themselves, nor gtk's tools, the
  # demos, the other modules or the documentation.
  sed -i 's/^SUBDIRS = \$(gdktarget) \. tests$/SUBDIRS = $(gdktarget) ./' gdk/Makefile
  sed -i 's/^SUBDIRS = theme-bits \. tests$/SUBDIRS = theme-bits ./' gtk/Makefile
  grep -qx 'SUBDIRS = $(gdktarget) .' gdk/Makefile
  grep -qx 'SUBDIRS = theme-bits .' gtk/Makefile
  local d no_tools=(bin_PROGRAMS= bin_SCRIPTS=)
  for d in po gdk gtk modules/engines/ms-windows; do make -C "$d" -j "$jobs" "${no_tools[@]}"; done
  for d in po gdk gtk modules/engines/ms-windows; do make -C "$d" install "${no_tools[@]}"; done
  make install-pkgconfigDATA install-data-hook
}

build_ffmpeg() {
  # The audio of films, read and decoded: the demuxers, decoders and parsers
  # of the usual containers and codecs, nothing else. LGPL: neither
  # --enable-gpl nor --enable-nonfree. Threads on, for libavcodec's locks.
  ./configure --prefix="$prefix" --enable-cross-compile --cross-prefix="$host-" --target-os=mingw32 \
    --arch="$cpu_family" --pkg-config=pkg-config --enable-shared --disable-static \
    --disable-autodetect --enable-w32threads --enable-zlib --disable-programs --disable-doc \
    --disable-debug --disable-network --disable-avdevice --disable-avfilter --disable-swscale \
    --disable-postproc --disable-everything --enable-protocol=file \
    --enable-demuxer=matroska,mov,avi,mpegts,wav \
    --enable-decoder=aac,aac_latm,ac3,eac3,dca,mp3,mp3float,mp2,mp2float,opus,flac,vorbis,'pcm_*' \
    --enable-parser=aac,aac_latm,ac3,dca,mpegaudio,opus,flac,vorbis | tee configure.out
  grep -qx 'License: LGPL version 2.1 or later' configure.out
  grep -q '^threading support *w32threads$' configure.out
  make -j "$jobs"
  make install
}

recipes() {
  declare -f configure_autotools drop_meson_subdirs setup_meson
  for pkg in "${packages[@]}"; do declare -f "build_$(fn_name "$pkg")"; done
  echo "$cflags"
}

fn_name() { echo "$1" | tr -c 'a-zA-Z0-9\n' _; }

# ---- the sources --------------------------------------------------------------

packages=() suites=() tarballs=() sums=()
while read -r pkg suite tarball sum; do
  case $pkg in ''|'#'*) continue ;; esac
  packages+=("$pkg") suites+=("$suite") tarballs+=("$tarball") sums+=("$sum")
done < "$here/sources.txt"

sources=$cache/sources
mkdir -p "$sources"

# apt-get source for a suite, with an apt configuration of our own for any
# suite other than this machine's; its index is fetched again with "refresh".
apt_source() {
  local suite=$1 pkg=$2 refresh=${3:-} opts=()
  if [ "$suite" != "$(. /etc/os-release && echo "$VERSION_CODENAME")" ]; then
    local d=$cache/apt-$suite
    if [ ! -d "$d/lists" ]; then
      mkdir -p "$d/lists/partial" "$d/cache/archives/partial" "$d/parts"
      echo "deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://deb.debian.org/debian $suite main" \
        > "$d/sources.list"
    fi
    opts=(-o "Dir::Etc::SourceList=$d/sources.list" -o "Dir::Etc::SourceParts=$d/parts"
          -o "Dir::State::Lists=$d/lists" -o "Dir::Cache=$d/cache")
    [ -z "$refresh" ] && [ -n "$(ls "$d/lists" | grep Sources)" ] || apt-get "${opts[@]}" update -qq >&2
  else
    ensure_deb_src "$pkg"
    [ -z "$refresh" ] || apt-get update -qq >&2
  fi
  apt-get "${opts[@]}" source --print-uris -qq "$pkg"
}

ensure_deb_src() {
  apt-get source --print-uris -qq "$1" >/dev/null 2>&1 && return
  if ! grep -rqsE '^(Types:.*deb-src|deb-src )' /etc/apt/sources.list /etc/apt/sources.list.d/; then
    say "adding a deb-src entry for Debian's sources"
    cat > /etc/apt/sources.list.d/chronelle-deb-src.sources <<EOF
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
EOF
  fi
  apt-get update -qq >&2
}

fetch() {
  local pkg=$1 suite=$2 tarball=$3 sum=$4 uri tmp
  if [ -f "$sources/$tarball" ]; then
    echo "$sum  $sources/$tarball" | sha256sum -c --quiet - >/dev/null 2>&1 ||
      die "$tarball in $sources does not match its SHA-256 in windows/sources.txt"
    return
  fi
  say "fetching $tarball"
  uri_of() { awk -v f="$tarball" '$2 == f { gsub("\047", "", $1); print $1 }'; }
  uri=$(apt_source "$suite" "$pkg" | uri_of)
  [ -n "$uri" ] || uri=$(apt_source "$suite" "$pkg" refresh | uri_of)
  [ -n "$uri" ] || die "$pkg ($suite) no longer has $tarball; its sources now: $(apt_source "$suite" "$pkg" |
    awk '$2 ~ /orig/ { printf "%s ", $2 }')- update windows/sources.txt"
  tmp=$(mktemp -d "$sources/.fetch-XXXXXX")
  ! id _apt >/dev/null 2>&1 || chown _apt "$tmp"
  /usr/lib/apt/apt-helper download-file "$uri" "$tmp/$tarball" "SHA256:$sum" >&2 ||
    { rm -rf "$tmp"; die "$tarball: download failed or its SHA-256 is not the one in windows/sources.txt"; }
  mv "$tmp/$tarball" "$sources/$tarball"
  rm -rf "$tmp"
}

# ---- the prefix -----------------------------------------------------------------

key=$({ cat "$here/sources.txt" "$here"/patches/*; recipes; "$host-gcc" --version | head -n 1; } |
      sha256sum | cut -c1-12)
prefix=$cache/$arch-$key
work=$cache/work-$arch-$key
if [ -f "$prefix/.complete" ]; then
  echo "$prefix"
  exit 0
fi

for i in "${!packages[@]}"; do
  fetch "${packages[$i]}" "${suites[$i]}" "${tarballs[$i]}" "${sums[$i]}"
done
flock -u 9
exec 9>&-

mkdir -p "$prefix/bin" "$prefix/lib/pkgconfig" "$prefix/.stamps" "$work/logs" "$work/bin"
say "building into $prefix (logs in $work/logs)"

# pkg-config that sees the prefix and MinGW's own .pc files only, so that no
# library of this Linux machine gets in.
cat > "$work/bin/pkg-config" <<EOF
#!/bin/sh
PKG_CONFIG_LIBDIR=$prefix/lib/pkgconfig:$prefix/share/pkgconfig:/usr/$host/lib/pkgconfig PKG_CONFIG_PATH= exec /usr/bin/pkg-config "\$@"
EOF
chmod +x "$work/bin/pkg-config"
cat > "$work/cross.txt" <<EOF
[binaries]
c = '$host-gcc'
cpp = '$host-g++'
ar = '$host-ar'
strip = '$host-strip'
windres = '$host-windres'
pkgconfig = '$work/bin/pkg-config'

[built-in options]
c_args = ['-O2', '-pipe', '-I$prefix/include']
cpp_args = ['-O2', '-pipe', '-I$prefix/include']
c_link_args = ['-L$prefix/lib']
cpp_link_args = ['-L$prefix/lib']

[host_machine]
system = 'windows'
cpu_family = '$cpu_family'
cpu = '$arch'
endian = 'little'
EOF
export PKG_CONFIG=$work/bin/pkg-config
export CPPFLAGS="-I$prefix/include" LDFLAGS="-L$prefix/lib" CFLAGS="$cflags" CXXFLAGS="$cflags"
export PATH=$work/bin:$PATH

# zlib and the compiler's runtime come from Debian's MinGW-w64 packages; the
# project's toolchain file reads only the prefix's .pc files.
cp "/usr/$host/lib/pkgconfig/zlib.pc" "$prefix/lib/pkgconfig/"
cp "/usr/$host/lib/zlib1.dll" "$prefix/bin/"
for dll in libgcc_s_dw2-1.dll libgcc_s_seh-1.dll libstdc++-6.dll; do
  f=$("$host-gcc" -print-file-name="$dll")
  [ "$f" = "$dll" ] || cp "$f" "$prefix/bin/"
done

for i in "${!packages[@]}"; do
  pkg=${packages[$i]}
  [ ! -f "$prefix/.stamps/$pkg" ] || continue
  log=$work/logs/$pkg.log
  say "$pkg ($arch)"
  rm -rf "$work/src"
  mkdir -p "$work/src"
  tar -xf "$sources/${tarballs[$i]}" -C "$work/src"
  dir=$(find "$work/src" -mindepth 1 -maxdepth 1 -type d | head -n 1)
  # In the background, so that errexit holds inside the recipe (it would not
  # in the condition of an if or ||).
  # Timed with the CPU it took, which other work on the machine does not
  # change as it does the wall time.
  (cd "$dir" && set -x && "build_$(fn_name "$pkg")") >"$log" 2>&1 &
  status=0
  { TIMEFORMAT='%0R s (%0U s user, %0S s system)'; time wait $!; } 2>"$work/time" || status=$?
  [ $status -eq 0 ] || die "$pkg failed to build for $arch; see $log"
  # The licence notices, for the zip (gettext's own is the GPL of its tools;
  # libintl has the LGPL).
  notices=$dir names=(-name 'COPYING*' -o -name 'LICEN[CS]E*' -o -name README.ijg)
  [ "$pkg" != gettext ] || notices=$dir/gettext-runtime/intl
  # FFmpeg built without --enable-gpl: its LGPL 2.1, not the GPL texts beside it.
  [ "$pkg" != ffmpeg ] || names=(-name LICENSE.md -o -name COPYING.LGPLv2.1)
  mkdir -p "$prefix/share/licenses/$pkg"
  find "$notices" -maxdepth 1 \( -type f -o -type l \) \( "${names[@]}" \) -exec cp -L {} "$prefix/share/licenses/$pkg/" \;
  cp "$work/time" "$prefix/.stamps/$pkg"
  say "$pkg done in $(cat "$work/time")"
done

# libtool archives hold this machine's paths and are of no use to MinGW.
find "$prefix/lib" -name '*.la' -delete
rm -rf "$work/src"
touch "$prefix/.complete"
echo "$prefix"
