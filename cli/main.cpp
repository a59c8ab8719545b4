// chronelle-shift: shifts the timing lines of SubRip files in place, for
// scripts and batches. Exit status: 0 all shifted, 1 a file refused or
// failed, 2 usage error (nothing touched), 128 + the signal when stopped by
// SIGINT, SIGTERM or SIGHUP.
#include <getopt.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "duration.h"
#include "file_io.h"
#include "patcher.h"
#include "stop.h"

#ifndef CHRONELLE_VERSION
#define CHRONELLE_VERSION "0"
#endif

namespace {

using chronelle::Failure;
using chronelle::PatchResult;

const char* const Usage =
    "usage: chronelle-shift (-a|--add DURATION | -r|--remove DURATION) [--cues RANGE]\n"
    "                       [-n|--dry-run] [-f|--force] [-q|--quiet] [--no-sync] FILE...\n"
    "       chronelle-shift -h|--help\n"
    "       chronelle-shift -V|--version\n";

const char* const Help =
    "Shifts every timing line of SubRip (.srt) files in place: the subtitles\n"
    "appear later (--add) or sooner (--remove). Nothing else in a file changes\n"
    "and its length stays the same. No backup is made.\n"
    "\n"
    "  -a, --add DURATION     add DURATION to every time\n"
    "  -r, --remove DURATION  remove DURATION from every time\n"
    "      --cues RANGE       only the timing lines at these positions, counted\n"
    "                         from 1 in the file: N, N-M, N- or -M\n"
    "  -n, --dry-run          report what would change, write nothing\n"
    "  -f, --force            shift files that do not look like subtitles\n"
    "  -q, --quiet            print nothing on success\n"
    "      --no-sync          do not wait for the disk (scratch copies, benchmarks)\n"
    "  -h, --help             show this help\n"
    "  -V, --version          show the version\n"
    "\n"
    "DURATION is seconds (5, 2.5, 0,250), M:SS (1:30) or H:MM:SS (0:00:05,000),\n"
    "with an optional fraction of 1 to 3 digits after '.' or ','.\n"
    "Times are held between 00:00:00,000 and 99:59:59,999.\n"
    "\n"
    "If a shift is stopped (Ctrl-C, a full disk), the file holds its first timing\n"
    "lines shifted and the rest untouched, and the message gives the command that\n"
    "finishes the job.\n"
    "\n"
    "Exit status: 0 every file shifted, 1 a file refused or failed (the others\n"
    "are still processed), 2 usage error (nothing touched), 128 + N when stopped\n"
    "by signal N (130 Ctrl-C, 143 SIGTERM, 129 SIGHUP; later files untouched).\n";

enum LongOnly { OptCues = 1000, OptNoSync };

struct Options {
    chronelle::ShiftOptions shift;
    bool cues = false;  // --cues was given
    bool quiet = false;
};

int usageError(const std::string& what)
{
    std::fprintf(stderr, "chronelle-shift: %s\n%s", what.c_str(), Usage);
    return 2;
}

// Set by the first failed write to standard output.
int stdoutError = 0;

void flushOut()
{
    if (std::fflush(stdout) != 0 && !stdoutError)
        stdoutError = errno ? errno : EIO;
}

// The exit status once standard output has been flushed: what is printed
// there is part of the result.
int finish(int status)
{
    flushOut();
    if (!stdoutError)
        return status;
    std::fprintf(stderr, "chronelle-shift: cannot write to standard output: %s\n",
                 std::strerror(stdoutError));
    return status == 0 ? 1 : status;
}

// "1 timing line", "2 timing lines".
std::string count(std::int64_t n, const char* one, const char* many)
{
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

// An argument as a shell reads it back: quoted unless it is plainly safe.
std::string shellWord(const std::string& word)
{
    bool plain = !word.empty();
    for (char c : word)
        plain = plain && ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                          (c >= '0' && c <= '9') || std::strchr("_./:,=+@%-", c));
    if (plain)
        return word;
    std::string q = "'";
    for (char c : word)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// An offset in milliseconds as --add or --remove takes it back.
std::string offsetArguments(std::int64_t ms)
{
    std::string text = ms < 0 ? "--remove " : "--add ";
    std::int64_t a = ms < 0 ? -ms : ms;
    text += std::to_string(a / 1000);
    if (a % 1000) {
        char fraction[8];
        std::snprintf(fraction, sizeof fraction, ".%03d", int(a % 1000));
        std::string f = fraction;
        while (f.back() == '0')
            f.pop_back();
        text += f;
    }
    return text;
}

// The command that applies the same change to the lines after `lastCue`.
std::string finishCommand(const Options& o, std::int64_t lastCue, const std::string& path)
{
    std::string c = "chronelle-shift " + offsetArguments(o.shift.retiming.offsetMs);
    c += " --cues " + std::to_string(lastCue + 1) + "-";
    if (o.shift.selection.lastCue != chronelle::NoLimit)
        c += std::to_string(o.shift.selection.lastCue);
    if (!o.shift.probeFirst)
        c += " --force";
    if (!o.shift.sync)
        c += " --no-sync";
    return c + (path[0] == '-' ? " -- " : " ") + shellWord(path);
}

const char* failureText(Failure failure)
{
    switch (failure) {
    case Failure::Open: return "cannot open for reading and writing";
    case Failure::NotRegular: return "not a regular file";
    case Failure::Busy: return "another process is shifting this file";
    case Failure::Read: return "read error";
    case Failure::Write: return "write error";
    case Failure::Sync: return "cannot make sure the file is on disk";
    case Failure::Close: return "error when closing";
    case Failure::Interrupted: return "interrupted";
    case Failure::Changed:
        return "the file changed size while it was being shifted: another program is writing it";
    case Failure::NotSubtitles:
    case Failure::None: break;
    }
    return "failed";
}

// Says what a failed file holds now, and how to finish the job when it can.
void reportFailure(const char* path, const Options& o, const PatchResult& r)
{
    if (r.failure == Failure::NotSubtitles) {
        if (r.probe.utf16)
            std::fprintf(stderr,
                         "chronelle-shift: %s: looks like UTF-16, which is not supported; left "
                         "untouched\n",
                         path);
        else
            std::fprintf(stderr,
                         "chronelle-shift: %s: not a subtitle file (%s in its first %d lines, "
                         "%d needed); left untouched, --force shifts it anyway\n",
                         path, count(r.probe.timingLines, "timing line", "timing lines").c_str(),
                         chronelle::ProbeLines, chronelle::ProbeRequired);
        return;
    }
    std::string what = failureText(r.failure);
    std::string reason;
    // A FIFO or device has no system error of its own to show.
    if (r.errnum && !(r.failure == Failure::NotRegular && r.errnum == EINVAL) &&
        r.failure != Failure::Busy)
        reason = std::string(": ") + std::strerror(r.errnum);
    std::string state;
    if (!r.partlyWritten) {
        state = "the file was left untouched";
    } else if (r.failure == Failure::Changed) {
        state = count(r.timingLines, "timing line", "timing lines") +
                " had been shifted when it was seen; look at the file";
    } else if (r.failure == Failure::Sync || r.failure == Failure::Close) {
        state = "all " + count(r.timingLines, "timing line was", "timing lines were") +
                " shifted, but may not all be on disk";
    } else {
        std::string range = std::to_string(o.shift.selection.firstCue) + "-" + std::to_string(r.lastCue);
        what += " after timing line " + std::to_string(r.lastCue);
        if (r.tornAt >= 0)
            state = range + " shifted; the next timing line, at byte " + std::to_string(r.tornAt) +
                    ", may be half shifted: mend it by hand; the rest untouched";
        else
            state = range + " shifted, the rest untouched; to finish: " +
                    finishCommand(o, r.lastCue, path);
    }
    std::fprintf(stderr, "chronelle-shift: %s: %s%s; %s\n", path, what.c_str(), reason.c_str(),
                 state.c_str());
}

// Shifts one file; returns false when it was refused or failed.
bool shiftOne(const char* path, const Options& o, PatchResult* out)
{
    PatchResult r = chronelle::shiftFile(path, o.shift, nullptr, nullptr);
    *out = r;
    if (!r.ok) {
        reportFailure(path, o, r);
        return false;
    }
    bool dry = o.shift.dryRun;
    if (r.clampedTimes > 0)
        std::fprintf(stderr, "chronelle-shift: %s: warning: %s held at 00:00:00,000 or 99:59:59,999\n",
                     path,
                     count(r.clampedTimes, dry ? "time would be" : "time was",
                           dry ? "times would be" : "times were")
                         .c_str());
    if (!o.quiet)
        std::printf("%s: %s %s\n", path, count(r.timingLines, "timing line", "timing lines").c_str(),
                    dry ? "would be shifted" : "shifted");
    flushOut();
    return true;
}


int parse(int argc, char** argv, Options* o)
{
    static const option longOptions[] = {
        {"add", required_argument, nullptr, 'a'},
        {"remove", required_argument, nullptr, 'r'},
        {"cues", required_argument, nullptr, OptCues},
        {"dry-run", no_argument, nullptr, 'n'},
        {"force", no_argument, nullptr, 'f'},
        {"quiet", no_argument, nullptr, 'q'},
        {"no-sync", no_argument, nullptr, OptNoSync},
        {"help", no_argument, nullptr, 'h'},
        {"version", no_argument, nullptr, 'V'},
        {nullptr, 0, nullptr, 0},
    };
    std::vector<std::pair<char, std::string>> modes;  // each --add or --remove given
    o->shift.probeFirst = true;
    opterr = 0;
    int c;
    while ((c = getopt_long(argc, argv, ":a:r:nfqhV", longOptions, nullptr)) != -1) {
        switch (c) {
        case 'a':
        case 'r': modes.emplace_back(char(c), optarg); break;
        case OptCues:
            if (o->cues)
                return usageError("--cues given more than once");
            o->cues = true;
            if (!chronelle::parseRange(optarg, chronelle::NoLimit, &o->shift.selection.firstCue,
                                       &o->shift.selection.lastCue))
                return usageError(std::string("bad range '") + optarg + "' (N, N-M, N- or -M)");
            break;
        case 'n': o->shift.dryRun = true; break;
        case 'f': o->shift.probeFirst = false; break;
        case 'q': o->quiet = true; break;
        case OptNoSync: o->shift.sync = false; break;
        case 'h':
            std::fputs(Usage, stdout);
            std::fputs("\n", stdout);
            std::fputs(Help, stdout);
            return 0;
        case 'V': std::printf("chronelle-shift %s\n", CHRONELLE_VERSION); return 0;
        // Named as typed: getopt only keeps the letter of a short option.
        case ':': return usageError(std::string("option '") + argv[optind - 1] + "' needs a value");
        default:
            return usageError("unknown option '" +
                              (optopt ? std::string("-") + char(optopt) : std::string(argv[optind - 1])) +
                              "'");
        }
    }
    if (modes.empty())
        return usageError("missing --add or --remove");
    if (modes.size() > 1)
        return usageError(modes[0].first == modes[1].first
                              ? std::string(modes[0].first == 'a' ? "--add" : "--remove") +
                                    " given more than once"
                              : "give only one of --add and --remove");
    chronelle::Shift duration;
    if (!chronelle::parseDuration(modes[0].second, &duration))
        return usageError("bad duration '" + modes[0].second + "'");
    std::int64_t ms = chronelle::toMilliseconds(duration);
    o->shift.retiming.offsetMs = modes[0].first == 'a' ? ms : -ms;
    if (optind >= argc)
        return usageError("no FILE given");
    return -1;
}

}  // namespace

int main(int argc, char** argv)
{
    // Caught, these stop a shift between two writes, with an exact account.
    chronelle::catchStopSignals(false);
    Options o;
    int status = parse(argc, argv, &o);
    if (status >= 0)
        return finish(status);

    std::vector<chronelle::FileInfo> seen;
    std::vector<std::string> seenNames;
    bool allShifted = true;
    for (int i = optind; i < argc; ++i) {
        const char* path = argv[i];
        if (int sig = chronelle::stopSignal()) {
            std::fprintf(stderr, "chronelle-shift: interrupted; %s and the files after it were not touched\n",
                         path);
            return finish(128 + sig);
        }
        // One file named twice (or through a link) is shifted once.
        chronelle::FileInfo id;
        if (chronelle::pathInfo(path, &id)) {
            std::size_t k = 0;
            while (k < seen.size() && !(seen[k].device == id.device && seen[k].inode == id.inode))
                ++k;
            if (k < seen.size()) {
                std::fprintf(stderr, "chronelle-shift: %s: warning: the same file as %s; shifted once\n",
                             path, seenNames[k].c_str());
                continue;
            }
            seen.push_back(id);
            seenNames.push_back(path);
        }
        PatchResult r;
        allShifted = shiftOne(path, o, &r) && allShifted;
        if (r.failure == Failure::Interrupted) {
            if (i + 1 < argc)
                std::fprintf(stderr, "chronelle-shift: %s and the files after it were not touched\n",
                             argv[i + 1]);
            return finish(128 + r.signal);
        }
    }
    return finish(allShifted ? 0 : 1);
}
