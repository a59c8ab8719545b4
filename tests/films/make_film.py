#!/usr/bin/python3
"""Makes a test film whose subtitle is known to be right: espeak-ng voices speak
each cue's text at the cue's start, over a music bed, door slams, a logo jingle
and a room's hiss, encoded by the ffmpeg program. Writes FILM, BASE.srt (the
right subtitle: CR LF, numbered), BASE.json (everything about the film: its
cues, bursts, cuts and settings) and, with --cut, BASE.uncut.srt (the subtitle
of the film before the cut). The same seed and options give the same bytes."""
import argparse
import json
import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import mixer  # noqa: E402
import subrip  # noqa: E402
import timeline  # noqa: E402
import voices  # noqa: E402

LANGUAGE_TAGS = {"fr": "fre", "en": "eng"}


def decibels(text):
    return None if text == "off" else float(text)


def cut(text):
    at, _, length = text.partition("+")
    return subrip.parseTime(at), subrip.parseTime(length)


def options(argv):
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("-o", "--output", required=True, metavar="FILM",
                   help="the film: .mkv .mp4 .mov .avi .ts .webm, or .mka .m4a (sound only)")
    p.add_argument("--seed", type=int, required=True, help="what makes this film differ from others")
    p.add_argument("--duration", type=subrip.parseTime, required=True, metavar="TIME",
                   help="the film's length: seconds, M:SS or H:MM:SS")
    p.add_argument("--speech", type=float, default=0.5, metavar="SHARE",
                   help="share of the film with someone speaking (default 0.5; 0.15 is sparse)")
    p.add_argument("--languages", default="fr,en", help="fr, en or both (default fr,en: scenes in each)")
    p.add_argument("--music-db", type=decibels, default=-10.0, metavar="DB",
                   help="music bed's RMS in dB over the voices', per channel, or off (default -10)")
    p.add_argument("--slams", type=float, default=1.0, metavar="PER_MIN", help="door slams a minute (default 1)")
    p.add_argument("--slam-db", type=decibels, default=6.0, metavar="DB",
                   help="a slam's first 100 ms in dB over the voices (default 6)")
    p.add_argument("--jingles", type=int, default=1, metavar="N",
                   help="logo jingles: the first at 0.5 s, the others spread between cues (default 1)")
    p.add_argument("--jingle-db", type=decibels, default=0.0, metavar="DB", help="the jingle's level (default 0)")
    p.add_argument("--hiss-db", type=decibels, default=-45.0, metavar="DB", help="room tone (default -45)")
    p.add_argument("--codec", default="aac", choices=sorted(mixer.CODECS))
    p.add_argument("--layout", choices=sorted(mixer.CHANNELS),
                   help="default: stereo, or 5.1 for ac3, eac3 and dts (voices in the centre)")
    p.add_argument("--rate", type=int, default=48000, help="sample rate of the film (default 48000)")
    p.add_argument("--no-video", action="store_true", help="no picture stream")
    p.add_argument("--extra-track", choices=["music", "dub"],
                   help="a second sound track: music and effects alone, or a dub whose voices (another "
                        "seed's) fall elsewhere; the film's own track stays the default")
    p.add_argument("--extra-first", action="store_true", help="the extra track before the film's own")
    p.add_argument("--cut", type=cut, action="append", default=[], metavar="AT+LENGTH",
                   help="the film lost LENGTH at AT (times of the uncut film), e.g. 5:00+20")
    p.add_argument("--srt-only", action="store_true", help="the subtitle and its JSON, no film")
    p.add_argument("--cache", metavar="DIR", help="keep the encoder's measured delay here for the next runs")
    o = p.parse_args(argv)
    o.languages = o.languages.split(",")
    if not 0.01 <= o.speech <= 0.9 or any(l not in voices.CAST for l in o.languages):
        p.error("--speech is a share from 0.01 to 0.9; --languages among " + ",".join(voices.CAST))
    o.cut.sort()
    uncut, end = o.duration + sum(n for _, n in o.cut), 0
    for at, n in o.cut:
        if n <= 0 or at < end or at + n >= uncut:
            p.error("--cut AT+LENGTH: cuts of some length, apart, within the uncut film")
        end = at + n
    return o


def filmMs(t, cuts):
    """The film's time of an uncut-timeline time outside the cuts."""
    return t - sum(length for at, length in cuts if at + length <= t)


def inCut(start, end, cuts):
    return any(start < at + length and end > at for at, length in cuts)


def cueRecord(c, cuts):
    """A cue as the JSON tells it, at its time in the film."""
    shift = c["start"] - filmMs(c["start"], cuts)
    return {"start": c["start"] - shift, "end": c["end"] - shift,
            "speech_end": round(c["speech_end"] - shift, 2), "language": c["language"],
            "voices": [character[0] for character, _ in c["parts"]], "lines": c["lines"]}


def filmEvents(events, cuts):
    """The bursts that start outside the cuts, in order, at their times in the film."""
    kept = [e for e in events if not inCut(e["start"], e["start"] + 1, cuts)]
    return sorted((dict(e, start=filmMs(e["start"], cuts), end=filmMs(e["start"], cuts) + e["end"] - e["start"])
                   for e in kept), key=lambda e: e["start"])


def describe(o, film, cues, events, delay, clipped, seconds):
    """The film's JSON: its settings, and the truth about its cues and bursts."""
    kept = [cueRecord(c, o.cut) for c in cues if not inCut(c["start"], c["end"], o.cut)]
    speech = sum(c["speech_end"] - c["start"] for c in kept)
    return {
        "film": film and os.path.basename(film.path), "subtitle": os.path.basename(o.base + ".srt"),
        "uncut_subtitle": os.path.basename(o.base + ".uncut.srt") if o.cut else None,
        "seed": o.seed, "duration_ms": o.duration, "speech_share": round(speech / o.duration, 4),
        "speech_asked": o.speech, "jingles": o.jingles, "slams_per_min": o.slams,
        "languages": o.languages, "codec": film and film.codec, "layout": film and film.layout,
        "rate": film and film.rate, "video": bool(film and film.video),
        "voice_channel": film and mixer.VOICE_CHANNEL[film.layout],
        "levels_db": {"music": o.music_db, "slam": o.slam_db, "jingle": o.jingle_db, "hiss": o.hiss_db},
        "encoder_delay_ms": round(delay * 1000 / voices.RATE, 3), "clipped_samples": clipped,
        "cuts": [{"at": at, "length": length} for at, length in o.cut],
        "events": filmEvents(events, o.cut),
        "cues": kept,
        "uncut_cues": [cueRecord(c, []) for c in cues] if o.cut else None,
        "seconds": round(seconds, 2), "command": sys.argv[1:],
    }


def soundTracks(o, s, film, events):
    """(mixer, description) of each sound track, in the film's order."""
    levels = {"music": o.music_db, "slam": o.slam_db, "jingle": o.jingle_db, "hiss": o.hiss_db}
    tracks = [(mixer.Mixer(o.seed, timeline.cues(s), events, levels, film.layout),
               {"content": "film", "language": film.language, "default": True})]
    if o.extra_track == "music":
        extra = mixer.Mixer(o.seed, iter([]), events, levels, film.layout)
        tracks.append((extra, {"content": "music", "language": "zxx", "default": False,
                               "title": "Music and effects"}))
    elif o.extra_track == "dub":
        dub = timeline.Settings(o.seed + 1000, s.length_ms, s.share, s.languages, s.jingles, 0, o.cut)
        extra = mixer.Mixer(o.seed, timeline.cues(dub), events, levels, film.layout)
        tracks.append((extra, {"content": "dub", "language": film.language, "default": False,
                               "title": "Dub (seed %d)" % dub.seed}))
    return tracks[::-1] if o.extra_first else tracks


def main(argv):
    o = options(argv)
    o.base = os.path.splitext(o.output)[0]
    began = time.monotonic()
    length = o.duration + sum(length for _, length in o.cut)
    s = timeline.Settings(o.seed, length, o.speech, o.languages, o.jingles, o.slams, o.cut)
    events = [{"kind": "slam", "start": t, "end": t + 600, "n": n} for t, n in timeline.slams(s)]
    events += timeline.jingles(s)
    film, delay, clipped, tracks = None, 0, 0, []
    if o.srt_only:
        cues = [dict(c, sound=None) for c in timeline.cues(s)]
    else:
        film = mixer.Film(o.output, o.codec, o.layout, o.rate, not o.no_video, LANGUAGE_TAGS[o.languages[0]])
        delay = mixer.encoderDelay(film, o.cache)
        tracks = soundTracks(o, s, film, events)
        cuts = [(mixer.sample(at), mixer.sample(n)) for at, n in o.cut]
        ranges = mixer.keptRanges(delay, mixer.sample(o.duration) + delay, cuts)
        placed = mixer.encode(film, tracks, ranges, o.duration)
        contents = [t["content"] for _, t in tracks]
        cues, clipped = placed[contents.index("film")], sum(m.clipped for m, _ in tracks)
        if "dub" in contents:  # where the dub's own voices are, for a track chosen wrong
            tracks[contents.index("dub")][1]["cues"] = [
                cueRecord(c, o.cut) for c in placed[contents.index("dub")] if not inCut(c["start"], c["end"], o.cut)]
    info = describe(o, film, cues, events, delay, clipped, time.monotonic() - began)
    info["audio_tracks"] = [t for _, t in tracks]
    subrip.write(o.base + ".srt", info["cues"])
    if o.cut:
        subrip.write(o.base + ".uncut.srt", info["uncut_cues"])
    with open(o.base + ".json", "w", encoding="utf-8") as f:
        json.dump(info, f, ensure_ascii=False, indent=1)
    print("%s: %d cues, speech %.1f %%, %.1f s" % (film.path if film else o.base + ".srt", len(info["cues"]),
                                                   100 * info["speech_share"], info["seconds"]))


if __name__ == "__main__":
    try:
        main(sys.argv[1:])
    except (RuntimeError, ValueError, OSError) as e:
        sys.exit("make_film.py: %s" % e)
