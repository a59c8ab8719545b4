// The quick check that decides whether a file may be shifted at all: the
// window and the command-line tool share this one rule.
#pragma once

#include <string>

#include "file_io.h"

namespace chronelle {

constexpr int ProbeLines = 15;     // lines read at most
constexpr int ProbeRequired = 3;   // timing lines needed among them

struct ProbeResult {
    bool opened = false;    // the file could be opened and read
    int errnum = 0;         // why not, when it could not
    PathKind kind = PathKind::Missing;  // what the path named
    int timingLines = 0;    // lines among the first 15 that pass isTimingLine
    bool accepted = false;  // opened, and at least 3 timing lines
};

// Reads at most 15 lines of at most 255 bytes (a longer line counts as
// several, as the line buffer delivers it) and counts the timing lines.
ProbeResult probe(const std::string& path);

}  // namespace chronelle
