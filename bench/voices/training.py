#!/usr/bin/python3
"""The speech/music classifier's training set: about an hour of 48 kHz FLAC that
mixes the TRAINING levels' Dutch voices (a quarter of the lines said by
espeak-ng instead) with other games' music (never the
game's own music, which the bench's films use) and silence: voices over music
at speech-to-music levels from -10 to +20 dB, music alone, voices alone, near
silence. Beside each file, the truth for each 10 ms frame (.npy, uint8): 1
where a voice clip sounds above its own silence threshold, else 0; and an
index (training.json) of every file's stretches.
Usage: training.py [--cache DIR] [--output DIR] [--minutes 120] [--seed N]"""
import argparse
import json
import os
import subprocess
import sys

import numpy as np

import lines as corpus
import source
import story
import voices as espeak  # noqa: E402  (tests/films: espeak-ng's voices)

RATE = 48000
FRAME = RATE // 100
SPEECH_DBFS = -26.0
KINDS = [("voices over music", 0.5), ("music", 0.25), ("voices", 0.125), ("silence", 0.125)]
STRETCH_S = (15, 60)
SPEECH_TO_MUSIC_DB = (-10, 20)
MUSIC_ALONE_DB = (-15, 3)  # against the speech level
HISS_DBFS = (-75, -55)


def trackLengths(tracks):
    """Each track's length in seconds, by ffprobe; those it cannot read (a few of
    the packages' files have headers FFmpeg refuses) and those under 10 s left out."""
    out = {}
    for t in tracks:
        r = subprocess.run(["ffprobe", "-v", "error", "-show_entries", "format=duration", "-of", "csv=p=0", t],
                           capture_output=True, text=True)
        try:
            seconds = float(r.stdout.strip()) if r.returncode == 0 else 0
        except ValueError:
            seconds = 0
        if seconds >= 10:
            out[t] = seconds
        else:
            source.say("left out %s: %s" % (t, "too short" if r.returncode == 0 else "FFmpeg cannot read it"))
    return out


def musicPart(rng, tracks, lengths, seconds):
    """seconds of a random track from a random point, looped if it is short, and its name."""
    track = tracks[int(rng.integers(len(tracks)))]
    start = rng.uniform(0, max(0.0, lengths[track] - seconds))
    x = source.decode(track, RATE) if lengths[track] < seconds + 1 else np.frombuffer(
        source.mixer.run(["-ss", "%.3f" % start, "-t", "%.3f" % (seconds + 1), "-i", track, "-ac", "1",
                          "-ar", str(RATE), "-f", "f32le", "-"]), np.float32)
    n = int(seconds * RATE)
    return np.resize(x, n) if len(x) else np.zeros(n, np.float32), track


def loudDb(x):
    """The level of the loud part of a sound: its frames within 35 dB of the loudest."""
    db = source.frameDb(x, RATE)
    if not len(db) or db.max() < -100:
        return -120.0
    loud = db[db >= db.max() - 35]
    return float(10 * np.log10(np.mean(10 ** (loud / 10))))


# Synthetic voices too, so that a voice made by a speech synthesiser is heard
# as speech: espeak-ng speaking the same lines' texts (other voices than the
# test films' cast), one line in SYNTHETIC_SHARE.
SYNTHETIC = [("nl+m2", 160, 45), ("nl+f3", 170, 60), ("de+m5", 158, 40), ("fr+m5", 166, 48),
             ("en+f5", 172, 64), ("fr+f1", 176, 70)]
SYNTHETIC_SHARE = 0.25


class Voices:
    """The TRAINING levels' lines, decoded at 48 kHz when first used, with the
    10 ms frames of each that sound above its own silence threshold; and the
    same texts said by espeak-ng."""

    def __init__(self, cache, lines):
        self.game = source.game(cache)
        self.levels = {}
        for ln in lines:
            if ln["split"] == "training" and story.usable(ln):
                self.levels.setdefault(ln["level"], []).append(ln)
        self.names = sorted(self.levels)
        self.decoded = {}
        self.speaker = None

    def clip(self, ln, synthetic=None):
        """(samples, frames sounding, level in dB of the sounding frames): the
        recorded line, or its text said by the synthetic voice given."""
        key = (ln["clip"], synthetic)
        if key not in self.decoded:
            if synthetic:
                if self.speaker is None:
                    self.speaker = espeak.Speaker()
                said = self.speaker.say(*synthetic, ln["nl"] or ln["fr"]).astype(np.float32) / 32768
                x = np.frombuffer(source.mixer.run(["-f", "f32le", "-ar", str(espeak.RATE), "-ac", "1", "-i",
                                                    "pipe:0", "-ar", str(RATE), "-f", "f32le", "-"],
                                                   said.tobytes()), np.float32)
            else:
                x = source.decode(os.path.join(self.game, ln["clip"]), RATE)
            db = source.frameDb(x, RATE)
            sounding = db >= db.max() - corpus.WITHIN_DB
            level = float(10 * np.log10(np.mean(10 ** (db[sounding] / 10))))
            self.decoded[key] = (x, sounding, level)
        return self.decoded[key]

    def scene(self, rng, frames):
        """Lines of one level after another, placed on the 10 ms grid from frame 0
        to at most `frames`: [(frame, line)]."""
        level = self.levels[self.names[int(rng.integers(len(self.names)))]]
        k = int(rng.integers(len(level)))
        out, t = [], int(rng.integers(0, 150))
        while True:
            ln = level[k % len(level)]
            synthetic = (SYNTHETIC[int(rng.integers(len(SYNTHETIC)))] if rng.random() < SYNTHETIC_SHARE
                         and (ln["nl"] or ln["fr"]) else None)
            length = len(self.clip(ln, synthetic)[1]) if synthetic else ln["duration_ms"] // 10
            if t + length > frames:
                return out
            out.append((t, ln, synthetic))
            overlap = rng.random() < story.OVERLAP_SHARE
            gap = -rng.uniform(0, story.OVERLAP_MS) if overlap else rng.uniform(*story.GAP_MS)
            end = int(np.nonzero(self.clip(ln, synthetic)[1])[0][-1] + 1) * 10 if synthetic else ln["voice_end_ms"]
            t += int(max(30, (end + gap) // 10))
            k += 1


def stretch(rng, kind, seconds, voices, tracks, lengths):
    """One stretch: its samples, its frames' truth, and what it holds."""
    frames = int(seconds * 100)
    n = frames * FRAME
    x = np.zeros(n, np.float32)
    truth = np.zeros(frames, np.uint8)
    about = {"kind": kind, "seconds": round(seconds, 2)}
    if "voices" in kind:
        for at, ln, synthetic in voices.scene(rng, frames):
            clip, sounding, level = voices.clip(ln, synthetic)
            g = source.gain(SPEECH_DBFS + rng.uniform(-story.VOICE_SPREAD_DB, story.VOICE_SPREAD_DB) - level)
            end = min(n, at * FRAME + len(clip))
            x[at * FRAME:end] += clip[:end - at * FRAME] * g
            truth[at:at + len(sounding)] |= sounding[:frames - at].astype(np.uint8)
    if "music" in kind:
        music, track = musicPart(rng, tracks, lengths, seconds)
        against = (SPEECH_DBFS - rng.uniform(*SPEECH_TO_MUSIC_DB) if "voices" in kind
                   else SPEECH_DBFS + rng.uniform(*MUSIC_ALONE_DB))
        level = loudDb(music)
        if level > -100:
            x += music[:n] * source.gain(against - level)
        about.update(music=track.split("/usr/share/")[-1],
                     music_db=round(against - SPEECH_DBFS, 2))
    hiss = rng.uniform(*HISS_DBFS)
    x += rng.standard_normal(n).astype(np.float32) * source.gain(hiss)
    about["hiss_dbfs"] = round(hiss, 1)
    return x, truth, about


def makeFile(path, rng, seconds, voices, tracks, lengths):
    """One file of stretches of every kind, its truth beside it; what it holds."""
    parts, truths, abouts, t = [], [], [], 0.0
    names, weights = zip(*KINDS)
    while t < seconds - STRETCH_S[0]:
        kind = names[int(rng.choice(len(names), p=weights))]
        length = min(rng.uniform(*STRETCH_S), seconds - t)
        x, truth, about = stretch(rng, kind, length, voices, tracks, lengths)
        about["from_s"] = round(t, 2)
        parts.append(x)
        truths.append(truth)
        abouts.append(about)
        t += len(truth) / 100
    x = np.concatenate(parts)
    peak = float(np.abs(x).max())
    if peak > 1:
        x /= np.float32(peak)
    source.mixer.run(["-f", "f32le", "-ar", str(RATE), "-ac", "1", "-i", "pipe:0", "-c:a", "flac",
                      "-sample_fmt", "s16", "-fflags", "+bitexact", "-flags", "+bitexact", "-map_metadata", "-1",
                      path], x.tobytes())
    np.save(os.path.splitext(path)[0] + ".npy", np.concatenate(truths))
    return {"file": os.path.basename(path), "seconds": round(len(x) / RATE, 2), "scaled_db": round(
        -20 * np.log10(peak), 2) if peak > 1 else 0, "speech_share": round(float(np.concatenate(truths).mean()), 4),
        "stretches": abouts}


def main(argv):
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--cache", default=os.path.join(source.ROOT, "build-voices"))
    p.add_argument("--output", help="where the files go (default CACHE/training)")
    p.add_argument("--minutes", type=float, default=120)
    p.add_argument("--file-minutes", type=float, default=5)
    p.add_argument("--seed", type=int, default=2)
    o = p.parse_args(argv)
    out = o.output or os.path.join(o.cache, "training")
    os.makedirs(out, exist_ok=True)
    voices = Voices(o.cache, corpus.load(o.cache))
    lengths = trackLengths(source.otherMusic(o.cache))
    tracks = sorted(lengths)
    files = []
    for k in range(max(1, round(o.minutes / o.file_minutes))):
        rng = np.random.default_rng([o.seed, k])
        path = os.path.join(out, "training-%02d.flac" % (k + 1))
        source.say("making %s" % path)
        files.append(makeFile(path, rng, o.file_minutes * 60, voices, tracks, lengths))
    index = {"rate": RATE, "frame_ms": 10, "seed": o.seed, "levels": voices.names,
             "truth": "FILE.npy: uint8 per 10 ms frame, 1 where a voice sounds within %d dB of its clip's loudest"
                      % corpus.WITHIN_DB, "files": files}
    with open(os.path.join(out, "training.json"), "w", encoding="utf-8") as f:
        json.dump(index, f, ensure_ascii=False, indent=1)
    total = sum(f["seconds"] for f in files)
    print("%s: %d files, %.1f min, voices in %.0f %% of the frames" % (
        out, len(files), total / 60, 100 * sum(f["speech_share"] * f["seconds"] for f in files) / total))


if __name__ == "__main__":
    try:
        main(sys.argv[1:])
    except (RuntimeError, ValueError, OSError, subprocess.CalledProcessError) as e:
        sys.exit("training.py: %s" % e)
