#!/usr/bin/env bash
# The window's tests run by someone whose GTK+ 2 file chooser was left typing
# locations and opening on the recently used files: with_display.sh gives
# them a home of their own, so those settings must not change their outcome.
# Usage: runner_settings_test.sh WITH_DISPLAY WINDOW_TEST
set -euo pipefail
home=$(mktemp -d "${TMPDIR:-/tmp}/chronelle-runner-XXXXXX")
trap 'rm -rf "$home"' EXIT
mkdir -p "$home/.config/gtk-2.0"
printf '%s\n' '[Filechooser Settings]' LocationMode=filename-entry ShowHidden=false \
  StartupMode=recent >"$home/.config/gtk-2.0/gtkfilechooser.ini"
# Two tests that choose files with the chooser, and that those settings broke.
out=$(env -u XDG_CONFIG_HOME -u XDG_DATA_HOME HOME="$home" bash "$1" "$2" \
  --gtest_filter='WindowTest.RefusesWhatCannotBeReadAndDoesNotCrash:WindowTest.NamesThatAreNotUtf8OpenAndShowValidUtf8' 2>&1) ||
  { echo "$out"; exit 1; }
grep -q '^\[  PASSED  \] 2 tests\.' <<<"$out" || { echo "$out"; echo "runner_settings_test: the two tests did not run" >&2; exit 1; }
echo "runner_settings_test: the window's tests pass with the runner's chooser settings in its home"
