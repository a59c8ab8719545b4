#!/usr/bin/env bash
# Installs the Debian packages that building and testing Chronelle need,
# only those missing. Usage: tools/deps.sh [run|test|bench]
set -euo pipefail

packages=(g++ cmake make pkg-config libgtk2.0-dev)
# chronelle-shift's messages in other languages: msgfmt compiles po/.
packages+=(gettext)
# chronelle-shift --match: FFmpeg's libraries decode a film's sound.
packages+=(libavformat-dev libavcodec-dev libswresample-dev libavutil-dev)
if [ "${1:-run}" = test ]; then
  packages+=(libgtest-dev xvfb xauth x11-utils xdotool imagemagick clang-14 libclang-rt-14-dev clang-format
             util-linux desktop-file-utils man-db dpkg-dev file llvm-14 python3)
  # Installing and packaging: man pages rendered, "Open with" read back from the
  # entry's selection, the MIME type of .srt files, and the Windows resources
  # and toolchain file tried with MinGW-w64.
  packages+=(groff-base xclip shared-mime-info binutils-mingw-w64-i686 g++-mingw-w64-i686-win32)
  # Test films with a known truth (tests/films/): voices, encoding, the mixing;
  # --match's tests encode and mux their films with the ffmpeg program too.
  packages+=(espeak-ng ffmpeg python3-numpy)
  # The window over the accessibility bus: GTK+ 2's ATK (gail) and its bridge
  # to AT-SPI, the bus and registry, a session bus of the test's own, pyatspi.
  packages+=(libgail-common libatk-adaptor at-spi2-core dbus-daemon python3-pyatspi)
  # chronelle-shift in French, the C library's own messages too.
  packages+=(locales)
fi
if [ "${1:-run}" = bench ]; then
  packages+=(python3 python3-srt ffmpeg time espeak-ng python3-numpy)
  # bench/voices: the same, and apt-get download and dpkg-deb, which every Debian has,
  # for the game's voices and other games' music (fetched into its cache, never installed).
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# The French locale, which the tests of chronelle-shift's French ask for.
if [ "${1:-run}" = test ] && ! locale -a 2>/dev/null | grep -qix 'fr_FR.utf8'; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  $sudo sed -i 's/^# *fr_FR.UTF-8 UTF-8/fr_FR.UTF-8 UTF-8/' /etc/locale.gen
  grep -qx 'fr_FR.UTF-8 UTF-8' /etc/locale.gen || echo 'fr_FR.UTF-8 UTF-8' | $sudo tee -a /etc/locale.gen >/dev/null
  $sudo locale-gen >/dev/null
fi
