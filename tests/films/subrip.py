"""SubRip files as the films' tools write and read them: numbered cues, CR LF,
times in whole milliseconds. Reading keeps every byte, so that a checker can
tell a changed timing line from any other change."""
import hashlib
import re

TIMING = re.compile(rb"^(\d\d):(\d\d):(\d\d),(\d\d\d) --> (\d\d):(\d\d):(\d\d),(\d\d\d)(\r?)$")
MAX_MS = 99 * 3600000 + 59 * 60000 + 59999


def stamp(ms):
    """00:01:02,345 for 62345 ms."""
    return "%02d:%02d:%02d,%03d" % (ms // 3600000, ms // 60000 % 60, ms // 1000 % 60, ms % 1000)


def parseTime(text):
    """Seconds, M:SS or H:MM:SS with an optional fraction after . or , into ms."""
    m = re.fullmatch(r"(-?)(?:(?:(\d+):)?(\d+):)?(\d+)(?:[.,](\d{1,3}))?", text.strip())
    if not m:
        raise ValueError("not a time: %r" % text)
    sign, h, mi, s, frac = m.groups()
    ms = ((int(h or 0) * 60 + int(mi or 0)) * 60 + int(s)) * 1000 + int((frac or "0").ljust(3, "0"))
    return -ms if sign else ms


def write(path, cues):
    """Writes cues, each a dict with start, end (ms) and lines (a list of texts)."""
    with open(path, "wb") as out:
        for n, cue in enumerate(cues, 1):
            block = "%d\r\n%s --> %s\r\n%s\r\n\r\n" % (
                n, stamp(cue["start"]), stamp(cue["end"]), "\r\n".join(cue["lines"]))
            out.write(block.encode("utf-8"))


def timingLines(data):
    """(line start offset, start ms, end ms) of every timing line of the bytes."""
    found = []
    pos = 0
    for line in data.split(b"\n"):
        m = TIMING.match(line)
        if m:
            g = [int(x) for x in m.groups()[:8]]
            start = ((g[0] * 60 + g[1]) * 60 + g[2]) * 1000 + g[3]
            end = ((g[4] * 60 + g[5]) * 60 + g[6]) * 1000 + g[7]
            found.append((pos, start, end))
        pos += len(line) + 1
    return found


def read(path):
    """The cues of a file as the tools wrote them: start, end and lines."""
    with open(path, "rb") as f:
        data = f.read()
    cues = []
    for block in data.replace(b"\r\n", b"\n").split(b"\n\n"):
        rows = block.strip(b"\n").split(b"\n")
        if len(rows) >= 2 and TIMING.match(rows[1]):
            (_, start, end), = timingLines(rows[1])
            cues.append({"start": start, "end": end,
                         "lines": [r.decode("utf-8") for r in rows[2:]]})
    return cues


def skeleton(data):
    """The bytes with every timing line's digits masked: what no time change may touch."""
    out = bytearray(data)
    for pos, _, _ in timingLines(data):
        for i in range(pos, pos + 29):
            if chr(out[i]).isdigit():
                out[i] = ord("#")
    return bytes(out)


def digest(data):
    return hashlib.sha256(data).hexdigest()
