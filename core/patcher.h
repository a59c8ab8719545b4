// The in-place patcher: shifts every timing line of a file where it stands,
// reporting its progress in steps that the window shows on its bar.
#pragma once

#include <cstdint>
#include <string>

#include "time_shift.h"

namespace chronelle {

struct ProgressStep {
    const char* text;
    double fraction;
};

// The steps, in the order they are reported.
constexpr ProgressStep StepOpening{"Ouverture du fichier", 0.2};
constexpr ProgressStep StepModifying{"Modification du fichier sous-titres", 0.8};
constexpr ProgressStep StepClosing{"Fermeture du fichier", 0.9};
constexpr ProgressStep StepSucceeded{"Modification du sous-titres réussie", 1.0};
// A failure is reported as this text, at the fraction last shown.
constexpr const char* ErrorText = "Erreur";

using ProgressFn = void (*)(const ProgressStep& step, void* user);

enum class Failure {
    None,
    Open,        // missing, unreadable or not writable
    NotRegular,  // a directory, FIFO or device
    Busy,        // another process is shifting the same file
    Read,
    Seek,
    Write,
    Close,
};

struct PatchResult {
    bool ok = false;
    Failure failure = Failure::None;
    int errnum = 0;
    bool partlyWritten = false;    // failed after bytes went to disk
    std::int64_t timingLines = 0;  // lines shifted (or that would be)
    std::int64_t clampedTimes = 0; // times held at 00:00:00,000 or 99:59:59,999
};

// The part of the file being patched, in memory; `write` puts shifted lines
// back into it and it goes to disk in one piece.
struct Block {
    std::int64_t start = 0;  // file offset of bytes[0]
    char* bytes = nullptr;
    std::size_t dirtyFrom = 0, dirtyTo = 0;  // range that differs from disk
};

// Puts the shifted line `l` (the 29 characters of a line read at `pos`, its
// start offset, with only its digits changed) back where it was read.
// Lines come in file order, so the block's changed range only grows.
void write(std::int64_t pos, const char* l, Block& block);

// Shifts every shiftable timing line of the file at `path` by `shift`, added
// when `adri` is non-zero and removed when it is zero. `progress` (may be
// null) gets each step. With `dryRun` the file is only read.
PatchResult shiftFile(const std::string& path, const Shift& shift, int adri,
                      ProgressFn progress, void* user, bool dryRun = false);

}  // namespace chronelle
