// chronelle-shift: changes the timing lines of SubRip files in place, for
// scripts and batches. Exit status: 0 all changed, 1 a file refused or
// failed, 2 usage error (nothing touched), 128 + the signal when stopped by
// SIGINT, SIGTERM or SIGHUP.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>
#endif

#include "file_io.h"
#include "match_files.h"
#include "options.h"
#include "patcher.h"
#include "stop.h"
#include "test_pause.h"

namespace {

using chronelle::Failure;
using chronelle::PatchResult;

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

// The command that makes the same change to the selected lines after
// `lastCue`. --to becomes the offset it found, which the first lines
// already have.
std::string finishCommand(const Options& o, const PatchResult& r, const std::string& path)
{
    std::string c = "chronelle-shift ";
    if (o.mode == "--add" || o.mode == "--remove" || o.mode == "--to")
        c += offsetArguments(r.offsetMs);
    else if (!o.pieces.empty())
        for (std::size_t i = 0; i < o.pieces.size(); ++i)
            c += (i ? " " : "") + o.mode + " " + shellWord(o.pieces[i]);
    else
        c += o.mode + " " + shellWord(o.modeText);
    if (!o.from.empty())
        c += " --from " + shellWord(o.from);
    if (!o.until.empty())
        c += " --until " + shellWord(o.until);
    c += " --cues " + std::to_string(r.lastCue + 1) + "-";
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
    case Failure::NoLineToMove: return "--to found no selected timing line to move";
    case Failure::NotSubtitles:
    case Failure::None: break;
    }
    return "failed";
}

// A file the probe refused.
void reportRefusal(const char* path, const PatchResult& r)
{
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
}

// What a file that failed part-way holds, with the command that finishes
// the job when it can; `what` gets where it stopped.
std::string partState(const char* path, const Options& o, const PatchResult& r, std::string& what)
{
    if (r.failure == Failure::Changed)
        return count(r.timingLines, "timing line", "timing lines") +
               " had been shifted when it was seen; look at the file";
    if (r.failure == Failure::Sync || r.failure == Failure::Close)
        return "all " + count(r.timingLines, "timing line was", "timing lines were") +
               " shifted, but may not all be on disk";
    std::string range = std::to_string(o.shift.selection.firstCue) + "-" + std::to_string(r.lastCue);
    if (!o.from.empty() || !o.until.empty())
        range = "the selected timing lines of " + range;
    what += " after timing line " + std::to_string(r.lastCue);
    if (r.tornAt >= 0)
        return range + " shifted; the next timing line, at byte " + std::to_string(r.tornAt) +
               ", may be half shifted: mend it by hand; the rest untouched";
    return range + " shifted, the rest untouched; to finish: " + finishCommand(o, r, path);
}

// Says what a failed file holds now, and how to finish the job when it can.
void reportFailure(const char* path, const Options& o, const PatchResult& r)
{
    if (r.failure == Failure::NotSubtitles)
        return reportRefusal(path, r);
    std::string what = failureText(r.failure);
    std::string reason;
    // A FIFO or device has no system error of its own to show.
    if (r.errnum && !(r.failure == Failure::NotRegular && r.errnum == EINVAL) &&
        r.failure != Failure::Busy)
        reason = std::string(": ") + std::strerror(r.errnum);
    std::string state = r.partlyWritten ? partState(path, o, r, what) : "the file was left untouched";
    std::fprintf(stderr, "chronelle-shift: %s: %s%s; %s\n", path, what.c_str(), reason.c_str(),
                 state.c_str());
}

// The lines a dry run would change: the first and the last few.
void printPreview(const PatchResult& r)
{
    int width = 1;
    for (const chronelle::LineChange& c : r.preview)
        width = std::max(width, int(std::to_string(c.line).size()));
    for (std::size_t i = 0; i < r.preview.size(); ++i) {
        if (i == chronelle::PreviewLines && r.changedLines > std::int64_t(r.preview.size()))
            std::printf("  ...\n");
        const chronelle::LineChange& c = r.preview[i];
        std::printf("  line %*lld: %s  =>  %s\n", width, static_cast<long long>(c.line),
                    c.before.c_str(), c.after.c_str());
    }
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
    if (!o.quiet) {
        std::printf("%s: %s %s\n", path, count(r.timingLines, "timing line", "timing lines").c_str(),
                    dry ? "would be shifted" : "shifted");
        if (dry)
            printPreview(r);
    }
    flushOut();
    return true;
}

// A file already named, also through a link or another path.
struct Seen {
    chronelle::FileInfo id;
    std::string name;
    bool shifted;  // or, in a dry run, would be
};

// One file named twice is shifted once: says so, and what became of it.
bool sameAsBefore(const char* path, const chronelle::FileInfo& id, const std::vector<Seen>& seen,
                  bool dryRun)
{
    for (const Seen& s : seen) {
        if (s.id.device != id.device || s.id.inode != id.inode)
            continue;
        const char* fate = !s.shifted ? "not tried again" : dryRun ? "would be shifted once" : "shifted once";
        std::fprintf(stderr, "chronelle-shift: %s: warning: the same file as %s; %s\n", path,
                     s.name.c_str(), fate);
        return true;
    }
    return false;
}

// Shifts each file in turn (with --match, by the change found for it);
// returns the exit status. A stop signal ends the
// batch: the files after it are not touched.
int shiftAll(char** begin, char** end, const Options& o, const Matching* matching)
{
    std::vector<Seen> seen;
    bool allShifted = true;
    for (char** file = begin; file < end; ++file) {
        const char* path = *file;
        if (int sig = chronelle::stopSignal()) {
            std::fprintf(stderr, "chronelle-shift: interrupted; %s and the files after it were not touched\n",
                         path);
            return 128 + sig;
        }
        chronelle::FileInfo id;
        bool known = chronelle::pathInfo(path, &id);
        if (known && sameAsBefore(path, id, seen, o.shift.dryRun))
            continue;
        // With --match, each file's own change, or its account when it has none.
        Options one = o;
        int status = matching ? matchFile(path, *matching, &one) : -1;
        if (status >= 0) {
            allShifted = status == 0 && allShifted;
            if (known)
                seen.push_back(Seen{id, path, false});
            continue;
        }
        PatchResult r;
        bool shifted = shiftOne(path, one, &r);
        allShifted = shifted && allShifted;
        if (known)
            seen.push_back(Seen{id, path, shifted});
        if (r.failure == Failure::Interrupted) {
            if (file + 1 < end)
                std::fprintf(stderr, "chronelle-shift: %s and the files after it were not touched\n",
                             file[1]);
            return 128 + r.signal;
        }
    }
    return allShifted ? 0 : 1;
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
    // Caught, these stop a shift between two writes, with an exact account.
    chronelle::catchStopSignals(false);
    Options o;
    int first = 0;
    int status = parseOptions(argc, argv, &o, &first);
    if (status >= 0)
        return finish(status);

    startTestPause();
    // --match: the film heard once for all the files.
    if (!o.match.empty() && (status = runMatchProgram(argv)) >= 0)
        return finish(status);
    Matching matching;
    if (!o.match.empty() && (status = startMatching(o, &matching)) >= 0)
        return finish(status);
    return finish(shiftAll(argv + first, argv + argc, o, o.match.empty() ? nullptr : &matching));
}
