// The in-place patcher. The file is read in large blocks; each shiftable line
// is shifted in the block, and only the changed range of a block is written
// back, at the offsets it was read from, so the file keeps its length and
// every byte but the timing digits.
#include "patcher.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "file_io.h"
#include "timing_line.h"

namespace chronelle {

namespace {

constexpr std::size_t BlockSize = 1 << 20;

struct Run {
    std::FILE* f = nullptr;
    ProgressFn progress = nullptr;
    void* user = nullptr;
    double fraction = 0;
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
    run.result.errnum = errnum ? errnum : EIO;
    report(run, ProgressStep{ErrorText, run.fraction});
    return run.result;
}

// Writes the block's changed range at the offsets it was read from, then puts
// the stream back where reading goes on. Returns what failed, if anything.
Failure flush(Run& run, Block& block, std::int64_t resumeAt)
{
    if (block.dirtyFrom >= block.dirtyTo)
        return Failure::None;
    run.result.partlyWritten = true;
    if (!seekTo(run.f, block.start + std::int64_t(block.dirtyFrom)))
        return Failure::Seek;
    if (!writeBytes(run.f, block.bytes + block.dirtyFrom, block.dirtyTo - block.dirtyFrom))
        return Failure::Write;
    block.dirtyFrom = block.dirtyTo = 0;
    return seekTo(run.f, resumeAt) ? Failure::None : Failure::Seek;
}

}  // namespace

void write(std::int64_t pos, const char* l, Block& block)
{
    // `l` is a copy of the line whose digits alone were changed, so copying
    // its 29 characters back changes only digits.
    std::size_t i = std::size_t(pos - block.start);
    std::memcpy(block.bytes + i, l, TimingLine::text);
    if (block.dirtyFrom >= block.dirtyTo)
        block.dirtyFrom = i;
    block.dirtyTo = i + TimingLine::text;
}

PatchResult shiftFile(const std::string& path, const Shift& shift, int adri,
                      ProgressFn progress, void* user, bool dryRun)
{
    Run run;
    run.progress = progress;
    run.user = user;
    report(run, StepOpening);

    int errnum = 0;
    PathKind kind = pathKind(path, &errnum);
    if (kind == PathKind::Missing)
        return fail(run, Failure::Open, errnum);
    if (kind != PathKind::Regular)
        return fail(run, Failure::NotRegular, errnum);
    run.f = openStream(path, dryRun ? "rb" : "r+b");
    if (!run.f)
        return fail(run, Failure::Open, errno);
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> closer(run.f, std::fclose);
    if (!dryRun && !lockStream(run.f))
        return fail(run, Failure::Busy, EWOULDBLOCK);
    report(run, StepModifying);

    Offset offset = splitOffset(adri ? toMilliseconds(shift) : -toMilliseconds(shift));
    // A zero offset changes no line: nothing is written at all.
    bool writing = !dryRun && (offset.h || offset.m || offset.s || offset.ms);

    std::unique_ptr<char[]> buffer(new char[BlockSize]);
    Block block;
    block.bytes = buffer.get();
    std::size_t filled = 0;
    std::size_t from = 0;  // first line start not yet decided
    bool eof = false;
    char l[LineBufferSize];

    while (!eof) {
        std::size_t n = std::fread(block.bytes + filled, 1, BlockSize - filled, run.f);
        if (n < BlockSize - filled) {
            if (std::ferror(run.f))
                return fail(run, Failure::Read, errno);
            eof = true;
        }
        filled += n;
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
            if (!atLineStart)
                continue;
            if (!isShiftable(line, filled - i))
                continue;
            std::memcpy(l, line, TimingLine::text);
            l[TimingLine::text] = '\0';
            run.result.clampedTimes += shiftTimes(l, offset);
            ++run.result.timingLines;
            if (writing)
                write(block.start + std::int64_t(i), l, block);
            // The next line begins after this one's 29 characters and line end.
            q = line + TimingLine::text + 1 + 15;
        }
        Failure failure = flush(run, block, block.start + std::int64_t(filled));
        if (failure != Failure::None)
            return fail(run, failure, errno);
        // Keep the undecided tail, and the byte before it, which tells
        // whether its first byte begins a line.
        std::size_t keepFrom = to > 0 ? to - 1 : 0;
        std::size_t keep = filled - keepFrom;
        if (keepFrom > 0) {
            std::memmove(block.bytes, block.bytes + keepFrom, keep);
            block.start += std::int64_t(keepFrom);
            from = to - keepFrom;
        } else {
            from = to;
        }
        filled = keep;
    }

    report(run, StepClosing);
    closer.release();
    bool flushed = std::fflush(run.f) == 0;
    int flushErr = errno;
    if (std::fclose(run.f) != 0 || !flushed)
        return fail(run, Failure::Close, flushed ? errno : flushErr);
    report(run, StepSucceeded);
    run.result.ok = true;
    return run.result;
}

}  // namespace chronelle
