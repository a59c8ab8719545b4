// The in-place patcher. The file is read in large blocks; each selected line
// is shifted in the block, and the changed lines go back to disk at the
// offsets they were read from, so the file keeps its length and every byte
// but the timing digits.
//
// What a failure can leave is exact: every write holds whole lines, a write
// cut short has the first bytes of the line it cut put back, and a stop
// signal is looked at only between writes. The file is then always its
// first lines shifted and the rest as it was.
#include "patcher.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include "file_io.h"
#include "stop.h"

namespace chronelle {

namespace {

constexpr std::size_t BlockSize = 1 << 20;

struct Run {
    int fd = -1;
    ProgressFn progress = nullptr;
    void* user = nullptr;
    double fraction = 0;
    std::int64_t size = 0;  // the file's size when it was opened
    std::size_t gap = 4096; // unchanged bytes that split a write
    PatchResult result;
};

void report(Run& run, const ProgressStep& step)
{
    run.fraction = step.fraction;
    if (run.progress)
        run.progress(step, run.user);
}

PatchResult fail(Run& run, Failure failure, int errnum)
{
    run.result.ok = false;
    run.result.failure = failure;
    bool systemError = failure != Failure::NotSubtitles && failure != Failure::Changed &&
                       failure != Failure::Interrupted && failure != Failure::NoLineToMove;
    run.result.errnum = systemError ? (errnum ? errnum : EIO) : 0;
    if (run.fd >= 0)
        closeFile(run.fd);
    setShifting(false);
    report(run, ProgressStep{ErrorText, run.fraction});
    return run.result;
}

// Writes `n` bytes at `offset`, going on after short writes; returns how many
// went to disk, with errno set when that is fewer.
std::size_t writeAll(int fd, const char* bytes, std::size_t n, std::int64_t offset)
{
    std::size_t done = 0;
    while (done < n) {
        std::int64_t k = writeAt(fd, bytes + done, n - done, offset + std::int64_t(done));
        if (k <= 0) {
            if (k == 0)
                errno = EIO;
            break;
        }
        done += std::size_t(k);
    }
    return done;
}

// Writes the block's pending lines, with the unchanged bytes between them, in
// as few writes as it takes. Returns what failed, if anything; the lines
// wholly written are counted as shifted.
Failure flush(Run& run, Block& block)
{
    if (block.pending.empty())
        return Failure::None;
    if (int sig = stopSignal()) {
        run.result.signal = sig;
        return Failure::Interrupted;
    }
    // Another program that truncates the file meanwhile would get our block
    // back past its new end.
    FileInfo now;
    if (!fileInfo(run.fd, &now))
        return Failure::Read;
    if (now.size != run.size)
        return Failure::Changed;

    std::size_t from = block.pending.front().at;
    std::size_t to = block.pending.back().at + TimingLine::text;
    std::size_t written = writeAll(run.fd, block.bytes + from, to - from, block.start + std::int64_t(from));
    int err = errno;
    std::size_t end = from + written;

    std::size_t whole = 0;
    while (whole < block.pending.size() && block.pending[whole].at + TimingLine::text <= end)
        ++whole;
    if (whole > 0) {
        run.result.timingLines += std::int64_t(whole);
        run.result.lastCue = block.pending[whole - 1].cue;
        run.result.partlyWritten = true;
    }
    if (end == to) {
        block.pending.clear();
        return Failure::None;
    }
    // The write stopped inside a line: its first bytes go back as they were,
    // over space the file already has.
    if (whole < block.pending.size() && block.pending[whole].at < end) {
        const PendingLine& cut = block.pending[whole];
        std::size_t n = end - cut.at;
        std::int64_t pos = block.start + std::int64_t(cut.at);
        if (writeAll(run.fd, cut.before, n, pos) != n)
            run.result.tornAt = pos;
    }
    errno = err;
    return Failure::Write;
}

// What happens to each selected line, with what is found on the way: the
// offset of Kind::To comes from the first selected line.
struct Change {
    Retiming retiming;
    Divider twiceDen;  // for Kind::Scale
    Offset offset{0, 0, 0, 0};
    bool offsetKnown = false;
};

Change prepare(const Retiming& retiming)
{
    Change c;
    c.retiming = retiming;
    c.twiceDen = roundingDivider(retiming.scale);
    if (retiming.kind == Retiming::Kind::Offset) {
        c.offset = splitOffset(retiming.offsetMs);
        c.offsetKnown = true;
    }
    return c;
}

// Changes the copy `l` of `line`; returns how many of its times were held.
int apply(Change& c, char* l, const char* line, PatchResult& result)
{
    if (c.retiming.kind == Retiming::Kind::Scale)
        return scaleTimes(l, c.retiming.scale, c.twiceDen);
    if (!c.offsetKnown) {
        result.offsetMs = c.retiming.targetMs - timeAt(line);
        c.offset = splitOffset(result.offsetMs);
        c.offsetKnown = true;
    }
    return shiftTimes(l, c.offset);
}

// Whether a change can leave a line as it was, and so needs no write at all.
bool changesNothing(const Change& c)
{
    const Retiming& r = c.retiming;
    if (r.kind == Retiming::Kind::Scale)
        return r.scale.num == r.scale.den && r.scale.add == 0;
    return c.offsetKnown && c.offset.h == 0 && c.offset.m == 0 && c.offset.s == 0 &&
           c.offset.ms == 0;
}

// The dry run's record of the lines that would change, with their line
// numbers: newlines are counted up to each of them.
struct Preview {
    std::int64_t newlines = 0;  // before `countedTo`
    std::int64_t countedTo = 0;
    // The latest changes, kept in place: a ring of PreviewLines.
    struct Kept {
        std::int64_t line;
        char before[TimingLine::text], after[TimingLine::text];
    } last[PreviewLines];
};

void countNewlines(Preview& p, const Block& block, std::int64_t upTo)
{
    const char* b = block.bytes + (p.countedTo - block.start);
    const char* e = block.bytes + (upTo - block.start);
    // A word at a time: the bytes of w ^ '\n' that are zero, found exactly
    // (bit 7 of t is set for each byte that is not), are counted in each
    // byte of `sums` for up to 255 words, then added up.
    const std::uint64_t low7 = 0x7F7F7F7F7F7F7F7FULL, ones = 0x0101010101010101ULL;
    while (e - b >= 8) {
        std::uint64_t sums = 0;
        for (int k = 0; k < 255 && e - b >= 8; ++k, b += 8) {
            std::uint64_t w;
            std::memcpy(&w, b, 8);
            std::uint64_t x = w ^ (ones * '\n');
            std::uint64_t t = ((x & low7) + low7) | x;
            sums += (~t >> 7) & ones;
        }
        // Pairs of bytes into 16-bit lanes, then the four lanes added up.
        const std::uint64_t lanes = 0x00FF00FF00FF00FFULL;
        sums = (sums & lanes) + (sums >> 8 & lanes);
        p.newlines += std::int64_t((sums * 0x0001000100010001ULL) >> 48);
    }
    for (; b < e; ++b)
        p.newlines += *b == '\n';
    p.countedTo = upTo;
}

void remember(Preview& p, PatchResult& result, const Block& block, std::size_t i,
              const char* l)
{
    const char* line = block.bytes + i;
    if (std::memcmp(line, l, TimingLine::text) == 0)
        return;
    countNewlines(p, block, block.start + std::int64_t(i));
    std::int64_t k = result.changedLines++;
    if (std::size_t(k) < PreviewLines) {
        result.preview.push_back(LineChange{p.newlines + 1, std::string(line, TimingLine::text),
                                            std::string(l, TimingLine::text)});
        return;
    }
    Preview::Kept& kept = p.last[k % PreviewLines];
    kept.line = p.newlines + 1;
    std::memcpy(kept.before, line, TimingLine::text);
    std::memcpy(kept.after, l, TimingLine::text);
}

// The first changes, then the last ones not among them, in file order.
void endPreview(const Preview& p, PatchResult& result)
{
    std::int64_t n = result.changedLines;
    std::int64_t from = std::max<std::int64_t>(PreviewLines, n - std::int64_t(PreviewLines));
    for (std::int64_t k = from; k < n; ++k) {
        const Preview::Kept& kept = p.last[k % PreviewLines];
        result.preview.push_back(LineChange{kept.line, std::string(kept.before, TimingLine::text),
                                            std::string(kept.after, TimingLine::text)});
    }
}

}  // namespace

char* write(std::int64_t pos, std::int64_t cue, Block& block)
{
    std::size_t i = std::size_t(pos - block.start);
    block.pending.emplace_back();
    PendingLine& line = block.pending.back();
    line.at = std::uint32_t(i);
    line.cue = cue;
    std::memcpy(line.before, block.bytes + i, TimingLine::text);
    return block.bytes + i;
}

PatchResult shiftFile(const std::string& path, const ShiftOptions& options, ProgressFn progress,
                      void* user)
{
    Run run;
    run.progress = progress;
    run.user = user;
    setShifting(true);
    report(run, StepOpening);

    int errnum = 0;
    PathKind kind = pathKind(path, &errnum);
    if (kind == PathKind::Missing)
        return fail(run, Failure::Open, errnum);
    if (kind != PathKind::Regular)
        return fail(run, Failure::NotRegular, errnum);
    run.fd = openFile(path, true);
    if (run.fd < 0)
        return fail(run, errno == EBUSY ? Failure::Busy : Failure::Open, errno);
    if (!options.dryRun && !lockFile(run.fd))
        return fail(run, Failure::Busy, EWOULDBLOCK);
    FileInfo info;
    if (!fileInfo(run.fd, &info))
        return fail(run, Failure::Read, errno);
    run.size = info.size;
    run.gap = std::size_t(info.blockSize);

    std::unique_ptr<char[]> buffer(new char[BlockSize]);
    if (options.probeFirst) {
        std::int64_t n = readAt(run.fd, buffer.get(), ProbeBytes, 0);
        if (n < 0)
            return fail(run, Failure::Read, errno);
        run.result.probe = probeBytes(buffer.get(), std::size_t(n));
        if (!run.result.probe.accepted)
            return fail(run, Failure::NotSubtitles, 0);
    }
    report(run, StepModifying);

    const Selection& sel = options.selection;
    bool byTime = sel.fromMs > 0 || sel.untilMs != NoLimit;
    Change change = prepare(options.retiming);
    if (change.offsetKnown)
        run.result.offsetMs = options.retiming.offsetMs;
    // A change that keeps every line as it is writes nothing at all.
    bool writing = !options.dryRun && !changesNothing(change);
    bool scaling = options.retiming.kind == Retiming::Kind::Scale;
    Preview preview;

    Block block;
    block.bytes = buffer.get();
    block.pending.reserve(BlockSize / (TimingLine::text + 1) + 1);
    std::int64_t readTo = 0;  // file offset up to which the file has been read
    std::size_t filled = 0;
    std::size_t from = 0;     // first line start not yet decided
    std::int64_t cue = 0;     // shiftable lines met so far
    bool eof = false;
    char l[TimingLine::text];  // the line being changed

    while (!eof) {
        if (int sig = stopSignal()) {
            run.result.signal = sig;
            return fail(run, Failure::Interrupted, 0);
        }
        // Never past the size the file had: what another program appends
        // is not ours to shift.
        std::size_t want = BlockSize - filled;
        if (std::int64_t(want) > run.size - readTo)
            want = std::size_t(run.size - readTo);
        std::int64_t n = readAt(run.fd, block.bytes + filled, want, readTo);
        if (n < 0)
            return fail(run, Failure::Read, errno);
        if (std::size_t(n) < want)
            return fail(run, Failure::Changed, 0);
        readTo += n;
        filled += std::size_t(n);
        eof = readTo == run.size;
        // Line starts that can be judged now: those with all 29 bytes read.
        std::size_t to = eof ? filled : (filled >= TimingLine::text ? filled - TimingLine::text + 1 : 0);
        if (to < from)
            to = from;
        // Every timing line has '>' at position 15, a rare byte in text: look
        // for those, then check that 15 bytes back a line begins.
        const char* end = block.bytes + (to + 15 < filled ? to + 15 : filled);
        const char* q = block.bytes + from + 15;
        while (q < end) {
            q = static_cast<const char*>(std::memchr(q, '>', std::size_t(end - q)));
            if (!q)
                break;
            const char* line = q - 15;
            std::size_t i = std::size_t(line - block.bytes);
            ++q;
            bool atLineStart = i > 0 ? line[-1] == '\n' : block.start == 0;
            if (!atLineStart || !isShiftable(line, filled - i))
                continue;
            // The next line begins after this one's 29 characters and line end.
            q = line + TimingLine::text + 1 + 15;
            ++cue;
            if (cue < sel.firstCue)
                continue;
            if (cue > sel.lastCue) {
                eof = true;  // no later line is selected
                break;
            }
            if (byTime) {
                std::int64_t start = timeAt(line);
                if (start < sel.fromMs || start >= sel.untilMs)
                    continue;
            }
            // A long run of unchanged bytes, such as a hole, is not rewritten.
            if (writing && !block.pending.empty() &&
                i - (block.pending.back().at + TimingLine::text) >= run.gap) {
                Failure failure = flush(run, block);
                if (failure != Failure::None)
                    return fail(run, failure, errno);
            }
            // An offset changes a line where it stands; a scale, whose every
            // digit may change, in a copy put back whole. Timed, each is the
            // faster way for its kind.
            std::int64_t pos = block.start + std::int64_t(i);
            if (writing && change.offsetKnown && !scaling) {
                run.result.clampedTimes += shiftTimes(write(pos, cue, block), change.offset);
                continue;
            }
            std::memcpy(l, line, TimingLine::text);
            bool first = !change.offsetKnown;
            run.result.clampedTimes += apply(change, l, line, run.result);
            if (first && !options.dryRun)
                writing = !changesNothing(change);
            if (!writing) {
                ++run.result.timingLines;
                run.result.lastCue = cue;
                if (options.dryRun)
                    remember(preview, run.result, block, i, l);
                continue;
            }
            std::memcpy(write(pos, cue, block), l, TimingLine::text);
        }
        Failure failure = flush(run, block);
        if (failure != Failure::None)
            return fail(run, failure, errno);
        // Keep the undecided tail, and the byte before it, which tells
        // whether its first byte begins a line.
        std::size_t keepFrom = to > 0 ? to - 1 : 0;
        std::size_t keep = filled - keepFrom;
        if (options.dryRun)
            countNewlines(preview, block, block.start + std::int64_t(keepFrom));
        if (keepFrom > 0) {
            std::memmove(block.bytes, block.bytes + keepFrom, keep);
            block.start += std::int64_t(keepFrom);
            from = to - keepFrom;
        } else {
            from = to;
        }
        filled = keep;
    }
    if (options.retiming.kind == Retiming::Kind::To && !change.offsetKnown)
        return fail(run, Failure::NoLineToMove, 0);
    if (options.dryRun)
        endPreview(preview, run.result);

    report(run, StepClosing);
    FileInfo now;
    if (!fileInfo(run.fd, &now))
        return fail(run, Failure::Read, errno);
    if (now.size != run.size)
        return fail(run, Failure::Changed, 0);
    if (run.result.partlyWritten && options.sync && !syncFile(run.fd))
        return fail(run, Failure::Sync, errno);
    int fd = run.fd;
    run.fd = -1;
    if (!closeFile(fd))
        return fail(run, Failure::Close, errno);
    setShifting(false);
    run.result.ok = true;
    run.result.partlyWritten = false;
    report(run, StepSucceeded);
    return run.result;
}

PatchResult shiftFile(const std::string& path, const Shift& shift, int adri, ProgressFn progress,
                      void* user, bool dryRun)
{
    ShiftOptions options;
    options.retiming.offsetMs = adri ? toMilliseconds(shift) : -toMilliseconds(shift);
    options.dryRun = dryRun;
    return shiftFile(path, options, progress, user);
}

}  // namespace chronelle
