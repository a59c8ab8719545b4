// chronelle-shift: shifts the timing lines of SubRip files in place, for
// scripts and batches. Exit status: 0 all shifted, 1 a file refused or
// failed, 2 usage error (nothing touched).
#include <getopt.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>
#endif

#include "duration.h"
#include "patcher.h"
#include "probe.h"

#ifndef CHRONELLE_VERSION
#define CHRONELLE_VERSION "0"
#endif

namespace {

const char* const Usage =
    "usage: chronelle-shift (-a|--add DURATION | -r|--remove DURATION)\n"
    "                       [-n|--dry-run] [-f|--force] [-q|--quiet] FILE...\n"
    "       chronelle-shift -h|--help\n"
    "       chronelle-shift -V|--version\n";

const char* const Help =
    "Shifts every timing line of SubRip (.srt) files in place: the subtitles\n"
    "appear later (--add) or sooner (--remove). Nothing else in a file changes\n"
    "and its length stays the same. No backup is made.\n"
    "\n"
    "  -a, --add DURATION     add DURATION to every time\n"
    "  -r, --remove DURATION  remove DURATION from every time\n"
    "  -n, --dry-run          report what would change, write nothing\n"
    "  -f, --force            shift files that do not look like subtitles\n"
    "  -q, --quiet            print nothing on success\n"
    "  -h, --help             show this help\n"
    "  -V, --version          show the version\n"
    "\n"
    "DURATION is seconds (5, 2.5, 0,250), M:SS (1:30) or H:MM:SS (0:00:05,000),\n"
    "with an optional fraction of 1 to 3 digits after '.' or ','.\n"
    "Times are held between 00:00:00,000 and 99:59:59,999.\n"
    "\n"
    "Exit status: 0 every file shifted, 1 a file refused or failed (the others\n"
    "are still processed), 2 usage error (nothing touched).\n";

int usageError(const char* what)
{
    std::fprintf(stderr, "chronelle-shift: %s\n%s", what, Usage);
    return 2;
}

const char* failureText(chronelle::Failure failure)
{
    using chronelle::Failure;
    switch (failure) {
    case Failure::Open: return "cannot open for reading and writing";
    case Failure::NotRegular: return "not a regular file";
    case Failure::Busy: return "another process is shifting this file";
    case Failure::Read: return "read error";
    case Failure::Seek: return "seek error";
    case Failure::Write: return "write error";
    case Failure::Close: return "error when closing";
    case Failure::None: break;
    }
    return "failed";
}

struct Options {
    chronelle::Shift shift;
    int adri = 1;
    bool dryRun = false;
    bool force = false;
    bool quiet = false;
};

// Shifts one file; returns false when it was refused or failed.
bool shiftOne(const char* path, const Options& o)
{
    if (!o.force) {
        chronelle::ProbeResult probe = chronelle::probe(path);
        if (!probe.opened) {
            std::fprintf(stderr, "chronelle-shift: %s: %s; left untouched\n", path,
                         probe.kind == chronelle::PathKind::Other
                             ? "not a regular file (a FIFO, device or socket)"
                             : std::strerror(probe.errnum));
            return false;
        }
        if (!probe.accepted) {
            std::fprintf(stderr,
                         "chronelle-shift: %s: not a subtitle file (%d timing lines in its "
                         "first %d lines, %d needed); left untouched, --force shifts it anyway\n",
                         path, probe.timingLines, chronelle::ProbeLines, chronelle::ProbeRequired);
            return false;
        }
    }
    chronelle::PatchResult r =
        chronelle::shiftFile(path, o.shift, o.adri, nullptr, nullptr, o.dryRun);
    if (!r.ok) {
        // A FIFO or device has no system error of its own to show.
        bool plain = r.failure == chronelle::Failure::NotRegular && r.errnum == EINVAL;
        std::fprintf(stderr, "chronelle-shift: %s: %s%s%s; %s\n", path, failureText(r.failure),
                     plain ? "" : ": ", plain ? "" : std::strerror(r.errnum),
                     r.partlyWritten ? "the file may be partly shifted"
                                     : "the file was left untouched");
        return false;
    }
    if (r.clampedTimes > 0)
        std::fprintf(stderr,
                     "chronelle-shift: %s: warning: %lld times %s held at 00:00:00,000 or "
                     "99:59:59,999\n",
                     path, (long long)r.clampedTimes, o.dryRun ? "would be" : "were");
    if (!o.quiet)
        std::printf("%s: %lld timing lines %s\n", path, (long long)r.timingLines,
                    o.dryRun ? "would be shifted" : "shifted");
    return true;
}

#ifdef _WIN32
// The C runtime gives the arguments in the ANSI code page, which cannot name
// every file (and turns what it cannot hold into '?'); the core takes UTF-8
// names, so they are read again from the wide command line.
std::vector<std::string> utf8Arguments()
{
    std::vector<std::string> args;
    int n = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &n);
    for (int i = 0; wide && i < n; ++i) {
        int size = WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
        std::string arg(size > 0 ? size : 1, '\0');
        if (size > 0)
            WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, &arg[0], size, nullptr, nullptr);
        arg.resize(arg.size() - 1);
        args.push_back(arg);
    }
    LocalFree(wide);
    return args;
}
#endif

}  // namespace

int main(int argc, char** argv)
{
#ifdef _WIN32
    std::vector<std::string> utf8 = utf8Arguments();
    std::vector<char*> utf8Argv;
    for (std::string& arg : utf8)
        utf8Argv.push_back(&arg[0]);
    utf8Argv.push_back(nullptr);
    if (!utf8.empty()) {
        argc = int(utf8.size());
        argv = utf8Argv.data();
    }
#endif
    static const option longOptions[] = {
        {"add", required_argument, nullptr, 'a'},
        {"remove", required_argument, nullptr, 'r'},
        {"dry-run", no_argument, nullptr, 'n'},
        {"force", no_argument, nullptr, 'f'},
        {"quiet", no_argument, nullptr, 'q'},
        {"help", no_argument, nullptr, 'h'},
        {"version", no_argument, nullptr, 'V'},
        {nullptr, 0, nullptr, 0},
    };
    Options o;
    int directions = 0;
    const char* duration = nullptr;
    opterr = 0;
    int c;
    while ((c = getopt_long(argc, argv, ":a:r:nfqhV", longOptions, nullptr)) != -1) {
        switch (c) {
        case 'a':
        case 'r':
            o.adri = c == 'a';
            duration = optarg;
            ++directions;
            break;
        case 'n': o.dryRun = true; break;
        case 'f': o.force = true; break;
        case 'q': o.quiet = true; break;
        case 'h': std::fputs(Usage, stdout); std::fputs("\n", stdout); std::fputs(Help, stdout); return 0;
        case 'V': std::printf("chronelle-shift %s\n", CHRONELLE_VERSION); return 0;
        case ':': return usageError("an option needs a duration");
        default: return usageError("unknown option");
        }
    }
    if (directions == 0)
        return usageError("missing --add or --remove");
    if (directions > 1)
        return usageError("give only one of --add and --remove");
    if (!chronelle::parseDuration(duration, &o.shift)) {
        std::string what = std::string("bad duration '") + duration + "'";
        return usageError(what.c_str());
    }
    if (optind >= argc)
        return usageError("no FILE given");

    bool allShifted = true;
    for (int i = optind; i < argc; ++i)
        allShifted = shiftOne(argv[i], o) && allShifted;
    return allShifted ? 0 : 1;
}
