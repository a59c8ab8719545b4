#!/usr/bin/env python3
"""Checks that OUTPUT is INPUT with every time moved by MS milliseconds.

  check_output.py exact INPUT OUTPUT MS   byte for byte: only the timing
                                          digits differ, times held at
                                          00:00:00,000 .. 99:59:59,999
  check_output.py cues INPUT OUTPUT MS    the same cues (times and text),
                                          whatever the order, numbering and
                                          line ends
Prints one line on what it found; exit status 1 when OUTPUT is wrong."""
import re
import sys

TIMING = re.compile(rb"^(\d\d):([0-5]\d):([0-5]\d),(\d\d\d) --> (\d\d):([0-5]\d):([0-5]\d),(\d\d\d)",
                    re.M)
LATEST = ((99 * 60 + 59) * 60 + 59) * 1000 + 999


def ms(h, m, s, f):
    return ((int(h) * 60 + int(m)) * 60 + int(s)) * 1000 + int(f)


def stamp(t):
    return b"%02d:%02d:%02d,%03d" % (t // 3600000, t // 60000 % 60, t // 1000 % 60, t % 1000)


def exact(before, after, offset):
    def moved(match):
        g = match.groups()
        start = min(max(ms(*g[:4]) + offset, 0), LATEST)
        end = min(max(ms(*g[4:]) + offset, 0), LATEST)
        return stamp(start) + b" --> " + stamp(end)

    expected = TIMING.sub(moved, before)
    if after != expected:
        at = next(i for i in range(min(len(after), len(expected)) + 1)
                  if i == min(len(after), len(expected)) or after[i] != expected[i])
        return "differs from the expected bytes at offset %d" % at
    return "byte for byte as expected (%d timing lines, line ends kept)" % len(TIMING.findall(before))


def parse_time(text):
    h, rest = text.split(b":", 1)
    m, rest = rest.split(b":", 1)
    s, f = rest.split(b",")
    return ((int(h) * 60 + int(m)) * 60 + int(s)) * 1000 + int(f)


def cues(data):
    """(start, end, text) of each cue; the numbering is left out."""
    found = []
    for block in re.split(rb"\n\s*\n", data.replace(b"\r\n", b"\n").strip()):
        lines = block.split(b"\n")
        if len(lines) < 2 or b" --> " not in lines[1]:
            raise ValueError("not a cue: %r" % block[:80])
        start, end = lines[1].split(b" --> ")
        found.append((parse_time(start), parse_time(end.split(b" ")[0]), b"\n".join(lines[2:])))
    return found


def same_cues(before, after, offset):
    want = sorted((s + offset, e + offset, t) for s, e, t in cues(before))
    got = cues(after)
    if sorted(got) != want:
        return None, "%d cues, not the %d expected shifted cues" % (len(got), len(want))
    ends = "CR LF" if b"\r\n" in after else "LF"
    order = "same order" if [c[:2] for c in got] == [(s + offset, e + offset)
                                                  for s, e, _ in cues(before)] else "reordered"
    return True, "%d cues right (%s, line ends %s)" % (len(got), order, ends)


def main():
    mode, input_path, output_path, offset = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])
    with open(input_path, "rb") as f:
        before = f.read()
    with open(output_path, "rb") as f:
        after = f.read()
    if mode == "exact":
        message = exact(before, after, offset)
        ok = message.startswith("byte for byte")
    else:
        ok, message = same_cues(before, after, offset)
    print(message)
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
