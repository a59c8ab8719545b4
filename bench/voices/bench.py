#!/usr/bin/python3
"""Measures chronelle-shift --match on films of real Dutch voices (film.py) against
the subtitle a person would write for them: each case run in place on a copy,
each cue's start compared with the right subtitle's (cues the film has not got
left out). Prints in Markdown the films, the cases, the issue's targets with
their figures, how often answers were right at each confidence the program
stated, and the speed set (two-hour films, a two-hour reference subtitle) beside
the ffmpeg program decoding the same sound. Films and cases are made once and
kept in the cache, and every case's figures, each cue's error too, in
CACHE/results.json. Exit status 1 when a wrong change was written."""
import json
import math
import os
import re
import shlex
import shutil
import signal
import subprocess
import sys
import tempfile

import source

sys.path.insert(0, os.path.join(source.ROOT, "bench"))
import match as espeakBench  # noqa: E402  (its timing, tables and wording of changes)
import subrip  # noqa: E402

HERE = source.HERE
RIGHT_MS = 300  # a cue further than this from the right subtitle is wrong

# Film: (container, film.py's options). Seeds 2101 and up are the bench's own.
FILMS = {
    "main-a": ("mkv", "--seed 2101 --duration 15:00"),
    "main-b": ("mp4", "--seed 2102 --duration 12:00 --codec ac3"),
    "main-c": ("mkv", "--seed 2103 --duration 18:00 --codec opus"),
    "sparse": ("mkv", "--seed 2104 --duration 15:00 --speech 0.12"),
    "opening": ("mp4", "--seed 2105 --duration 12:00 --opening 3:00"),
    "tracks-me": ("mkv", "--seed 2106 --duration 10:00 --tracks me"),
    "tracks-talk": ("mkv", "--seed 2107 --duration 10:00 --tracks commentary --codec ac3"),
    "repeated": ("mkv", "--seed 2108 --repeat 4"),
    "lost": ("mkv", "--seed 2109 --duration 14:00 --lost 100"),
    "lost-short": ("mp4", "--seed 2110 --duration 12:00 --lost 35"),
    "break": ("mkv", "--seed 2111 --duration 12:00 --insert 150"),
    "break-short": ("mkv", "--seed 2112 --duration 12:00 --insert 45 --codec opus"),
    "long-aac": ("mkv", "--seed 2201 --duration 2:00:00"),
    "long-ac3": ("mkv", "--seed 2202 --duration 2:00:00 --codec ac3"),
}


def case(film, name, args, against="film"):
    return {"film": film, "name": name, "args": args.replace("=+", "=").split(), "against": against}


def offsets(film, values):
    return [case(film, "offset " + v, "offset --offset=" + v) for v in values]


def rates(film, pairs):
    return [case(film, p + (" " + v if v else ""), "fps --fps " + p + (" --offset=" + v if v else ""))
            for p, v in pairs]


def basics(film, other):
    return [case(film, "right", "right"), case(film, "unrelated", "unrelated --other-seed %d" % other)]


ACCURACY = (
    basics("main-a", 2301) + offsets("main-a", ["+0.3", "-0.8", "+2.5", "-7.3", "+61", "-3:10", "+9:30"])
    + rates("main-a", [("23.976:25", None), ("25:23.976", None), ("24:25", None), ("25:24", None),
                       ("29.97:30", None), ("30:29.97", None), ("25:23.976", "+2.5"), ("23.976:25", "-7.3")])
    + [case("main-a", "reference, offset -42.7", "offset --offset=-42.7", "reference"),
       case("main-a", "reference, 25:23.976 +2.5", "fps --fps 25:23.976 --offset=+2.5", "reference")]
    + basics("main-b", 2302) + offsets("main-b", ["-0.8", "+2.5", "-3:10", "+9:30"])
    + rates("main-b", [("25:23.976", None), ("24:25", "+61"), ("30:29.97", "-7.3")])
    + basics("main-c", 2303) + offsets("main-c", ["+0.3", "-7.3", "+61", "-9:30"])
    + rates("main-c", [("23.976:25", None), ("25:24", "-3:10"), ("29.97:30", "+2.5")])
    + [case("main-c", "reference, offset +2.5", "offset --offset=+2.5", "reference")]
    + basics("sparse", 2304) + offsets("sparse", ["+2.5", "-7.3"]) + rates("sparse", [("24:25", None)])
    + [case("opening", "right", "right")] + offsets("opening", ["-7.3", "+61"])
    + rates("opening", [("25:23.976", None)])
    + [case("tracks-me", "right", "right")] + offsets("tracks-me", ["+2.5", "-3:10"])
    + [case("tracks-talk", "right", "right")] + offsets("tracks-talk", ["-7.3"])
    + rates("tracks-talk", [("24:25", None)])
    + [case("repeated", "one loop's cues, +2.5", "repeated --offset=2.5")]
    + [case(f, "story's subtitle" + (", " + v if v else ""), "edited" + (" --offset=" + v if v else ""))
       for f, v in (("lost", None), ("lost", "+2.5"), ("lost-short", "-7.3"), ("break", None),
                    ("break", "-0.8"), ("break-short", "+61"))])

# (case, wall-time target in s, what the target is)
SPEED = [(case("long-aac", "offset -7.3", "offset --offset=-7.3"), 3.0),
         (case("long-ac3", "offset +61", "offset --offset=61"), 6.0),
         (case("long-aac", "reference, offset -42.7", "offset --offset=-42.7", "reference"), 0.2)]
MEMORY_MB = 100


def slug(name):
    return re.sub(r"[^A-Za-z0-9.+-]+", "_", name).strip("_")


def cached(product, argv, cache):
    """Runs a tool of this folder at low priority unless product was made by the
    same arguments; a stamp beside it, written last, tells."""
    stamp = product + ".argv"
    if os.path.exists(product) and os.path.exists(stamp):
        with open(stamp, encoding="utf-8") as f:
            if json.load(f) == argv:
                return
    source.say("making %s" % os.path.relpath(product, cache))
    subprocess.run(["nice", "-n", "10", "/usr/bin/python3", os.path.join(HERE, argv[0]), "--cache", cache]
                   + argv[1:], check=True, stdout=subprocess.DEVNULL)
    with open(stamp, "w", encoding="utf-8") as f:
        json.dump(argv, f)


def paths(cache, c):
    """(folder, film, its JSON, the case's subtitle, its truth, what it is matched against)."""
    folder = os.path.join(cache, "films", c["film"])
    film = os.path.join(folder, "film." + FILMS[c["film"]][0])
    base = os.path.join(folder, slug(c["name"]))
    against = film if c["against"] == "film" else os.path.join(folder, "reference.srt")
    return folder, film, os.path.join(folder, "film.json"), base + ".srt", base + ".json", against


def prepare(cache, cases):
    for key in sorted({c["film"] for c in cases}):
        folder, film, info = paths(cache, {"film": key, "name": "", "against": "film"})[:3]
        os.makedirs(folder, exist_ok=True)
        cached(info, ["film.py", "-o", film] + FILMS[key][1].split(), cache)
        if any(c["against"] == "reference" for c in cases if c["film"] == key):
            cached(os.path.join(folder, "reference.srt"), ["cases.py", info, "reference", "-o",
                                                           os.path.join(folder, "reference.srt")], cache)
    for c in cases:
        _, _, info, srt, truth, _ = paths(cache, c)
        cached(truth, ["cases.py", info] + c["args"] + ["-o", srt], cache)


CONFIDENCE = re.compile(r"(?:confidence|sûr à|sure at)\D{0,3}(\d+(?:[.,]\d+)?)\s*%")
SCORE = re.compile(r"score (\d+(?:\.\d+)?)")
TRACK = re.compile(r"audio track (\d+) of (\d+)")
TOLD = re.compile(r"\(chronelle-shift ([^)]*)\)")


def confidence(text):
    """The confidence the program stated, 0 to 1: "confidence 87 %" (or "sûr à
    87 %") as it will say it, "score 0.55" as it says it today; None if neither."""
    m = CONFIDENCE.search(text)
    if m:
        return float(m.group(1).replace(",", ".")) / 100
    m = SCORE.search(text)
    return float(m.group(1)) if m else None


def errors(truth, data):
    """Each compared cue's signed start error (ms) against the right subtitle, or
    None when the file no longer has as many timing lines or other bytes changed."""
    times = subrip.timingLines(data)
    if len(times) != len(truth["expected"]) or subrip.digest(subrip.skeleton(data)) != truth["skeleton_sha256"]:
        return None
    return [start - want[0] for (_, start, _), want in zip(times, truth["expected"]) if want]


def verdict(truth, status, identical, errs, told):
    """right, WRONG (exit 0 and a cue further than RIGHT_MS, or a damaged file),
    refused, or how else it went."""
    if status == 0:
        if truth["refuse"]:
            return "WRONG" if not identical else "not refused"
        if errs is None or any(abs(e) > RIGHT_MS for e in errs):
            return "WRONG"
        return "right" if identical or not truth["untouched"] else "moved"
    if status == 1:
        if not identical:
            return "WRONG"
        if truth.get("candidates_ms"):
            return "refused, %d of %d told" % (told, len(truth["candidates_ms"]))
        return "refused"
    return "exit %d" % status


def candidates(err):
    """The changes a refusal tells, each as its command's arguments."""
    return [shlex.split(m)[:-1] for m in TOLD.findall(err)]


def loopsTold(truth, told):
    """How many of the repeating film's loops a refusal told as candidates."""
    found = set()
    for argv in told:
        for mode, value in zip(argv, argv[1:]):
            if mode in ("--add", "--remove"):
                ms = subrip.parseTime(value) * (1 if mode == "--add" else -1)
                found |= {k for k, c in enumerate(truth["candidates_ms"]) if abs(c - ms) <= RIGHT_MS}
    return len(found)


def candidateRight(shift, truth, source_path, told, work):
    """Whether a refused file's best candidate, made on a copy, would have been right."""
    if truth["refuse"]:
        return False
    copy = os.path.join(work, "candidate.srt")
    shutil.copyfile(source_path, copy)
    if told:
        argv = [a for a in told[0] if a != "chronelle-shift"]
        if subprocess.run([shift, "-q", "--no-sync"] + [a for a in argv if a != "--no-sync"] + [copy],
                          capture_output=True).returncode:
            return False
    with open(copy, "rb") as f:
        errs = errors(truth, f.read())
    return errs is not None and all(abs(e) <= RIGHT_MS for e in errs)


def runCase(o, c, work):
    """One case, run in place on a copy: its row."""
    _, _, _, srt, truthPath, against = paths(o.cache, c)
    with open(truthPath, encoding="utf-8") as f:
        truth = json.load(f)
    copy = os.path.join(work, c["film"] + "-" + slug(c["name"]) + ".srt")
    shutil.copyfile(srt, copy)
    argv = [o.shift, "--match", against, "--no-sync"] + (["--splits"] if truth["splits"] else []) + [copy]
    status, out, err, wall, cpu, mb = espeakBench.timed(argv)
    with open(copy, "rb") as f:
        data = f.read()
    identical = subrip.digest(data) == truth["sha256"]
    errs = errors(truth, data)
    told = candidates(err)
    loops = loopsTold(truth, told) if truth.get("candidates_ms") else 0
    row = {"case": c, "truth": truth, "status": status, "said": espeakBench.foundChange(status, out, err),
           "output": (out + err).strip(), "confidence": confidence(out + err), "errors": errs, "wall": wall,
           "verdict": verdict(truth, status, identical, errs, loops), "loops_told": loops}
    m = TRACK.search(out + err)
    row["track"] = (int(m.group(1)), int(m.group(2))) if m else None
    if status == 1 and identical:
        row["candidate_right"] = candidateRight(o.shift, truth, srt, told, work)
    return row


def needsChange(truth):
    return not truth["untouched"] and not truth["refuse"]


def percentile(values, share):
    ordered = sorted(values)
    return ordered[max(0, math.ceil(share * len(ordered)) - 1)]


def expected(truth):
    if truth["refuse"]:
        return "refused" + (", %d loops told" % len(truth["candidates_ms"]) if truth.get("candidates_ms") else "")
    if truth["untouched"]:
        return "in time"
    text = espeakBench.expectedChange(dict(truth, kind="offset"))
    if truth["kind"] != "edited":
        return text
    at, mode, length = truth["commands"][-1][1:]
    edit = "%s%s s from %s" % ("+" if mode == "--add" else "-", length.split(".")[0], at.split(".")[0])
    return edit if not truth["offset_ms"] else text + ", then " + edit


def caseTable(rows):
    out = []
    for r in rows:
        e = [abs(x) for x in r["errors"] or []]
        good = r["status"] == 0 and r["errors"] is not None and e
        out.append(["%s: %s" % (r["case"]["film"], r["case"]["name"]), expected(r["truth"]), r["status"], r["said"],
                    "—" if r["confidence"] is None else "%.2f" % r["confidence"], r["verdict"],
                    "%d ms" % percentile(e, 0.5) if good else "—", "%d ms" % max(e) if good else "—",
                    "%+d ms" % round(sum(r["errors"]) / len(e)) if good else "—",
                    "%d of %d" % r["track"] if r["track"] and r["truth"]["tracks"] > 1 else "",
                    "%.2f s" % r["wall"]])
    return espeakBench.table(["Case", "Expected", "Exit", "Said", "Confidence", "Outcome", "Median", "Max",
                              "Mean signed", "Track", "Time"], out)


def share(k, n):
    return "%d of %d (%.0f %%)" % (k, n, 100 * k / n) if n else "no case"


def targets(rows, speed):
    """The issue's targets: each with its figure and whether it is met."""
    need = [r for r in rows if needsChange(r["truth"])]
    right = [r for r in need if r["verdict"] == "right"]
    wrong = [r for r in rows if r["verdict"] == "WRONG"]
    errs = [e for r in right for e in r["errors"]]
    size = [abs(e) for e in errs]
    same = [r for r in rows if r["truth"]["kind"] == "right"]
    unrelated = [r for r in rows if r["truth"]["kind"] == "unrelated"]
    repeated = [r for r in rows if r["truth"]["kind"] == "repeated"]
    tracks = [r for r in rows if r["truth"]["tracks"] > 1]
    t = [["The right change where one is needed", "≥ 95 %", share(len(right), len(need)),
          len(need) and len(right) >= 0.95 * len(need)],
         ["Wrong changes written (exit 0, a cue > 300 ms off)", "0", "%d" % len(wrong), not wrong],
         ["Median start error over right answers", "≤ 40 ms", "%d ms" % percentile(size, 0.5) if size else "—",
          size and percentile(size, 0.5) <= 40],
         ["95 % of start errors", "≤ 150 ms", "%d ms" % percentile(size, 0.95) if size else "—",
          size and percentile(size, 0.95) <= 150],
         ["Mean signed start error", "within ±20 ms", "%+.1f ms" % (sum(errs) / len(errs)) if errs else "—",
          errs and abs(sum(errs) / len(errs)) <= 20],
         ["Right subtitles left byte for byte", "all", share(sum(r["verdict"] == "right" for r in same), len(same)),
          same and all(r["verdict"] == "right" for r in same)],
         ["Unrelated subtitles refused", "all", share(sum(r["verdict"] == "refused" for r in unrelated),
                                                      len(unrelated)),
          unrelated and all(r["verdict"] == "refused" for r in unrelated)],
         ["Repeating sound refused, every loop told", "all",
          share(sum(r["status"] == 1 and r["loops_told"] == len(r["truth"]["candidates_ms"]) for r in repeated),
                len(repeated)),
          repeated and all(r["status"] == 1 and r["loops_told"] == len(r["truth"]["candidates_ms"])
                           for r in repeated)],
         ["Several tracks: the voices' one heard", "all",
          share(sum(bool(r["track"]) and r["track"][0] == r["truth"]["voice_track"] for r in tracks), len(tracks)),
          tracks and all(r["track"] and r["track"][0] == r["truth"]["voice_track"] for r in tracks)]]
    for s in speed:
        t.append(["%s: wall" % s["label"], "≤ %g s" % s["target"], "%.2f s" % s["wall"], s["wall"] <= s["target"]])
    if speed:
        peak = max(s["mb"] for s in speed)
        t.append(["Peak memory, speed set", "≤ %d MB" % MEMORY_MB, "%.0f MB" % peak, peak <= MEMORY_MB])
    met = ["—" if r[2] in ("no case", "—") else "met" if r[3] else "NOT MET" for r in t]
    return espeakBench.table(["Target", "Wanted", "Figure", "Met"], [r[:3] + [m] for r, m in zip(t, met)])


BINS = [0, 0.3, 0.4, 0.5, 0.6, 0.7, 0.8, 0.9, 0.95, 1.0001]


def calibration(rows):
    """Answers by the confidence stated, against how many of them were right: a
    written answer if every cue is within RIGHT_MS, a refusal if its best
    candidate, made on a copy, would have been."""
    out = []
    for lo, hi in zip(BINS, BINS[1:]):
        chosen = [r for r in rows if r["confidence"] is not None and lo <= r["confidence"] < hi]
        if not chosen:
            continue
        good = sum(r["verdict"] in ("right", "moved") or r.get("candidate_right", False) for r in chosen)
        written = sum(r["status"] == 0 for r in chosen)
        out.append(["%.0f–%.0f %%" % (100 * lo, min(100, 100 * hi)), len(chosen), written, len(chosen) - written,
                    "%.0f %%" % (100 * sum(r["confidence"] for r in chosen) / len(chosen)),
                    "%.0f %%" % (100 * good / len(chosen))])
    return espeakBench.table(["Stated", "Answers", "Written", "Refused", "Mean stated", "Right"], out)


def runSpeed(o, c, target, work):
    """One row of the speed set, and the ffmpeg program decoding the same sound."""
    _, film, _, srt, truthPath, against = paths(o.cache, c)
    with open(truthPath, encoding="utf-8") as f:
        truth = json.load(f)
    runs, anchors = [], []
    for _ in range(o.runs):
        copy = os.path.join(work, "speed.srt")
        shutil.copyfile(srt, copy)
        if c["against"] == "film":
            anchors.append(espeakBench.timed(["ffmpeg", "-nostdin", "-v", "error", "-i", film, "-vn",
                                              "-f", "null", "-"]))
        runs.append(espeakBench.timed([o.shift, "--match", against, "--no-sync", copy]) + [copy])
    best = min(runs, key=lambda r: r[3])
    with open(best[6], "rb") as f:
        data = f.read()
    errs = errors(truth, data)
    status = best[0]
    ok = status == 0 and errs is not None and all(abs(e) <= RIGHT_MS for e in errs)
    return {"label": "%s: %s" % (c["film"], c["name"]), "target": target, "wall": best[3], "cpu": best[4],
            "mb": max(r[5] for r in runs), "said": espeakBench.foundChange(status, best[1], best[2]),
            "right": ok, "ffmpeg": espeakBench.fastest(anchors) if anchors else None}


def speedTable(rows):
    out = []
    for s in rows:
        out.append([s["label"], "%.2f s" % s["wall"], "%.2f s" % s["cpu"], "%.0f MB" % s["mb"],
                    ("right: " if s["right"] else "NOT RIGHT: ") + s["said"]])
        if s["ffmpeg"]:
            a = s["ffmpeg"]
            out.append(["  ffmpeg -i FILM -vn -f null -", "%.2f s" % a[3], "%.2f s" % a[4], "%.0f MB" % a[5], ""])
    return espeakBench.table(["Run", "Wall", "CPU", "Peak memory", "Answer"], out)


def filmTable(cache, keys):
    rows = []
    for key in keys:
        _, film, info = paths(cache, {"film": key, "name": "", "against": "film"})[:3]
        with open(info, encoding="utf-8") as f:
            j = json.load(f)
        edit = j["edit"] or {}
        what = {"repeat": "a %s scene %d times" % (subrip.stamp(edit.get("scene_ms", 0))[3:8], edit.get("loops", 0)),
                "lost": "lost %d s at %s" % (edit.get("length", 0) // 1000, subrip.stamp(edit.get("at", 0))[:8]),
                "break": "a %d s break at %s" % (edit.get("length", 0) // 1000, subrip.stamp(edit.get("at", 0))[:8])
                }.get(edit.get("kind"), "")
        tracks = ", ".join(t["title"] + (" (default)" if t["default"] else "") for t in j["audio_tracks"])
        rows.append([key, j["seed"], subrip.stamp(j["duration_ms"])[:8], "%s %s" % (j["codec"], j["layout"]),
                     os.path.splitext(film)[1][1:], "%.0f %%" % (100 * j["speech_share"]), len(j["cues"]),
                     "%s min" % (j["opening_ms"] // 60000) if j["opening_ms"] else "", what, tracks])
    return espeakBench.table(["Film", "Seed", "Length", "Sound", "Container", "Speech", "Cues", "Music opening",
                              "Edit", "Tracks"], rows)


def options(argv):
    return espeakBench.options(argv, __doc__, "build-voices", "downloads, films and cases are kept", runs=1)


def chosen(o, cases):
    return [c for c in cases if not o.only or re.search(o.only, "%s: %s" % (c["film"], c["name"]))]


def main(argv):
    o = options(argv)
    accuracy = chosen(o, ACCURACY)
    speed = [] if o.no_speed else [(c, t) for c, t in SPEED if chosen(o, [c])]
    source.say("downloads, films and cases kept in %s" % o.cache)
    prepare(o.cache, accuracy + [c for c, _ in speed])
    print("Machine: %s; %s at the start.\n" % (espeakBench.machine(), espeakBench.load()))
    print(filmTable(o.cache, sorted({c["film"] for c in accuracy} | {c["film"] for c, _ in speed})))
    work = tempfile.mkdtemp(prefix="chronelle-voices-")
    try:
        rows = []
        for c in accuracy:
            source.say("matching %s: %s" % (c["film"], c["name"]))
            rows.append(runCase(o, c, work))
        speedRows = []
        for c, target in speed:
            source.say("timing %s: %s" % (c["film"], c["name"]))
            speedRows.append(runSpeed(o, c, target, work))
    finally:
        shutil.rmtree(work)
    if rows:
        print("\nCases (%d):\n\n%s" % (len(rows), caseTable(rows)))
    print("\nTargets:\n\n" + targets(rows, speedRows))
    if rows:
        print("\nConfidence stated against answers right:\n\n" + calibration(rows))
    if speedRows:
        print("\nSpeed (%s after):\n\n%s" % (espeakBench.load(), speedTable(speedRows)))
    keep = [{k: v for k, v in r.items() if k != "truth"} for r in rows]
    with open(os.path.join(o.cache, "results.json"), "w", encoding="utf-8") as f:
        json.dump({"cases": keep, "speed": speedRows}, f, ensure_ascii=False, indent=1)
    for r in rows:
        if r["verdict"] == "WRONG":
            print("\nWRONG %s: %s\n  %s" % (r["case"]["film"], r["case"]["name"], r["output"].replace("\n", "\n  ")))
    return 1 if any(r["verdict"] == "WRONG" for r in rows) else 0


if __name__ == "__main__":
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))  # the work folder goes too
    try:
        sys.exit(main(sys.argv[1:]))
    except (RuntimeError, OSError, subprocess.CalledProcessError) as e:
        sys.exit("bench.py: %s" % e)
