// The quick check that decides whether a file may be shifted at all: the
// window and the command-line tool share this one rule.
#pragma once

#include <cstddef>
#include <string>

#include "file_io.h"
#include "timing_line.h"

namespace chronelle {

constexpr int ProbeLines = 15;    // lines read at most
constexpr int ProbeRequired = 3;  // timing lines needed among them
// The most the probe reads: 15 pieces of at most 255 bytes.
constexpr std::size_t ProbeBytes = ProbeLines * (LineBufferSize - 1);

struct ProbeResult {
    bool opened = false;                // the file could be opened and read
    int errnum = 0;                     // why not, when it could not
    PathKind kind = PathKind::Missing;  // what the path named
    int timingLines = 0;                // lines among the first 15 that pass isTimingLine
    bool utf16 = false;                 // begins with a UTF-16 byte order mark
    bool accepted = false;              // opened, and at least 3 timing lines
};

// Counts the timing lines among the first 15 lines of `bytes` (the first
// `n` bytes of a file), as the 256-byte line buffer reads them: a line longer
// than 255 bytes counts as several.
ProbeResult probeBytes(const char* bytes, std::size_t n);

// Opens the file at `path`, reads at most ProbeBytes of it and probes them.
ProbeResult probe(const std::string& path);

}  // namespace chronelle
