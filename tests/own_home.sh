#!/usr/bin/env bash
# Runs a command with a home and XDG folders of its own, fresh and empty, so
# that nothing of the settings, bookmarks or recent files of whoever runs the
# tests counts (a GTK+ 2 file chooser left typing locations, say), and
# nothing one test leaves there reaches another, and in the C locale (UTF-8).
# Removed afterwards.
# Usage: own_home.sh COMMAND [ARGS...]
set -euo pipefail
home=$(mktemp -d "${TMPDIR:-/tmp}/chronelle-home-XXXXXX")
trap 'rm -rf "$home"' EXIT
export HOME=$home XDG_CONFIG_HOME=$home/.config XDG_DATA_HOME=$home/.local/share \
  XDG_CACHE_HOME=$home/.cache XDG_STATE_HOME=$home/.local/state XDG_RUNTIME_DIR=$home/.run
mkdir -p "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_CACHE_HOME" "$XDG_STATE_HOME"
mkdir -m 700 "$XDG_RUNTIME_DIR"
# Nor their language: messages are checked in English; a test that wants
# another language asks for it.
export LC_ALL=C.UTF-8
unset LANGUAGE
"$@"
