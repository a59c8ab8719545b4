#!/usr/bin/env bash
# A Debian trixie root in which 32-bit Wine runs the i686 zip. These
# machines' kernels start no 32-bit Linux program, and wine64 refuses a
# 32-bit .exe, so Wine's 32-bit loader is run by the qemu-i386 user-mode
# emulator (trixie's qemu 10 starts a process in about a second, bookworm's
# 7.2 in about 70). Built once into the cache with a Wine prefix ready;
# windows/test.sh runs it through an overlay that each run throws away.
# Usage: windows/wine32-root.sh   (prints the root's path on stdout)
set -euo pipefail

cache=${CHRONELLE_CACHE:-/var/cache/chronelle/windows}
suite=trixie
mirror=http://deb.debian.org/debian
# The versions proven here. The mirror keeps only a suite's latest: when one
# has moved on, the newer one is taken and said (the .debs once fetched stay
# in the cache, so a machine that has them keeps these).
wine=10.0~repack-6
packages=(wine32:i386="$wine" fonts-wine="$wine" qemu-user=1:10.0.13+ds-0+deb13u1)

say() { echo "wine32-root: $*" >&2; }
die() { say "$*"; exit 1; }

# ---- the root: only this function, the suite, the mirror and the packages
# go into its folder's name; changing any of them builds a new root. --------

in_root() { chroot "$new" env DEBIAN_FRONTEND=noninteractive "$@" >>"$log" 2>&1; }

make_root() {
  debootstrap --variant=minbase --cache-dir="$debs" "$suite" "$new" "$mirror" >>"$log" 2>&1 ||
    die "debootstrap of $suite failed; see $log"
  mount -t proc proc "$new/proc"
  mount --bind /dev "$new/dev"
  mount --bind "$debs" "$new/var/cache/apt/archives"
  local install=(apt-get install -y -q --no-install-recommends) version font
  in_root dpkg --add-architecture i386
  in_root apt-get update -q || die "apt-get update in the root failed; see $log"
  if ! in_root "${install[@]}" "${packages[@]}"; then
    say "warning: $suite no longer has ${packages[*]}; taking its current versions"
    in_root "${install[@]}" "${packages[@]%%=*}" || die "installing Wine in the root failed; see $log"
  fi

  # The 64-bit wineserver, which needs only libc: the 32-bit one would need
  # qemu too. Wine's own script picks it when it is there.
  version=$(chroot "$new" dpkg-query -W -f='${Version}' wine32:i386)
  in_root sh -c "cd /tmp && apt-get download wine64=$version && dpkg-deb --fsys-tarfile wine64_*.deb |
    tar -x -C / ./usr/lib/wine/wineserver64 && rm wine64_*.deb" || die "no wineserver64; see $log"
  # Wine starts its 32-bit loader for every process: through qemu-i386. No
  # binfmt_misc, which would be the whole machine's.
  mv "$new/usr/lib/wine/wine" "$new/usr/lib/wine/wine.elf"
  printf '#!/bin/sh\nexec /usr/bin/qemu-i386 -0 "$0" /usr/lib/wine/wine.elf "$@"\n' >"$new/usr/lib/wine/wine"
  chmod +x "$new/usr/lib/wine/wine"

  # The prefix: no .NET or HTML engine offered, no menu entries, and the
  # fonts that the MS-Windows theme asks for registered, since Pango finds
  # fonts through DirectWrite, which does not see Wine's own until then.
  local run=(env WINEPREFIX=/root/pfx32 WINEARCH=win32 WINEDEBUG=-all
              WINEDLLOVERRIDES='mscoree,mshtml=;winemenubuilder.exe=d' /usr/lib/wine/wine)
  local fonts='HKLM\Software\Microsoft\Windows NT\CurrentVersion\Fonts'
  in_root "${run[@]}" wineboot --init || die "wineboot failed; see $log"
  for font in 'Tahoma:tahoma' 'Tahoma Bold:tahomabd' 'Marlett:marlett'; do
    cp "$new/usr/share/wine/fonts/${font#*:}.ttf" "$new/root/pfx32/drive_c/windows/Fonts/"
    in_root "${run[@]}" reg add "$fonts" /v "${font%:*} (TrueType)" /t REG_SZ /d "${font#*:}.ttf" /f
  done
  # No window manager in the tests: Wine draws title bars and borders itself.
  in_root "${run[@]}" reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /t REG_SZ /d N /f
  in_root /usr/lib/wine/wineserver -w
  chroot "$new" dpkg-query -W -f='${Package} ${Version}\n' wine32 qemu-user >"$new/VERSIONS"
}

# ---------------------------------------------------------------------------

root=$cache/wine32-$({ declare -f make_root; echo "$suite $mirror ${packages[*]}"; } | sha256sum | cut -c1-12)
[ ! -f "$root/.complete" ] || { echo "$root"; exit 0; }
mkdir -p "$cache"
exec 9>"$cache/.wine32.lock"
flock 9
[ ! -f "$root/.complete" ] || { echo "$root"; exit 0; }

if ! command -v debootstrap >/dev/null; then
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq -o DPkg::Lock::Timeout=600 \
    --no-install-recommends debootstrap >/dev/null
fi

new=$root.new debs=$cache/wine32-debs log=$cache/wine32-root.log
# Whether no process runs in the root any more: the last Wine processes
# end a moment after wineserver -w returns.
settled() {
  local p
  for p in /proc/[0-9]*/root; do [ "$(readlink "$p" 2>/dev/null)" != "$new" ] || return 1; done
}
unmount() {
  local m _
  for _ in $(seq 300); do settled && break; sleep 0.1; done
  for m in var/cache/apt/archives dev proc; do ! mountpoint -q "$new/$m" || umount "$new/$m"; done
}
trap unmount EXIT
trap 'exit 143' TERM INT
unmount
rm -rf --one-file-system "$new"
mkdir -p "$debs"
: >"$log"
say "$suite with 32-bit Wine and qemu-i386 into $new (log in $log)"
# Emulated Wine processes that crash on the way out (harmless) dump no core.
ulimit -c 0
make_root
unmount
mv "$new" "$root"
touch "$root/.complete"
say "done: $(tr '\n' ' ' <"$root/VERSIONS")"
echo "$root"
