#!/usr/bin/python3
"""Checks a subtitle after matching against its case's truth (make_case.py):
the error of each cue's start against where its speech is (cues the film no
longer has left out): median, 95th percentile and maximum; whether every byte
but the timing lines' digits is as it was; and, for a file a matcher must leave
alone (the right one, an unrelated one), whether it is byte for byte the same.
Exit status 0 when it passes, 1 when not."""
import argparse
import json
import math
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import subrip  # noqa: E402


def percentile(values, share):
    """Nearest rank: the smallest value that share of the values do not exceed."""
    ordered = sorted(values)
    return ordered[max(0, math.ceil(share * len(ordered)) - 1)]


def measure(truth, data):
    """The figures of a matched file's bytes against the truth."""
    times = subrip.timingLines(data)
    result = {"kind": truth["kind"], "timing_lines": len(times), "expected_cues": len(truth["expected"]),
              "identical": subrip.digest(data) == truth["sha256"],
              "rest_untouched": subrip.digest(subrip.skeleton(data)) == truth["skeleton_sha256"]}
    if len(times) != len(truth["expected"]):
        return result
    errors = [start - want[0] for (_, start, _), want in zip(times, truth["expected"]) if want]
    result["compared"] = len(errors)
    if errors:
        size = [abs(e) for e in errors]
        result.update(median_ms=percentile(size, 0.5), p95_ms=percentile(size, 0.95), max_ms=max(size),
                      signed_median_ms=percentile(errors, 0.5))
    return result


def verdict(truth, r, median, p95):
    """What is wrong with the result, in words; empty when it passes."""
    if truth["untouched"]:
        return [] if r["identical"] else ["the file was changed; it had to be left as it was"]
    faults = []
    if not r["rest_untouched"]:
        faults.append("bytes other than the timing lines' digits changed")
    if r["timing_lines"] != r["expected_cues"]:
        faults.append("%d timing lines, %d expected" % (r["timing_lines"], r["expected_cues"]))
    elif r.get("median_ms", 0) > median or r.get("p95_ms", 0) > p95:
        faults.append("start errors over %d ms median or %d ms for 95 %% of cues" % (median, p95))
    return faults


def main(argv):
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("truth", metavar="CASE.json")
    p.add_argument("matched", metavar="MATCHED.srt")
    p.add_argument("--median-ms", type=int, default=80, help="largest median start error (default 80)")
    p.add_argument("--p95-ms", type=int, default=200, help="largest 95th percentile (default 200)")
    p.add_argument("--json", action="store_true", help="print the figures as JSON")
    o = p.parse_args(argv)
    with open(o.truth, encoding="utf-8") as f:
        truth = json.load(f)
    with open(o.matched, "rb") as f:
        r = measure(truth, f.read())
    r["faults"] = verdict(truth, r, o.median_ms, o.p95_ms)
    if o.json:
        print(json.dumps(r))
    else:
        print("%s: %s, %d of %d cues compared" % (o.matched, r["kind"], r.get("compared", 0), r["expected_cues"]))
        if "median_ms" in r:
            print("  start error: median %(median_ms)d ms, 95 %% %(p95_ms)d ms, max %(max_ms)d ms"
                  " (signed median %(signed_median_ms)+d ms)" % r)
        print("  " + ("; ".join(r["faults"]) if r["faults"] else "passes"))
    return 1 if r["faults"] else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
