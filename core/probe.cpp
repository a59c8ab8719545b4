// The probe: a handful of lines, read through the 256-byte line buffer.
#include "probe.h"

#include <cerrno>
#include <cstdio>

#include "file_io.h"
#include "timing_line.h"

namespace chronelle {

// Reads one line, or one 255-byte piece of a longer one, like fgets but
// keeping its true length (a binary file may hold NUL bytes).
static std::size_t readPiece(std::FILE* f, char* l)
{
    std::size_t n = 0;
    int c;
    while (n < LineBufferSize - 1 && (c = std::getc(f)) != EOF) {
        l[n++] = char(c);
        if (c == '\n')
            break;
    }
    l[n] = '\0';
    return n;
}

ProbeResult probe(const std::string& path)
{
    ProbeResult r;
    r.kind = pathKind(path, &r.errnum);
    if (r.kind != PathKind::Regular)
        return r;
    std::FILE* f = openStream(path, "rb");
    if (!f) {
        r.errnum = errno;
        return r;
    }
    char l[LineBufferSize];
    for (int i = 0; i < ProbeLines; ++i) {
        std::size_t n = readPiece(f, l);
        if (n == 0)
            break;
        if (isTimingLine(l, n))
            ++r.timingLines;
    }
    if (std::ferror(f)) {
        r.errnum = errno ? errno : EIO;
        std::fclose(f);
        return r;
    }
    std::fclose(f);
    r.opened = true;
    r.accepted = r.timingLines >= ProbeRequired;
    return r;
}

}  // namespace chronelle
