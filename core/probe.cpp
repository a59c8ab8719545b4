// The probe: a handful of lines, cut as the 256-byte line buffer cuts them.
#include "probe.h"

#include <cerrno>

namespace chronelle {

ProbeResult probeBytes(const char* bytes, std::size_t n)
{
    ProbeResult r;
    r.opened = true;
    r.kind = PathKind::Regular;
    r.utf16 = n >= 2 && ((bytes[0] == '\xFF' && bytes[1] == '\xFE') ||
                         (bytes[0] == '\xFE' && bytes[1] == '\xFF'));
    std::size_t at = 0;
    for (int i = 0; i < ProbeLines && at < n; ++i) {
        // One line, or one 255-byte piece of a longer one, its line end kept.
        std::size_t length = 0;
        while (length < LineBufferSize - 1 && at + length < n)
            if (bytes[at + length++] == '\n')
                break;
        if (isTimingLine(bytes + at, length))
            ++r.timingLines;
        at += length;
    }
    r.accepted = r.timingLines >= ProbeRequired;
    return r;
}

ProbeResult probe(const std::string& path)
{
    ProbeResult r;
    r.kind = pathKind(path, &r.errnum);
    if (r.kind != PathKind::Regular)
        return r;
    int fd = openFile(path, false);
    if (fd < 0) {
        r.errnum = errno;
        return r;
    }
    char bytes[ProbeBytes];
    std::int64_t n = readAt(fd, bytes, sizeof bytes, 0);
    int readErr = errno;
    closeFile(fd);
    if (n < 0) {
        r.errnum = readErr ? readErr : EIO;
        return r;
    }
    return probeBytes(bytes, std::size_t(n));
}

}  // namespace chronelle
