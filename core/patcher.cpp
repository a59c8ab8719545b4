// The in-place patcher. The file is read in large blocks; each selected line
// is shifted in the block, and the changed lines go back to disk at the
// offsets they were read from, so the file keeps its length and every byte
// but the timing digits.
//
// What a failure can leave is exact: every write holds whole lines, a write
// cut short has the first bytes of the line it cut put back, and a stop
// signal is looked at only between writes. The file is then always its
// first lines shifted and the rest as it was.
//
// shiftFile reads as the steps it takes: open, then one pass over the file
// in which each block is read, its timing lines found, selected, changed
// and written, then close. core/README.md draws it.
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
constexpr std::size_t NoLine = std::size_t(-1);
// With the sync, what was written is sent on its way to the disk every 4 MiB,
// so that the disk works while the shift goes on and the final sync waits
// for less (31 runs in turns, under load: 374 ms instead of 430 for 100 MB;
// every 1 or 16 MiB, no better).
constexpr std::int64_t SyncEvery = std::int64_t(4) << 20;

// What happens to each selected line, with what is found on the way: the
// offset of Kind::To comes from the first selected line, and with pieces
// the change of the piece that holds the line.
struct Change {
    Retiming retiming;
    bool scaling = false;  // by `scale`; otherwise by `offset`
    Scale scale;
    Divider twiceDen;
    Offset offset{0, 0, 0, 0};
    bool offsetKnown = false;
    std::size_t piece = std::size_t(-1);  // the piece loaded
};

Change prepare(const Retiming& retiming)
{
    Change c;
    c.retiming = retiming;
    c.scaling = retiming.kind == Retiming::Kind::Scale;
    c.scale = retiming.scale;
    c.twiceDen = roundingDivider(retiming.scale);
    if (retiming.kind == Retiming::Kind::Offset) {
        c.offset = splitOffset(retiming.offsetMs);
        c.offsetKnown = true;
    }
    c.offsetKnown = c.offsetKnown || retiming.kind == Retiming::Kind::Pieces;
    return c;
}

// A piece that is an offset alone goes the offset's faster way.
bool offsetOnly(const Scale& s) { return s.num == 1 && s.den == 1; }

// Loads the change of the piece whose range holds `key`; false when none does.
bool loadPiece(Change& c, std::int64_t key)
{
    const std::vector<Piece>& pieces = c.retiming.pieces;
    auto after = std::upper_bound(pieces.begin(), pieces.end(), key,
                                  [](std::int64_t k, const Piece& p) { return k < p.from; });
    if (after == pieces.begin() || key >= after[-1].until)
        return false;
    std::size_t i = std::size_t(after - pieces.begin()) - 1;
    if (i == c.piece)
        return true;
    const Scale& s = pieces[i].scale;
    c.piece = i;
    c.scaling = !offsetOnly(s);
    c.scale = s;
    c.twiceDen = roundingDivider(s);
    c.offset = splitOffset(c.scaling ? 0 : s.add);
    return true;
}

// Changes the copy `l` of `line`; returns how many of its times were held.
int apply(Change& c, char* l, const char* line, PatchResult& result)
{
    if (c.scaling)
        return scaleTimes(l, c.scale, c.twiceDen);
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
    if (r.kind == Retiming::Kind::Pieces)
        return std::all_of(r.pieces.begin(), r.pieces.end(), [](const Piece& p) {
            return p.scale.num == p.scale.den && p.scale.add == 0;
        });
    return c.offsetKnown && c.offset.h == 0 && c.offset.m == 0 && c.offset.s == 0 &&
           c.offset.ms == 0;
}

// The dry run's record of the lines that would change, with their line
// numbers: line ends are counted up to each of them.
struct Preview {
    std::int64_t lineEnds = 0;  // before `countedTo`
    std::int64_t countedTo = 0;
    bool afterCR = false;  // the byte before `countedTo` is a CR
    // The latest changes, kept in place: a ring of PreviewLines.
    struct Kept {
        std::int64_t line, cue;
        int held;
        char before[TimingLine::text], after[TimingLine::text];
    } last[PreviewLines];
};

// 0x80 in each byte of `w` that is zero, exactly.
inline std::uint64_t zeroBytes(std::uint64_t w)
{
    const std::uint64_t low7 = 0x7F7F7F7F7F7F7F7FULL;
    return ~(((w & low7) + low7) | w | low7);
}

// Line ends as text editors count them: an LF, a CR LF and a lone CR each
// end a line (CR CR LF ends two). A word at a time: the CRs and LFs, less
// the CRs that an LF follows, found with a second load one byte further.
void countLineEnds(Preview& p, const char* b, const char* e)
{
    const std::uint64_t ones = 0x0101010101010101ULL;
    const char* begin = b;
    if (b < e && *b == '\n' && p.afterCR)
        --p.lineEnds;  // a CR LF cut between two counts: its CR was counted
    for (; e - b >= 9; b += 8) {
        std::uint64_t w, next;
        std::memcpy(&w, b, 8);
        std::memcpy(&next, b + 1, 8);
        std::uint64_t cr = zeroBytes(w ^ (ones * '\r'));
        std::uint64_t pairs = cr & zeroBytes(next ^ (ones * '\n'));
        p.lineEnds += __builtin_popcountll(zeroBytes(w ^ (ones * '\n'))) +
                      __builtin_popcountll(cr) - __builtin_popcountll(pairs);
    }
    for (; b < e; ++b)
        p.lineEnds += *b == '\n' || (*b == '\r' && !(b + 1 < e && b[1] == '\n'));
    if (begin < e)
        p.afterCR = e[-1] == '\r';
}

void countTo(Preview& p, const Block& block, std::int64_t upTo)
{
    countLineEnds(p, block.bytes + (p.countedTo - block.start), block.bytes + (upTo - block.start));
    p.countedTo = upTo;
}

// Which times of `line` the change holds at an end, when it holds any: those
// whose exact new time lies outside 00:00:00,000 .. 99:59:59,999.
int heldTimes(const Change& c, const char* line)
{
    const Offset& o = c.offset;
    std::int64_t offsetMs = toMilliseconds(Shift{o.h, o.m, o.s, o.ms});
    int held = 0;
    for (int k = 0; k < 2; ++k) {
        std::int64_t t = timeAt(line + 17 * k);
        t = c.scaling ? scaleTime(t, c.scale) : t + offsetMs;
        if (t < 0 || t > MaxTimeMs)
            held |= k == 0 ? HeldStart : HeldEnd;
    }
    return held;
}

void remember(Preview& p, PatchResult& result, const Block& block, std::size_t i, const char* l,
              std::int64_t cue, int held, bool every)
{
    const char* line = block.bytes + i;
    if (std::memcmp(line, l, TimingLine::text) == 0)
        return;
    countTo(p, block, block.start + std::int64_t(i));
    std::int64_t k = result.changedLines++;
    if (every || std::size_t(k) < PreviewLines) {
        result.preview.push_back(LineChange{p.lineEnds + 1, cue,
                                            std::string(line, TimingLine::text),
                                            std::string(l, TimingLine::text), held});
        return;
    }
    Preview::Kept& kept = p.last[k % PreviewLines];
    kept.line = p.lineEnds + 1;
    kept.cue = cue;
    kept.held = held;
    std::memcpy(kept.before, line, TimingLine::text);
    std::memcpy(kept.after, l, TimingLine::text);
}

// The first changes, then the last ones not among them, in file order.
void endPreview(const Preview& p, PatchResult& result, bool every)
{
    std::int64_t n = result.changedLines;
    std::int64_t from = std::max<std::int64_t>(PreviewLines, n - std::int64_t(PreviewLines));
    for (std::int64_t k = from; k < n && !every; ++k) {
        const Preview::Kept& kept = p.last[k % PreviewLines];
        result.preview.push_back(LineChange{kept.line, kept.cue,
                                            std::string(kept.before, TimingLine::text),
                                            std::string(kept.after, TimingLine::text), kept.held});
    }
}

// Where the pass over the file is.
struct Scan {
    std::int64_t readTo = 0;    // the file has been read up to here
    std::size_t filled = 0;     // bytes in the block
    std::size_t from = 0;       // the first line start not yet judged
    std::size_t to = 0;         // line starts before it can be judged now
    const char* q = nullptr;    // where the search for the next '>' goes on
    std::int64_t cue = 0;       // shiftable lines met so far
    bool end = false;           // nothing after this block is read
    bool lastSelected = false;  // no later line can be selected
};

// One shift under way.
struct Run {
    const ShiftOptions& options;
    ProgressFn progress;
    void* user;
    double fraction = 0;
    int fd = -1;
    int errnum = 0;
    std::int64_t size = 0;      // the file's size when it was opened
    std::size_t gap = 4096;     // unchanged bytes that split a write
    std::int64_t syncFrom = 0;  // written since here, not yet on its way to disk
    Change change;
    bool writing = false;  // changed lines go to disk
    bool byTime = false;   // a selection by start time
    bool pieces = false;   // a change made of pieces
    std::unique_ptr<char[]> buffer{new char[BlockSize]};
    Block block;
    Scan scan;
    Preview preview;
    PatchResult result;

    Run(const ShiftOptions& o, ProgressFn p, void* u) : options(o), progress(p), user(u) {}
};

void report(Run& run, const ProgressStep& step)
{
    run.fraction = step.fraction;
    if (run.progress)
        run.progress(step, run.user);
}

// Notes the system's error of a failure, for fail() to report.
Failure failed(Run& run, Failure failure, int errnum)
{
    run.errnum = errnum;
    return failure;
}

Failure stopped(Run& run)
{
    run.result.signal = stopSignal();
    return Failure::Interrupted;
}

PatchResult fail(Run& run, Failure failure)
{
    run.result.ok = false;
    run.result.failure = failure;
    bool systemError = failure != Failure::NotSubtitles && failure != Failure::Changed &&
                       failure != Failure::Interrupted && failure != Failure::NoLineToMove;
    run.result.errnum = systemError ? (run.errnum ? run.errnum : EIO) : 0;
    if (run.fd >= 0)
        closeFile(run.fd);
    setShifting(false);
    report(run, ProgressStep{Stage::Failed, run.fraction});
    return run.result;
}

// --- Open -------------------------------------------------------------------

// Refuses what is not a regular file before opening it (a FIFO would block),
// opens it for writing, as the real run does, and locks it unless dry.
Failure openAndLock(Run& run, const std::string& path)
{
    int errnum = 0;
    PathKind kind = pathKind(path, &errnum);
    if (kind == PathKind::Missing)
        return failed(run, Failure::Open, errnum);
    if (kind != PathKind::Regular)
        return failed(run, Failure::NotRegular, errnum);
    run.fd = openFile(path, true);
    if (run.fd < 0)
        return failed(run, errno == EBUSY ? Failure::Busy : Failure::Open, errno);
    if (!run.options.dryRun && !lockFile(run.fd))
        return failed(run, Failure::Busy, EWOULDBLOCK);
    FileInfo info;
    if (!fileInfo(run.fd, &info))
        return failed(run, Failure::Read, errno);
    run.size = info.size;
    // Any hole is a run of unchanged bytes of a block at least, and may be
    // as short as a page where the system reports larger blocks.
    run.gap = std::size_t(std::min<std::int64_t>(info.blockSize, 4096));
    return Failure::None;
}

// Opens the file, probes what was opened (so that what was checked is what
// is shifted), and prepares the change.
Failure open(Run& run, const std::string& path)
{
    if (Failure f = openAndLock(run, path); f != Failure::None)
        return f;
    if (run.options.probeFirst) {
        std::int64_t n = readAt(run.fd, run.buffer.get(), ProbeBytes, 0);
        if (n < 0)
            return failed(run, Failure::Read, errno);
        run.result.probe = probeBytes(run.buffer.get(), std::size_t(n));
        if (!run.result.probe.accepted)
            return Failure::NotSubtitles;
    }
    run.change = prepare(run.options.retiming);
    if (run.change.offsetKnown)
        run.result.offsetMs = run.options.retiming.offsetMs;
    // A change that keeps every line as it is writes nothing at all.
    run.writing = !run.options.dryRun && !changesNothing(run.change);
    const Selection& sel = run.options.selection;
    run.byTime = sel.fromMs > 0 || sel.untilMs != NoLimit;
    run.pieces = run.options.retiming.kind == Retiming::Kind::Pieces;
    run.block.bytes = run.buffer.get();
    run.block.pending.reserve(BlockSize / (TimingLine::text + 1) + 1);
    return Failure::None;
}

// --- One block: read, find, select, change, write ----------------------------

// Reads the next block after the undecided tail of the last one, never past
// the size the file had: what another program appends is not ours to shift.
Failure readBlock(Run& run)
{
    if (stopSignal())
        return stopped(run);
    Scan& s = run.scan;
    std::size_t want = BlockSize - s.filled;
    if (std::int64_t(want) > run.size - s.readTo)
        want = std::size_t(run.size - s.readTo);
    std::int64_t n = readAt(run.fd, run.block.bytes + s.filled, want, s.readTo);
    if (n < 0)
        return failed(run, Failure::Read, errno);
    if (std::size_t(n) < want)
        return Failure::Changed;
    s.readTo += n;
    s.filled += std::size_t(n);
    s.end = s.readTo == run.size;
    // Line starts that can be judged now: those with all 29 bytes read.
    const std::size_t whole = TimingLine::text;
    s.to = s.end ? s.filled : (s.filled >= whole ? s.filled - whole + 1 : 0);
    s.to = std::max(s.to, s.from);
    s.q = run.block.bytes + s.from + 15;
    return Failure::None;
}

// The next shiftable timing line that begins in the part of the block judged
// now, or NoLine. Every timing line has '>' at position 15, a rare byte in
// text: look for those, then check that 15 bytes back a line begins.
std::size_t findLine(Run& run)
{
    Scan& s = run.scan;
    const char* bytes = run.block.bytes;
    const char* end = bytes + std::min(s.to + 15, s.filled);
    while (!s.lastSelected && s.q < end) {
        auto gt = static_cast<const char*>(std::memchr(s.q, '>', std::size_t(end - s.q)));
        if (!gt)
            break;
        const char* line = gt - 15;
        std::size_t i = std::size_t(line - bytes);
        s.q = gt + 1;
        bool atLineStart = i > 0 ? line[-1] == '\n' : run.block.start == 0;
        if (atLineStart && isShiftable(line, s.filled - i)) {
            // The next line begins after this one's 29 characters and line end.
            s.q = line + TimingLine::text + 1 + 15;
            return i;
        }
    }
    s.q = end;
    return NoLine;
}

// Counts the line among the shiftable ones and says whether every selection
// picks it. Past the last line that --cues can pick, nothing more is read.
bool selectLine(Run& run, std::size_t i)
{
    const Selection& sel = run.options.selection;
    std::int64_t cue = ++run.scan.cue;
    if (cue < sel.firstCue)
        return false;
    if (cue == sel.lastCue)
        run.scan.lastSelected = run.scan.end = true;
    if (!run.byTime && !run.pieces)
        return true;
    std::int64_t start = timeAt(run.block.bytes + i);
    if (start < sel.fromMs || start >= sel.untilMs)
        return false;
    return !run.pieces || loadPiece(run.change, run.change.retiming.piecesByCue ? cue : start);
}

Failure writeBlock(Run& run);

// Counts `n` more lines as shifted, the first at position `first` and the
// last at `last` among the shiftable lines.
void counted(PatchResult& result, std::int64_t first, std::int64_t last, std::int64_t n)
{
    if (result.timingLines == 0)
        result.firstCue = first;
    result.timingLines += n;
    result.lastCue = last;
}

// Changes the selected line: where it stands in the block, listed to go to
// disk with the block's next write; or, in a dry run, in a copy it keeps.
Failure changeLine(Run& run, std::size_t i)
{
    Block& b = run.block;
    // A long run of unchanged bytes, such as a hole, is not rewritten.
    if (run.writing && !b.pending.empty() &&
        i - (b.pending.back().at + TimingLine::text) >= run.gap) {
        if (Failure f = writeBlock(run); f != Failure::None)
            return f;
    }
    std::int64_t pos = b.start + std::int64_t(i), cue = run.scan.cue;
    // An offset changes a line where it stands; a scale, whose every digit
    // may change, in a copy put back whole. Timed, each is the faster way
    // for its kind.
    if (run.writing && run.change.offsetKnown && !run.change.scaling) {
        char* l = write(pos, cue, b);
        run.result.clampedTimes += shiftTimes(l, run.change.offset);
        run.result.changedLines += std::memcmp(l, b.pending.back().before, TimingLine::text) != 0;
        return Failure::None;
    }
    char l[TimingLine::text];
    std::memcpy(l, b.bytes + i, TimingLine::text);
    bool first = !run.change.offsetKnown;
    int held = apply(run.change, l, b.bytes + i, run.result);
    run.result.clampedTimes += held;
    if (first && !run.options.dryRun)
        run.writing = !changesNothing(run.change);
    if (run.writing) {
        run.result.changedLines += std::memcmp(l, b.bytes + i, TimingLine::text) != 0;
        std::memcpy(write(pos, cue, b), l, TimingLine::text);
        return Failure::None;
    }
    counted(run.result, cue, cue, 1);
    if (run.options.dryRun)
        remember(run.preview, run.result, b, i, l, cue,
                 held > 0 ? heldTimes(run.change, b.bytes + i) : 0, run.options.everyChange);
    return Failure::None;
}

// Writes `n` bytes at `offset`, going on after short writes; returns how many
// went to disk, with errno set when that is fewer.
std::size_t writeAll(const Run& run, const char* bytes, std::size_t n, std::int64_t offset)
{
    std::size_t done = 0;
    while (done < n) {
        std::int64_t k =
            writeAt(run.fd, bytes + done, n - done, offset + std::int64_t(done), run.size);
        if (k <= 0) {
            if (k == 0)
                errno = EIO;
            break;
        }
        done += std::size_t(k);
    }
    return done;
}

// After a write cut short at block offset `end`: the lines wholly written
// are counted as shifted, and the first bytes of a line it cut go back as
// they were, over space the file already has.
void countCutWrite(Run& run, std::size_t end)
{
    Block& b = run.block;
    std::size_t whole = 0;
    while (whole < b.pending.size() && b.pending[whole].at + TimingLine::text <= end)
        ++whole;
    if (whole > 0) {
        counted(run.result, b.pending.front().cue, b.pending[whole - 1].cue, std::int64_t(whole));
        run.result.partlyWritten = true;
    }
    if (whole < b.pending.size() && b.pending[whole].at < end) {
        const PendingLine& cut = b.pending[whole];
        std::size_t n = end - cut.at;
        std::int64_t pos = b.start + std::int64_t(cut.at);
        if (writeAll(run, cut.before, n, pos) != n)
            run.result.tornAt = pos;
    }
}

// Writes the block's pending lines, with the unchanged bytes between them, in
// one write. A stop signal takes effect here, before the write; a change of
// the file's size, seen by writeAt just before it, stops the shift there.
Failure writeBlock(Run& run)
{
    Block& b = run.block;
    if (b.pending.empty())
        return Failure::None;
    if (stopSignal())
        return stopped(run);
    std::size_t from = b.pending.front().at;
    std::size_t to = b.pending.back().at + TimingLine::text;
    std::int64_t at = b.start + std::int64_t(from);
    std::size_t written = writeAll(run, b.bytes + from, to - from, at);
    if (written == to - from) {
        counted(run.result, b.pending.front().cue, b.pending.back().cue,
                std::int64_t(b.pending.size()));
        run.result.partlyWritten = true;
        b.pending.clear();
        if (run.options.sync && at + std::int64_t(written) - run.syncFrom >= SyncEvery) {
            startSync(run.fd, run.syncFrom, at + std::int64_t(written) - run.syncFrom);
            run.syncFrom = at + std::int64_t(written);
        }
        return Failure::None;
    }
    int err = errno;
    countCutWrite(run, from + written);
    // Refused as the file no longer has its size: another program changed it.
    FileInfo now;
    if (fileInfo(run.fd, &now) && now.size != run.size)
        return Failure::Changed;
    return failed(run, Failure::Write, err);
}

// Keeps the undecided tail of the block, and the byte before it, which tells
// whether its first byte begins a line.
void keepTail(Run& run)
{
    Scan& s = run.scan;
    Block& b = run.block;
    std::size_t keepFrom = s.to > 0 ? s.to - 1 : 0;
    if (run.options.dryRun)
        countTo(run.preview, b, b.start + std::int64_t(keepFrom));
    std::size_t keep = s.filled - keepFrom;
    if (keepFrom > 0)
        std::memmove(b.bytes, b.bytes + keepFrom, keep);
    b.start += std::int64_t(keepFrom);
    s.from = s.to - keepFrom;
    s.filled = keep;
}

// One pass over the file, a block at a time, each through every step.
Failure pass(Run& run)
{
    Failure f = Failure::None;
    while (f == Failure::None && !run.scan.end) {
        f = readBlock(run);
        for (std::size_t i; f == Failure::None && (i = findLine(run)) != NoLine;)
            if (selectLine(run, i))
                f = changeLine(run, i);
        if (f == Failure::None)
            f = writeBlock(run);
        if (f == Failure::None)
            keepTail(run);
    }
    if (f == Failure::None && run.options.retiming.kind == Retiming::Kind::To &&
        !run.change.offsetKnown)
        return Failure::NoLineToMove;
    if (run.options.dryRun)
        endPreview(run.preview, run.result, run.options.everyChange);
    return f;
}

// --- Close ------------------------------------------------------------------

// A last look at the size, the sync to disk when something was written, and
// the close, whose error counts too.
Failure close(Run& run)
{
    FileInfo now;
    if (!fileInfo(run.fd, &now))
        return failed(run, Failure::Read, errno);
    if (now.size != run.size)
        return Failure::Changed;
    if (run.result.partlyWritten && run.options.sync && !syncFile(run.fd))
        return failed(run, Failure::Sync, errno);
    int fd = run.fd;
    run.fd = -1;
    if (!closeFile(fd))
        return failed(run, Failure::Close, errno);
    return Failure::None;
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
    Run run(options, progress, user);
    setShifting(true);
    report(run, StepOpening);
    Failure f = open(run, path);
    if (f == Failure::None) {
        report(run, StepModifying);
        f = pass(run);
    }
    if (f == Failure::None) {
        report(run, StepClosing);
        f = close(run);
    }
    if (f != Failure::None)
        return fail(run, f);
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
