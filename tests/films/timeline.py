"""The film's timeline before any cut: where each cue is spoken, by whom, and where
the jingles and door slams fall. Everything a cue needs but its length is drawn
from the seed and the cue's number alone, so speech can be rendered ahead on
a thread while the cues are placed one after the other, always the same."""
import collections
import concurrent.futures
import math

import numpy as np

import dialogue
import sounds
import voices

MIN_GAP_MS = 80  # between one cue's end and the next one's start
CUES_PER_SCENE = 12
JINGLE_MS = round(len(sounds.jingle(1.0)) * 1000 / voices.RATE)


class Settings:
    """What the timeline is made of (times in ms of the uncut timeline)."""

    def __init__(self, seed, length_ms, share, languages, jingles, slams_per_min, cuts=()):
        self.seed, self.length_ms, self.share, self.languages = seed, length_ms, share, languages
        self.jingles, self.slams_per_min = jingles, slams_per_min
        self.edges = sorted(e for at, n in cuts for e in (at, at + n))  # no cue across one
        self.lead_ms = 500 + JINGLE_MS + 1000 if jingles else 2000
        self.tail_ms = 2000


def draw(s, i):
    """Cue i as the seed makes it: language, speakers, lines, spoken parts, pauses."""
    scene = np.random.default_rng([s.seed, 2, i // CUES_PER_SCENE])
    lang = s.languages[scene.integers(len(s.languages))]
    cast = voices.CAST[lang]
    people = [cast[j] for j in scene.permutation(len(cast))[:3]]
    rng = np.random.default_rng([s.seed, 1, i])
    lines, parts = dialogue.cue(rng, lang)
    first = int(rng.integers(len(people)))
    speakers = [people[first], people[(first + 1 + int(rng.integers(len(people) - 1))) % len(people)]]
    return {"language": lang, "lines": lines,
            "parts": [(speakers[slot], text) for slot, text in parts],
            "pause": rng.uniform(0.25, 0.5), "tail_ms": int(rng.integers(40, 400)),
            "spacing": rng.gamma(0.6, 1 / 0.6)}


def render(cue, speaker):
    """The cue's speech: each part in turn, a pause between two speakers."""
    pause = np.zeros(int(cue["pause"] * voices.RATE), np.float32)
    pieces = []
    for character, text in cue["parts"]:
        pieces += ([pause] if pieces else []) + [voices.speak(speaker, character, text)]
    return np.concatenate(pieces)


def slams(s):
    """Door slams: (start ms, number), anywhere in the film, speech or not."""
    rng = np.random.default_rng([s.seed, 20])
    count = round(s.slams_per_min * s.length_ms / 60000)
    return sorted((int(t), n) for n, t in enumerate(rng.uniform(s.lead_ms, s.length_ms - 1000, count)))


def jingles(s):
    """The logo jingles: one at 0.5 s, the others spread evenly; no cue overlaps one."""
    starts = [500] + [s.length_ms * k // s.jingles for k in range(1, s.jingles)]
    return [{"kind": "jingle", "start": t, "end": t + JINGLE_MS} for t in starts[:s.jingles]]


def clear(s, logos, t, length):
    """The first start from t at which a cue of that length meets no jingle (nor
    the second after one) and does not run across the edge of a cut, so that the
    cut film holds each cue whole or not at all."""
    while True:
        was = t
        for logo in logos:
            if t < logo["end"] + 1000 and t + length + 1000 > logo["start"]:
                t = max(t, logo["end"] + 1000)
        for edge in s.edges:
            if t - 100 < edge < t + length + 100:
                t = edge + 100
        if t == was:
            return t


def cues(s):
    """Yields the cues in order, each with its start, end, speech end and sound,
    the speech of the next few made meanwhile on a thread of its own."""
    speaker = voices.Speaker()
    pool = concurrent.futures.ThreadPoolExecutor(1)  # one speaker, asked in order
    ahead = collections.deque()
    logos = jingles(s)
    t, i = s.lead_ms, 0
    try:
        while True:
            while len(ahead) < 8:
                cue = draw(s, i + len(ahead))
                ahead.append((cue, pool.submit(render, cue, speaker)))
            cue, future = ahead.popleft()
            cue["sound"] = future.result()
            length = len(cue["sound"]) * 1000 / voices.RATE
            t = clear(s, logos, t, length + cue["tail_ms"])
            cue["start"] = t
            cue["speech_end"] = t + length
            cue["end"] = math.ceil(cue["speech_end"]) + cue["tail_ms"]
            if cue["end"] > s.length_ms - s.tail_ms:
                return
            yield cue
            gap = length * (1 - s.share) / s.share * cue["spacing"]
            t = max(cue["end"] + MIN_GAP_MS, math.ceil(cue["speech_end"] + gap))
            i += 1
    finally:
        pool.shutdown(cancel_futures=True)
        speaker.close()
