#!/usr/bin/python3
"""Every Dutch recorded line of the game: its level, ID, speaker, French and Dutch
texts, and where the voice really starts and ends in its clip; the clips kept
decoded in one file. The levels are split once for all: TRAINING levels feed the
classifier's training set only, CALIBRATION levels the films that calibrate the
matcher's confidence only, FILM levels the bench's films only.
Usage: lines.py [--cache DIR] (prints a summary; lines.json in the cache)."""
import argparse
import concurrent.futures
import hashlib
import json
import os
import re
import sys

import numpy as np

import source

# A voice is the 10 ms frames within this many dB of its clip's loudest.
WITHIN_DB = 35
# The levels of the game's shared dialogue: their sounds' folder, their scripts' prefix.
SHARED = {"blackjokes": "black", "border": "border", "borejokes": "bore"}
DIALOG = re.compile(r'dialogId\("([^"]*)", "([^"]*)", "((?:[^"\\]|\\.)*)"\)\s*dialogStr\("((?:[^"\\]|\\.)*)"\)')


def unescape(text):
    return re.sub(r"\\(.)", r"\1", text)


def dialogs(game, level, language):
    """{ID: (font, translation)} of a level's script in the language; empty if none."""
    if level in SHARED:
        path = os.path.join(game, "script", "share", "%s_dialogs_%s.lua" % (SHARED[level], language))
    else:
        path = os.path.join(game, "script", level, "dialogs_%s.lua" % language)
    if not os.path.exists(path):
        return {}
    with open(path, encoding="utf-8") as f:
        return {m.group(1): (m.group(2), unescape(m.group(4))) for m in DIALOG.finditer(f.read())}


def scriptOrder(game, level):
    """The IDs in the order the level's French script (else Dutch) gives them."""
    return list(dialogs(game, level, "fr") or dialogs(game, level, "nl"))


def speaker(line_id):
    """The small fish (-m-), the big one (-v-), or someone else."""
    m = re.match(r"[^-]*-([mv])-", line_id)
    return {"m": "small", "v": "big"}[m.group(1)] if m else "other"


def voiceFolders(game):
    """(level, folder of its Dutch clips), sorted by level."""
    found = []
    for level in sorted(os.listdir(os.path.join(game, "sound"))):
        if level == "share":
            continue
        if os.path.isdir(os.path.join(game, "sound", level, "nl")):
            found.append((level, os.path.join(game, "sound", level, "nl")))
    found += [(level, os.path.join(game, "sound", "share", level, "nl")) for level in sorted(SHARED)]
    return found


def trainingLevels(levels, french):
    """The fixed split: levels without French subtitles, and every fourth of the
    others in an order no one chose (their names' SHA-256), about a third in all."""
    ranked = sorted((lv for lv in levels if french[lv]), key=lambda lv: hashlib.sha256(lv.encode()).hexdigest())
    return sorted({lv for lv in levels if not french[lv]} | set(ranked[::4]))


def calibrationLevels(levels, french):
    """Half of the TRAINING levels with French subtitles, every other one in the
    same order: their films calibrate the matcher's confidence, so the classifier
    never hears them."""
    ranked = sorted((lv for lv in levels if french[lv]), key=lambda lv: hashlib.sha256(lv.encode()).hexdigest())
    return sorted(ranked[4::8])


def voiceSpan(x):
    """(start, end) in ms of the voice in a clip, and its level in dB: the RMS of
    its frames within WITHIN_DB of the loudest."""
    db = source.frameDb(x)
    if len(db) == 0:
        return 0, 0, -120.0
    loud = np.nonzero(db >= db.max() - WITHIN_DB)[0]
    power = np.mean(10 ** (db[loud] / 10))
    return int(loud[0]) * 10, int(loud[-1] + 1) * 10, round(float(10 * np.log10(power)), 2)


def build(cache):
    """Decodes every Dutch clip into the store and writes lines.json."""
    game = source.game(cache)
    folders = voiceFolders(game)
    french = {lv: dialogs(game, lv, "fr") for lv, _ in folders}
    dutch = {lv: dialogs(game, lv, "nl") for lv, _ in folders}
    training = set(trainingLevels([lv for lv, _ in folders], french))
    calibration = set(calibrationLevels([lv for lv, _ in folders], french))
    clips = []
    for level, folder in folders:
        order = {line_id: i for i, line_id in enumerate(scriptOrder(game, level))}
        ids = sorted((f[:-4] for f in os.listdir(folder) if f.endswith(".ogg")),
                     key=lambda i: (order.get(i, len(order)), i))
        clips += [(level, line_id, os.path.join(folder, line_id + ".ogg")) for line_id in ids]
    source.say("decoding %d Dutch clips" % len(clips))
    with concurrent.futures.ThreadPoolExecutor(2) as pool:
        sounds = list(pool.map(lambda c: source.decode(c[2]), clips))
    lines, offset = [], 0
    with open(os.path.join(cache, "voices.s16"), "wb") as store:
        for (level, line_id, path), x in zip(clips, sounds):
            start, end, db = voiceSpan(x)
            fr, nl = french[level].get(line_id), dutch[level].get(line_id)
            lines.append({
                "level": level, "id": line_id, "speaker": speaker(line_id),
                "font": (fr or nl or (None,))[0], "fr": fr and fr[1], "nl": nl and nl[1],
                "split": "calibration" if level in calibration else "training" if level in training else "film",
                "clip": os.path.relpath(path, game), "duration_ms": round(len(x) * 1000 / source.RATE),
                "voice_start_ms": start, "voice_end_ms": end, "voice_db": db,
                "offset": offset, "samples": len(x)})
            store.write(np.clip(np.round(x * 32767), -32768, 32767).astype("<i2").tobytes())
            offset += len(x)
    with open(os.path.join(cache, "lines.json"), "w", encoding="utf-8") as f:
        json.dump({"rate": source.RATE, "within_db": WITHIN_DB, "lines": lines}, f, ensure_ascii=False, indent=0)
    return lines


def load(cache):
    """The lines, made first if need be."""
    path = os.path.join(cache, "lines.json")
    if not os.path.exists(path):
        build(cache)
    with open(path, encoding="utf-8") as f:
        return json.load(f)["lines"]


class Clips:
    """The decoded clips, read from the store as floats when asked."""

    def __init__(self, cache, lines):
        self.lines = lines
        self.store = np.memmap(os.path.join(cache, "voices.s16"), "<i2", "r")

    def sound(self, line):
        return self.store[line["offset"]:line["offset"] + line["samples"]].astype(np.float32) / np.float32(32768)

    def voice(self, line):
        """The clip from its voice's start to its end."""
        x = self.sound(line)
        return x[line["voice_start_ms"] * source.RATE // 1000:line["voice_end_ms"] * source.RATE // 1000]


def summary(lines):
    """A few lines in words: counts per split, speakers, durations, silences."""
    out = []
    for split in ("film", "training", "calibration"):
        chosen = [ln for ln in lines if ln["split"] == split]
        levels = sorted({ln["level"] for ln in chosen})
        voice = sum(ln["voice_end_ms"] - ln["voice_start_ms"] for ln in chosen) / 60000
        out.append("%s: %d levels, %d lines (%d with French text), %.1f min of voice" % (
            split, len(levels), len(chosen), sum(1 for ln in chosen if ln["fr"]), voice))
    speakers = {}
    for ln in lines:
        speakers[ln["speaker"]] = speakers.get(ln["speaker"], 0) + 1
    out.append("speakers: " + ", ".join("%s %d" % kv for kv in sorted(speakers.items())))
    lead = np.array([ln["voice_start_ms"] for ln in lines])
    tail = np.array([ln["duration_ms"] - ln["voice_end_ms"] for ln in lines])
    span = np.array([ln["voice_end_ms"] - ln["voice_start_ms"] for ln in lines])
    out.append("voice length ms: median %d, 5-95 %% %d-%d; silence before: median %d, max %d; after: median %d,"
               " max %d" % (np.median(span), np.percentile(span, 5), np.percentile(span, 95), np.median(lead),
                            lead.max(), np.median(tail), tail.max()))
    return "\n".join(out)


def main(argv):
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--cache", default=os.path.join(source.ROOT, "build-voices"))
    p.add_argument("--rebuild", action="store_true", help="decode and measure every clip again")
    o = p.parse_args(argv)
    lines = build(o.cache) if o.rebuild else load(o.cache)
    print(summary(lines))


if __name__ == "__main__":
    main(sys.argv[1:])
