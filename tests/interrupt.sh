#!/usr/bin/env bash
# Stops chronelle-shift at random moments (SIGINT, SIGTERM, SIGHUP) and
# finishes each job with the command it printed. At every stop the film must
# be exactly its first N timing lines shifted and the rest as it was, and
# once finished exactly what one uninterrupted shift gives. Some rounds run
# under a shell's file-size limit (SIGXFSZ at its default), others with a
# standard output whose reader has gone; a sparse film on a full file system
# must shift as if there were room.
# Usage: tests/interrupt.sh CHRONELLE_SHIFT [SIZE_MB] [ROUNDS]
set -euo pipefail
bin=$(realpath "$1")
size=${2:-300}
rounds=${3:-60}
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d "${TMPDIR:-/var/tmp}/chronelle-interrupt-XXXXXX")
mnt=$work/full
trap 'umount "$mnt" 2>/dev/null || true; rm -rf "$work"' EXIT
cd "$work"

fail() { echo "interrupt.sh: round $round: $*" >&2; exit 1; }

python3 "$here/../bench/make_srt.py" original.srt "$size"
cp original.srt expected.srt
"$bin" -q --no-sync --add 2 expected.srt

# How long the writing part of one shift takes here, so that the stops fall
# all along it (a stop during the sync at the end changes nothing).
cp original.srt film.srt
t0=$(date +%s%N)
"$bin" -q --no-sync --add 2 film.srt
span_ms=$(( ($(date +%s%N) - t0) / 1000000 + 1 ))
bytes=$(stat -c %s original.srt)

# Checks that film.srt is the original with its first $1 timing lines shifted.
first_lines_shifted() {
  cp original.srt ref.srt
  [ "$1" -eq 0 ] || "$bin" -q --no-sync --add 2 --cues "1-$1" ref.srt
  cmp -s ref.srt film.srt || fail "not exactly the first $1 timing lines shifted"
}

# Reads the account in err, checks the film against it, finishes the job.
# Stopped before the shift began, or before its first write, the film is
# untouched.
finish_from_account() {
  if grep -q -e "; the file was left untouched" -e "film.srt and the files after it were not touched" err; then
    cmp -s original.srt film.srt || fail "said untouched, but changed"
    "$bin" -q --add 2 film.srt
    untouched=$((untouched + 1))
  else
    n=$(sed -n 's/.* after timing line \([0-9]*\)[:;].*/\1/p' err)
    cmd=$(sed -n 's/.*; to finish: //p' err)
    [ -n "$n" ] && [ -n "$cmd" ] || fail "no account: $(cat err)"
    first_lines_shifted "$n"
    eval "\"\$bin\" -q ${cmd#chronelle-shift }"
    midway=$((midway + 1))
  fi
  cmp -s expected.srt film.srt || fail "finished, but not the uninterrupted shift"
}

# A file-size limit (`ulimit -f`, in KiB) below the film's size: a write is
# cut at the limit, with its account, and the job finished from it; a limit
# past the last line changed lets the shift go through. Never a kill.
limit_round() {
  local blocks=$(( (RANDOM * 32768 + RANDOM) % (bytes / 1024) + 1 )) status=0
  bash -c "ulimit -f $blocks; exec \"\$0\" --add 2 film.srt" "$bin" >out 2>err || status=$?
  if [ "$status" -eq 0 ]; then
    cmp -s expected.srt film.srt || fail "limit $blocks KiB: exit 0, but not shifted"
    limited_through=$((limited_through + 1))
  else
    [ "$status" -eq 1 ] && grep -q "File too large" err || fail "limit $blocks KiB: exit $status: $(cat err)"
    local m=$midway u=$untouched
    finish_from_account
    midway=$m untouched=$u limited_cut=$((limited_cut + 1))
  fi
}

# Standard output a pipe whose reader has gone, two files: exit 1, said, and
# both shifted.
pipe_round() {
  cp original.srt film2.srt
  rm -f pipe && mkfifo pipe
  exec 3<>pipe 4>pipe 3<&-
  local status=0
  "$bin" --add 2 film.srt film2.srt >&4 2>err || status=$?
  exec 4>&-
  [ "$status" -eq 1 ] && grep -q "cannot write to standard output: Broken pipe" err ||
    fail "closed pipe: exit $status: $(cat err)"
  cmp -s expected.srt film.srt && cmp -s expected.srt film2.srt || fail "closed pipe: not both shifted"
  piped=$((piped + 1))
}

signals=(INT TERM HUP) codes=(130 143 129)
untouched=0 midway=0 done_first=0 limited_through=0 limited_cut=0 piped=0
for round in $(seq "$rounds"); do
  cp original.srt film.srt
  case $((round % 8)) in
    0|4) limit_round; continue ;;
    2) pipe_round; continue ;;
  esac
  k=$((round % 3))
  # Emptied here: a signal that comes before the child has opened them
  # would leave the last round's words in them.
  : >out
  : >err
  "$bin" --add 2 film.srt >out 2>err &
  pid=$!
  sleep "$(awk -v ms=$((RANDOM % (span_ms + span_ms / 10 + 1))) 'BEGIN { print ms / 1000 }')"
  kill -s "${signals[$k]}" "$pid" 2>/dev/null || true
  status=0
  wait "$pid" || status=$?
  if [ "$status" -eq 0 ]; then
    cmp -s expected.srt film.srt || fail "exit 0, but not shifted"
    done_first=$((done_first + 1))
  elif [ "$status" -eq "${codes[$k]}" ] && [ ! -s err ]; then
    # Killed before it could catch the signal, while starting.
    cmp -s original.srt film.srt || fail "SIG${signals[$k]} at start, yet the film changed"
    untouched=$((untouched + 1))
  elif [ "$status" -eq "${codes[$k]}" ]; then
    grep -q "interrupted" err || fail "SIG${signals[$k]}: exit $status: $(cat err)"
    finish_from_account
  else
    fail "SIG${signals[$k]}: exit $status: $(cat err)"
  fi
done

# A sparse film on a full file system: its holes stay holes, so the shift
# needs no room. Needs a tmpfs of our own (root).
full="skipped (no tmpfs)"
mkdir -p "$mnt"
if mount -t tmpfs -o size=8m chronelle-full "$mnt" 2>/dev/null; then
  # Sixteen subtitles, each followed by a hole of 64 KiB: all within one
  # block of the patcher's.
  for i in $(seq 10 25); do
    printf '%d\r\n00:01:%02d,000 --> 00:01:%02d,500\r\nR\xc3\xa9plique\r\n\r\n' "$i" "$i" "$i" >cue.srt
    cp cue.srt cue-shifted.srt
    "$bin" -q --no-sync --force --add 2 cue-shifted.srt
    cat cue.srt >>"$mnt/film.srt"
    cat cue-shifted.srt >>"$mnt/ref.srt"
    truncate -s +64K "$mnt/film.srt" "$mnt/ref.srt"
  done
  blocks=$(stat -c %b "$mnt/film.srt")
  dd if=/dev/zero of="$mnt/filler" bs=64k status=none 2>/dev/null || true
  round=full
  "$bin" -q --force --add 2 "$mnt/film.srt" 2>err || fail "full file system: $(cat err)"
  cmp -s "$mnt/ref.srt" "$mnt/film.srt" || fail "full file system: not shifted right"
  [ "$(stat -c %b "$mnt/film.srt")" -eq "$blocks" ] || fail "full file system: holes filled"
  full="shifted, holes kept"
fi

echo "interrupt.sh: $rounds rounds on $((bytes / 1000000)) MB (one shift without its sync: ${span_ms} ms):" \
  "by a signal, $midway stopped part-way, $untouched stopped before writing, $done_first done before it;" \
  "under a file-size limit, $limited_through shifted whole, $limited_cut cut at it;" \
  "$piped with a closed pipe, both files shifted; every stop exact, every finish exact; full file system: $full"
