#!/usr/bin/python3
"""Measures chronelle-shift --match on films made with a known truth
(tests/films/): the accuracy set (offsets, frame rates, music beds, sparse
dialogue, AC-3 5.1, a cut, an unrelated and a right subtitle, a reference
subtitle), each case run in place on a copy and checked by check_match.py;
then the speed set (two-hour films, a two-hour reference subtitle) with
/usr/bin/time, against the ffmpeg program's own decode of the same track.
Prints both tables in Markdown. Films and cases are kept in the cache folder,
so that reruns only match. Exit status 1 when a case does not pass."""
import argparse
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
FILMS_TOOLS = os.path.join(ROOT, "tests", "films")
sys.path.insert(0, FILMS_TOOLS)
import check_match  # noqa: E402
import make_case  # noqa: E402
import subrip  # noqa: E402

# Seeds 1101 and up: none of them is a test's.
FILMS = {
    "main": ("mkv", "--seed 1101 --duration 30:00"),
    "music-5": ("mkv", "--seed 1102 --duration 10:00 --music-db -5"),
    "music0": ("mkv", "--seed 1103 --duration 10:00 --music-db 0"),
    "music+5": ("mkv", "--seed 1104 --duration 10:00 --music-db 5"),
    "sparse": ("mkv", "--seed 1105 --duration 10:00 --speech 0.15"),
    "ac3": ("mp4", "--seed 1106 --duration 10:00 --codec ac3"),
    "cut": ("mkv", "--seed 1107 --duration 10:00 --cut 5:00+20"),
    "long-aac": ("mkv", "--seed 1201 --duration 2:00:00"),
    "long-ac3": ("mkv", "--seed 1202 --duration 2:00:00 --codec ac3"),
}


def case(name, film, args, against="film", splits=False):
    return {"name": name, "film": film, "args": args.replace("=+", "=").split(), "against": against,
            "splits": splits}


def rateCases(film, pairs):
    return [case(p + (" " + o if o else ""), film, "fps --fps " + p + (" --offset=" + o if o else ""))
            for p, o in pairs]


ACCURACY = (
    [case("offset %s" % o, "main", "offset --offset=" + o) for o in ("-9:30", "-7.3", "+2.5", "+61", "+9:00")]
    + rateCases("main", [(p, None) for p in ("25:23.976", "23.976:25", "24:25", "25:24", "30:29.97", "29.97:30")])
    + rateCases("main", [("25:23.976", "+2.5"), ("23.976:25", "-7.3"), ("24:25", "+61"), ("25:24", "-3.4"),
                         ("30:29.97", "+12.8"), ("29.97:30", "-45")])
    + [case("right", "main", "right"), case("unrelated", "main", "unrelated --other-seed 1301"),
       case("reference, offset -42.7", "main", "offset --offset=-42.7", against="reference"),
       case("reference, 25:23.976 +2.5", "main", "fps --fps 25:23.976 --offset=+2.5", against="reference")]
    + [c for f in ("music-5", "music0", "music+5") for c in
       (case("offset -7.3", f, "offset --offset=-7.3"),
        case("25:23.976 +2.5", f, "fps --fps 25:23.976 --offset=2.5"))]
    + [case("right", "music+5", "right"), case("unrelated", "music+5", "unrelated --other-seed 1304")]
    + [case("offset +2.5", "sparse", "offset --offset=2.5"), case("24:25", "sparse", "fps --fps 24:25"),
       case("right", "sparse", "right"), case("unrelated", "sparse", "unrelated --other-seed 1305")]
    + [case("offset +61", "ac3", "offset --offset=61"),
       case("30:29.97 -7.3", "ac3", "fps --fps 30:29.97 --offset=-7.3"),
       case("unrelated", "ac3", "unrelated --other-seed 1306")]
    + [case("cut 5:00+20, +2.5", "cut", "cut --offset=2.5", splits=True)])

# (case, wall time target in s): the alignment's target is 1 s, memory 100 MB.
SPEED = [(case("offset -7.3", "long-aac", "offset --offset=-7.3"), 10),
         (case("25:23.976 +2.5", "long-aac", "fps --fps 25:23.976 --offset=2.5"), 10),
         (case("offset +61", "long-ac3", "offset --offset=61"), 15),
         (case("reference, offset -42.7", "long-aac", "offset --offset=-42.7", against="reference"), 0.2)]
ALIGNMENT_S, MEMORY_MB = 1.0, 100


def slug(name):
    return re.sub(r"[^A-Za-z0-9.+-]+", "_", name).strip("_")


def say(text):
    print(text, file=sys.stderr, flush=True)


def cached(product, argv, cache):
    """Runs a tool of tests/films/ at low priority unless product was made by
    the same arguments; a stamp beside it, written last, tells."""
    stamp = product + ".argv"
    if os.path.exists(product) and os.path.exists(stamp):
        with open(stamp, encoding="utf-8") as f:
            if json.load(f) == argv:
                return
    say("making %s" % os.path.relpath(product, cache))
    subprocess.run(["nice", "-n", "10", "/usr/bin/python3", os.path.join(FILMS_TOOLS, argv[0])] + argv[1:],
                   check=True, stdout=subprocess.DEVNULL)
    with open(stamp, "w", encoding="utf-8") as f:
        json.dump(argv, f)


def filmPaths(cache, key):
    folder = os.path.join(cache, key)
    return folder, os.path.join(folder, "film." + FILMS[key][0]), os.path.join(folder, "film.json")


def prepare(cache, cases):
    """The films the cases need, their cases, and a reference where one is matched against."""
    for key in sorted({c["film"] for c in cases}):
        folder, film, info = filmPaths(cache, key)
        os.makedirs(folder, exist_ok=True)
        cached(info, ["make_film.py", "--cache", cache, "-o", film] + FILMS[key][1].split(), cache)
        if any(c["against"] == "reference" for c in cases if c["film"] == key):
            cached(os.path.join(folder, "reference.json"),
                   ["make_case.py", info, "reference", "-o", os.path.join(folder, "reference.srt")], cache)
    for c in cases:
        folder, _, info = filmPaths(cache, c["film"])
        base = os.path.join(folder, slug(c["name"]))
        cached(base + ".json", ["make_case.py", info] + c["args"] + ["-o", base + ".srt"], cache)


def timed(argv):
    """Runs argv under /usr/bin/time: [status, stdout, stderr, wall s, CPU s, peak MB]."""
    with tempfile.NamedTemporaryFile("r") as figures:
        began = time.monotonic()
        p = subprocess.run(["/usr/bin/time", "-o", figures.name, "-f", "%U %S %M"] + argv,
                           capture_output=True, text=True)
        wall = time.monotonic() - began
        user, system, kb = figures.read().split()[-3:]
    return [p.returncode, p.stdout, p.stderr, wall, float(user) + float(system), int(kb) / 1024]


def fastest(runs):
    """The run with the least wall time, its peak memory the most of them all."""
    return min(runs, key=lambda r: r[3])[:5] + [max(r[5] for r in runs)]


SAME_AS = re.compile(r"the same as chronelle-shift (\S+) (\S+)")
BEST = re.compile(r"the best candidate: .*\(chronelle-shift (\S+) (\S+)")
SCORE = re.compile(r"score (\d+(?:\.\d+)?)")
FOUND_IN = re.compile(r"found in (\d+(?:\.\d+)?) s")
LISTENED = re.compile(r"(?:listened to|read) .* in (\d+(?:\.\d+)?) s$", re.M)


def described(ratio, offsetMs):
    """A change right = wrong x ratio + offset, in a few characters."""
    text = "%+.3f s" % (offsetMs / 1000)
    return text if ratio == 1 else "×%.6f %s" % (ratio, text)


def pieceChange(text):
    """One --piece FROM-UNTIL=CHANGE, described, with where it begins."""
    span, change = text.split("=", 1)
    rates, offset = re.match(r"([^+-]*)([+-].*)?$", change).groups()
    ratio = 1
    if rates:
        frm, to = rates.split(":")
        ratio = float(make_case.rate(frm) / make_case.rate(to))
    ms = subrip.parseTime(offset[1:]) * (-1 if offset[0] == "-" else 1) if offset else 0
    start = span.split("-")[0]
    return described(ratio, ms) + ("" if start == "0" else " from " + start)


def printedChange(mode, value, line=""):
    """A change as chronelle-shift prints it, described; as it stands if unknown.
    Pieces are read from the whole `line` that gives them."""
    try:
        if mode == "--piece":
            return ", ".join(pieceChange(p) for p in re.findall(r"--piece (\S+)", line))
        if mode in ("--add", "--remove"):
            return described(1, subrip.parseTime(value) * (1 if mode == "--add" else -1))
        if mode == "--fps":
            frm, to = value.split(":")
            return described(float(make_case.rate(frm) / make_case.rate(to)), 0)
        if mode == "--sync":
            (o1, n1), (o2, n2) = ([subrip.parseTime(t) for t in p.split("=")] for p in value.split(","))
            ratio = (n2 - n1) / (o2 - o1)
            return described(ratio, n1 - o1 * ratio)
    except ValueError:
        pass
    return "%s %s" % (mode, value)


def expectedChange(truth):
    if truth["refuse"]:
        return "refused"
    if truth["untouched"]:
        return "in time"
    ratio = 1
    if truth["fps"]:
        frm, to = truth["fps"].split(":")
        ratio = float(make_case.rate(frm) / make_case.rate(to))
    text = described(ratio, truth["offset_ms"])
    return text + ", the cut" if truth["kind"] == "cut" else text


def foundChange(status, out, err):
    """What the matcher did, in the same words as the expected change."""
    same, best = SAME_AS.search(out), BEST.search(err)
    if status == 0 and "already in time" in out:
        return "in time"
    if status == 0 and same:
        return printedChange(*same.groups(), line=out[same.start():].split("\n")[0])
    if status == 1 and "no sure match" in err:
        return "refused" + (" (best %s)" % printedChange(*best.groups(), line=err[best.start():].split("\n")[0])
                            if best else "")
    lines = (err.strip() or out.strip() or "nothing said").splitlines()
    return "exit %d: %s" % (status, lines[0][:70])


def figure(regex, text):
    m = regex.search(text)
    return float(m.group(1)) if m else None


def digest(path):
    with open(path, "rb") as f:
        return subrip.digest(f.read())


def casePaths(cache, c):
    """(the case's subtitle, its truth, what it is matched against)."""
    folder, film, _ = filmPaths(cache, c["film"])
    base = os.path.join(folder, slug(c["name"]))
    against = film if c["against"] == "film" else os.path.join(folder, "reference.srt")
    return base + ".srt", base + ".json", against


def checked(truth, path):
    """check_match.py's figures and faults for a matched file."""
    with open(path, "rb") as f:
        r = check_match.measure(truth, f.read())
    r["faults"] = check_match.verdict(truth, r, 80, 200)
    return r


def runCase(c, shift, cache, work, splits):
    """One case of the accuracy set, run in place on a copy, and its row."""
    source, truthPath, against = casePaths(cache, c)
    with open(truthPath, encoding="utf-8") as f:
        truth = json.load(f)
    row = {"case": c, "expected": expectedChange(truth)}
    if c["splits"] and not splits:
        return dict(row, result="n/a", found="not available (no --splits)")
    copy = os.path.join(work, c["film"] + "-" + slug(c["name"]) + ".srt")
    shutil.copyfile(source, copy)
    before = digest(against)
    argv = [shift, "--match", against, "--no-sync"] + (["--splits"] if c["splits"] else []) + [copy]
    status, out, err, wall, _, _ = timed(argv)
    r = checked(truth, copy)
    if status != (1 if truth["refuse"] else 0):
        r["faults"].insert(0, "exit status %d" % status)
    if digest(against) != before:
        r["faults"].append("%s was changed" % os.path.basename(against))
    return dict(row, found=foundChange(status, out, err), score=figure(SCORE, out + err), check=r,
                seconds=wall, result="fail" if r["faults"] else "pass", output=out + err)


def runSpeed(c, target, o, work, anchors):
    """One row of the speed set: its figures (the fastest of o.runs, each after
    ffmpeg's decode of the same film, so that both meet the same load), and
    whether the change it prints, made by chronelle-shift on a copy, is right."""
    source, truthPath, against = casePaths(o.cache, c)
    with open(truthPath, encoding="utf-8") as f:
        truth = json.load(f)
    copy = os.path.join(work, "speed-" + c["film"] + "-" + slug(c["name"]) + ".srt")
    shutil.copyfile(source, copy)
    runs = []
    for _ in range(o.runs):
        if c["against"] == "film":
            anchors.setdefault(c["film"], []).append(anchor(against))
        runs.append(timed([o.shift, "--match", against, "--dry-run", copy]))
    status, out, err, wall, cpu, mb = fastest(runs)
    same = SAME_AS.search(out)
    faults = [] if status == 0 and same else ["exit %d, no change printed" % status]
    if digest(copy) != truth["sha256"]:
        faults.append("--dry-run wrote to the file")
    if not faults:
        subprocess.run([o.shift, "-q", "--no-sync", same.group(1), same.group(2), copy], check=True)
        faults = checked(truth, copy)["faults"]
    return {"case": c, "target": target, "wall": wall, "cpu": cpu, "mb": mb,
            "listening": figure(LISTENED, out), "alignment": figure(FOUND_IN, out),
            "found": foundChange(status, out, err), "expected": expectedChange(truth), "faults": faults}


def anchor(film):
    """The ffmpeg program decoding the same track to 16 kHz mono."""
    run = timed(["ffmpeg", "-nostdin", "-v", "error", "-i", film, "-map", "0:a:0",
                 "-ac", "1", "-ar", "16000", "-f", "s16le", "-y", "/dev/null"])
    if run[0]:
        raise RuntimeError("ffmpeg could not decode %s: %s" % (film, run[2].strip()))
    return run


def table(header, rows):
    """A Markdown table, its columns padded so that it reads in a terminal too."""
    cells = [header] + [[str(x) for x in r] for r in rows]
    widths = [max(len(r[i]) for r in cells) for i in range(len(header))]
    lines = ["| " + " | ".join(x.ljust(w) for x, w in zip(r, widths)) + " |" for r in cells]
    lines.insert(1, "|" + "|".join("-" * (w + 2) for w in widths) + "|")
    return "\n".join(lines)


def filmRows(cache, keys):
    rows = []
    for key in keys:
        _, film, info = filmPaths(cache, key)
        with open(info, encoding="utf-8") as f:
            j = json.load(f)
        music = j["levels_db"]["music"]
        rows.append([key, j["seed"], subrip.stamp(j["duration_ms"])[:8], "%s %s" % (j["codec"], j["layout"]),
                     os.path.splitext(film)[1][1:], "off" if music is None else "%+g dB" % music,
                     "%.0f %%" % (100 * j["speech_share"]), len(j["cues"]),
                     ", ".join("%s+%d s" % (subrip.stamp(x["at"])[3:8], x["length"] // 1000) for x in j["cuts"])])
    return table(["Film", "Seed", "Length", "Sound", "Container", "Music", "Speech", "Cues", "Cut"], rows)


def ms(r, key):
    return "%d" % r["check"][key] if "check" in r and key in r["check"] else "—"


def accuracyTable(rows):
    return table(["Case", "Expected", "Found", "Score", "Median ms", "p95 ms", "Max ms", "Result", "Time"],
                 [["%s: %s" % (r["case"]["film"], r["case"]["name"]), r["expected"], r["found"],
                   "—" if r.get("score") is None else "%.2f" % r["score"], ms(r, "median_ms"), ms(r, "p95_ms"),
                   ms(r, "max_ms"), r["result"], "%.2f s" % r["seconds"] if "seconds" in r else "—"]
                  for r in rows])


def met(value, limit, unit):
    if value is None:
        return "not printed"
    return "%.2f %s %s" % (value, unit, "✓" if value <= limit else "✗ (> %g)" % limit)


def secs(value):
    return "—" if value is None else "%.2f s" % value


def speedTable(rows, anchors):
    out = []
    for r in rows:
        c = r["case"]
        change = ("right: " + r["found"]) if not r["faults"] else "WRONG: " + "; ".join(r["faults"])
        versus = "%.2f×" % (r["wall"] / fastest(anchors[c["film"]])[3]) if c["against"] == "film" else "—"
        out.append(["%s: %s" % (c["film"], c["name"]), met(r["wall"], r["target"], "s"), versus,
                    "%.2f s" % r["cpu"], met(r["mb"], MEMORY_MB, "MB"),
                    secs(r["listening"]),
                    met(r["alignment"], ALIGNMENT_S, "s") if c["against"] == "film" else secs(r["alignment"]),
                    change])
    for key, runs in sorted(anchors.items()):
        a = fastest(runs)
        out.append(["%s: ffmpeg, decode to 16 kHz mono" % key, "%.2f s" % a[3], "", "%.2f s" % a[4],
                    "%.1f MB" % a[5], "", "", ""])
    return table(["Run", "Wall", "Against ffmpeg", "CPU", "Peak memory", "Listening or reading", "Alignment",
                  "Change"], out)


def machine():
    model = "unknown CPU"
    with open("/proc/cpuinfo", encoding="utf-8") as f:
        for line in f:
            if line.startswith("model name"):
                model = line.split(":", 1)[1].strip()
                break
    return "%s, %d CPUs" % (model, os.cpu_count())


def load():
    return "load average %.2f, %.2f, %.2f" % os.getloadavg()


def options(argv, description=__doc__, cache="build-match-films", kept="films and cases are kept between runs",
            runs=3):
    """This bench's options, and the real-voice bench's (its own description,
    cache and runs)."""
    p = argparse.ArgumentParser(description=description, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--shift", default=os.path.join(ROOT, "build", "cli", "chronelle-shift"),
                   help="the chronelle-shift to measure (default build/cli/chronelle-shift)")
    p.add_argument("--cache", default=os.path.join(ROOT, cache),
                   help="where %s (default %s)" % (kept, cache))
    p.add_argument("--only", metavar="REGEX", help="the cases whose 'film: name' matches, in both sets")
    p.add_argument("--no-speed", action="store_true", help="the accuracy set alone")
    p.add_argument("--runs", type=int, default=runs,
                   help="runs of each speed measure, the fastest kept (default %d)" % runs)
    o = p.parse_args(argv)
    o.shift, o.cache = os.path.abspath(o.shift), os.path.abspath(o.cache)
    try:
        usage = subprocess.run([o.shift, "--help"], capture_output=True, text=True).stdout
    except OSError as e:
        p.error("%s: %s (build it, or name another with --shift)" % (o.shift, e.strerror))
    if "--match" not in usage:
        p.error("%s has no --match" % o.shift)
    o.splits = "--splits" in usage
    return o


def chosen(o, cases):
    return [c for c in cases if not o.only or re.search(o.only, "%s: %s" % (c["film"], c["name"]))]


def reproduce(o, r):
    """How to make and run a failed case again by hand."""
    c = r["case"]
    source, truth, against = casePaths(o.cache, c)
    folder, film, info = filmPaths(o.cache, c["film"])
    return "\n  ".join([
        "  made in %s by" % folder,
        "tests/films/make_film.py %s -o %s" % (FILMS[c["film"]][1], os.path.basename(film)),
        "tests/films/make_case.py %s %s -o %s" % (os.path.basename(info), " ".join(c["args"]),
                                                  os.path.basename(source)),
        "cp %s /tmp/case.srt && %s --match %s%s /tmp/case.srt; echo $?" % (
            source, o.shift, against, " --splits" if c["splits"] else ""),
        "/usr/bin/python3 tests/films/check_match.py %s /tmp/case.srt" % truth,
        "it said: " + r.get("output", "").strip().replace("\n", "\n           ")])


def misses(r):
    """The speed targets a run missed, in words."""
    name = "%s: %s" % (r["case"]["film"], r["case"]["name"])
    limits = [("wall time", r["wall"], r["target"], "s"), ("peak memory", r["mb"], MEMORY_MB, "MB")]
    if r["case"]["against"] == "film":
        limits.append(("alignment", r["alignment"], ALIGNMENT_S, "s"))
    return ["%s: %s %s" % (name, what, "not printed" if v is None else "%.2f %s > %g" % (v, unit, limit))
            for what, v, limit, unit in limits if v is None or v > limit]


def speedSet(o, speed, work):
    print("\nSpeed (best of %d runs; %s before):\n" % (o.runs, load()))
    rows, anchors = [], {}
    for c, target in speed:
        say("timing %s: %s" % (c["film"], c["name"]))
        rows.append(runSpeed(c, target, o, work, anchors))
    print(speedTable(rows, anchors))
    print("\n%s after." % load().capitalize())
    return rows


def main(argv):
    o = options(argv)
    accuracy = chosen(o, ACCURACY)
    speed = [] if o.no_speed else [(c, t) for c, t in SPEED if chosen(o, [c])]
    say("films and cases kept in %s" % o.cache)
    prepare(o.cache, accuracy + [c for c, _ in speed])
    print("Machine: %s; %s at the start.\n" % (machine(), load()))
    print(filmRows(o.cache, sorted({c["film"] for c in accuracy} | {c["film"] for c, _ in speed})))
    work = tempfile.mkdtemp(prefix="chronelle-match-")
    try:
        rows = []
        for c in accuracy:
            say("matching %s: %s" % (c["film"], c["name"]))
            rows.append(runCase(c, o.shift, o.cache, work, o.splits))
        print("\nAccuracy:\n\n" + accuracyTable(rows))
        speedRows = speedSet(o, speed, work) if speed else []
    finally:
        shutil.rmtree(work)
    failed = [r for r in rows if r["result"] == "fail"]
    print("\nAccuracy: %d of %d cases pass, %d fail, %d not available (no --splits)." % (
        sum(r["result"] == "pass" for r in rows), len(rows), len(failed), sum(r["result"] == "n/a" for r in rows)))
    missed = [m for r in speedRows for m in misses(r)]
    wrong = [r for r in speedRows if r["faults"]]
    print("Speed: %s" % ("not measured." if not speedRows else "every target met." if not missed
                         else "targets missed: " + "; ".join(missed)))
    for r in failed:
        print("\nFAILED %s: %s: expected %s, found %s; %s\n%s" % (
            r["case"]["film"], r["case"]["name"], r["expected"], r["found"], "; ".join(r["check"]["faults"]),
            reproduce(o, r)))
    for r in wrong:
        print("\nWRONG CHANGE %s: %s: %s" % (r["case"]["film"], r["case"]["name"], "; ".join(r["faults"])))
    return 1 if failed or wrong else 0


if __name__ == "__main__":
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))  # the work folder goes too
    try:
        sys.exit(main(sys.argv[1:]))
    except (RuntimeError, OSError, subprocess.CalledProcessError) as e:
        sys.exit("match.py: %s" % e)
