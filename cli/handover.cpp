// --match handed over to chronelle-shift-match. Never looked for from the
// working directory, where anyone may have put a program of that name: from
// this program's own place as the kernel tells it (an installation moved
// elsewhere, the build tree), else where it was installed.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "match_files.h"
#include "words.h"

namespace {

std::string matchProgram()
{
    char self[4096];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0 || self[0] != '/')
        return CHRONELLE_MATCH_PROGRAM_INSTALLED;
    std::string dir(self, std::size_t(n));
    return dir.substr(0, dir.rfind('/') + 1) + CHRONELLE_MATCH_PROGRAM;
}

}  // namespace

int runMatchProgram(char** argv)
{
    std::string program = matchProgram();
    execv(program.c_str(), argv);
    complain(_("--match needs %s, which cannot be run: %s; no file was touched"), program.c_str(),
             std::strerror(errno));
    return 2;
}
