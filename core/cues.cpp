// Reading cues from a subtitle file, with the patcher's own rule for what a
// timing line is: one that begins a line and passes isShiftable.
#include "cues.h"

#include <cerrno>
#include <cstring>
#include <memory>

#include "file_io.h"
#include "time_shift.h"
#include "timing_line.h"

namespace chronelle {

namespace {

constexpr std::size_t BlockSize = 1 << 20;

// A text line with its markup (<i>, {\an8}) and blanks taken out.
std::string bare(const std::string& line)
{
    std::string out;
    char closing = 0;
    for (char c : line) {
        if (closing) {
            closing = c == closing ? 0 : closing;
            continue;
        }
        if (c == '<' || c == '{') {
            closing = c == '<' ? '>' : '}';
            continue;
        }
        if (c != ' ' && c != '\t' && c != '\r' && c != '\n')
            out += c;
    }
    return out;
}

bool blank(const char* l, std::size_t n)
{
    for (std::size_t i = 0; i < n; ++i)
        if (l[i] != ' ' && l[i] != '\t' && l[i] != '\r' && l[i] != '\n')
            return false;
    return true;
}

// The lines of `text` joined by '\n', each without its line end, the last
// without one after it.
std::string withoutLineEnds(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    for (char c : text)
        if (c != '\r')
            out += c;
    while (!out.empty() && out.back() == '\n')
        out.pop_back();
    return out;
}

bool soundLine(std::string line)
{
    if (!line.empty() && line[0] == '-')  // a speaker's dash
        line.erase(0, 1);
    if (line.size() >= 2 && ((line.front() == '[' && line.back() == ']') ||
                             (line.front() == '(' && line.back() == ')')))
        return true;
    // Music notes: U+266A and U+266B in UTF-8, and the '#' some files use.
    static const char* const notes[] = {"\xE2\x99\xAA", "\xE2\x99\xAB", "#"};
    std::size_t i = 0;
    while (i < line.size()) {
        std::size_t before = i;
        for (const char* n : notes)
            if (line.compare(i, std::strlen(n), n) == 0)
                i += std::strlen(n);
        if (i == before)
            return false;
    }
    return true;
}

struct Reader {
    CuesResult result;
    std::string text;  // the text lines of the cue being read
    bool inCue = false;

    void endCue()
    {
        if (inCue && !result.cues.empty()) {
            Cue& cue = result.cues.back();
            cue.soundOnly = soundOnlyText(text);
            cue.text = withoutLineEnds(text);
        }
        inCue = false;
        text.clear();
    }

    void line(const char* l, std::size_t n, bool atLineStart)
    {
        if (atLineStart && isShiftable(l, n)) {
            endCue();
            Cue cue;
            cue.startMs = timeAt(l);
            cue.endMs = timeAt(l + 17);
            if (cue.endMs < cue.startMs)
                cue.endMs = cue.startMs;
            result.cues.push_back(cue);
            inCue = true;
            return;
        }
        if (!inCue)
            return;
        if (atLineStart && blank(l, n))
            endCue();
        else if (text.size() < 4096)
            text.append(l, n);
    }
};

}  // namespace

bool soundOnlyText(const std::string& text)
{
    bool any = false;
    std::size_t from = 0;
    while (from < text.size()) {
        std::size_t end = text.find('\n', from);
        end = end == std::string::npos ? text.size() : end + 1;
        std::string line = bare(text.substr(from, end - from));
        from = end;
        if (line.empty())
            continue;
        if (!soundLine(line))
            return false;
        any = true;
    }
    return any;
}

namespace {

// Reads the file in blocks and gives each line to the reader: whole lines,
// or what is left at the end of the file, or a block's worth of a line that
// fills one. Returns 0, or the error of a failed read.
int readLines(int fd, Reader& reader)
{
    std::unique_ptr<char[]> block(new char[BlockSize]);
    std::size_t filled = 0;
    std::int64_t offset = 0;
    bool atLineStart = true;
    for (;;) {
        std::int64_t n = readAt(fd, block.get() + filled, BlockSize - filled, offset);
        if (n < 0)
            return errno ? errno : EIO;
        offset += n;
        filled += std::size_t(n);
        bool eof = n == 0;
        std::size_t from = 0;
        while (from < filled) {
            const char* nl =
                static_cast<const char*>(std::memchr(block.get() + from, '\n', filled - from));
            if (!nl && !eof && !(from == 0 && filled == BlockSize))
                break;
            std::size_t end = nl ? std::size_t(nl - block.get()) + 1 : filled;
            reader.line(block.get() + from, end - from, atLineStart);
            atLineStart = nl != nullptr;
            from = end;
        }
        std::memmove(block.get(), block.get() + from, filled - from);
        filled -= from;
        if (eof)
            return 0;
    }
}

}  // namespace

CuesResult readCues(const std::string& path)
{
    Reader reader;
    CuesResult& r = reader.result;
    PathKind kind = pathKind(path, &r.errnum);
    if (kind != PathKind::Regular) {
        r.failure = kind == PathKind::Missing ? CuesFailure::Open : CuesFailure::NotRegular;
        return r;
    }
    int fd = openFile(path, false);
    if (fd < 0) {
        r.failure = CuesFailure::Open;
        r.errnum = errno;
        return r;
    }
    r.errnum = readLines(fd, reader);
    closeFile(fd);
    reader.endCue();
    if (r.errnum)
        r.failure = CuesFailure::Read;
    else if (r.cues.empty())
        r.failure = CuesFailure::NoTimingLine;
    return r;
}

}  // namespace chronelle
