#!/usr/bin/python3
"""Calibrates the matcher's confidence and writes match/confidence_model.h.
Makes films of the CALIBRATION levels' voices (never the bench's, never the
classifier's), and many cases of each: right subtitles, offsets and frame
rates, a few cues only, another film's subtitle, a film with a cut matched
with and without --splits, a scene that repeats. chronelle-match-trace says
what the matcher weighed for each; the change it found is made on a copy by
chronelle-shift and set against the right subtitle: right when every cue is
within 300 ms. A logistic curve of the evidence then gives how often a change
found with it is right: the confidence the program states. The bench, on its
own films, then shows whether it says true.
Usage: calibrate.py --trace BIN --shift BIN [--cache DIR] [--output FILE]"""
import argparse
import json
import os
import shutil
import subprocess
import sys
import tempfile

import numpy as np

import bench
import source

sys.path.insert(0, os.path.join(source.ROOT, "tests", "films"))
import subrip  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))

# Seeds 3001 and up: none is the bench's or a test's.
FILMS = {
    "cal-a": ("mkv", "--seed 3001 --duration 10:00"),
    "cal-b": ("mp4", "--seed 3002 --duration 8:00 --codec ac3"),
    "cal-c": ("mkv", "--seed 3003 --duration 12:00 --codec opus --speech 0.35"),
    "cal-sparse": ("mkv", "--seed 3004 --duration 15:00 --speech 0.12"),
    "cal-short": ("mkv", "--seed 3005 --duration 4:00 --speech 0.3"),
    "cal-opening": ("mp4", "--seed 3006 --duration 10:00 --opening 2:00"),
    "cal-repeated": ("mkv", "--seed 3007 --repeat 3"),
    "cal-lost": ("mkv", "--seed 3008 --duration 12:00 --lost 60"),
    "cal-break": ("mkv", "--seed 3009 --duration 12:00 --insert 90"),
    "cal-me": ("mkv", "--seed 3010 --duration 8:00 --tracks me"),
    "cal-quiet": ("mkv", "--seed 3011 --duration 9:00 --speech 0.2 --codec opus"),
    "cal-d": ("mkv", "--seed 3012 --duration 14:00 --speech 0.6"),
}
RATES = ["25:23.976", "23.976:25", "24:25", "25:24", "30:29.97", "29.97:30"]
FEW = [6, 10, 15, 25, 40]  # cases cut down to their first cues


def cases(rng, key):
    """Each film's cases: (name, cases.py arguments, splits, cues kept or None)."""
    out = [("right", ["right"], False, None)]
    if key in ("cal-lost", "cal-break"):
        return out + [("edited", ["edited"], False, None), ("edited, splits", ["edited"], True, None),
                      ("edited +1.5, splits", ["edited", "--offset=1.5"], True, None)]
    if key == "cal-repeated":
        return out + [("loop", ["repeated", "--offset=2.5"], False, None)]
    for k in range(4):
        s = float(rng.choice([-1, 1]) * rng.choice([0.4, 1.3, 3.7, 12.5, 47, 130, 420]))
        out.append(("offset %+g" % s, ["offset", "--offset=%g" % s], False, None))
    for r in rng.choice(RATES, 2, replace=False):
        s = float(rng.choice([0, 2.2, -5.1]))
        out.append(("%s %+g" % (r, s), ["fps", "--fps", str(r)] + (["--offset=%g" % s] if s else []), False, None))
    for n in FEW:
        s = float(rng.choice([-3.3, 1.7, 25]))
        out.append(("first %d cues %+g" % (n, s), ["offset", "--offset=%g" % s], False, n))
    other = sorted(FILMS)[(sorted(FILMS).index(key) + 1) % len(FILMS)]
    out.append(("unrelated", ["unrelated", "--other-seed", FILMS[other][1].split()[1]], False, None))
    return out


# Matched against a well-timed subtitle instead: the film's Dutch subtitle
# timed by someone else.
REFERENCE_FILMS = ["cal-a", "cal-b", "cal-c", "cal-d", "cal-quiet", "cal-short", "cal-sparse"]


def make(cache, key):
    """Each case: (name, what it is matched against, its files' base, splits, cues kept)."""
    folder = os.path.join(cache, "calibration", key)
    os.makedirs(folder, exist_ok=True)
    film = os.path.join(folder, "film." + FILMS[key][0])
    info = os.path.join(folder, "film.json")
    bench.cached(info, ["film.py", "-o", film, "--lines", "calibration"] + FILMS[key][1].split(), cache)
    made = []
    for name, args, splits, few in cases(np.random.default_rng([ord(c) for c in key]), key):
        base = os.path.join(folder, bench.slug(name))
        bench.cached(base + ".json", ["cases.py", info] + args + ["-o", base + ".srt"], cache)
        made.append((name, film, base, splits, few))
    if key in REFERENCE_FILMS:
        reference = os.path.join(folder, "reference.srt")
        bench.cached(reference, ["cases.py", info, "reference", "-o", reference], cache)
        made += [("reference, " + name, reference, base, splits, few) for name, _, base, splits, few in made
                 if not splits and "first 6" not in name]
    return made


def cut(base, few, work):
    """The case kept to its first `few` cues, and its truth: a copy in work."""
    with open(base + ".json", encoding="utf-8") as f:
        truth = json.load(f)
    cues = subrip.read(base + ".srt")[:few]
    path = os.path.join(work, os.path.basename(base) + "-%d.srt" % few)
    subrip.write(path, cues)
    with open(path, "rb") as f:
        data = f.read()
    truth.update(expected=truth["expected"][:few], sha256=subrip.digest(data),
                 skeleton_sha256=subrip.digest(subrip.skeleton(data)))
    return path, truth


def judge(shift, trace, film, path, truth, splits, work):
    """What the matcher weighed, and whether its change is right."""
    argv = [trace] + (["--splits"] if splits else []) + [film, path]
    seen = json.loads(subprocess.run(argv, check=True, capture_output=True, text=True).stdout.splitlines()[-1])
    copy = os.path.join(work, "copy.srt")
    shutil.copyfile(path, copy)
    if seen["args"]:
        subprocess.run([shift, "-q", "--force", "--no-sync"] + seen["args"] + [copy], check=True,
                       stdout=subprocess.DEVNULL)
    with open(copy, "rb") as f:
        data = f.read()
    errs = bench.errors(truth, data)
    right = (not truth["refuse"] and errs is not None and all(abs(e) <= bench.RIGHT_MS for e in errs)
             and any(w for w in truth["expected"]))
    return seen, right


def evidence(seen):
    """The numbers the confidence is made of, as the program works them out."""
    agree, chance, cues = seen["agree"], seen["chance"], seen["cues"]
    rival = seen["rivals"][0] if seen["rivals"] else None
    above = (agree - chance) / np.sqrt(chance + 1)
    margin = rival["margin"] if rival else 10.0
    share = rival["for"] / max(rival["best_for"], 1) if rival else 0.0
    return [min(above, 20) / 10, agree / max(cues, 1), min(margin, 10) / 10, min(share, 2), np.log10(max(cues, 1))]


def fit(x, y, l2=0.01, steps=4000):
    """Logistic regression by Newton's method, held back a little (L2) where the
    cases part cleanly, so that the curve stays a curve."""
    x = np.hstack([x, np.ones((len(x), 1))])
    w = np.zeros(x.shape[1])
    for _ in range(steps):
        p = 1 / (1 + np.exp(-x @ w))
        g = x.T @ (p - y) + l2 * w
        h = (x * (p * (1 - p))[:, None]).T @ x + l2 * np.eye(len(w))
        step = np.linalg.solve(h, g)
        w -= step
        if np.abs(step).max() < 1e-9:
            break
    return w


def write(path, weights, names, summary):
    table = lambda w: ", ".join("%.6g" % v for v in w)
    text = ["// The matcher's confidence: a logistic curve of its evidence, written by",
            "// bench/voices/calibrate.py from films of voices it never hears otherwise:",
            "// do not edit by hand.", "// " + summary, "#pragma once", "", "namespace chronelle {", "",
            "// Weights of: " + ", ".join(names) + "; then the constant. Against a film's",
            "// sound, and against a well-timed subtitle file.",
            "constexpr double ConfidenceWeights[%d] = {%s};" % (len(weights["film"]), table(weights["film"])),
            "constexpr double ReferenceConfidenceWeights[%d] = {%s};" % (
                len(weights["reference"]), table(weights["reference"])), "",
            "}  // namespace chronelle", ""]
    with open(path, "w", encoding="utf-8") as f:
        f.write("\n".join(text))
    source.formatted(path)


def main(argv):
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--trace", required=True, help="the chronelle-match-trace program")
    p.add_argument("--shift", required=True, help="the chronelle-shift program")
    p.add_argument("--cache", default=os.path.join(source.ROOT, "build-voices"))
    p.add_argument("--output", default=os.path.join(source.ROOT, "match", "confidence_model.h"))
    p.add_argument("--films-only", action="store_true", help="make the films and cases, and stop")
    p.add_argument("--refit", action="store_true", help="fit again the cases of the last run, without running them")
    o = p.parse_args(argv)
    if o.films_only:
        for key in sorted(FILMS):
            make(o.cache, key)
        return
    if o.refit:
        with open(os.path.join(o.cache, "calibration", "cases.json"), encoding="utf-8") as f:
            report(json.load(f), o)
        return
    rows = []
    with tempfile.TemporaryDirectory(prefix="chronelle-calibrate-") as work:
        for key in sorted(FILMS):
            for name, film, base, splits, few in make(o.cache, key):
                if few:
                    path, truth = cut(base, few, work)
                else:
                    path = base + ".srt"
                    with open(base + ".json", encoding="utf-8") as f:
                        truth = json.load(f)
                seen, right = judge(o.shift, o.trace, film, path, truth, splits, work)
                rows.append({"case": "%s: %s" % (key, name), "seen": seen, "right": right})
                source.say("%s: %s: %s, confidence now %.2f" % (key, name, "right" if right else "wrong",
                                                                   seen["confidence"]))
    with open(os.path.join(o.cache, "calibration", "cases.json"), "w", encoding="utf-8") as f:
        json.dump(rows, f, indent=0)
    report(rows, o)


def report(rows, o):
    """The curves fitted to the cases, how they say true on them, and the header."""
    weights = {}
    for against, chosen in (("film", [r for r in rows if not r["case"].split(": ", 1)[1].startswith("reference")]),
                            ("reference", [r for r in rows if r["case"].split(": ", 1)[1].startswith("reference")])):
        x = np.array([evidence(r["seen"]) for r in chosen])
        y = np.array([float(r["right"]) for r in chosen])
        weights[against] = fit(x, y)
        p_ = 1 / (1 + np.exp(-np.hstack([x, np.ones((len(x), 1))]) @ weights[against]))
        print("against a %s: %d cases, %d right; confidence against right:" % (against, len(y), y.sum()))
        for lo, hi in [(0, 0.3), (0.3, 0.7), (0.7, 0.9), (0.9, 0.99), (0.99, 1.01)]:
            sel = (p_ >= lo) & (p_ < hi)
            if sel.any():
                print("  %3.0f-%3.0f %%: %3d cases, mean stated %5.1f %%, right %5.1f %%" % (
                    100 * lo, min(100, 100 * hi), sel.sum(), 100 * p_[sel].mean(), 100 * y[sel].mean()))
    names = ["agreeing cues above chance (sd / 10)", "share of cues agreeing", "the rival's margin (sd / 10)",
             "the rival's share of the best's cues", "log10 cues"]
    write(o.output, weights, names, "%d cases of %d films, %d right" % (
        len(rows), len(FILMS), sum(r["right"] for r in rows)))
    print("wrote %s" % o.output)


if __name__ == "__main__":
    main(sys.argv[1:])
