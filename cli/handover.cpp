// --match handed over to chronelle-shift-match. Never looked for from the
// working directory, where anyone may have put a program of that name: from
// this program's own place as the kernel tells it (an installation moved
// elsewhere, the build tree), else where it was installed.
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "match_files.h"
#include "stop.h"
#include "words.h"

namespace {

std::string matchProgram()
{
    std::string dir = programFolder();
    return dir.empty() ? CHRONELLE_MATCH_PROGRAM_INSTALLED : dir + CHRONELLE_MATCH_PROGRAM;
}

}  // namespace

int runMatchProgram(char** argv)
{
    // A stop signal that came before the hand-over ends the run here; one
    // that comes during it waits, blocked, for the matcher's handlers (a
    // blocked signal stays pending across exec).
    sigset_t stops, before;
    sigemptyset(&stops);
    for (int sig : {SIGINT, SIGTERM, SIGHUP})
        sigaddset(&stops, sig);
    sigprocmask(SIG_BLOCK, &stops, &before);
    if (int sig = chronelle::stopSignal()) {
        complain(_("interrupted; no file was touched"));
        return 128 + sig;
    }
    std::string program = matchProgram();
    execv(program.c_str(), argv);
    int e = errno;
    sigprocmask(SIG_SETMASK, &before, nullptr);
    complain(_("--match needs %s, which cannot be run: %s; no file was touched"), program.c_str(),
             std::strerror(e));
    return 2;
}
