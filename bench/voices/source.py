"""The corpus's raw material: Debian's packages fetched with apt-get download and
unpacked into the cache (the other languages' voices are never unpacked), and
the sounds in them decoded to mono floats by the ffmpeg program."""
import os
import shutil
import subprocess
import sys

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(ROOT, "tests", "films"))
import mixer  # noqa: E402

RATE = mixer.RATE  # the game's sounds are all at 22.05 kHz; the films are mixed at it
GAME = "usr/share/games/fillets-ng"

# Package: (what to unpack, what never to unpack). The game's data holds English
# voices, kept for independent checks: they stay in the .deb.
PACKAGES = {
    "fillets-ng-data": (["./%s/music" % GAME, "./%s/sound" % GAME, "./%s/script" % GAME],
                        ["./%s/sound/*/en" % GAME, "./%s/sound/*/*/en" % GAME]),
    "fillets-ng-data-nl": (["./%s/sound" % GAME], []),
    # Other games' music, for the classifier's training set only.
    "drascula-music": (["./usr/share/scummvm/drascula/audio"], []),
    "hyperrogue-music": (["./usr/share/hyperrogue/music"], []),
    "planetblupi-music-ogg": (["./usr/share/planetblupi/music"], []),
    "singularity-music": (["./usr/share/games/singularity/music"], []),
}
OTHER_MUSIC = ["usr/share/scummvm/drascula/audio", "usr/share/hyperrogue/music", "usr/share/planetblupi/music",
               "usr/share/games/singularity/music"]


def say(text):
    print(text, file=sys.stderr, flush=True)


def unpacked(cache, package):
    """The folder the package is unpacked in, fetched and unpacked if not yet."""
    root = os.path.join(cache, "root")
    stamp = os.path.join(cache, "debs", package + ".unpacked")
    if os.path.exists(stamp):
        return root
    debs = os.path.join(cache, "debs")
    os.makedirs(debs, exist_ok=True)
    os.makedirs(root, exist_ok=True)
    found = [f for f in os.listdir(debs) if f.startswith(package + "_") and f.endswith(".deb")]
    if not found:
        say("fetching %s" % package)
        subprocess.run(["apt-get", "download", "-q", package], cwd=debs, check=True, stdout=subprocess.DEVNULL)
        found = [f for f in os.listdir(debs) if f.startswith(package + "_") and f.endswith(".deb")]
    wanted, never = PACKAGES[package]
    tar = subprocess.Popen(["tar", "-x", "-C", root, "--wildcards"] + ["--exclude=" + p for p in never] + wanted,
                           stdin=subprocess.PIPE)
    subprocess.run(["dpkg-deb", "--fsys-tarfile", os.path.join(debs, sorted(found)[-1])], stdout=tar.stdin,
                   check=True)
    tar.stdin.close()
    if tar.wait():
        raise RuntimeError("could not unpack %s" % package)
    open(stamp, "w").close()
    return root


def game(cache):
    """The game's folder, with its Dutch voices."""
    unpacked(cache, "fillets-ng-data")
    return os.path.join(unpacked(cache, "fillets-ng-data-nl"), GAME)


def otherMusic(cache):
    """Every track of the other games' music, sorted."""
    tracks = []
    for package, folder in zip(list(PACKAGES)[2:], OTHER_MUSIC):
        top = os.path.join(unpacked(cache, package), folder)
        tracks += [os.path.join(top, f) for f in os.listdir(top) if f.endswith(".ogg")]
    return sorted(tracks)


def decode(path, rate=RATE):
    """A sound file as mono floats at the rate."""
    return np.frombuffer(mixer.run(["-i", path, "-ac", "1", "-ar", str(rate), "-f", "f32le", "-"]), np.float32)


def frameBounds(n, rate=RATE):
    """The first sample of each whole 10 ms frame of n samples, and the end: at
    22.05 kHz a frame is 220 or 221 samples, so that frame k starts at k x 10 ms."""
    frames = n * 100 // rate
    return (np.arange(frames + 1) * rate) // 100


def frameDb(x, rate=RATE):
    """The level in dB (full scale 0) of each whole 10 ms frame."""
    bounds = frameBounds(len(x), rate)
    if len(bounds) < 2:
        return np.zeros(0)
    sums = np.add.reduceat(x[:bounds[-1]].astype(np.float64) ** 2, bounds[:-1])
    return 10 * np.log10(np.maximum(sums / np.diff(bounds), 1e-12))


def rmsDb(x):
    return 10 * np.log10(max(float((x.astype(np.float64) ** 2).mean()), 1e-12)) if len(x) else -120.0


def gain(db):
    return np.float32(10 ** (db / 20))


def formatted(path):
    """The header as the project's .clang-format writes it (tools/test.sh
    checks every source so), where clang-format is at hand."""
    if shutil.which("clang-format"):
        subprocess.run(["clang-format", "-i", "--style=file", path], check=True,
                       cwd=os.path.dirname(os.path.abspath(path)))
