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
// the stream back where reading goes on.
bool flush(Run& run, Block& block, std::int64_t resumeAt)
{
    if (block.dirtyFrom >= block.dirtyTo)
        return true;
    run.result.partlyWritten = true;
    if (!seekTo(run.f, block.start + std::int64_t(block.dirtyFrom)))
        return false;
    if (!writeBytes(run.f, block.bytes + block.dirtyFrom, block.dirtyTo - block.dirtyFrom))
        return false;
    block.dirtyFrom = block.dirtyTo = 0;
    return seekTo(run.f, resumeAt);
}

}  // namespace

void write(std::int64_t pos, const char* l, Block& block)
{
    char* at = block.bytes + (pos - block.start);
    for (int p : DigitPositions) {
        if (at[p] == l[p])
            continue;
        at[p] = l[p];
        std::size_t i = std::size_t(at - block.bytes) + p;
        if (block.dirtyFrom >= block.dirtyTo) {
            block.dirtyFrom = i;
            block.dirtyTo = i + 1;
        } else {
            if (i < block.dirtyFrom)
                block.dirtyFrom = i;
            if (i + 1 > block.dirtyTo)
                block.dirtyTo = i + 1;
        }
    }
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

    std::int64_t offset = toMilliseconds(shift);
    if (!adri)
        offset = -offset;

    std::unique_ptr<char[]> buffer(new char[BlockSize]);
    Block block;
    block.bytes = buffer.get();
    std::size_t filled = 0;
    bool midLine = false;  // the block begins inside a line
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
        std::size_t i = 0;
        if (midLine) {
            const void* lf = std::memchr(block.bytes, '\n', filled);
            i = lf ? std::size_t(static_cast<const char*>(lf) - block.bytes) + 1 : filled;
            midLine = !lf;
        }
        // i is at the start of a line, or at the end of what was read.
        while (i < filled) {
            std::size_t avail = filled - i;
            if (avail < TimingLine::text && !eof)
                break;  // too little to judge: carried into the next block
            std::size_t head = avail < TimingLine::text ? avail : TimingLine::text;
            const char* line = block.bytes + i;
            // A line end inside the first 29 bytes makes the line too short.
            const void* lf = std::memchr(line, '\n', head);
            if (!lf && isShiftable(line, head)) {
                std::memcpy(l, line, TimingLine::text);
                l[TimingLine::text] = '\0';
                run.result.clampedTimes += shiftTimes(l, offset);
                ++run.result.timingLines;
                if (!dryRun)
                    write(block.start + std::int64_t(i), l, block);
            }
            if (!lf)
                lf = std::memchr(line + head, '\n', avail - head);
            if (!lf) {
                midLine = true;
                i = filled;
                break;
            }
            i = std::size_t(static_cast<const char*>(lf) - block.bytes) + 1;
        }
        std::int64_t readPos = block.start + std::int64_t(filled);
        if (!flush(run, block, readPos))
            return fail(run, Failure::Write, errno);
        // Keep an undecided line start for the next block.
        std::size_t keep = filled - i;
        if (keep)
            std::memmove(block.bytes, block.bytes + i, keep);
        block.start += std::int64_t(i);
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
