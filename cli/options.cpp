// Reading chronelle-shift's command line: one change, the selections, the
// switches; every mistake is a usage error that names what was wrong.
#include "options.h"

#include <getopt.h>

#include <algorithm>
#include <cstdio>
#include <utility>
#include <vector>

#include "duration.h"
#include "words.h"

#ifndef CHRONELLE_VERSION
#define CHRONELLE_VERSION "0"
#endif

namespace {

using chronelle::Retiming;

const char* const Usage = N_(
    "usage: chronelle-shift CHANGE [--from TIME] [--until TIME] [--cues RANGE]\n"
    "                       [-n|--dry-run] [-f|--force] [-q|--quiet] [--no-sync] FILE...\n"
    "       chronelle-shift --match FILM|REFERENCE.srt [--splits] [--max-offset DURATION]\n"
    "                       [--track N] [-n|--dry-run] [-f|--force] [-q|--quiet] [--no-sync] FILE...\n"
    "       chronelle-shift -h|--help\n"
    "       chronelle-shift -V|--version\n"
    "CHANGE is one of -a|--add DURATION, -r|--remove DURATION, --to TIME,\n"
    "--sync OLD1=NEW1,OLD2=NEW2, --fps FROM:TO, or one or more --piece\n"
    "FROM-UNTIL=CHANGE or --piece-cues N-M=CHANGE.\n");

// The help after the usage, a paragraph at a time for the translators; the
// list of options in three, which no blank line parts.
struct Paragraph {
    const char* text;
    bool spaced;      // after a blank line
    bool translated;  // the examples are commands, the same in every language
};
const Paragraph Help[] = {
    {N_("Changes the timing lines of SubRip (.srt) files in place. Only the digits of\n"
        "the times change: nothing else in a file, and its length stays the same.\n"
        "No backup is made.\n"),
     true, true},
    {N_("One change:\n"
        "  -a, --add DURATION     add DURATION to every time: subtitles appear later\n"
        "  -r, --remove DURATION  remove DURATION from every time: they appear sooner\n"
        "      --to TIME          one offset, that makes the first selected subtitle\n"
        "                         start at TIME\n"
        "      --sync OLD1=NEW1,OLD2=NEW2\n"
        "                         two points read off the video: a time at OLD1 goes\n"
        "                         to NEW1, one at OLD2 to NEW2, all others in between\n"
        "                         and beyond in proportion\n"
        "      --fps FROM:TO      subtitles timed for a FROM fps video, played at TO fps\n"
        "                         (25, 23.976, 30000/1001 ...)\n"
        "      --piece FROM-UNTIL=CHANGE\n"
        "                         the subtitles that start at FROM or later and before\n"
        "                         UNTIL (either may be left out) by their own CHANGE:\n"
        "                         +DURATION, -DURATION, FROM:TO rates, or rates then\n"
        "                         an offset (25:23.976+2.5); given once per piece, the\n"
        "                         pieces must not overlap; subtitles in none stay\n"
        "      --piece-cues N-M=CHANGE\n"
        "                         the same by position, counted from 1 in the file\n"
        "      --match FILM|REFERENCE.srt\n"
        "                         find the change: the one that puts each FILE in time\n"
        "                         with the speech of FILM (any video or audio file)\n"
        "                         or with a well-timed subtitle file; it is printed\n"
        "                         as the command that makes it, then made. A file\n"
        "                         whose match is not sure enough is left untouched\n"
        "      --splits           with --match: a film with cuts (a scene or an advert\n"
        "                         break taken out or put in): matched piece by piece\n"
        "      --max-offset DURATION\n"
        "                         with --match: look this far each way (default 10:00)\n"
        "      --track N          with --match: the film's Nth audio track (from 1)\n"
        "                         rather than its default one\n"),
     true, true},
    {N_("Which timing lines (all by default; when several are given, those that all\n"
        "of them select):\n"
        "      --from TIME        those that start at TIME or later\n"
        "      --until TIME       those that start before TIME\n"
        "      --cues RANGE       those at these positions, counted from 1 in the\n"
        "                         file: N, N-M, N- or -M\n"),
     false, true},
    {N_("Other options:\n"
        "  -n, --dry-run          show what would change, write nothing\n"
        "  -f, --force            change files that do not look like subtitles\n"
        "  -q, --quiet            print nothing on success\n"
        "      --no-sync          do not wait for the disk (scratch copies, benchmarks)\n"
        "  -h, --help             show this help\n"
        "  -V, --version          show the version\n"),
     false, true},
    {N_("DURATION and TIME are seconds (5, 2.5, 0,250), M:SS (1:30) or H:MM:SS\n"
        "(0:00:05,000, 1:02:03.5), with an optional fraction of 1 to 3 digits after\n"
        "'.' or ','. Times are held between 00:00:00,000 and 99:59:59,999; a change\n"
        "other than an offset rounds to the nearest millisecond.\n"),
     true, true},
    {N_("Examples:\n"), true, true},
    {"  chronelle-shift --add 2.5 film.srt\n"
     "  chronelle-shift --from 0:42:10 --remove 1,200 film.srt\n"
     "  chronelle-shift --to 0:00:41,300 film.srt\n"
     "  chronelle-shift --sync 0:01:02,500=0:01:04,000,1:35:10=1:35:15,800 film.srt\n"
     "  chronelle-shift --fps 25:23.976 film.srt\n"
     "  chronelle-shift --piece 0-5:00=+2.5 --piece 5:00-=-17.5 film.srt\n"
     "  chronelle-shift --match film.mkv film.srt\n",
     false, false},
    {N_("If a change is stopped (Ctrl-C, a full disk), the file holds its first timing\n"
        "lines changed and the rest untouched, and the message gives the command that\n"
        "finishes the job.\n"),
     true, true},
    {N_("Exit status: 0 every file changed, 1 a file refused or failed (the others\n"
        "are still processed), 2 usage error (nothing touched), 128 + N when stopped\n"
        "by signal N (130 Ctrl-C, 143 SIGTERM, 129 SIGHUP; later files untouched).\n"),
     true, true},
};

void printHelp()
{
    std::fputs(_(Usage), stdout);
    for (const Paragraph& p : Help) {
        if (p.spaced)
            std::fputs("\n", stdout);
        std::fputs(p.translated ? _(p.text) : p.text, stdout);
    }
}

enum LongOnly {
    OptCues = 1000,
    OptNoSync,
    OptTo,
    OptSync,
    OptFps,
    OptFrom,
    OptUntil,
    OptMatch,
    OptMaxOffset,
    OptTrack,
    OptPiece,
    OptPieceCues,
    OptSplits,
};

// What was wrong with an option getopt turned away, named as it was typed.
// `letter` is getopt's optopt: an unknown short option's letter, 0 for an
// unknown long option, or the value of a long one given a value it does
// not take (whose argument `arg` then is).
std::string badOption(const std::string& arg, int letter, const option* longOptions)
{
    bool known = letter >= OptCues;
    for (const option* l = longOptions; l->name; ++l)
        known = known || (letter != 0 && l->val == letter);
    if (!known && letter != 0)
        return format(_("unknown option '-%c'"), char(letter));
    std::size_t equals = arg.find('=');
    if (known && equals != std::string::npos)
        return format(_("option '%s' takes no value: '%s'"), arg.substr(0, equals).c_str(),
                      arg.c_str());
    return format(_("unknown option '%s'"), arg.c_str());
}

// The one change, from its option and argument; -1 to go on, or 2.
int readChange(const std::string& mode, const std::string& text, Retiming* r)
{
    if (mode == "--add" || mode == "--remove") {
        chronelle::Shift duration;
        if (!chronelle::parseDuration(text, &duration))
            return usageError(format(_("bad duration '%s'"), text.c_str()));
        std::int64_t ms = chronelle::toMilliseconds(duration);
        r->offsetMs = mode == "--add" ? ms : -ms;
        return -1;
    }
    if (mode == "--to") {
        r->kind = Retiming::Kind::To;
        if (!chronelle::parseTime(text, &r->targetMs))
            return usageError(format(_("bad time '%s'"), text.c_str()));
        return -1;
    }
    r->kind = Retiming::Kind::Scale;
    if (mode == "--fps") {
        if (!chronelle::parseRates(text, &r->scale))
            return usageError(
                format(_("bad rates '%s' (FROM:TO, each a decimal or N/D)"), text.c_str()));
        return -1;
    }
    switch (chronelle::parseSync(text, &r->scale)) {
    case chronelle::SyncError::None: return -1;
    case chronelle::SyncError::Form:
        return usageError(
            format(_("bad sync '%s' (OLD1=NEW1,OLD2=NEW2, four times)"), text.c_str()));
    case chronelle::SyncError::Ambiguous:
        return usageError(
            format(_("ambiguous sync '%s': write the fractions with '.'"), text.c_str()));
    case chronelle::SyncError::SameOld:
        return usageError(_("--sync needs two different old times"));
    case chronelle::SyncError::Reversed:
        return usageError(
            _("--sync must keep the subtitles in order: NEW2 after NEW1 when OLD2 is "
              "after OLD1"));
    }
    return 2;
}

bool isPiece(const std::string& mode) { return mode == "--piece" || mode == "--piece-cues"; }

// Every --piece (or --piece-cues) into one change; -1 to go on, or 2.
int readPieces(const std::vector<std::pair<std::string, std::string>>& given, Options* o)
{
    Retiming& r = o->shift.retiming;
    r.kind = Retiming::Kind::Pieces;
    r.piecesByCue = given[0].first == "--piece-cues";
    o->mode = given[0].first;
    for (const auto& g : given) {
        chronelle::Piece p;
        switch (chronelle::parsePiece(g.second, r.piecesByCue, &p)) {
        case chronelle::PieceError::None: break;
        case chronelle::PieceError::Form:
            return usageError(format(r.piecesByCue ? _("bad piece '%s' (N-M=CHANGE)")
                                                   : _("bad piece '%s' (FROM-UNTIL=CHANGE)"),
                                     g.second.c_str()));
        case chronelle::PieceError::Range:
            return usageError(
                format(_("bad piece '%s': its end must come after its start"), g.second.c_str()));
        case chronelle::PieceError::Change:
            return usageError(
                format(_("bad piece '%s': its change is +DURATION, -DURATION, FROM:TO or "
                         "FROM:TO+DURATION"),
                       g.second.c_str()));
        }
        r.pieces.push_back(p);
        o->pieces.push_back(g.second);
    }
    if (!chronelle::sortPieces(r.pieces))
        return usageError(_("the pieces overlap: each subtitle may be in one piece only"));
    return -1;
}

// --max-offset DURATION or --track N.
bool readMatchSetting(bool track, const std::string& text, Options* o)
{
    if (!track) {
        chronelle::Shift d;
        if (!chronelle::parseDuration(text, &d))
            return false;
        o->maxOffsetMs = chronelle::toMilliseconds(d);
        return true;
    }
    if (text.empty() || text.size() > 3 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    o->track = std::stoi(text);
    return o->track > 0;
}

// --match finds one change for whole files; -1 to go on, or 2.
int checkMatch(const std::string& reference, const std::vector<std::string>& given, Options* o)
{
    for (const std::string& g : given)
        if (g == "--from" || g == "--until" || g == "--cues")
            return usageError(
                format(_("--match changes whole files: %s cannot go with it"), g.c_str()));
    if (reference.empty())
        return usageError(_("--match needs a film or a subtitle file"));
    o->match = reference;
    return -1;
}

}  // namespace

int usageError(const std::string& what)
{
    complain("%s", what.c_str());
    std::fputs(_(Usage), stderr);
    return 2;
}

int parseOptions(int argc, char** argv, Options* o, int* first)
{
    static const option longOptions[] = {
        {"add", required_argument, nullptr, 'a'},
        {"remove", required_argument, nullptr, 'r'},
        {"to", required_argument, nullptr, OptTo},
        {"sync", required_argument, nullptr, OptSync},
        {"fps", required_argument, nullptr, OptFps},
        {"match", required_argument, nullptr, OptMatch},
        {"max-offset", required_argument, nullptr, OptMaxOffset},
        {"track", required_argument, nullptr, OptTrack},
        {"piece", required_argument, nullptr, OptPiece},
        {"piece-cues", required_argument, nullptr, OptPieceCues},
        {"splits", no_argument, nullptr, OptSplits},
        {"from", required_argument, nullptr, OptFrom},
        {"until", required_argument, nullptr, OptUntil},
        {"cues", required_argument, nullptr, OptCues},
        {"dry-run", no_argument, nullptr, 'n'},
        {"force", no_argument, nullptr, 'f'},
        {"quiet", no_argument, nullptr, 'q'},
        {"no-sync", no_argument, nullptr, OptNoSync},
        {"help", no_argument, nullptr, 'h'},
        {"version", no_argument, nullptr, 'V'},
        {nullptr, 0, nullptr, 0},
    };
    std::vector<std::pair<std::string, std::string>> changes;  // each one given
    std::vector<std::string> given;                            // the selections given
    chronelle::Selection& sel = o->shift.selection;
    o->shift.probeFirst = true;
    opterr = 0;
    int c;
    while ((c = getopt_long(argc, argv, ":a:r:nfqhV", longOptions, nullptr)) != -1) {
        std::string name;
        for (const option& l : longOptions)
            if (l.name && l.val == c)
                name = std::string("--") + l.name;
        switch (c) {
        case 'a':
        case 'r':
        case OptTo:
        case OptSync:
        case OptFps:
        case OptPiece:
        case OptPieceCues:
        case OptMatch: changes.emplace_back(name, optarg); continue;
        case OptSplits: o->splits = true; continue;
        case 'h': printHelp(); return 0;
        case 'V': std::printf("chronelle-shift %s\n", CHRONELLE_VERSION); return 0;
        // Named as typed: getopt only keeps the letter of a short option.
        case ':': return usageError(format(_("option '%s' needs a value"), argv[optind - 1]));
        case '?': return usageError(badOption(argv[optind - 1], optopt, longOptions));
        }
        // A selection or setting is given once; a switch may come again.
        if (c == OptFrom || c == OptUntil || c == OptCues || c == OptMaxOffset || c == OptTrack) {
            for (const std::string& g : given)
                if (g == name)
                    return usageError(format(_("%s given more than once"), name.c_str()));
            given.push_back(name);
        }
        switch (c) {
        case OptFrom:
        case OptUntil:
            if (!chronelle::parseTime(optarg, c == OptFrom ? &sel.fromMs : &sel.untilMs))
                return usageError(format(_("bad time '%s'"), optarg));
            (c == OptFrom ? o->from : o->until) = optarg;
            break;
        case OptCues:
            if (!chronelle::parseRange(optarg, chronelle::NoLimit, &sel.firstCue, &sel.lastCue))
                return usageError(format(_("bad range '%s' (N, N-M, N- or -M)"), optarg));
            break;
        case OptMaxOffset:
        case OptTrack:
            if (!readMatchSetting(c == OptTrack, optarg, o))
                return usageError(
                    format(c == OptTrack ? _("bad track '%s'") : _("bad duration '%s'"), optarg));
            break;
        case 'n': o->shift.dryRun = true; break;
        case 'f': o->shift.probeFirst = false; break;
        case 'q': o->quiet = true; break;
        case OptNoSync: o->shift.sync = false; break;
        }
    }
    if (changes.empty())
        return usageError(
            _("missing the change: --add, --remove, --to, --sync, --fps, --piece or --match"));
    for (std::size_t i = 1; i < changes.size(); ++i)
        if (changes[i].first != changes[0].first)
            return usageError(isPiece(changes[i].first) && isPiece(changes[0].first)
                                  ? _("give the pieces all by time (--piece) or all by position "
                                      "(--piece-cues)")
                                  : _("give only one of --add, --remove, --to, --sync, --fps, "
                                      "--piece and --match"));
    if (changes.size() > 1 && !isPiece(changes[0].first))
        return usageError(format(_("%s given more than once"), changes[0].first.c_str()));
    int status = -1;
    if (changes[0].first == "--match")
        status = checkMatch(changes[0].second, given, o);
    else if (std::find(given.begin(), given.end(), "--max-offset") != given.end() ||
             std::find(given.begin(), given.end(), "--track") != given.end())
        status = usageError(_("--max-offset and --track go with --match"));
    else if (o->splits)
        status = usageError(_("--splits goes with --match"));
    else if (isPiece(changes[0].first))
        status = readPieces(changes, o);
    else {
        o->mode = changes[0].first;
        o->modeText = changes[0].second;
        status = readChange(o->mode, o->modeText, &o->shift.retiming);
    }
    if (status >= 0)
        return status;
    if (!o->from.empty() && !o->until.empty() && sel.untilMs <= sel.fromMs)
        return usageError(_("--until must be later than --from"));
    if (optind >= argc)
        return usageError(_("no FILE given"));
    *first = optind;
    return -1;
}
