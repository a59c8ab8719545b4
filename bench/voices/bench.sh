#!/usr/bin/env bash
# The matcher's bench on films of real recorded voices: installs what it needs,
# makes what is missing (build-voices/ unless --cache), prints the tables.
# Usage: bash bench/voices/bench.sh [--shift BIN] [--cache DIR] [--only REGEX] [--no-speed] [--runs N]
set -euo pipefail
cd "$(dirname "$0")/../.."
bash tools/deps.sh bench
exec /usr/bin/python3 bench/voices/bench.py "$@"
