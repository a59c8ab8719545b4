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

// After windows.h, which it needs.
#include <shellapi.h>
#endif

#include "duration.h"
#include "file_io.h"
#include "match_files.h"
#include "options.h"
#include "patcher.h"
#include "stop.h"
#include "test_pause.h"
#include "words.h"

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
    complain(_("cannot write to standard output: %s"), std::strerror(stdoutError));
    return status == 0 ? 1 : status;
}

// An offset in milliseconds as --add or --remove takes it back.
std::vector<std::string> offsetArguments(std::int64_t ms)
{
    return {ms < 0 ? "--remove" : "--add", chronelle::formatOffset(ms < 0 ? -ms : ms)};
}

// The command that makes the same change to the selected lines after
// `lastCue`. --to becomes the offset it found, which the first lines
// already have.
std::string finishCommand(const Options& o, const PatchResult& r, const std::string& path)
{
    std::vector<std::string> change;
    if (o.mode == "--add" || o.mode == "--remove" || o.mode == "--to")
        change = offsetArguments(r.offsetMs);
    else if (!o.pieces.empty())
        for (const std::string& piece : o.pieces)
            change.insert(change.end(), {o.mode, piece});
    else
        change = {o.mode, o.modeText};
    std::string cues = std::to_string(r.lastCue + 1) + "-";
    if (o.shift.selection.lastCue != chronelle::NoLimit)
        cues += std::to_string(o.shift.selection.lastCue);
    return shiftCommand(change, o, cues, path);
}

const char* failureText(Failure failure)
{
    switch (failure) {
    case Failure::Open: return _("cannot open for reading and writing");
    case Failure::NotRegular: return _("not a regular file");
    case Failure::Busy: return _("another process is shifting this file");
    case Failure::Read: return _("read error");
    case Failure::Write: return _("write error");
    case Failure::Sync: return _("cannot make sure the file is on disk");
    case Failure::Close: return _("error when closing");
    case Failure::Interrupted: return _("interrupted");
    case Failure::Changed:
        return _("the file changed size while it was being shifted: another program is writing it");
    case Failure::NoLineToMove: return _("--to found no selected timing line to move");
    case Failure::NotSubtitles:
    case Failure::None: break;
    }
    return _("failed");
}

// What a file that failed part-way holds, with the command that finishes
// the job when it can; `what` gets where it stopped.
std::string partState(const char* path, const Options& o, const PatchResult& r, std::string& what)
{
    long long n = r.timingLines;
    if (r.failure == Failure::Changed)
        return format(
            ngettext("%lld timing line had been shifted when it was seen; look at the file",
                     "%lld timing lines had been shifted when it was seen; look at the file",
                     plural(n)),
            n);
    if (r.failure == Failure::Sync || r.failure == Failure::Close)
        return format(
            ngettext("all %lld timing line was shifted, but may not all be on disk",
                     "all %lld timing lines were shifted, but may not all be on disk", plural(n)),
            n);
    what = format(_("%s after timing line %lld"), what.c_str(), static_cast<long long>(r.lastCue));
    // From the first line shifted: the lines before it were in no piece, or
    // not selected.
    bool selected = !o.from.empty() || !o.until.empty() || !o.pieces.empty();
    long long first = r.firstCue, last = r.lastCue;
    if (r.tornAt >= 0) {
        const char* torn =
            selected ? _("the selected timing lines of %lld-%lld shifted; the next timing "
                         "line, at byte %lld, may be half shifted: mend it by hand; the "
                         "rest untouched")
                     : _("%lld-%lld shifted; the next timing line, at byte %lld, may be "
                         "half shifted: mend it by hand; the rest untouched");
        return format(torn, first, last, static_cast<long long>(r.tornAt));
    }
    const char* rest =
        selected ? _("the selected timing lines of %lld-%lld shifted, the rest untouched; "
                     "to finish: %s")
                 : _("%lld-%lld shifted, the rest untouched; to finish: %s");
    return format(rest, first, last, finishCommand(o, r, path).c_str());
}

// Says what a failed file holds now, and how to finish the job when it can.
void reportFailure(const char* path, const Options& o, const PatchResult& r)
{
    if (r.failure == Failure::NotSubtitles)
        return sayRefused(path, r.probe);
    std::string what = failureText(r.failure);
    std::string state =
        r.partlyWritten ? partState(path, o, r, what) : _("the file was left untouched");
    // A FIFO or device has no system error of its own to show.
    if (r.errnum && !(r.failure == Failure::NotRegular && r.errnum == EINVAL) &&
        r.failure != Failure::Busy)
        complain(_("%s: %s: %s; %s"), path, what.c_str(), std::strerror(r.errnum), state.c_str());
    else
        complain(_("%s: %s; %s"), path, what.c_str(), state.c_str());
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
        std::printf(_("  line %*lld: %s  =>  %s\n"), width, static_cast<long long>(c.line),
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
    long long held = r.clampedTimes, n = r.timingLines;
    if (held > 0)
        complain(
            dry ? ngettext("%s: warning: %lld time would be held at 00:00:00,000 or 99:59:59,999",
                           "%s: warning: %lld times would be held at 00:00:00,000 or 99:59:59,999",
                           plural(held))
                : ngettext("%s: warning: %lld time was held at 00:00:00,000 or 99:59:59,999",
                           "%s: warning: %lld times were held at 00:00:00,000 or 99:59:59,999",
                           plural(held)),
            path, held);
    if (!o.quiet) {
        std::printf(dry ? ngettext("%s: %lld timing line would be shifted\n",
                                   "%s: %lld timing lines would be shifted\n", plural(n))
                        : ngettext("%s: %lld timing line shifted\n",
                                   "%s: %lld timing lines shifted\n", plural(n)),
                    path, n);
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
        const char* fate = !s.shifted ? _("%s: warning: the same file as %s; not tried again")
                           : dryRun   ? _("%s: warning: the same file as %s; would be shifted once")
                                      : _("%s: warning: the same file as %s; shifted once");
        complain(fate, path, s.name.c_str());
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
            complain(_("interrupted; %s and the files after it were not touched"), path);
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
                complain(_("%s and the files after it were not touched"), file[1]);
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
    startLanguage();
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
    if (!o.match.empty() && (status = startMatching(o, argv + first, argv + argc, &matching)) >= 0)
        return finish(status);
    return finish(shiftAll(argv + first, argv + argc, o, o.match.empty() ? nullptr : &matching));
}
