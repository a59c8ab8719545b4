#!/usr/bin/env python3
"""Writes a realistic SubRip file of about SIZE megabytes with CR LF line
ends: numbered cues, one or two lines of French text, times that grow.
Usage: make_srt.py FILE [SIZE_MB]"""
import random
import sys

WORDS = ("je tu il elle nous vous ils elles le la les un une des et ou mais donc "
         "maison voiture chemin nuit jour demain hier toujours jamais peut-être "
         "écoute regarde attends viens pars reste déjà encore très bien là où "
         "ça été après avant pourquoi comment quand voilà allez merci").split()


def stamp(ms):
    return "%02d:%02d:%02d,%03d" % (ms // 3600000, ms // 60000 % 60, ms // 1000 % 60, ms % 1000)


def main():
    path = sys.argv[1]
    target = int(float(sys.argv[2]) * 1000 * 1000) if len(sys.argv) > 2 else 100 * 1000 * 1000
    rnd = random.Random(2026)
    size, cue, t = 0, 1, 60000
    with open(path, "wb") as out:
        chunk = []
        while size < target:
            start = t + rnd.randint(0, 4000)
            end = start + rnd.randint(800, 6000)
            t = end
            if t > 99 * 3600000:  # stay inside the two-digit hours
                t = 60000
            lines = [" ".join(rnd.choice(WORDS) for _ in range(rnd.randint(2, 9)))
                     for _ in range(rnd.randint(1, 2))]
            text = "%d\r\n%s --> %s\r\n%s\r\n\r\n" % (cue, stamp(start), stamp(end), "\r\n".join(lines))
            b = text.encode("utf-8")
            chunk.append(b)
            size += len(b)
            cue += 1
            if len(chunk) >= 10000:
                out.write(b"".join(chunk))
                chunk = []
        out.write(b"".join(chunk))


if __name__ == "__main__":
    main()
