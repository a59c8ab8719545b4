#!/usr/bin/env bash
# Shifts one generated CR LF SubRip file by +5 s with chronelle-shift and with
# the tools a user might pick instead (srt fixed-timeshift from python3-srt,
# ffmpeg), checks every output, and prints each tool's median time, peak
# memory and ratio to chronelle-shift, and chronelle-shift's ratio to dd
# rewriting the same file in place, as a Markdown table.
# Usage: bench/compare.sh [SIZE_MB] [RUNS] [FAST_RUNS]
#   defaults: 100 MB; 5 runs of srt and ffmpeg, 15 of chronelle-shift and dd,
#   whose runs are short enough to be disturbed by anything else running.
set -euo pipefail
cd "$(dirname "$0")/.."
size=${1:-100}
runs=${2:-5}
fast_runs=${3:-15}

# The other tools come from Debian; only the benchmarks need them.
source bench/common.sh

work=$(mktemp -d "${TMPDIR:-/var/tmp}/chronelle-compare-XXXXXX")
trap 'rm -rf "$work"' EXIT
original=$work/original.srt
file=$work/film.srt
out=$work/out.srt
python3 bench/make_srt.py "$original" "$size"
bytes=$(stat -c %s "$original")


# One timed run of a tool on a fresh copy of the file with a warm page cache;
# with LAST set, its output is checked afterwards.
# once NAME LAST CHECK COMMAND...; CHECK is exact, cues or same.
declare -A times peak_kb found
once() {
  local name=$1 last=$2 check=$3
  shift 3
  local t0 t1 kb
  cp "$original" "$file"
  rm -f "$out"
  cat "$file" >/dev/null
  t0=$(now)
  /usr/bin/time -f %M -o "$work/mem" "$@" >/dev/null 2>"$work/err" ||
    { echo "compare: $name failed:" >&2; cat "$work/err" >&2; exit 1; }
  t1=$(now)
  times[$name]+="$(awk "BEGIN{print $t1 - $t0}") "
  kb=$(tail -n 1 "$work/mem")
  [ "$kb" -gt "${peak_kb[$name]:-0}" ] && peak_kb[$name]=$kb
  [ "$last" = yes ] || return 0
  case $check in
    exact) found[$name]=$(python3 bench/check_output.py exact "$original" "$file" 5000) ;;
    cues) found[$name]=$(python3 bench/check_output.py cues "$original" "$out" 5000) ;;
    same) cmp -s "$original" "$file" && found[$name]="the same bytes, rewritten in place" ;;
  esac || { echo "compare: $name: wrong output: ${found[$name]:-}" >&2; exit 1; }
}

# Taking turns, each pair of tools meets the same disturbances, if any.
for i in $(seq "$fast_runs"); do
  last=no; [ "$i" -eq "$fast_runs" ] && last=yes
  once chronelle-shift $last exact "$shift_bin" -q --no-sync --add 5 "$file"
  once dd $last same dd if="$file" of="$file" bs=1M conv=notrunc status=none
done
for i in $(seq "$runs"); do
  last=no; [ "$i" -eq "$runs" ] && last=yes
  once "srt fixed-timeshift" $last cues srt-fixed-timeshift --seconds 5 --input "$file" --output "$out"
  once ffmpeg $last cues ffmpeg -nostdin -v error -itsoffset 5 -i "$file" -c copy -y "$out"
done
declare -A median_s
for name in "${!times[@]}"; do
  median_s[$name]=$(printf '%s\n' ${times[$name]} | median)
done

c=${median_s[chronelle-shift]}
echo "Measured $(date -u +%Y-%m-%d) on $(lscpu | sed -n 's/^Model name: *//p' | head -n 1)," \
  "$(nproc) CPUs, Linux $(uname -r), $(df -T "$work" | awk 'NR==2 {print $2}') file system;" \
  "file of $(awk -v b="$bytes" 'BEGIN {printf "%.1f", b / 1e6}') MB with CR LF," \
  "median of $fast_runs runs (chronelle-shift, dd) or $runs (srt, ffmpeg), page cache warm."
echo
echo "| Tool | Median time | Peak memory | Time / chronelle-shift | Output checked |"
echo "|---|---|---|---|---|"
for name in chronelle-shift "srt fixed-timeshift" ffmpeg dd; do
  awk -v n="$name" -v t="${median_s[$name]}" -v k="${peak_kb[$name]}" -v c="$c" -v f="${found[$name]}" \
    'BEGIN {printf "| %s | %.3f s | %.1f MB | %.2f | %s |\n", n, t, k / 1024, t / c, f}'
done
echo
awk -v c="$c" -v d="${median_s[dd]}" -v k="${peak_kb[chronelle-shift]}" \
  -v s="${median_s[srt fixed-timeshift]}" -v f="${median_s[ffmpeg]}" 'BEGIN {
  printf "chronelle-shift: %.0fx faster than srt fixed-timeshift, %.0fx faster than ffmpeg (target >= 20x);\n", s / c, f / c
  printf "%.2f times the dd rewrite (target <= 2); peak memory %.1f MB (target < 10 MB).\n", c / d, k / 1024
}'
