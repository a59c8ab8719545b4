#!/usr/bin/python3
"""Makes a wrong subtitle for a film of make_film.py by a known change, and its
truth: CASE.srt and CASE.json beside it. The fix is what turns the wrong times
back into the right ones: right = wrong x FROM/TO + OFFSET.

kinds:
  right      the right subtitle, unchanged: a matcher must leave it as it is
  offset     --offset S: the subtitle is S seconds early (the fix adds S; S < 0: late)
  fps        --fps FROM:TO [--offset S]: timed for a FROM fps release, the film is TO fps
  cut        the subtitle of the film before its cuts (make_film.py --cut) [--offset S]
  unrelated  --other-seed N: another film's subtitle, of the same length: to be refused
  reference  a well-timed subtitle of the film in the other language, its cues
             merged, split and retimed by up to --jitter ms: for matching to a subtitle

Cues that the change would put before 00:00:00,000 are left out of the wrong
subtitle, as a release that starts later has none there. The JSON's "expected"
holds, for each cue of CASE.srt in order, its right [start, end] in ms (where
its speech is in the film) or null for a cue the film no longer has; "commands"
the chronelle-shift changes that fix the file, applied in order; "untouched"
and "refuse" what a matcher must do with the file."""
import argparse
import fractions
import json
import os
import sys

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import dialogue  # noqa: E402
import subrip  # noqa: E402
import timeline  # noqa: E402

NTSC = {"23.976": fractions.Fraction(24000, 1001), "29.97": fractions.Fraction(30000, 1001),
        "47.952": fractions.Fraction(48000, 1001), "59.94": fractions.Fraction(60000, 1001)}


def rate(text):
    return NTSC.get(text) or fractions.Fraction(text)


def roundMs(x):
    """To the nearest millisecond, halves away from zero, as chronelle-shift rounds."""
    n = int(abs(x) + fractions.Fraction(1, 2))
    return n if x >= 0 else -n


def seconds(ms):
    return "%d.%03d" % (abs(ms) // 1000, abs(ms) % 1000)


def options(argv):
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("film", metavar="FILM.json", help="the film's JSON, as make_film.py wrote it")
    p.add_argument("kind", choices=["right", "offset", "fps", "cut", "unrelated", "reference"])
    p.add_argument("-o", "--output", required=True, metavar="CASE.srt")
    p.add_argument("--offset", type=subrip.parseTime, default=0, metavar="S",
                   help="seconds the fix adds (M:SS or H:MM:SS too; negative: it removes)")
    p.add_argument("--fps", metavar="FROM:TO", help="e.g. 25:23.976, 24:25, 30:29.97")
    p.add_argument("--other-seed", type=int, help="the unrelated film's seed")
    p.add_argument("--jitter", type=int, default=40, metavar="MS", help="reference: retiming (default 40)")
    o = p.parse_args(argv)
    if (o.kind == "fps") != bool(o.fps) or (o.kind == "unrelated") != (o.other_seed is not None):
        p.error("--fps goes with fps, --other-seed with unrelated")
    if o.offset and o.kind not in ("offset", "fps", "cut"):
        p.error("--offset goes with offset, fps or cut")
    return o


def fixCommands(ratio, frm, to, offset, cues):
    """chronelle-shift's change for right = wrong x ratio + offset: --add, --fps, or
    a two-point --sync through wrong times whose right times are whole ms."""
    if ratio == 1:
        return [["--add" if offset >= 0 else "--remove", seconds(offset)]] if offset else []
    if offset == 0:
        return [["--fps", "%s:%s" % (frm, to)]]
    step = ratio.denominator
    old1 = -(-cues[0]["start"] // step) * step
    while old1 * ratio + offset < 0:
        old1 += step
    old2 = max(old1 + step, cues[-1]["start"] // step * step)
    return [["--sync", ",".join("%s=%s" % (dotted(t), dotted(int(t * ratio + offset))) for t in (old1, old2))]]


def dotted(ms):
    """H:MM:SS.mmm: a --sync time, its fraction after a dot so that the comma
    between the two points is never read as one."""
    return "%d:%02d:%02d.%03d" % (ms // 3600000, ms // 60000 % 60, ms // 1000 % 60, ms % 1000)


def changed(right, ratio, offset):
    """The wrong subtitle and the right times of its cues: each right time t
    becomes (t - offset) / ratio, and cues that would start before 0 go."""
    wrong, expected = [], []
    for c in right:
        start, end = (roundMs((c[k] - offset) / ratio) for k in ("start", "end"))
        if start >= 0:
            wrong.append(dict(c, start=start, end=end))
            expected.append([c["start"], c["end"]])
    return wrong, expected


def cutCase(film, offset):
    """The uncut film's subtitle (moved by -offset): its cues after a cut are late by
    the cuts before them, those that meet a cut are no longer in the film."""
    cuts = [(c["at"], c["length"]) for c in film["cuts"]]
    if not cuts:
        raise ValueError("the film has no cut: make it with make_film.py --cut")
    wrong, expected = [], []
    for c in film["uncut_cues"]:
        if c["start"] - offset < 0:
            continue
        wrong.append(dict(c, start=c["start"] - offset, end=c["end"] - offset))
        lost = sum(n for at, n in cuts if at + n <= c["start"])
        meets = any(c["start"] < at + n and c["end"] > at for at, n in cuts)
        expected.append(None if meets else [c["start"] - lost, c["end"] - lost])
    commands = fixCommands(1, 1, 1, offset, wrong)
    commands += [["--from", dotted(at + n), "--remove", seconds(n)] for at, n in sorted(cuts, reverse=True)]
    return wrong, expected, commands


def unrelated(film, seed):
    """Another film's subtitle, as long and as talkative as this one."""
    s = timeline.Settings(seed, film["duration_ms"], film["speech_asked"], film["languages"], film["jingles"], 0)
    cues = [{"start": c["start"], "end": c["end"], "lines": c["lines"]} for c in timeline.cues(s)]
    return cues, [None] * len(cues)


def reference(film, jitter, seed):
    """The film's cues in the other language, as another subtitler would time and
    break them: a few merged with the next, a few long ones split in two, every
    time moved by up to jitter ms."""
    rng = np.random.default_rng([seed, 40])
    other = {"fr": "en", "en": "fr"}
    out, cues = [], film["cues"]
    i = 0
    while i < len(cues):
        c = dict(cues[i])
        if i + 1 < len(cues) and cues[i + 1]["start"] - c["end"] < 1000 and rng.random() < 0.15:
            c["end"] = cues[i + 1]["end"]
            i += 1
        lines = dialogue.cue(rng, other[c["language"]])[0]
        if c["end"] - c["start"] > 3000 and rng.random() < 0.2 and len(lines) == 2:
            middle = (c["start"] + c["end"]) // 2
            out += [{"start": c["start"], "end": middle - 40, "lines": lines[:1]},
                    {"start": middle + 40, "end": c["end"], "lines": lines[1:]}]
        else:
            out.append({"start": c["start"], "end": c["end"], "lines": lines})
        i += 1
    for c in out:
        c["start"] = max(0, c["start"] + int(rng.integers(-jitter, jitter + 1)))
        c["end"] = max(c["start"] + 200, c["end"] + int(rng.integers(-jitter, jitter + 1)))
    return out


def build(o, film, right):
    """(wrong cues, expected, commands, untouched, refuse) for the kind asked."""
    if o.kind == "right":
        return right, [[c["start"], c["end"]] for c in right], [], True, False
    if o.kind == "unrelated":
        return unrelated(film, o.other_seed) + ([], True, True)
    if o.kind == "cut":
        return cutCase(film, o.offset) + (False, False)
    frm, to = o.fps.split(":") if o.fps else ("1", "1")
    ratio = rate(frm) / rate(to)
    wrong, expected = changed(right, ratio, o.offset)
    return wrong, expected, fixCommands(ratio, frm, to, o.offset, wrong), False, False


def writeCase(output, wrong, truth):
    """The case's subtitle, and beside it its truth with the subtitle's digests."""
    if not wrong:
        raise ValueError("the change puts every cue before 00:00:00,000: the film is too short for it")
    subrip.write(output, wrong)
    with open(output, "rb") as f:
        data = f.read()
    truth.update(subtitle=os.path.basename(output), sha256=subrip.digest(data),
                 skeleton_sha256=subrip.digest(subrip.skeleton(data)))
    writeTruth(output, truth)


def writeTruth(output, truth):
    with open(os.path.splitext(output)[0] + ".json", "w", encoding="utf-8") as f:
        json.dump(truth, f, ensure_ascii=False, indent=1)


def main(argv):
    o = options(argv)
    with open(o.film, encoding="utf-8") as f:
        film = json.load(f)
    right = subrip.read(os.path.join(os.path.dirname(o.film), film["subtitle"]))
    if o.kind == "reference":
        subrip.write(o.output, reference(film, o.jitter, film["seed"]))
        writeTruth(o.output, {"kind": "reference", "film": film["film"], "jitter_ms": o.jitter})
        return
    wrong, expected, commands, untouched, refuse = build(o, film, right)
    writeCase(o.output, wrong, {"kind": o.kind, "film": film["film"], "right": film["subtitle"],
                                "offset_ms": o.offset, "fps": o.fps, "commands": commands,
                                "untouched": untouched, "refuse": refuse, "expected": expected})

if __name__ == "__main__":
    try:
        main(sys.argv[1:])
    except (RuntimeError, ValueError, OSError, KeyError) as e:
        sys.exit("make_case.py: %s" % e)
