"""Mixes the timeline into the film's channels, a few seconds at a time, and
streams them into the `ffmpeg` program, which encodes and muxes the film. The
encoder's own delay (the priming samples that Matroska, MPEG-TS and AVI do not
tell a decoder to drop) is measured first and taken out, so that the decoded
speech falls where the subtitle says."""
import os
import subprocess
import tempfile
import threading

import numpy as np

import sounds
import voices

RATE = voices.RATE
CHUNK = 10 * RATE

# Our name: ffmpeg's encoder, the layout films use with it, its bit rate.
CODECS = {
    "aac": ("aac", "stereo", "160k"), "ac3": ("ac3", "5.1", "448k"),
    "eac3": ("eac3", "5.1", "384k"), "dts": ("dca", "5.1", "768k"),
    "mp3": ("libmp3lame", "stereo", "192k"), "opus": ("libopus", "stereo", "128k"),
    "flac": ("flac", "stereo", None), "pcm": ("pcm_s16le", "stereo", None),
}
CHANNELS = {"mono": 1, "stereo": 2, "5.1": 6}  # 5.1: FL FR FC LFE BL BR
VOICE_CHANNEL = {"mono": "FC", "stereo": "FL", "5.1": "FC"}
CONTAINERS = {".mkv": True, ".mp4": True, ".mov": True, ".avi": True, ".ts": True,
              ".webm": True, ".mka": False, ".m4a": False}  # does it carry a picture?


def clip(x):
    """Holds the mix within full scale, in place; how many samples it cut."""
    over = int((np.abs(x) > 1).sum())
    if over:
        np.clip(x, -1, 1, out=x)
    return over


class Film:
    """How the film is encoded: file, codec, layout, rate, picture, language tag."""

    def __init__(self, path, codec, layout, rate, video, language):
        self.path, self.codec, self.rate, self.language = path, codec, rate, language
        self.container = os.path.splitext(path)[1].lower()
        if self.container not in CONTAINERS:
            raise ValueError("unknown container %r (one of %s)" % (self.container, " ".join(CONTAINERS)))
        if codec not in CODECS:
            raise ValueError("unknown codec %r (one of %s)" % (codec, " ".join(CODECS)))
        self.layout = layout or CODECS[codec][1]
        self.video = video and CONTAINERS[self.container]


def encodeArgs(film, tracks=None):
    """ffmpeg's options for the audio of the film: each track's language, title and
    whether it is the default one; bit-exact, so that a seed gives the same bytes."""
    encoder, _, bitrate = CODECS[film.codec]
    args = ["-c:a", encoder, "-ar", str(film.rate), "-strict", "-2"]
    args += ["-aac_coder", "fast"] if encoder == "aac" else []  # its default search takes 2.6 times as long
    args += ["-b:a", bitrate] if bitrate else []
    args += ["-mapping_family", "1"] if film.codec == "opus" and film.layout == "5.1" else []
    for i, track in enumerate(tracks or [{"language": film.language, "default": True}]):
        args += ["-metadata:s:a:%d" % i, "language=" + track["language"],
                 "-disposition:a:%d" % i, "default" if track["default"] else "0"]
        args += ["-metadata:s:a:%d" % i, "title=" + track["title"]] if "title" in track else []
    args += ["-fflags", "+bitexact", "-flags", "+bitexact", "-map_metadata", "-1"]
    return args


def ffmpegInput(film, pipe=0):
    return ["-f", "f32le", "-ar", str(RATE), "-ac", str(CHANNELS[film.layout]),
            "-channel_layout", film.layout, "-i", "pipe:%d" % pipe]


def run(args, data=None):
    """Runs ffmpeg; its error output in the exception when it fails."""
    r = subprocess.run(["ffmpeg", "-v", "error", "-y"] + (["-nostdin"] if data is None else []) + args,
                       input=data, capture_output=True)
    if r.returncode:
        raise RuntimeError("ffmpeg failed: " + r.stderr.decode(errors="replace")[-600:])
    return r.stdout


def voiceTrack(path, rate, channel, track=0):
    """A decoded channel (the one that holds the voices) of an audio track, as
    floats at the given rate."""
    return np.frombuffer(run(["-i", path, "-map", "0:a:%d" % track, "-af", "pan=mono|c0=" + channel,
                              "-ar", str(rate), "-f", "f32le", "-"]), np.float32)


def encoderDelay(film, cache=None):
    """Samples (at RATE) by which the decoded film would lag what went in: a tone
    burst at 0.5 s encoded as the film will be, decoded, and found."""
    key = cache and os.path.join(cache, "delay-%s-%s-%s-%d" % (film.codec, film.container[1:], film.layout, film.rate))
    if key and os.path.exists(key):
        with open(key) as f:
            return int(f.read())
    delay = measureDelay(film)
    if key:
        os.makedirs(cache, exist_ok=True)
        with open(key, "w") as f:
            f.write(str(delay))
    return delay


def measureDelay(film):
    """The encoder's delay, found on a tone burst in the voices' channel."""
    voice = np.zeros(int(1.5 * RATE), np.float32)
    voice[RATE // 2:RATE // 2 + RATE // 10] = 0.5 * np.sin(2 * np.pi * 1000 * np.arange(RATE // 10) / RATE)
    silence = np.zeros((6, len(voice)), np.float32)
    x = channels(film.layout, voice, silence[:2], silence[2], silence[3], silence)
    with tempfile.TemporaryDirectory() as tmp:
        probe = os.path.join(tmp, "probe" + film.container)
        run(ffmpegInput(film) + encodeArgs(film) + [probe], x.tobytes())
        y = voiceTrack(probe, film.rate, VOICE_CHANNEL[film.layout])
    onset = np.nonzero(np.abs(y) > 0.1)[0][0] / film.rate
    return max(0, round((onset - 0.5) * RATE))


def channels(layout, voice, music, low, fx, hiss):
    """The film's channels, interleaved: the voices in the centre (both fronts in
    stereo, as a phantom centre), the music in the fronts and, softer, behind,
    its bass and beat in the LFE, the bursts in the fronts, the hiss everywhere."""
    if layout == "mono":
        mixed = [voice + 0.5 * (music[0] + music[1]) + fx + hiss[0]]
    elif layout == "stereo":
        mixed = [voice + music[0] + fx + hiss[0], voice + music[1] + fx + hiss[1]]
    else:
        fx = fx * np.float32(0.7)
        mixed = [music[0] + fx + hiss[0], music[1] + fx + hiss[1], voice + fx + hiss[2],
                 np.float32(0.5) * low + fx, np.float32(0.4) * music[1] + hiss[4],
                 np.float32(0.4) * music[0] + hiss[5]]
    out = np.empty((len(voice), len(mixed)), "<f4")
    for i, channel in enumerate(mixed):
        out[:, i] = channel
    return out


def keptRanges(start, end, cuts):
    """The timeline's sample ranges that make output samples [start, end) once the
    cuts (timeline samples: at, length) are taken out."""
    ranges, out, tl = [], 0, 0
    for at, length in sorted(cuts) + [(None, 0)]:
        stop = at if at is not None else tl + max(0, end - out)
        lo, hi = max(start, out), min(end, out + stop - tl)
        if lo < hi:
            ranges.append((tl + lo - out, tl + hi - out))
        out += stop - tl
        tl = stop + length
    return ranges


def sample(ms):
    return round(ms * RATE / 1000)


def overlay(block, a, sound, at):
    """Adds a sound that starts at timeline sample `at` into block, which starts at a."""
    lo, hi = max(a, at), min(a + len(block), at + len(sound))
    if lo < hi:
        block[lo - a:hi - a] += sound[lo - at:hi - at]


class Mixer:
    """Mixes timeline samples [a, b) on demand, pulling the cues as it goes."""

    def __init__(self, seed, cues, events, levels, layout):
        self.seed, self.cues, self.events, self.layout = seed, cues, events, layout
        self.levels = levels  # dB over the voices, None for none: music, slam, jingle, hiss
        self.bed = sounds.Bed(seed) if levels["music"] is not None else None
        self.bars, self.bursts = {}, {}
        self.hiss = [sounds.hissLoop(seed, ch) for ch in range(CHANNELS[layout])]
        self.placed, self.active, self.coming = [], [], None
        self.clipped = 0

    def pull(self, b):
        """Every cue that starts before sample b is active (and placed)."""
        while True:
            if self.coming is None:
                self.coming = next(self.cues, False)
            if not self.coming or sample(self.coming["start"]) >= b:
                return
            self.active.append(self.coming)
            self.placed.append(self.coming)
            self.coming = None

    def music(self, a, b):
        """The bed's two fronts and its low channel for samples [a, b)."""
        out = np.zeros((3, b - a), np.float32)
        if self.bed:
            for k in range(a // self.bed.length, (b - 1) // self.bed.length + 1):
                if k not in self.bars:
                    self.bars = {k: self.bed.bar(k, sounds.level(self.levels["music"]))}
                for row, part in zip(out, self.bars[k]):
                    overlay(row, a, part, k * self.bed.length)
        return out

    def burst(self, event):
        key = (event["kind"], event.get("n"))
        if key not in self.bursts:
            rms = sounds.level(self.levels[event["kind"]])
            self.bursts[key] = sounds.jingle(rms) if event["kind"] == "jingle" else sounds.slam(self.seed, event["n"], rms)
        return self.bursts[key]

    def block(self, a, b):
        """Timeline samples [a, b) of every channel, interleaved."""
        self.pull(b)
        for c in self.active:
            if sample(c["start"]) + len(c["sound"]) <= a:
                c["sound"] = None  # spoken: a long film must not keep every voice
        self.active = [c for c in self.active if c["sound"] is not None]
        voice = np.zeros(b - a, np.float32)
        for c in self.active:
            overlay(voice, a, c["sound"], sample(c["start"]))
        fx = np.zeros(b - a, np.float32)
        for e in self.events:
            if self.levels[e["kind"]] is not None and sample(e["start"]) < b and sample(e["end"]) > a:
                overlay(fx, a, self.burst(e), sample(e["start"]))
        hiss_db = self.levels["hiss"]
        hiss = [sounds.hiss(loop, a, b - a, sounds.level(hiss_db)) if hiss_db is not None
                else np.zeros(b - a, np.float32) for loop in self.hiss]
        music = self.music(a, b)
        x = channels(self.layout, voice, music[:2], music[2], fx, hiss)
        self.clipped += clip(x)
        return x

    def stream(self, ranges, write):
        """Writes the mix of every range in chunks; returns every cue placed,
        those the mix did not reach (a film's last seconds) too."""
        for lo, hi in ranges:
            for a in range(lo, hi, CHUNK):
                write(self.block(a, min(hi, a + CHUNK)).tobytes())
        self.placed += ([self.coming] if self.coming else []) + [dict(c, sound=None) for c in self.cues]
        return self.placed


def encodeCommand(film, tracks, pipes, duration_ms):
    """ffmpeg's command: the first track on its standard input, the others on the
    pipes, then the picture; the picture first in the film, the tracks in order."""
    cmd = ["ffmpeg", "-v", "error", "-y", "-nostats"] + ffmpegInput(film)
    for read, _ in pipes:
        cmd += ffmpegInput(film, read)
    if film.video:
        picture = "color=c=0x1d2733:s=160x90:r=5:d=%.3f" % (duration_ms / 1000)
        cmd += ["-f", "lavfi", "-i", picture, "-map", "%d:v" % len(tracks), "-disposition:v:0", "default"]
        cmd += ["-c:v", "libvpx", "-deadline", "realtime", "-cpu-used", "8"] if film.container == ".webm" \
            else ["-c:v", "mpeg4", "-q:v", "20"]
    for i in range(len(tracks)):
        cmd += ["-map", "%d:a" % i]
    return cmd + encodeArgs(film, [info for _, info in tracks]) + ["-t", "%.3f" % (duration_ms / 1000), film.path]


def encode(film, tracks, ranges, duration_ms):
    """Streams each track's mix (tracks: (mixer, its description), in the film's
    order) into ffmpeg, which writes the film; a failed film is removed. Returns
    the cues each mixer placed."""
    pipes = [os.pipe() for _ in tracks[1:]]
    with tempfile.TemporaryFile() as err:
        proc = subprocess.Popen(encodeCommand(film, tracks, pipes, duration_ms), stdin=subprocess.PIPE,
                                stderr=err, pass_fds=[r for r, _ in pipes])
        for read, _ in pipes:
            os.close(read)
        writers = [proc.stdin] + [os.fdopen(w, "wb") for _, w in pipes]
        results = [None] * len(tracks)
        threads = [threading.Thread(target=feed, args=(tracks[i][0], ranges, writers[i], results, i))
                   for i in range(1, len(tracks))]
        for t in threads:
            t.start()
        feed(tracks[0][0], ranges, writers[0], results, 0)
        for t in threads:
            t.join()
        failed = [r for r in results if isinstance(r, Exception)]
        if proc.wait() or failed:
            if os.path.exists(film.path):
                os.remove(film.path)
            if failed and not isinstance(failed[0], BrokenPipeError):
                raise failed[0]
            err.seek(0)
            raise RuntimeError("ffmpeg failed: " + err.read().decode(errors="replace")[-600:])
    return results


def feed(mixer, ranges, out, results, i):
    """One track's whole mix into its pipe; the cues it placed, or what went wrong."""
    try:
        with out:
            results[i] = mixer.stream(ranges, out.write)
    except Exception as e:  # noqa: B902 -- told by encode(), on the main thread
        results[i] = e
