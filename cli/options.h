// The command line of chronelle-shift: its options, as the patcher takes
// them, and as typed, for the command that finishes a stopped shift.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "patcher.h"

struct Options {
    chronelle::ShiftOptions shift;
    std::string
        mode;  // "--add", "--remove", "--to", "--sync", "--fps", "--piece" or "--piece-cues"
    std::string modeText;             // its argument as typed
    std::vector<std::string> pieces;  // --piece or --piece-cues: each as typed
    std::string from, until;          // --from and --until as typed, if given
    bool quiet = false;
    // --match: the film or well-timed subtitle file that finds the change
    // of each file; the change found then fills mode and modeText.
    std::string match;
    std::int64_t maxOffsetMs = 600000;
    int track = 0;        // 0: the film's default audio track
    bool splits = false;  // --splits: a film with cuts, matched piece by piece
};

// Reads the options; the files are argv[*first] on. Returns -1 to go on, or
// the exit status: 0 after --help or --version, 2 after a usage error (said
// on stderr).
int parseOptions(int argc, char** argv, Options* options, int* first);

// Says what was wrong with the command line, then how to call the program;
// returns 2, the status of a usage error.
int usageError(const std::string& what);
