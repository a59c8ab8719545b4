#!/usr/bin/env bash
# Times chronelle-shift on a generated 100 MB CR LF SubRip file, in place,
# against dd rewriting the same file in place, in one run: --add with and
# without the sync to disk (against dd with and without fsync), then each
# other change, a selection and a change in two pieces, against --add in the
# same run. Prints medians, ratios and peak memory.
# Usage: bench/bench.sh [SIZE_MB] [RUNS]
set -euo pipefail
cd "$(dirname "$0")/.."
size=${1:-100}
runs=${2:-11}

source bench/common.sh

work=$(mktemp -d "${TMPDIR:-/var/tmp}/chronelle-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT
file=$work/film.srt
python3 bench/make_srt.py "$work/original.srt" "$size"
cp "$work/original.srt" "$file"
bytes=$(stat -c %s "$file")

# Every side is timed the same way, in turns, on the same file, its page
# cache warm; those that change the file for good get the original back
# (untimed) after each run. Each command's wall time and processor time
# (user and system: what other work on the machine disturbs less) are taken
# by bench/timed.py around it alone.
declare -A times cpu
sides=(add add-sync dd dd-fsync to sync fps from pieces)
t() { python3 bench/timed.py "$work/t" "$@"; }
run_side() {
  case $1 in
    add) t "$shift_bin" -q --no-sync -a 5 "$file" && t "$shift_bin" -q --no-sync -r 5 "$file" ;;
    add-sync) t "$shift_bin" -q -a 5 "$file" && t "$shift_bin" -q -r 5 "$file" ;;
    dd) t dd if="$file" of="$file" bs=1M conv=notrunc status=none &&
        t dd if="$file" of="$file" bs=1M conv=notrunc status=none ;;
    dd-fsync) t dd if="$file" of="$file" bs=1M conv=notrunc,fsync status=none &&
              t dd if="$file" of="$file" bs=1M conv=notrunc,fsync status=none ;;
    to) t "$shift_bin" -q --no-sync --to 0:01:05 "$file" && t "$shift_bin" -q --no-sync --to 0:01:00 "$file" ;;
    sync) t "$shift_bin" -q --no-sync --sync 0:01:00=0:01:01,90:00:00=90:00:30 "$file" &&
          t "$shift_bin" -q --no-sync --sync 0:01:01=0:01:00,90:00:30=90:00:00 "$file" ;;
    fps) t "$shift_bin" -q --no-sync --fps 23.976:25 "$file" && t "$shift_bin" -q --no-sync --fps 25:23.976 "$file" ;;
    from) t "$shift_bin" -q --no-sync --from 40:00:00 -a 5 "$file" &&
          t "$shift_bin" -q --no-sync --from 40:00:05 -r 5 "$file" ;;
    pieces) t "$shift_bin" -q --no-sync --piece 0-40:00:00=+5 --piece 40:00:00-=-5 "$file" &&
            t "$shift_bin" -q --no-sync --piece 0-40:00:05=-5 --piece 40:00:05-=+5 "$file" ;;
  esac
}
load_before=$(cut -d' ' -f1-3 /proc/loadavg)
cat "$file" >/dev/null
for i in $(seq "$runs"); do
  for side in "${sides[@]}"; do
    : >"$work/t"
    run_side "$side"
    # Two passes each (there and back): the time of one.
    times[$side]+="$(awk '{ s += $1 } END { print s / 2 }' "$work/t") "
    cpu[$side]+="$(awk '{ s += $2 } END { print s / 2 }' "$work/t") "
    case $side in
      to|sync|fps|from|pieces) cp "$work/original.srt" "$file" ;;
    esac
  done
done
cmp -s "$file" "$work/original.srt" || { echo "bench: the file did not come back to its bytes" >&2; exit 1; }

peak() {  # KB
  /usr/bin/time -f %M -o "$work/mem" "$shift_bin" -q --no-sync "$@" "$file"
  cp "$work/original.srt" "$file"
  cat "$work/mem"
}
med() { printf '%s\n' ${times[$1]} | median; }
medcpu() { printf '%s\n' ${cpu[$1]} | median; }

printf 'file: %.1f MB, CR LF, %d runs of each, medians; load average %s before, %s after\n' \
  "$(awk "BEGIN{print $bytes / 1e6}")" "$runs" "$load_before" "$(cut -d' ' -f1-3 /proc/loadavg)"
add=$(med add) dd=$(med dd)
printf '%-34s %8.3f s  cpu %.3f s  %5.0f MB/s  peak %.1f MB\n' "chronelle-shift --add --no-sync" "$add" \
  "$(medcpu add)" "$(awk "BEGIN{print $bytes / 1e6 / $add}")" "$(awk "BEGIN{print $(peak -a 5) / 1024}")"
printf '%-34s %8.3f s  cpu %.3f s\n' "dd conv=notrunc" "$dd" "$(medcpu dd)"
printf '%-34s %8.3f s  cpu %.3f s\n' "chronelle-shift --add (synced)" "$(med add-sync)" "$(medcpu add-sync)"
printf '%-34s %8.3f s  cpu %.3f s\n' "dd conv=notrunc,fsync" "$(med dd-fsync)" "$(medcpu dd-fsync)"
printf 'ratio --no-sync / dd: %.2f (target <= 2; in processor time %.2f); synced / dd fsync: %.2f (target <= 1.3)\n' \
  "$(awk "BEGIN{print $add / $dd}")" "$(awk "BEGIN{print $(medcpu add) / $(medcpu dd)}")" \
  "$(awk "BEGIN{print $(med add-sync) / $(med dd-fsync)}")"
for side in to sync fps from pieces; do
  case $side in
    to) args=(--to 0:01:05) ;; sync) args=(--sync 0:01:00=0:01:01,90:00:00=90:00:30) ;;
    fps) args=(--fps 23.976:25) ;; from) args=(--from 40:00:00 -a 5) ;;
    pieces) args=(--piece 0-40:00:00=+5 --piece 40:00:00-=-5) ;;
  esac
  m=$(med $side)
  printf '%-34s %8.3f s  %.2f x --add (target <= 1.3; in processor time %.2f)  peak %.1f MB\n' \
    "chronelle-shift ${args[*]}" "$m" "$(awk "BEGIN{print $m / $add}")" \
    "$(awk "BEGIN{print $(medcpu $side) / $(medcpu add)}")" \
    "$(awk "BEGIN{print $(peak "${args[@]}") / 1024}")"
done
