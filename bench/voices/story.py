"""A film's story, planned from a seed: scenes of a level's Dutch lines in their
order, with natural gaps and small overlaps between speakers; the game's music
under each scene, music-only stretches, effects now and then. Everything is in
ms on the story's own clock, before any cut or inserted break."""
import numpy as np

SCENE_LINES = (5, 15)  # lines in a scene, the top excluded
GAP_MS = (200, 1500)  # between two lines of a scene
OVERLAP_MS = 300  # a reply may start this much before the other voice ends
OVERLAP_SHARE = 0.25  # of replies that overlap
INTERLUDE_MS = (3000, 20000)  # music or effects between scenes
STRETCH_MS = (60000, 180000)  # a music-only stretch
SCENE_MUSIC_DB = (-20, 3)  # the music under a scene against the voices
MUSIC_ONLY_DB = (-8, 3)  # music alone
VOICE_SPREAD_DB = 3  # each line's level around the common speech level
EFFECTS_PER_MIN = 3
EFFECT_DB = (-8, 4)


def usable(ln):
    """A clip with a voice in it, of some length."""
    return ln["voice_db"] > -60 and ln["voice_end_ms"] - ln["voice_start_ms"] >= 300


def pool(lines, split="film"):
    """{level: its usable lines in script order}: voiced, with French text."""
    levels = {}
    for i, ln in enumerate(lines):
        if usable(ln) and ln["split"] == split and ln["fr"]:
            levels.setdefault(ln["level"], []).append(dict(ln, index=i))
    return levels


class Levels:
    """The levels in a shuffled order, again reshuffled once all are told."""

    def __init__(self, rng, levels, avoid=()):
        self.rng, self.avoid = rng, set(avoid)
        self.names = sorted(lv for lv in levels if lv not in self.avoid) or sorted(levels)
        self.order = []

    def next(self):
        if not self.order:
            self.order = list(self.rng.permutation(self.names))
        return self.order.pop()


def scene(rng, lines):
    """A run of a level's lines in order, their voices placed from 0 ms: each
    starts a natural gap after the voice before, or, when the speaker changes,
    now and then a little before it ends."""
    count = min(len(lines), int(rng.integers(*SCENE_LINES)))
    first = int(rng.integers(0, len(lines) - count + 1))
    out, t = [], 0.0
    for ln in lines[first:first + count]:
        span = ln["voice_end_ms"] - ln["voice_start_ms"]
        if out:
            before = out[-1]
            if before["speaker"] != ln["speaker"] and rng.random() < OVERLAP_SHARE:
                t = max(before["start"] + 300, before["end"] - rng.uniform(0, OVERLAP_MS))
            else:
                t = max(t, before["end"] + rng.uniform(*GAP_MS))
        out.append(voice(ln, t, span, rng))
        t = out[-1]["end"]
    return out


def voice(ln, start, span, rng):
    """A line placed with its voice starting at start (ms)."""
    return {"line": ln["index"], "id": ln["id"], "level": ln["level"], "speaker": ln["speaker"],
            "fr": ln["fr"], "nl": ln["nl"] or ln["fr"], "start": round(start, 1), "end": round(start + span, 1),
            "at": round(start - ln["voice_start_ms"], 1),
            "gain_db": round(rng.uniform(-VOICE_SPREAD_DB, VOICE_SPREAD_DB), 2)}


def moved(voices, by, **extra):
    return [dict(v, start=v["start"] + by, end=v["end"] + by, at=v["at"] + by, **extra) for v in voices]


def voiceMs(voices):
    return sum(v["end"] - v["start"] for v in voices)


def interludes(rng, n, total):
    """n lengths within INTERLUDE_MS whose mean is total / n (as near as they can):
    u ** p spread over the range, p chosen for the mean."""
    lo, hi = INTERLUDE_MS
    mean = min(max(total / n, lo + 1), hi - 1)
    u = rng.random(n)
    if mean <= (lo + hi) / 2:
        x = u ** ((hi - lo) / (mean - lo) - 1)
    else:
        x = 1 - (1 - u) ** ((hi - lo) / (hi - mean) - 1)
    return lo + (hi - lo) * x


def plan(seed, duration_ms, share, music_tracks, effects, levels, opening_ms=0):
    """The story: voices, music segments, effects and scenes, about duration_ms long
    with voices sounding for about share of it."""
    rng = np.random.default_rng([seed, 1])
    order = Levels(rng, levels)
    scenes = []
    target = share * (duration_ms - opening_ms)
    while sum(voiceMs(s) for s in scenes) < target:
        scenes.append(scene(rng, levels[order.next()]))
    free = duration_ms - opening_ms - sum(s[-1]["end"] for s in scenes) - INTERLUDE_MS[0]
    while scenes and free < INTERLUDE_MS[0] * len(scenes):
        free += scenes.pop()[-1]["end"]
    n = len(scenes)
    stretches = []
    # Music-only stretches take what interludes cannot: at least one in a film of 8 minutes or more.
    while n and (free - sum(stretches) > INTERLUDE_MS[1] * n or
                 (not stretches and duration_ms >= 480000 and free - INTERLUDE_MS[0] * n >= STRETCH_MS[0])):
        room = free - sum(stretches) - INTERLUDE_MS[0] * n
        if room < STRETCH_MS[0]:
            break
        stretches.append(min(room, rng.uniform(*STRETCH_MS)))
    gaps = interludes(rng, n, free - sum(stretches)) if n else []
    where = rng.choice(n, size=len(stretches), replace=len(stretches) > n) if n else []
    return layout(rng, scenes, gaps, dict(zip(where, stretches)), duration_ms, opening_ms, music_tracks, effects)


def layout(rng, scenes, gaps, stretches, duration_ms, opening_ms, music_tracks, effects):
    """Lays the scenes out after the opening, each after its interlude (and a
    music-only stretch before some), the rest of the time closing the film."""
    story = {"voices": [], "music": [], "effects": [], "scenes": [], "stretches": []}
    t = 0.0
    if opening_ms:
        story["music"].append(music(rng, music_tracks, 0, opening_ms, MUSIC_ONLY_DB, "opening"))
        t = opening_ms
    for k, (voices, gap) in enumerate(zip(scenes, gaps)):
        if k in stretches:
            story["music"].append(music(rng, music_tracks, t, t + stretches[k], MUSIC_ONLY_DB, "stretch"))
            story["stretches"].append({"from": round(t), "to": round(t + stretches[k])})
            t += stretches[k]
        begin = t + gap
        placed = moved(voices, begin, scene=k)
        end = placed[-1]["end"]
        story["music"].append(music(rng, music_tracks, t, end + 1000, SCENE_MUSIC_DB, "scene"))
        story["scenes"].append({"from": round(begin), "to": round(end), "level": voices[0]["level"],
                                "music_db": story["music"][-1]["level_db"], "lines": len(voices)})
        story["voices"] += placed
        t = end
    length = max(duration_ms, t + INTERLUDE_MS[0])
    if length - t > 1000:
        story["music"].append(music(rng, music_tracks, t, length, MUSIC_ONLY_DB, "closing"))
    story["effects"] = scatter(rng, effects, length)
    story["length"] = round(length)
    return story


def music(rng, tracks, start, end, levels, kind):
    """A music segment: a track, looped from a point of it, at a level against the voices."""
    track = tracks[int(rng.integers(len(tracks)))]
    return {"track": track, "from": round(start, 1), "to": round(end, 1), "kind": kind,
            "level_db": round(rng.uniform(*levels), 2), "skip": round(rng.uniform(0, 20000), 1)}


def scatter(rng, effects, length):
    """Effects at random times, some over speech as it happens."""
    count = rng.poisson(EFFECTS_PER_MIN * length / 60000)
    times = np.sort(rng.uniform(0, length - 3000, count))
    return [{"name": effects[int(rng.integers(len(effects)))], "at": round(float(t), 1),
             "level_db": round(rng.uniform(*EFFECT_DB), 2)} for t in times]


def chatter(seed, start, length, levels, avoid, share, key):
    """Voices that the subtitle knows nothing of (a commentary, an advert): single
    lines of other levels at other times, about share of [start, start + length)."""
    rng = np.random.default_rng([seed, key])
    order = Levels(rng, levels, avoid)
    out, t = [], start + rng.uniform(500, 3000)
    while True:
        ln = levels[order.next()]
        ln = ln[int(rng.integers(len(ln)))]
        span = ln["voice_end_ms"] - ln["voice_start_ms"]
        if t + span > start + length - 500:
            return out
        out.append(voice(ln, t, span, rng))
        mean_gap = span * (1 - share) / share
        t += span + rng.uniform(0.3, 1.7) * mean_gap
