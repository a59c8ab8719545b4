// chronelle-shift built without the matcher (FFmpeg's libraries were not
// found), or handing --match over to the program that has it.
#include <cstdio>

#include "match_files.h"
#include "words.h"

int startMatching(const Options&, char**, char**, Matching*)
{
    complain(_("this build has no --match (FFmpeg's libraries were not found when it was built)"));
    return 2;
}

int matchFile(const char*, const Matching&, Options*) { return 1; }
