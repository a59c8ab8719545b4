#!/usr/bin/env bash
# Shifts a generated 100 MB CR LF SubRip file in place with chronelle-shift and
# compares it with dd rewriting the same file in place; prints medians, the
# ratio and chronelle-shift's peak memory. Usage: bench/bench.sh [SIZE_MB] [RUNS]
set -euo pipefail
cd "$(dirname "$0")/.."
size=${1:-100}
runs=${2:-5}

source bench/common.sh

work=$(mktemp -d "${TMPDIR:-/var/tmp}/chronelle-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT
file=$work/film.srt
python3 bench/make_srt.py "$file" "$size"
cp "$file" "$work/original.srt"
bytes=$(stat -c %s "$file")

# Warm the page cache so both sides start alike.
cat "$file" >/dev/null

# Both sides are timed the same way, in turns; peak memory comes from runs
# of their own, so that /usr/bin/time weighs on neither.
shift_times=() dd_times=() peak_kb=0
for i in $(seq "$runs"); do
  # Alternate adding and removing so the file stays as it began.
  if [ $((i % 2)) -eq 1 ]; then dir=-a; else dir=-r; fi
  t0=$(now)
  "$shift_bin" -q $dir 5 "$file"
  t1=$(now)
  shift_times+=("$(awk "BEGIN{print $t1 - $t0}")")
  t0=$(now)
  dd if="$file" of="$file" bs=1M conv=notrunc status=none
  t1=$(now)
  dd_times+=("$(awk "BEGIN{print $t1 - $t0}")")
done
for dir in -a -r; do
  /usr/bin/time -f %M -o "$work/mem" "$shift_bin" -q $dir 5 "$file"
  kb=$(cat "$work/mem"); [ "$kb" -gt "$peak_kb" ] && peak_kb=$kb
done
[ $((runs % 2)) -eq 1 ] && "$shift_bin" -q -r 5 "$file"
cmp -s "$file" "$work/original.srt" || { echo "bench: the file did not come back to its bytes" >&2; exit 1; }

s=$(printf '%s\n' "${shift_times[@]}" | median)
d=$(printf '%s\n' "${dd_times[@]}" | median)
awk -v s="$s" -v d="$d" -v b="$bytes" -v k="$peak_kb" -v r="$runs" 'BEGIN {
  printf "file: %.1f MB, CR LF, %d runs each\n", b / 1e6, r
  printf "chronelle-shift in place: median %.3f s (%.0f MB/s), peak memory %.1f MB\n", s, b / 1e6 / s, k / 1024
  printf "dd conv=notrunc in place: median %.3f s\n", d
  printf "ratio chronelle-shift / dd: %.2f (target <= 2)\n", s / d
}'
