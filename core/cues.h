// The cues of a subtitle file: when each one is shown, its text, and whether
// it holds speech at all (the matcher's question).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace chronelle {

struct Cue {
    std::int64_t startMs = 0, endMs = 0;
    // Only music notes or a sound in brackets ("♪ ♪", "[door slams]"):
    // nothing anyone says.
    bool soundOnly = false;
    // Its text lines as the file holds them, without their line ends, one
    // after the other with '\n' between them (the first 4 KiB at most).
    std::string text;
};

enum class CuesFailure {
    None,
    Open,        // missing or unreadable
    NotRegular,  // a directory, FIFO or device
    Read,
    NoTimingLine,  // nothing that the patcher could shift
};

struct CuesResult {
    CuesFailure failure = CuesFailure::None;
    int errnum = 0;
    std::vector<Cue> cues;  // in file order
};

// Reads the cues of the file at `path`: each line that the patcher would
// shift begins one, and the text lines after it, up to an empty line, are
// its text. The file is read in blocks, never whole.
CuesResult readCues(const std::string& path);

// Whether the text lines of a cue (`text`, their line ends included) are
// only music notes or sounds in brackets.
bool soundOnlyText(const std::string& text);

}  // namespace chronelle
