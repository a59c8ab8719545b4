#!/usr/bin/env bash
# The matcher's benchmark: accuracy on generated films with a known truth,
# speed on two-hour films, against the targets. Installs what it needs; films
# are made once and kept (build-match-films/ unless --cache).
# Usage: bench/match.sh [--shift BIN] [--cache DIR] [--only REGEX] [--no-speed] [--runs N]
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/deps.sh bench
exec /usr/bin/python3 bench/match.py "$@"
