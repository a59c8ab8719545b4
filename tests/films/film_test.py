#!/usr/bin/python3
"""The test films tell the truth: short films are made, then decoded by the
ffmpeg program and measured: their streams and length, each cue's speech
starting at the cue's start and ending by its end, silence between cues, the
bursts where the JSON puts them, the voices alone in the centre of a 5.1 film,
the music bed at its level, the same bytes for the same seed; each case's
wrong subtitle, fixed by the real chronelle-shift with the case's own commands,
checks exact while the unfixed one fails; and bad options are refused with a
message, nothing written. CHRONELLE_SHIFT names the binary."""
import json
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import check_match  # noqa: E402
import mixer  # noqa: E402
import subrip  # noqa: E402

RATE = 48000
MS = RATE // 1000
# name, options, codec, channels, container's picture
FILMS = [
    ("aac.mkv", ["--codec", "aac", "--jingles", "2", "--extra-track", "music", "--extra-first", "--duration", "20"],
     "aac", 2, True),
    ("ac3.mp4", ["--codec", "ac3", "--cut", "0:06+3", "--languages", "fr", "--speech", "0.6", "--jingles", "0",
                 "--duration", "18", "--extra-track", "dub"], "ac3", 6, True),
    ("mp3.avi", ["--codec", "mp3", "--languages", "en", "--slams", "6"], "mp3", 2, True),
]
work = cache = None


def tool(name, *args):
    return subprocess.run([sys.executable, os.path.join(HERE, name)] + [str(a) for a in args],
                          capture_output=True, text=True, check=True).stdout


def makeFilm(name, *args, seed=5, duration=15, folder=None):
    path = os.path.join(folder or work, name)
    tool("make_film.py", "--seed", seed, "--duration", duration, "--cache", cache, *args, "-o", path)
    with open(os.path.splitext(path)[0] + ".json", encoding="utf-8") as f:
        return path, json.load(f)


def decode(path, info, channel=None, content="film"):
    """A channel (the voices' by default) of the track with the given content."""
    track = [t["content"] for t in info["audio_tracks"]].index(content)
    return mixer.voiceTrack(path, RATE, channel or info["voice_channel"], track).astype(np.float64)


def rms(x):
    return np.sqrt((x ** 2).mean()) if len(x) else 0.0


def db(x):
    return 20 * np.log10(max(rms(x), 1e-9))


def setUpModule():
    global work, cache
    work = tempfile.mkdtemp(prefix="chronelle-films-")
    cache = os.path.join(work, "speech")


def tearDownModule():
    shutil.rmtree(work)


class Films(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.films = {name: makeFilm(name, "--music-db", "off", *args)
                     for name, args, _, _, _ in FILMS}

    def test_streams_and_length(self):
        for name, _, codec, channels, picture in FILMS:
            with self.subTest(name):
                path, info = self.films[name]
                probe = json.loads(subprocess.run(
                    ["ffprobe", "-v", "error", "-show_streams", "-show_format", "-of", "json", path],
                    capture_output=True, check=True).stdout)
                audio = [s for s in probe["streams"] if s["codec_type"] == "audio"]
                video = [s for s in probe["streams"] if s["codec_type"] == "video"]
                told = not path.endswith(".avi")  # AVI has no default track to tell
                self.assertEqual([(s["codec_name"], s["channels"], s["sample_rate"],
                                   s["disposition"]["default"] if told else int(t["default"]))
                                  for s, t in zip(audio, info["audio_tracks"])],
                                 [(codec, channels, str(RATE), int(t["default"])) for t in info["audio_tracks"]])
                self.assertEqual(len(video), 1 if picture else 0)
                seconds = info["duration_ms"] / 1000
                # AVI's header counts one picture (0.2 s) more than it holds
                self.assertAlmostEqual(float(probe["format"]["duration"]), seconds, delta=0.21)
                decoded = len(decode(path, info)) / RATE
                self.assertAlmostEqual(decoded, seconds + info["encoder_delay_ms"] / 1000, delta=0.05)

    def test_speech_lies_where_the_subtitle_says(self):
        for name, _, _, _, _ in FILMS:
            with self.subTest(name):
                path, info = self.films[name]
                cues = subrip.read(os.path.splitext(path)[0] + ".srt")
                self.assertEqual([(c["start"], c["end"]) for c in cues],
                                 [(c["start"], c["end"]) for c in info["cues"]])
                self.speechWhereTold(decode(path, info), info, info["cues"])
                for t in info["audio_tracks"]:
                    if t["content"] == "dub":
                        self.speechWhereTold(decode(path, info, content="dub"), info, t["cues"])

    def speechWhereTold(self, y, info, cues):
        """Each cue's speech starts at its start and ends at its speech_end (cues
        that a burst meets left out); silence between."""
        clear = [c for c in cues if not any(e["start"] < c["end"] + 100 and e["end"] > c["start"] - 100
                                            for e in info["events"])]
        self.assertGreaterEqual(len(clear), 3)
        for c in clear:
            speech = y[c["start"] * MS:int(c["speech_end"] * MS)]
            near = y[(c["start"] - 80) * MS:c["end"] * MS]
            loud = np.nonzero(np.abs(near) > 0.01 * np.abs(speech).max())[0]
            self.assertLess(abs(loud[0] / MS - 80), 5, c)  # speech starts at the cue's start
            # and ends at speech_end: by the peak of the whole cue, the quieter
            # second speaker of an exchange can seem to stop a little sooner
            self.assertTrue(-15 < loud[-1] / MS - 80 - (c["speech_end"] - c["start"]) < 5, c)
            self.assertLessEqual(c["speech_end"], c["end"])
        quiet = self.outside(y, cues + info["events"])
        self.assertLess(db(quiet) - np.mean([db(y[c["start"] * MS:c["end"] * MS]) for c in cues]), -35)

    def outside(self, y, spans):
        """The samples far from every cue and burst."""
        keep = np.ones(len(y), bool)
        for span in spans:
            keep[max(0, span["start"] - 30) * MS:(span["end"] + 30) * MS] = False
        return y[keep]

    def test_bursts_where_the_json_says(self):
        path, info = self.films["mp3.avi"]
        y = decode(path, info)
        self.assertGreaterEqual(len(info["events"]), 3)
        for e in info["events"]:
            with self.subTest(e):
                self.assertGreater(db(y[e["start"] * MS:(e["start"] + 100) * MS]), -30)
                if not any(c["start"] - 150 < e["start"] < c["end"] + 150 for c in info["cues"]):
                    self.assertLess(db(y[(e["start"] - 100) * MS:(e["start"] - 5) * MS]), -55)

    def test_voices_only_in_the_centre_of_5_1_and_off_the_music_track(self):
        path, info = self.films["ac3.mp4"]
        self.assertEqual(info["voice_channel"], "FC")
        others = [(info, decode(path, info, ch)) for ch in ("FL", "FR", "BL", "BR")]
        path, music = self.films["aac.mkv"]
        others += [(music, decode(path, music, ch, "music")) for ch in ("FL", "FR")]
        for info, y in others:
            for c in info["cues"]:
                if not any(e["start"] < c["end"] and e["end"] > c["start"] for e in info["events"]):
                    self.assertLess(db(y[c["start"] * MS:c["end"] * MS]), -60)

    def test_same_seed_same_bytes(self):
        folder = os.path.join(work, "again")
        os.mkdir(folder)
        name, args = FILMS[1][:2]  # two speakers at once: the film's and the dub's
        again, info = makeFilm(name, "--music-db", "off", *args, folder=folder)
        first, first_info = self.films[name]
        for ext in (".mp4", ".srt"):
            with open(os.path.splitext(first)[0] + ext, "rb") as a, open(os.path.splitext(again)[0] + ext, "rb") as b:
                self.assertEqual(a.read(), b.read(), ext)
        self.assertEqual(dict(info, seconds=0, command=0), dict(first_info, seconds=0, command=0))


class Mix(unittest.TestCase):
    def test_music_bed_at_its_level(self):
        """The same film with and without music, lossless: the difference is the bed."""
        common = ["--codec", "flac", "--slams", "0", "--jingles", "0", "--hiss-db", "off"]
        plain, info = makeFilm("plain.mka", "--music-db", "off", *common, duration=10)
        for level in (5,):
            with self.subTest(level):
                music, _ = makeFilm("music%d.mka" % level, "--music-db", level, *common, duration=10)
                voice = decode(plain, info)
                bed = decode(music, info) - voice
                frames = np.sqrt((voice[:len(voice) // 480 * 480].reshape(-1, 480) ** 2).mean(axis=1))
                speech = frames[frames > frames.max() / 30]  # the voices' own level, pauses left out
                measured = db(bed) - 20 * np.log10(np.sqrt((speech ** 2).mean()))
                self.assertAlmostEqual(measured, level, delta=2)

    def test_speech_share(self):
        for share in (0.15, 0.5):
            with self.subTest(share):
                _, info = makeFilm("share%d.srt" % (share * 100), "--srt-only", "--speech", share, duration=180)
                self.assertAlmostEqual(info["speech_share"], share, delta=0.07)


class Cases(unittest.TestCase):
    CASES = [["right"], ["offset", "--offset", "2.5"], ["offset", "--offset=-1:01.25"],
             ["fps", "--fps", "25:23.976"], ["fps", "--fps", "24:25", "--offset", "-0.75"],
             ["cut"], ["cut", "--offset", "3"], ["unrelated", "--other-seed", "77"]]

    def test_fixed_by_its_commands(self):
        film = os.path.join(work, "cases.json")
        makeFilm("cases.mkv", "--srt-only", "--cut", "0:20+5", "--cut", "0:40+10", duration=60)
        for n, case in enumerate(self.CASES):
            with self.subTest(case):
                wrong = os.path.join(work, "case%d.srt" % n)
                tool("make_case.py", film, *case, "-o", wrong)
                truth = os.path.splitext(wrong)[0] + ".json"
                with open(truth, encoding="utf-8") as f:
                    commands = json.load(f)["commands"]
                untouched = case[0] in ("right", "unrelated")
                self.assertEqual(self.check(truth, wrong), 0 if untouched else 1)
                for command in commands or [["--add", "0.001"]]:
                    subprocess.run([os.environ["CHRONELLE_SHIFT"], *command, "--no-sync", "--", wrong],
                                   check=True, capture_output=True)
                self.assertEqual(self.check(truth, wrong), 1 if untouched else 0)

    def check(self, truth, matched):
        return check_match.main([truth, matched, "--median-ms", "1", "--p95-ms", "1", "--json"])


class Refusals(unittest.TestCase):
    BAD = [  # tool, arguments, exit status, what the message names
        ("make_film.py", ["--cut", "0:10+5", "--cut", "0:12+3"], 2, "--cut"),
        ("make_film.py", ["--speech", "0.95"], 2, "--speech"),
        ("make_film.py", ["-o", "{dir}/film.xyz"], 1, "unknown container"),
        ("make_film.py", ["--codec", "pcm", "-o", "{dir}/film.mp4"], 1, "not currently supported in container"),
        ("make_film.py", ["-o", "{dir}/gone/film.mkv"], 1, "No such file or directory"),
        ("make_case.py", ["{cases}", "offset", "--offset", "2:00", "-o", "{dir}/case.srt"], 1, "too short"),
        ("make_case.py", ["{cases}", "fps", "-o", "{dir}/case.srt"], 2, "--fps"),
        ("make_case.py", ["{cases}", "cut", "-o", "{dir}/case.srt"], 1, "no cut"),
    ]

    def test_bad_options_write_nothing(self):
        cases = os.path.join(work, "plain-cases.json")
        makeFilm("plain-cases.srt", "--srt-only", duration=30)
        for n, (name, args, status, words) in enumerate(self.BAD):
            with self.subTest(args):
                folder = os.path.join(work, "refused%d" % n)
                os.mkdir(folder)
                args = [a.format(dir=folder, cases=cases) for a in args]
                film = [] if name == "make_case.py" or "-o" in args else ["-o", os.path.join(folder, "film.mkv")]
                common = ["--seed", "3", "--duration", "20"] if name == "make_film.py" else []
                r = subprocess.run([sys.executable, os.path.join(HERE, name)] + common + args + film,
                                   capture_output=True, text=True)
                self.assertEqual(r.returncode, status, r.stderr)
                self.assertIn(words, r.stderr)
                self.assertEqual(os.listdir(folder), [])


if __name__ == "__main__":
    unittest.main()
