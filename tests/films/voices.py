"""The films' voices: espeak-ng speaking a text, its silence trimmed so that the
returned sound starts with the first sample of speech and ends with its last,
at a level that every voice shares. Run as a program, it is the speaker's
process."""
import ctypes
import json
import os
import struct
import subprocess
import sys

import numpy as np

RATE = 22050  # espeak-ng's own rate; the films are mixed at it
VOICE_DBFS = -26.0  # speech level of every voice: room for music 5 dB over and slams

# Characters: an espeak-ng voice and variant, words per minute, pitch, a level of
# their own in dB around the common one.
CAST = {
    "fr": [("fr+m3", 165, 45, 0.0), ("fr+f2", 172, 62, -1.5), ("fr+m7", 155, 35, 1.0),
           ("fr+f4", 178, 70, 1.5), ("fr-be+m1", 160, 50, -1.0)],
    "en": [("en+m1", 168, 42, 0.5), ("en-us+f3", 175, 65, -1.0), ("en+m4", 158, 38, 1.5),
           ("en-us+f2", 170, 58, 0.0), ("en-gb-scotland+m2", 162, 48, -1.5)],
}


class Speaker:
    """espeak-ng's library in a process of its own, which speaks one timeline's
    lines in their order. The library carries a little state from one line to
    the next, so a line sounds the same only after the same lines: one process
    per timeline, asked in order, keeps a seed's film the same bytes; and it
    spares the start of a program per line, most of the time it took."""

    def __init__(self):
        self.proc = subprocess.Popen([sys.executable, os.path.abspath(__file__)],
                                     stdin=subprocess.PIPE, stdout=subprocess.PIPE)

    def say(self, voice, speed, pitch, text):
        """espeak-ng's 16-bit samples at RATE for the text."""
        self.proc.stdin.write(json.dumps([voice, speed, pitch, text]).encode("utf-8") + b"\n")
        self.proc.stdin.flush()
        n, = struct.unpack("<q", self.proc.stdout.read(8) or struct.pack("<q", -2))
        if n < 0:
            raise RuntimeError("espeak-ng could not say %r with %s" % (text, voice))
        return np.frombuffer(self.proc.stdout.read(2 * n), dtype="<i2")

    def close(self):
        self.proc.stdin.close()
        self.proc.wait()


def serve():
    """The speaker's side: a line of JSON in, its length and samples out."""
    lib = ctypes.CDLL("libespeak-ng.so.1")
    c = ctypes
    lib.espeak_Initialize.argtypes = [c.c_int, c.c_int, c.c_char_p, c.c_int]
    lib.espeak_SetVoiceByName.argtypes = [c.c_char_p]
    lib.espeak_SetParameter.argtypes = [c.c_int, c.c_int, c.c_int]
    lib.espeak_Synth.argtypes = [c.c_char_p, c.c_size_t, c.c_uint, c.c_int, c.c_uint, c.c_uint, c.c_void_p,
                                 c.c_void_p]
    chunks = []

    def collect(wav, n, events):
        if n > 0:
            chunks.append(ctypes.string_at(wav, 2 * n))
        return 0
    # int callback(short *wav, int numsamples, espeak_EVENT *events)
    callback = c.CFUNCTYPE(c.c_int, c.POINTER(c.c_short), c.c_int, c.c_void_p)(collect)
    if lib.espeak_Initialize(2, 0, None, 0x8000) != RATE:  # synchronous, no sound device, no exit
        sys.exit("voices.py: espeak-ng's library did not start")
    lib.espeak_SetSynthCallback(callback)
    for line in sys.stdin.buffer:
        voice, speed, pitch, text = json.loads(line)
        chunks.clear()
        data = text.encode("utf-8") + b"\0"
        ok = lib.espeak_SetVoiceByName(voice.encode()) == 0
        ok = ok and lib.espeak_SetParameter(1, speed, 0) == 0 and lib.espeak_SetParameter(3, pitch, 0) == 0
        ok = ok and lib.espeak_Synth(data, len(data), 0, 1, 0, 1, None, None) == 0  # UTF-8 characters
        ok = ok and lib.espeak_Synchronize() == 0
        samples = b"".join(chunks) if ok else b""
        sys.stdout.buffer.write(struct.pack("<q", len(samples) // 2 if ok else -1) + samples)
        sys.stdout.buffer.flush()


def trim(samples):
    """The samples from the first to the last one louder than 40 dB under the peak."""
    x = samples.astype(np.float32) / 32768.0
    loud = np.nonzero(np.abs(x) > np.abs(x).max() * 0.01)[0]
    if len(loud) == 0:
        raise RuntimeError("espeak-ng spoke nothing")
    return x[loud[0]:loud[-1] + 1]


def speechRms(x):
    """The RMS over the 10 ms frames that hold speech (within 30 dB of the loudest),
    so that pauses inside a sentence do not lower a voice's level."""
    n = len(x) // 220 * 220
    frames = np.sqrt((x[:n].reshape(-1, 220) ** 2).mean(axis=1)) if n else np.sqrt([(x ** 2).mean()])
    active = frames[frames > frames.max() * 10 ** (-30 / 20)]
    return float(np.sqrt((active ** 2).mean()))


def speak(speaker, character, text):
    """The trimmed speech of a character, at the common level plus the character's own."""
    voice, speed, pitch, gain = character
    x = trim(speaker.say(voice, speed, pitch, text))
    return x * np.float32(10 ** ((VOICE_DBFS + gain) / 20) / speechRms(x))


if __name__ == "__main__":
    serve()
