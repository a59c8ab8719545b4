"""The films' voices: espeak-ng speaking a text, its silence trimmed so that the
returned sound starts with the first sample of speech and ends with its last,
at a level that every voice shares."""
import hashlib
import os
import subprocess

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


def espeak(voice, speed, pitch, text):
    """espeak-ng's 16-bit samples at RATE for the text (read from stdin, so that a
    leading dash is never an option)."""
    out = subprocess.run(["espeak-ng", "-v", voice, "-s", str(speed), "-p", str(pitch), "-b", "1",
                          "--stdin", "--stdout"], input=text.encode("utf-8"),
                         capture_output=True, check=True).stdout
    data = out.find(b"data")  # a streamed WAV: its sizes are placeholders
    if out[:4] != b"RIFF" or data < 0:
        raise RuntimeError("espeak-ng gave no WAV for %r" % text)
    return np.frombuffer(out[data + 8:len(out) - (len(out) - data - 8) % 2], dtype="<i2")


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


def speak(character, text, cache=None):
    """The trimmed speech of a character, at the common level plus the character's own."""
    voice, speed, pitch, gain = character
    x = None
    if cache:
        key = hashlib.sha1(repr((voice, speed, pitch, text)).encode("utf-8")).hexdigest()
        path = os.path.join(cache, key + ".f32")
        if os.path.exists(path):
            x = np.fromfile(path, dtype=np.float32)
    if x is None:
        x = trim(espeak(voice, speed, pitch, text))
        if cache:
            os.makedirs(cache, exist_ok=True)
            x.tofile(path + ".tmp")
            os.replace(path + ".tmp", path)
    return x * np.float32(10 ** ((VOICE_DBFS + gain) / 20) / speechRms(x))
