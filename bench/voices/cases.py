#!/usr/bin/python3
"""Makes a subtitle to match from a film of film.py, and its truth: CASE.srt and
CASE.json beside it (the truth in the form tests/films/check_match.py reads:
for each cue of CASE.srt, its right [start, end] or null for one the film has
not got, and what a matcher must do with the file).

kinds:
  right      the film's right subtitle: "already in time", left byte for byte
  offset     --offset S [--fps FROM:TO]: S seconds early (S < 0: late), timed
             for a FROM fps release of a TO fps film
  fps        --fps FROM:TO [--offset S]: the same, the rates first
  edited     the subtitle of the film before a scene was lost or a break was
             inserted [--offset S]: matched with --splits
  repeated   one loop's cues of a film whose scene repeats [--offset S]: to be
             refused, every loop told as a candidate
  unrelated  --other-seed N: another film's subtitle of the same length: to be refused
  reference  the film's Dutch subtitle as another person timed it, REFERENCE.srt,
             to match other cases against (no truth of its own)
Usage: cases.py FILM.json KIND -o CASE.srt [--offset S] [--fps FROM:TO] [--other-seed N]"""
import argparse
import json
import os
import sys

import numpy as np

import film as films
import lines as corpus
import source
import story
import subtitler

sys.path.insert(0, os.path.join(source.ROOT, "tests", "films"))
import make_case  # noqa: E402
import subrip  # noqa: E402


def options(argv):
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("film", metavar="FILM.json")
    p.add_argument("kind", choices=["right", "offset", "fps", "edited", "repeated", "unrelated", "reference"])
    p.add_argument("-o", "--output", required=True, metavar="CASE.srt")
    p.add_argument("--cache", default=os.path.join(source.ROOT, "build-voices"))
    p.add_argument("--offset", type=subrip.parseTime, default=0, metavar="S",
                   help="seconds the fix adds (M:SS too; negative: it removes)")
    p.add_argument("--fps", metavar="FROM:TO", help="e.g. 25:23.976, 24:25, 30:29.97")
    p.add_argument("--other-seed", type=int, help="the unrelated film's seed")
    o = p.parse_args(argv)
    if (o.kind == "fps") and not o.fps or (o.kind == "unrelated") != (o.other_seed is not None):
        p.error("fps needs --fps FROM:TO, unrelated --other-seed")
    if (o.offset or o.fps) and o.kind not in ("offset", "fps", "edited", "repeated"):
        p.error("--offset and --fps go with offset, fps, edited or repeated")
    return o


def beside(info, o, name):
    return os.path.join(os.path.dirname(os.path.abspath(o.film)), name)


def shiftedCase(o, right):
    """The right cues made wrong by the change: (wrong, expected, commands)."""
    frm, to = o.fps.split(":") if o.fps else ("1", "1")
    ratio = make_case.rate(frm) / make_case.rate(to)
    wrong, expected = make_case.changed(right, ratio, o.offset)
    return wrong, expected, make_case.fixCommands(ratio, frm, to, o.offset, wrong)


def editedCase(info, o):
    """The story's subtitle, moved by -offset: each cue's right place is where the
    film has it, or nowhere if it was lost."""
    if not info["edit"] or info["edit"]["kind"] not in ("lost", "break"):
        raise ValueError("the film has no lost scene and no break: make it with --lost or --insert")
    cues = subrip.read(beside(info, o, info["story_subtitle"]))
    wrong, expected = [], []
    for c, truth in zip(cues, info["story_cues"]):
        if c["start"] - o.offset < 0:
            continue
        wrong.append(dict(c, start=c["start"] - o.offset, end=c["end"] - o.offset))
        at = films.inFilm(truth, info["spans"])
        expected.append([c["start"] + at[0], c["end"] + at[0]] if len(at) == 1 else None)
    edit = info["edit"]
    commands = make_case.fixCommands(1, 1, 1, o.offset, wrong)
    if edit["kind"] == "lost":
        commands += [["--from", make_case.dotted(edit["at"] + edit["length"]), "--remove",
                      make_case.seconds(edit["length"])]]
    else:
        commands += [["--from", make_case.dotted(edit["at"]), "--add", make_case.seconds(edit["length"])]]
    return wrong, expected, commands


def repeatedCase(info, o):
    """The cues of one loop (the second, where there is one), moved by -offset:
    every loop fits them as well, so each is a candidate and none is right."""
    edit = info["edit"]
    if not edit or edit["kind"] != "repeat":
        raise ValueError("the film does not repeat: make it with --repeat")
    loop = 1 if edit["loops"] > 1 else 0
    cues = [c for c in subrip.read(beside(info, o, info["subtitle"]))
            if loop * edit["scene_ms"] <= c["start"] < (loop + 1) * edit["scene_ms"]]
    wrong = [dict(c, start=c["start"] - o.offset, end=c["end"] - o.offset) for c in cues]
    candidates = [o.offset + (k - loop) * edit["scene_ms"] for k in range(edit["loops"])]
    return wrong, [None] * len(wrong), candidates


def otherFilm(info, o, seed):
    """The right subtitle of another film (its story only), as long and as talkative."""
    lines = corpus.load(o.cache)
    snd = films.Sounds(source.game(o.cache))
    plan = story.plan(seed, info["duration_ms"], info["speech_asked"], snd.music, snd.effects,
                      story.pool(lines, info.get("lines", "film")), info["opening_ms"])
    cues = subtitler.subtitle(plan["voices"], np.random.default_rng([seed, 4]))
    return [c for c in cues if c["end"] <= info["duration_ms"]]


def reference(info):
    """The film's voices subtitled in Dutch by someone else: other leads and lingers."""
    cues = subtitler.subtitle(info["voices"], np.random.default_rng([info["seed"], 40]), key="nl")
    return films.filmCues(cues, info["spans"])


def main(argv):
    o = options(argv)
    with open(o.film, encoding="utf-8") as f:
        info = json.load(f)
    if o.kind == "reference":
        subrip.write(o.output, reference(info))
        return
    right = subrip.read(beside(info, o, info["subtitle"]))
    truth = {"kind": o.kind, "film": info["film"], "right": info["subtitle"], "offset_ms": o.offset,
             "fps": o.fps, "commands": [], "untouched": False, "refuse": False, "splits": o.kind == "edited",
             "voice_track": info["voice_track"], "tracks": len(info["audio_tracks"])}
    if o.kind == "right":
        wrong, truth["expected"], truth["untouched"] = right, [[c["start"], c["end"]] for c in right], True
    elif o.kind in ("offset", "fps"):
        wrong, truth["expected"], truth["commands"] = shiftedCase(o, right)
    elif o.kind == "edited":
        wrong, truth["expected"], truth["commands"] = editedCase(info, o)
    elif o.kind == "repeated":
        wrong, truth["expected"], truth["candidates_ms"] = repeatedCase(info, o)
        truth["refuse"] = True
    else:
        wrong = otherFilm(info, o, o.other_seed)
        truth.update(expected=[None] * len(wrong), refuse=True, other_seed=o.other_seed)
    make_case.writeCase(o.output, wrong, truth)


if __name__ == "__main__":
    try:
        main(sys.argv[1:])
    except (RuntimeError, ValueError, OSError, KeyError) as e:
        sys.exit("cases.py: %s" % e)
