"""What a film holds besides its voices: a music bed (chords, a bass, a melody and
a beat, every note with its harmonics), door slams, a logo jingle and a room's
hiss. Everything is made at the voices' rate, bar by bar or burst by burst, so
that a two-hour film never holds more than a few seconds of it."""
import numpy as np

from voices import RATE, VOICE_DBFS

PROGRESSIONS = [[0, 7, 9, 5], [0, 5, 7, 5], [9, 5, 0, 7], [0, 9, 5, 7], [2, 7, 0, 0]]
MAJOR = [0, 2, 4, 5, 7, 9, 11]
HISS_LOOP = 7 * RATE + 17
PENTATONIC = [0, 2, 4, 7, 9]


def level(db):
    """Linear RMS of a sound db dB over (or under) the voices."""
    return 10 ** ((VOICE_DBFS + db) / 20)


def hz(midi):
    return 440.0 * 2 ** ((midi - 69) / 12)


def tone(freq, n, harmonics, attack, decay, detune=1.0):
    """n samples of a note: harmonics falling as 1/k^1.3, a linear attack and an
    exponential decay (seconds; 0 for a held note), a short release at the end."""
    t = np.arange(n, dtype=np.float32) / RATE
    k = np.arange(1, harmonics + 1, dtype=np.float32)[:, None]
    k = k[(k[:, 0] * freq * detune) < RATE / 2 - 500]
    wave = (np.sin(2 * np.pi * freq * detune * k * t) / k ** 1.3).sum(axis=0)
    env = np.minimum(1.0, t / attack) if attack else np.ones(n, np.float32)
    if decay:
        env = env * np.exp(-t / decay)
    release = min(n, int(0.03 * RATE))
    env[n - release:] *= np.linspace(1, 0, release, dtype=np.float32)
    return (wave * env).astype(np.float32)


def drumKit(seed, beat):
    """A kick, a snare and a hi-hat, each a beat long at most."""
    rng = np.random.default_rng([seed, 11])
    t = np.arange(beat, dtype=np.float32) / RATE
    sweep = 2 * np.pi * (50 * t + 60 * 0.04 * (1 - np.exp(-t / 0.04)))
    kick = np.sin(sweep) * np.exp(-t / 0.12)
    noise = rng.standard_normal(beat).astype(np.float32)
    snare = 0.6 * noise * np.exp(-t / 0.07) + 0.5 * np.sin(2 * np.pi * 185 * t) * np.exp(-t / 0.05)
    hat = np.diff(noise, prepend=0) * 0.35 * np.exp(-t / 0.02)
    return kick.astype(np.float32), snare.astype(np.float32), hat.astype(np.float32)


class Bed:
    """The music bed: bar k in two channels and a low one, each bar at the same RMS."""

    def __init__(self, seed):
        rng = np.random.default_rng([seed, 7])
        self.seed = seed
        self.beat = int(RATE * 60 / rng.uniform(92, 124))
        self.length = 4 * self.beat
        self.root = 48 + int(rng.integers(0, 12))
        self.progression = PROGRESSIONS[rng.integers(len(PROGRESSIONS))]
        self.kick, self.snare, self.hat = drumKit(seed, self.beat)
        self.notes = {}

    def note(self, key, make):
        if key not in self.notes:
            self.notes[key] = make()
        return self.notes[key]

    def chord(self, degree, detune):
        """The held chord of a bar: a triad of the major scale over its root."""
        def make():
            step = MAJOR.index(degree) if degree in MAJOR else 0
            triad = [self.root + 12 + MAJOR[(step + i) % 7] + 12 * ((step + i) // 7) for i in (0, 2, 4)]
            return sum(tone(hz(m), self.length, 6, 0.08, 0, detune) for m in triad) / 3
        return self.note(("chord", degree, detune), make)

    def bar(self, k, rms):
        """Bar k: (left, right, low), the two fronts at the given RMS together.
        Sections of eight bars have no beat, a kick and snare, or hi-hats too."""
        rng = np.random.default_rng([self.seed, 8, k])
        section = np.random.default_rng([self.seed, 9, k // 8]).integers(4)
        degree = self.progression[k % len(self.progression)]
        left, right = self.chord(degree, 1.0).copy(), self.chord(degree, 1.004).copy()
        low = np.zeros(self.length, np.float32)
        bass = self.note(("bass", degree), lambda: tone(hz(self.root - 12 + degree), self.beat * 3 // 2, 4, 0.01, 0.4))
        for b in (0, 2):
            low[b * self.beat:b * self.beat + len(bass)] += bass
        self.melody(rng, left, right)
        if section:
            self.drums(section, left, right, low)
        left += 0.7 * low
        right += 0.7 * low
        gain = rms / np.sqrt((left ** 2 + right ** 2).mean() / 2)
        return left * gain, right * gain, low * gain

    def melody(self, rng, left, right):
        """Notes of the pentatonic scale on some of the bar's eighths, panned."""
        eighth = self.beat // 2
        for slot in range(8):
            if rng.random() < 0.55:
                midi = self.root + 12 + PENTATONIC[rng.integers(5)] + 12 * int(rng.integers(2))
                span = min(eighth * int(rng.integers(1, 3)), self.length - slot * eighth)
                lead = self.note(("lead", midi, span), lambda: tone(hz(midi), span, 8, 0.01, 0.25))
                pan = rng.uniform(0.3, 0.7)
                left[slot * eighth:slot * eighth + span] += (1 - pan) * 1.2 * lead
                right[slot * eighth:slot * eighth + span] += pan * 1.2 * lead

    def drums(self, section, left, right, low):
        """Kick on beats one and three, snare on two and four, hi-hats on eighths."""
        eighth = self.beat // 2
        for b in (0, 2):
            low[b * self.beat:(b + 1) * self.beat] += self.kick
            left[(b + 1) * self.beat:(b + 2) * self.beat] += 0.5 * self.snare
            right[(b + 1) * self.beat:(b + 2) * self.beat] += 0.5 * self.snare
        if section >= 2:
            for slot in range(8):
                left[slot * eighth:(slot + 1) * eighth] += 0.6 * self.hat[:eighth]
                right[slot * eighth:(slot + 1) * eighth] += 0.4 * self.hat[:eighth]


def slam(seed, n, rms):
    """Door slam n: a low thump, the crack of the latch, the frame rattling. Its
    first 100 ms at the given RMS."""
    rng = np.random.default_rng([seed, 21, n])
    length = int(0.6 * RATE)
    t = np.arange(length, dtype=np.float32) / RATE
    noise = rng.standard_normal(length).astype(np.float32)
    thump = np.sin(2 * np.pi * rng.uniform(55, 95) * t) * np.exp(-t / 0.09)
    crack = noise * np.exp(-t / 0.012)
    rattle = np.convolve(noise, np.ones(6) / 6, "same") * np.exp(-t / 0.15) * 0.4
    x = (thump + crack + rattle).astype(np.float32)
    head = x[:int(0.1 * RATE)]
    return x * np.float32(rms / np.sqrt((head ** 2).mean()))


def jingle(rms):
    """The studio's logo: a rising motif of brassy notes with vibrato, then a held
    chord; about 2.6 s at the given RMS. Always the same, as a logo is."""
    parts = []
    for midi, secs in ((67, 0.18), (72, 0.18), (76, 0.18), (79, 0.36)):
        n = int(secs * RATE)
        t = np.arange(n, dtype=np.float32) / RATE
        wobble = 1 + 0.006 * np.sin(2 * np.pi * 5.5 * t)
        k = np.arange(1, 11, dtype=np.float32)[:, None]
        wave = (np.sin(2 * np.pi * hz(midi) * k * np.cumsum(wobble) / RATE) / k).sum(axis=0)
        parts.append(wave * np.minimum(1, t / 0.015))
    n = int(1.7 * RATE)
    held = sum(tone(hz(m), n, 10, 0.02, 0.7) for m in (60, 67, 72, 76)) / 2
    x = np.concatenate(parts + [held]).astype(np.float32)
    return x * np.float32(rms / np.sqrt((x ** 2).mean()))


def hissLoop(seed, channel):
    """Room tone: soft noise, low in treble, a few seconds of it that a film plays
    over and over (far too low to be heard as a loop)."""
    rng = np.random.default_rng([seed, 31, channel])
    x = rng.standard_normal(HISS_LOOP + 3).astype(np.float32)
    return (x[3:] + x[2:-1] + x[1:-2] + x[:-3]) / np.float32(2)  # unit RMS


def hiss(loop, start, n, rms):
    """The hiss of samples [start, start + n) at the given RMS."""
    at = np.arange(start, start + n) % len(loop)
    return loop[at] * np.float32(rms)

