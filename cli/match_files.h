// chronelle-shift --match: the film (or well-timed subtitle file) listened
// to once, then for each file the change found, said in words and as the
// command that makes it, which then runs as if it had been given.
#pragma once

#include <memory>

#include "options.h"

namespace chronelle {
struct Reference;
}

struct Matching {
    std::shared_ptr<chronelle::Reference> reference;
};

// Listens to the film or reads the reference, for the files from `begin` to
// `end` (unless none of them could take a change). Returns -1 to go on, or
// the exit status (nothing was touched).
int startMatching(const Options& options, char** begin, char** end, Matching* matching);

// Where the matcher lies in a program of its own (on Linux, so that
// FFmpeg's libraries and all they need are loaded by --match only, not by
// every shift): runs it with the same arguments. Returns -1 where this
// program holds the matcher (or has none), else the exit status when it
// could not be run.
int runMatchProgram(char** argv);

// Finds the change of the file at `path` and says it. Returns -1 when
// `one` now holds that change and the file is to be shifted with it, 0 when
// the file is in time already, 1 when it was refused or failed.
int matchFile(const char* path, const Matching& matching, Options* one);
