// The in-place patcher: shifts the timing lines of a file where they stand,
// reporting its progress in steps that the window shows on its bar, and
// after any failure exactly how far it got.
#pragma once

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "probe.h"
#include "time_shift.h"
#include "timing_line.h"

namespace chronelle {

// What is being done, as a code: each front end words it in its own
// language.
enum class Stage {
    Opening,
    Modifying,
    Closing,
    Succeeded,
    Failed,     // reported at the fraction last shown
    Listening,  // the matcher listening to a film, with the fraction heard
};

struct ProgressStep {
    Stage stage;
    double fraction;
};

// The steps of a shift, in the order they are reported.
constexpr ProgressStep StepOpening{Stage::Opening, 0.2};
constexpr ProgressStep StepModifying{Stage::Modifying, 0.8};
constexpr ProgressStep StepClosing{Stage::Closing, 0.9};
constexpr ProgressStep StepSucceeded{Stage::Succeeded, 1.0};

using ProgressFn = void (*)(const ProgressStep& step, void* user);

constexpr std::int64_t NoLimit = std::numeric_limits<std::int64_t>::max();

// How the times of the selected lines change.
struct Retiming {
    enum class Kind {
        Offset,  // offsetMs added to every time (negative: removed)
        To,      // one offset, that puts the first selected line's start at targetMs
        Scale,   // every time changed by `scale`
        Pieces,  // each line by the piece that holds it; lines in none stay
    };
    Kind kind = Kind::Offset;
    std::int64_t offsetMs = 0;
    std::int64_t targetMs = 0;
    Scale scale;
    // Kind::Pieces: sorted, none overlapping (sortPieces), each by start time
    // before the change, or by position with `piecesByCue`.
    std::vector<Piece> pieces;
    bool piecesByCue = false;
};

// Which shiftable timing lines change: those that every given selection
// picks. By position among all the shiftable timing lines of the file,
// counted from 1 in file order, and by start time before the change.
struct Selection {
    std::int64_t firstCue = 1;
    std::int64_t lastCue = NoLimit;
    std::int64_t fromMs = 0;         // start time >= fromMs
    std::int64_t untilMs = NoLimit;  // start time < untilMs
};

struct ShiftOptions {
    Retiming retiming;
    Selection selection;
    // Only reads, and keeps the first and last lines that would change; the
    // file is still opened for writing, so that a dry run fails where the
    // real one would.
    bool dryRun = false;
    // The dry run keeps every line that would change, not only the first
    // and last ones (the window's table of them).
    bool everyChange = false;
    bool sync = true;         // on the disk before success is reported
    bool probeFirst = false;  // refuse a file that does not look like subtitles
};

enum class Failure {
    None,
    Open,          // missing, unreadable or not writable
    NotRegular,    // a directory, FIFO or device
    Busy,          // another process is shifting the same file
    NotSubtitles,  // refused by the probe (with probeFirst)
    Read,
    Write,
    Changed,  // the file changed size: another program is writing it
    Sync,
    Close,
    Interrupted,   // a stop signal came
    NoLineToMove,  // Kind::To, and no line selected
};

// A line that a dry run would change.
struct LineChange {
    std::int64_t line;  // its line number in the file, from 1
    std::int64_t cue;   // its position among the shiftable lines, from 1
    std::string before, after;
    // Which of its times would be held at 00:00:00,000 or 99:59:59,999:
    // HeldStart, HeldEnd, both or neither.
    int held = 0;
};
constexpr int HeldStart = 1, HeldEnd = 2;

inline bool operator==(const LineChange& a, const LineChange& b)
{
    return a.line == b.line && a.cue == b.cue && a.before == b.before && a.after == b.after &&
           a.held == b.held;
}

// The dry run keeps this many of the first, and of the last, changes.
constexpr std::size_t PreviewLines = 3;

struct PatchResult {
    bool ok = false;
    Failure failure = Failure::None;
    int errnum = 0;
    int signal = 0;     // the stop signal, when Interrupted
    ProbeResult probe;  // with probeFirst
    // Selected lines shifted (or that would be): after a failure, those whose
    // new bytes are on disk, the first ones of the file; the others are as
    // they were.
    std::int64_t timingLines = 0;
    // The positions of the first and the last of those among all shiftable
    // lines (0: none).
    std::int64_t firstCue = 0, lastCue = 0;
    std::int64_t clampedTimes = 0;  // times held at 00:00:00,000 or 99:59:59,999
    bool partlyWritten = false;     // shifted lines are on disk although it failed
    // Where a timing line was left half shifted: a write was cut inside it and
    // putting its first bytes back failed too. -1 when none was.
    std::int64_t tornAt = -1;
    std::int64_t offsetMs = 0;  // the offset applied (Kind::To: the one found)
    // How many selected lines change, their bytes different (a dry run: would
    // change); told on success.
    std::int64_t changedLines = 0;
    // Dry run: the first and last lines that would change (at most
    // PreviewLines each, in file order), or all of them with everyChange.
    std::vector<LineChange> preview;
};

// A line waiting in the block to go to disk, with what it held before.
struct PendingLine {
    std::uint32_t at;  // offset in the block
    std::int64_t cue;  // position among the shiftable lines of the file
    char before[TimingLine::text];
};

// The part of the file being patched, in memory.
struct Block {
    std::int64_t start = 0;  // file offset of bytes[0]
    char* bytes = nullptr;
    std::vector<PendingLine> pending;  // in file order
};

// Lists the timing line that begins at file offset `pos` to go to disk with
// the block's next writes, keeping what it holds now, and returns it, for
// its digits to be changed where it stands.
char* write(std::int64_t pos, std::int64_t cue, Block& block);

// Shifts the selected timing lines of the file at `path` in place. `progress`
// (may be null) gets each step.
PatchResult shiftFile(const std::string& path, const ShiftOptions& options, ProgressFn progress,
                      void* user);

// The window's shift: every line by `shift`, added when `adri` is non-zero
// and removed when it is zero.
PatchResult shiftFile(const std::string& path, const Shift& shift, int adri, ProgressFn progress,
                      void* user, bool dryRun = false);

}  // namespace chronelle
