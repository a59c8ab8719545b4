"""The subtitle a person would write for the voices of a film: each cue starts a
little before its voice and lingers after it, never into the next cue; long
lines are split at a sentence or a comma, short replies of two speakers share
a cue with dashes. Every cue keeps its truth: which voice lines it holds and
where they really are."""
import re

WIDTH = 42  # characters a subtitle line holds
LONGEST_MS = 6000  # a cue of more voice than this is split
SHORT_MS = 1200  # replies this short are merged
GAP_MS = 80  # between a cue's end and the next one's start
SHORTEST_MS = 1000  # a cue stays up at least this long
SENTENCE = re.compile(r"[.?!…]+[\"»)]? +")
CLAUSE = re.compile(r"(?:[,;:]| -+| —) +")


def wrap(text):
    """One line, or two balanced ones broken at the space nearest the middle."""
    if len(text) <= WIDTH or " " not in text:
        return [text]
    middle = len(text) / 2
    at = min((i for i, ch in enumerate(text) if ch == " "), key=lambda i: abs(i - middle))
    return [text[:at], text[at + 1:]]


def boundary(text):
    """Where a long text is split in two: after the sentence end nearest its middle,
    else after the comma (or ; : -) nearest it, else at the space nearest it."""
    middle = len(text) / 2
    for pattern in (SENTENCE, CLAUSE, re.compile(r" +")):
        ends = [m.end() for m in pattern.finditer(text) if 0 < m.start() and m.end() < len(text)]
        if ends:
            return min(ends, key=lambda e: abs(e - middle))
    return None


def pieces(text, start, end):
    """A line's text and voice span, split until every piece fits two lines and
    lasts at most LONGEST_MS; each piece's times placed by its share of characters."""
    if len(text) <= 2 * WIDTH and end - start <= LONGEST_MS:
        return [(text, start, end)]
    at = boundary(text)
    if at is None:
        return [(text, start, end)]
    split = start + (end - start) * len(text[:at].rstrip()) / len(text.rstrip())
    return pieces(text[:at].rstrip(), start, split) + pieces(text[at:].strip(), split, end)


def units(voices, key):
    """What the cues will hold, before timing: (lines, voice start, voice end, truth)."""
    out = []
    for v in voices:
        parts = pieces(v[key], v["start"], v["end"])
        for k, (text, start, end) in enumerate(parts):
            truth = {"id": v["id"], "speaker": v["speaker"], "voice": [v["start"], v["end"]],
                     "part": "%d/%d" % (k + 1, len(parts)), "span": [round(start, 1), round(end, 1)]}
            out.append({"lines": wrap(text), "start": start, "end": end, "truth": [truth], "whole": len(parts) == 1,
                        "speaker": v["speaker"], "text": text})
    return mergeShort(out)


def mergeShort(out):
    """Short replies of two speakers, close together, in one cue with dashes."""
    merged, i = [], 0
    while i < len(out):
        a = out[i]
        b = out[i + 1] if i + 1 < len(out) else None
        if (b and a["whole"] and b["whole"] and a["speaker"] != b["speaker"] and a["end"] - a["start"] < SHORT_MS
                and b["end"] - b["start"] < SHORT_MS and b["start"] - a["end"] < 1000
                and len(a["text"]) <= WIDTH - 2 and len(b["text"]) <= WIDTH - 2):
            merged.append(dashed(a, b))
            i += 2
        else:
            merged.append(a)
            i += 1
    return merged


def dashed(a, b):
    """Two units in one cue: dashes before each speaker's words, or the words
    joined when one speaker says both."""
    if a["speaker"] != b["speaker"]:
        lines = ["- " + a["text"], "- " + b["text"]]
    else:
        lines = wrap(a["text"] + " " + b["text"])
    return {"lines": lines, "start": a["start"], "end": max(a["end"], b["end"]), "truth": a["truth"] + b["truth"],
            "whole": False, "speaker": a["speaker"], "text": a["text"] + " " + b["text"]}


def timed(us, rng):
    """Cue times: a lead of 0-100 ms before the voice, a linger of 0.3-1.2 s after
    it cut short GAP_MS before the next cue, at least SHORTEST_MS long; a cue
    that cannot last that long takes in the next one."""
    leads = {}
    i = 0
    while i < len(us):
        u = us[i]
        if i not in leads:
            leads[i] = (rng.uniform(0, 100), rng.uniform(300, 1200))
        lead, linger = leads[i]
        u["cue_start"] = max(0, round(u["start"] - lead))
        nxt = us[i + 1] if i + 1 < len(us) else None
        if nxt is not None:
            lead2 = leads.setdefault(i + 1, (rng.uniform(0, 100), rng.uniform(300, 1200)))[0]
            limit = max(0, round(nxt["start"] - lead2)) - GAP_MS
        else:
            limit = None
        end = max(round(u["end"] + linger), u["cue_start"] + SHORTEST_MS)
        if limit is not None and end > limit:
            if limit - u["cue_start"] < SHORTEST_MS:
                us[i:i + 2] = [dashed(u, nxt)]
                leads = {k if k <= i else k - 1: v for k, v in leads.items() if k != i + 1}
                i = max(0, i - 1)  # the cue before may now reach further
                continue
            end = limit
        u["cue_end"] = end
        i += 1
    return us


def subtitle(voices, rng, key="fr"):
    """The cues for voices (each: id, speaker, start and end of the voice in ms,
    texts by language), in order: start, end, lines, truth."""
    ordered = sorted(voices, key=lambda v: v["start"])
    return [{"start": u["cue_start"], "end": u["cue_end"], "lines": u["lines"], "truth": u["truth"]}
            for u in timed(units(ordered, key), rng)]
