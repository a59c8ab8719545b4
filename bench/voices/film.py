#!/usr/bin/python3
"""Makes a film of real Dutch voices from a seed (the same seed, the same bytes):
its story (story.py) mixed and encoded by the ffmpeg program, its right French
subtitle (subtitler.py) and the truth about both in FILM.json. A film may lose
a scene, have an advert break inserted, repeat one 3-minute scene, open on
music, or hold other audio tracks before the one with the voices.
Usage: film.py -o FILM.mkv --seed N [--duration M:SS] [options]"""
import argparse
import json
import os
import sys
import time

import numpy as np

import lines as corpus
import source
import story
import subtitler

sys.path.insert(0, os.path.join(source.ROOT, "tests", "films"))
import mixer  # noqa: E402
import sounds  # noqa: E402
import subrip  # noqa: E402
import voices as espeak  # noqa: E402

RATE = source.RATE
SPEECH_DBFS = espeak.VOICE_DBFS  # every film's common speech level
HISS_DB = -40  # the room's hiss against the voices
FADE_MS = 1000  # music segments fade in and out
REPEATED_MS = 180000  # the scene a repeating film loops
TRACKS = {  # the tracks before the voices', the default one first
    "me": [{"content": "me", "language": "zxx", "title": "Musique et effets"}],
    "commentary": [{"content": "commentary", "language": "nld", "title": "Commentaire"}],
}
VOICE_TRACK = {"content": "film", "language": "nld", "title": "Version originale"}


def sample(ms):
    return int(round(ms * RATE / 1000))


class Sounds:
    """The game's music and effects, decoded once each, with their levels."""

    def __init__(self, game):
        self.game, self.decoded = game, {}
        folder = os.path.join(game, "music")
        self.music = sorted(f for f in os.listdir(folder) if f.endswith(".ogg"))
        self.effects = sorted(f for f in os.listdir(os.path.join(game, "sound", "share")) if f.endswith(".ogg"))

    def get(self, path):
        """(samples, their level in dB): the RMS of the loud part, within 35 dB of the loudest."""
        if path not in self.decoded:
            x = source.decode(os.path.join(self.game, path))
            db = source.frameDb(x)
            loud = db[db >= db.max() - 35] if len(db) else np.array([source.rmsDb(x)])
            self.decoded[path] = (x, float(10 * np.log10(np.mean(10 ** (loud / 10)))))
        return self.decoded[path]


class Mix:
    """One audio track of a film: voices, music, effects and hiss of the story's
    timeline, mixed on demand for samples [a, b) into the film's channels."""

    def __init__(self, seed, plan, voices, clips, sounds_, layout, bed_db=0.0):
        self.voices, self.clips, self.sounds, self.layout = voices, clips, sounds_, layout
        self.music, self.effects, self.bed = plan["music"], plan["effects"], source.gain(bed_db)
        self.starts = np.array([sample(v["at"]) for v in voices], np.int64)
        self.ends = self.starts + np.array([clips.lines[v["line"]]["samples"] for v in voices], np.int64)
        self.hiss = [sounds.hissLoop(seed, ch) for ch in range(mixer.CHANNELS[layout])]
        self.clipped = 0

    def voice(self, a, b):
        out = np.zeros(b - a, np.float32)
        for i in np.nonzero((self.starts < b) & (self.ends > a))[0]:
            v = self.voices[i]
            line = self.clips.lines[v["line"]]
            g = source.gain(SPEECH_DBFS + v["gain_db"] - line["voice_db"])
            mixer.overlay(out, a, self.clips.sound(line) * g, int(self.starts[i]))
        return out

    def musicBed(self, a, b):
        out = np.zeros(b - a, np.float32)
        for m in self.music:
            lo, hi = max(a, sample(m["from"])), min(b, sample(m["to"]))
            if lo >= hi:
                continue
            x, db = self.sounds.get(os.path.join("music", m["track"]))
            t = np.arange(lo, hi)
            at = (t - sample(m["from"]) + sample(m["skip"])) % len(x)
            fade = np.minimum(1, np.minimum(t - sample(m["from"]), sample(m["to"]) - t) / sample(FADE_MS))
            out[lo - a:hi - a] += x[at] * fade.astype(np.float32) * source.gain(SPEECH_DBFS + m["level_db"] - db)
        return out * np.float32(self.bed)

    def fx(self, a, b):
        out = np.zeros(b - a, np.float32)
        for e in self.effects:
            at = sample(e["at"])
            if at < b and at + RATE * 3 > a:
                x, db = self.sounds.get(os.path.join("sound", "share", e["name"]))
                mixer.overlay(out, a, x * source.gain(SPEECH_DBFS + e["level_db"] - db), at)
        return out * np.float32(self.bed)

    def block(self, a, b):
        bed = self.musicBed(a, b)
        hiss = [sounds.hiss(loop, a, b - a, sounds.level(HISS_DB)) for loop in self.hiss]
        x = mixer.channels(self.layout, self.voice(a, b), [bed, bed], bed, self.fx(a, b), hiss)
        self.clipped += mixer.clip(x)
        return x

    def stream(self, ranges, write):
        for lo, hi in ranges:
            for a in range(lo, hi, mixer.CHUNK):
                write(self.block(a, min(hi, a + mixer.CHUNK)).tobytes())


def edits(o, plan, levels, music_tracks, rng):
    """The story's spans (ms) in the film's order, and what was done: a scene
    lost, a break inserted (its voices placed after the story's end), or one
    scene repeated."""
    length = plan["length"]
    if o.repeat:
        return [(0, length)] * o.repeat, {"kind": "repeat", "loops": o.repeat, "scene_ms": length}, []
    if o.lost:
        at = round(rng.uniform(length / 3, 2 * length / 3 - o.lost))
        return [(0, at), (at + o.lost, length)], {"kind": "lost", "at": at, "length": o.lost}, []
    if o.insert:
        # Adverts come between scenes: the middle of an interlude near the film's middle.
        ends = [s["to"] for s in plan["scenes"]]
        starts = [s["from"] for s in plan["scenes"]][1:] + [length]
        middle = [(e + s) / 2 for e, s in zip(ends, starts) if s - e >= 3000]
        at = round(min(middle, key=lambda m: abs(m - length / 2 - rng.uniform(-length / 6, length / 6))))
        away = length + 60000
        used = {v["level"] for v in plan["voices"]}
        adverts = story.chatter(o.seed, away, o.insert, levels, used, 0.6, 3)
        plan["music"].append(story.music(rng, music_tracks, away, away + o.insert, story.MUSIC_ONLY_DB, "advert"))
        return ([(0, at), (away, away + o.insert), (at, length)],
                {"kind": "break", "at": at, "length": o.insert, "voices": len(adverts)}, adverts)
    return [(0, length)], None, []


def inFilm(cue, spans):
    """Where a story cue is in the film: for every span that holds it whole (its
    cue and its voices), what moves it from the story's clock to the film's."""
    lo = min([cue["start"]] + [t["voice"][0] for t in cue["truth"]])
    hi = max([cue["end"]] + [t["voice"][1] for t in cue["truth"]])
    out, offset = [], 0
    for a, b in spans:
        if a <= lo and hi <= b:
            out.append(offset - a)
        offset += b - a
    return out


def shifted(cue, by):
    """The cue moved by `by` ms, its truth too."""
    truth = [dict(t, voice=[t["voice"][0] + by, t["voice"][1] + by], span=[t["span"][0] + by, t["span"][1] + by])
             for t in cue["truth"]]
    return dict(cue, start=cue["start"] + by, end=cue["end"] + by, truth=truth)


def filmCues(cues, spans):
    """The right subtitle of the film: every story cue at each place the film has it."""
    placed = [shifted(c, by) for c in cues for by in inFilm(c, spans)]
    return sorted(placed, key=lambda c: c["start"])


def delayed(spans, delay):
    """Timeline sample ranges that make the film once the encoder's delay is taken
    out: the first `delay` samples dropped, as many added at the end."""
    ranges = [[sample(a), sample(b)] for a, b in spans]
    skip = delay
    while skip and ranges:
        take = min(skip, ranges[0][1] - ranges[0][0])
        ranges[0][0] += take
        skip -= take
        if ranges[0][0] == ranges[0][1]:
            ranges.pop(0)
    ranges[-1][1] += delay
    return [tuple(r) for r in ranges]


def options(argv):
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("-o", "--output", required=True, metavar="FILM.mkv", help=".mkv or .mp4 (a picture with it)")
    p.add_argument("--cache", default=os.path.join(source.ROOT, "build-voices"))
    p.add_argument("--seed", type=int, required=True)
    p.add_argument("--duration", type=subrip.parseTime, default=subrip.parseTime("15:00"), metavar="M:SS")
    p.add_argument("--speech", type=float, default=0.5, help="share of the time voices sound (default 0.5)")
    p.add_argument("--opening", type=subrip.parseTime, default=0, metavar="M:SS", help="music alone first")
    p.add_argument("--codec", choices=["aac", "ac3", "opus"], default="aac",
                   help="aac: stereo; ac3: 5.1, the voices in the centre; opus: stereo")
    p.add_argument("--tracks", choices=sorted(TRACKS), help="a track before the voices', the default one")
    p.add_argument("--repeat", type=int, default=0, metavar="N", help="one 3-minute scene, N times")
    p.add_argument("--lost", type=subrip.parseTime, default=0, metavar="S", help="a scene this long is cut out")
    p.add_argument("--insert", type=subrip.parseTime, default=0, metavar="S", help="an advert break this long")
    p.add_argument("--lines", choices=["film", "calibration"], default="film",
                   help="the levels whose lines it is made of: the bench's (default) or the calibration's")
    o = p.parse_args(argv)
    if sum(bool(x) for x in (o.repeat, o.lost, o.insert)) > 1:
        p.error("one of --repeat, --lost, --insert")
    if o.repeat:
        o.duration = REPEATED_MS
    return o


def make(o):
    began = time.monotonic()
    lines = corpus.load(o.cache)
    clips = corpus.Clips(o.cache, lines)
    game = source.game(o.cache)
    snd = Sounds(game)
    levels = story.pool(lines, o.lines)
    plan = story.plan(o.seed, o.duration, o.speech, snd.music, snd.effects, levels, o.opening)
    spans, edit, extra = edits(o, plan, levels, snd.music, np.random.default_rng([o.seed, 2]))
    cues = subtitler.subtitle(plan["voices"], np.random.default_rng([o.seed, 4]))
    right = filmCues(cues, spans)
    film = mixer.Film(o.output, o.codec, None, 48000, True, "nld")
    delay = mixer.encoderDelay(film, os.path.join(o.cache, "delays"))
    tracks = [(Mix(o.seed, plan, plan["voices"] + extra, clips, snd, film.layout), dict(VOICE_TRACK))]
    if o.tracks:
        used = {v["level"] for v in plan["voices"]}
        talk = story.chatter(o.seed, 0, plan["length"], levels, used, 0.35, 5) if o.tracks == "commentary" else []
        under = -6 if talk else 0  # a commentary's film sound is turned down under it
        before = [(Mix(o.seed, plan, talk, clips, snd, film.layout, under), dict(t)) for t in TRACKS[o.tracks]]
        tracks = before + tracks
    for k, (_, info) in enumerate(tracks):
        info["default"] = k == 0
    length = sum(b - a for a, b in spans)
    mixer.encode(film, tracks, delayed(spans, delay), length)
    base = os.path.splitext(o.output)[0]
    subrip.write(base + ".srt", right)
    if edit:
        subrip.write(base + ".story.srt", cues)
    voiced = sum((v["end"] - v["start"]) * sum(a <= v["start"] and v["end"] <= b for a, b in spans)
                 for v in plan["voices"])
    info = {
        "film": os.path.basename(o.output), "subtitle": os.path.basename(base + ".srt"),
        "story_subtitle": os.path.basename(base + ".story.srt") if edit else None,
        "seed": o.seed, "lines": o.lines, "duration_ms": length, "story_ms": plan["length"], "speech_asked": o.speech,
        "speech_share": round(voiced / length, 4), "opening_ms": o.opening, "edit": edit,
        "codec": film.codec, "layout": film.layout, "rate": film.rate,
        "voice_channel": mixer.VOICE_CHANNEL[film.layout],
        "encoder_delay_ms": round(delay * 1000 / RATE, 3), "clipped_samples": sum(m.clipped for m, _ in tracks),
        "audio_tracks": [t for _, t in tracks], "voice_track": len(tracks),
        "spans": spans, "scenes": plan["scenes"], "stretches": plan["stretches"], "music": plan["music"],
        "effects": plan["effects"], "voices": plan["voices"], "extra_voices": extra,
        "cues": right, "story_cues": cues if edit else None,
        "seconds": round(time.monotonic() - began, 1), "command": sys.argv[1:],
    }
    with open(base + ".json", "w", encoding="utf-8") as f:
        json.dump(info, f, ensure_ascii=False, indent=0)
    return info


def main(argv):
    info = make(options(argv))
    print("%s: %s, %d cues, speech %.1f %%, %.1f s" % (info["film"], subrip.stamp(info["duration_ms"]),
                                                       len(info["cues"]), 100 * info["speech_share"],
                                                       info["seconds"]))


if __name__ == "__main__":
    try:
        main(sys.argv[1:])
    except (RuntimeError, ValueError, OSError) as e:
        sys.exit("film.py: %s" % e)
