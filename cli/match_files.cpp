// What chronelle-shift --match says: what it listened to, what it found for
// each file (in words, with its confidence and the time taken), the command that
// makes the same change, and why a file is left untouched.
#include "match_files.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#ifdef _WIN32
#include <io.h>
#define isatty _isatty
#else
#include <unistd.h>
#endif

#include "duration.h"
#include "match.h"
#include "words.h"

namespace {

using chronelle::ChangeKind;
using chronelle::Found;
using chronelle::Reference;
using chronelle::ReferenceFailure;
using chronelle::SoundFailure;

double seconds(std::chrono::steady_clock::time_point since)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// "2.480 s"
std::string length(std::int64_t ms) { return decimal(chronelle::formatSeconds(ms)) + " s"; }

std::string laterOrSooner(std::int64_t ms)
{
    return format(ms < 0 ? _("%s sooner") : _("%s later"), length(std::llabs(ms)).c_str());
}

// The frame rate `i` of FrameRates, as people write it.
std::string rate(int i) { return decimal(chronelle::FrameRates[i].name); }

std::string command(const Options& o, const Found& f, const std::string& path)
{
    std::vector<std::string> change;
    if (f.pieces.empty())
        change = {f.mode, f.text};
    for (const std::string& p : f.pieces)
        change.insert(change.end(), {f.mode, p});
    return shiftCommand(change, o, "", path);
}

// "in 2 pieces, split at 0:05:02: 2.500 s later, then 17.500 s sooner"
std::string pieceWords(const Found& f)
{
    const chronelle::Alignment& a = f.alignment;
    std::string splits, changes;
    for (std::size_t k = 1; k < f.found.size(); ++k)
        splits += (k > 1 ? ", " : "") + chronelle::formatClock(f.found[k].fromMs);
    for (std::size_t k = 0; k < f.found.size(); ++k)
        changes = k == 0 ? laterOrSooner(f.found[k].offsetMs)
                         : format(_("%s, then %s"), changes.c_str(),
                                  laterOrSooner(f.found[k].offsetMs).c_str());
    std::string w = format(_("in %d pieces, split at %s: %s"), int(f.found.size()), splits.c_str(),
                           changes.c_str());
    if (a.from >= 0 && !a.drift)
        return format(_("timed for %s fps, the film at %s fps; %s"), rate(a.from).c_str(),
                      rate(a.to).c_str(), w.c_str());
    return w;
}

// What was found, in words.
std::string words(const Found& f)
{
    const chronelle::Alignment& a = f.alignment;
    switch (f.kind) {
    case ChangeKind::InTime: return _("already in time");
    case ChangeKind::Offset: return laterOrSooner(f.offsetMs);
    case ChangeKind::Rates:
        return format(_("timed for %s fps, the film runs at %s fps"), rate(a.from).c_str(),
                      rate(a.to).c_str());
    case ChangeKind::Linear: break;
    case ChangeKind::Pieces: return pieceWords(f);
    }
    std::string first = laterOrSooner(f.offsetMs), last = laterOrSooner(f.offsetMs + f.driftMs);
    if (a.from >= 0)
        return format(
            _("%s at the first subtitle, %s at the last (timed for %s fps, the film at %s fps)"),
            first.c_str(), last.c_str(), rate(a.from).c_str(), rate(a.to).c_str());
    return format(_("%s at the first subtitle, %s at the last"), first.c_str(), last.c_str());
}

// "film.mkv: listening... 42%" on a terminal, rewritten in place.
void progress(const chronelle::ProgressStep& step, void* user)
{
    std::string shown = format(_("%s: listening... %d%%"), static_cast<const char*>(user),
                               int(step.fraction * 100 + 0.5));
    std::fprintf(stderr, "\r%s", shown.c_str());
}

std::string soundFailure(const Reference& r, const Options& o)
{
    const chronelle::Sound& s = r.sound;
    const char* detail = r.soundResult.detail.c_str();
    switch (r.soundResult.failure) {
    case SoundFailure::NotRegular: return _("not a regular file");
    case SoundFailure::Open: return format(_("cannot read it as a film: %s"), detail);
    case SoundFailure::NoAudio: return _("it has no audio track");
    case SoundFailure::NoSuchTrack:
        return format(_("it has no audio track %d (it has %d)"), o.track, s.tracks);
    case SoundFailure::Decoder: return format(_("cannot decode its sound: %s"), detail);
    case SoundFailure::Truncated:
        return format(
            _("its sound stops at %s of the %s it says it lasts: the file looks truncated"),
            chronelle::formatClock(s.frames * chronelle::FrameMs).c_str(),
            chronelle::formatClock(s.statedMs).c_str());
    case SoundFailure::Stopped:
    case SoundFailure::None: break;
    }
    return _("failed");
}

std::string referenceFailure(const Reference& r, const Options& o)
{
    switch (r.failure) {
    case ReferenceFailure::Sound: return soundFailure(r, o);
    case ReferenceFailure::Silent: return _("its sound is silent");
    case ReferenceFailure::NoSpeech: return _("no speech found in its sound");
    case ReferenceFailure::Cues:
        if (r.cuesResult.failure == chronelle::CuesFailure::NoTimingLine)
            return _("no timing line in it");
        if (r.cuesResult.failure == chronelle::CuesFailure::NotRegular)
            return _("not a regular file");
        return format(_("cannot read it: %s"), std::strerror(r.cuesResult.errnum));
    case ReferenceFailure::None: break;
    }
    return _("failed");
}

void sayReference(const Options& o, const Reference& r, double took)
{
    if (o.quiet)
        return;
    if (r.film && o.track == 0 && r.sound.tracks > 1)
        std::printf(_("%s: listened to its %d audio tracks, %s, in %s s\n"), o.match.c_str(),
                    r.sound.tracks, chronelle::formatClock(r.durationMs).c_str(),
                    decimal(took, 2).c_str());
    else if (r.film)
        std::printf(_("%s: listened to audio track %d of %d (%s), %s, in %s s\n"), o.match.c_str(),
                    r.sound.track, r.sound.tracks, r.sound.codec.c_str(),
                    chronelle::formatClock(r.durationMs).c_str(), decimal(took, 2).c_str());
    else
        std::printf(ngettext("%s: read %d cue, %s, in %s s\n", "%s: read %d cues, %s, in %s s\n",
                             plural(std::int64_t(r.cuesResult.cues.size()))),
                    o.match.c_str(), int(r.cuesResult.cues.size()),
                    chronelle::formatClock(r.durationMs).c_str(), decimal(took, 2).c_str());
}

// "audio track 2 of 2, " when the film has several.
std::string heardOn(const Reference& r, const chronelle::Alignment& a)
{
    if (!r.film || r.sound.tracks < 2)
        return "";
    return format(_("audio track %d of %d, "), r.tracks[std::size_t(a.track)].audio,
                  r.sound.tracks);
}

// "97 %": a confidence, never rounded up to what it is not.
std::string percent(double v) { return format(_("%d %%"), int(std::floor(v * 100))); }

// A change found, in words and as the command that makes it.
std::string candidate(const Options& o, const Found& f, const std::string& path)
{
    return f.kind == ChangeKind::InTime ? _("in time as it is")
                                        : words(f) + " (" + command(o, f, path) + ")";
}

std::string cuesFailure(const chronelle::CuesResult& c)
{
    switch (c.failure) {
    case chronelle::CuesFailure::Open: return format(_("cannot open: %s"), std::strerror(c.errnum));
    case chronelle::CuesFailure::NotRegular: return _("not a regular file");
    case chronelle::CuesFailure::Read: return format(_("read error: %s"), std::strerror(c.errnum));
    case chronelle::CuesFailure::NoTimingLine: return _("no timing line to match");
    case chronelle::CuesFailure::None: break;
    }
    return _("failed");
}

// Why a file found no change that can be made; its status.
int sayNotFound(const char* path, const Options& o, const Reference& ref, const Found& f)
{
    const chronelle::Alignment& a = f.alignment;
    if (a.fit == chronelle::Fit::TooLong) {
        complain(_("%s: its subtitles last longer than %s (%s); the file was left untouched"), path,
                 o.match.c_str(), chronelle::formatClock(ref.durationMs).c_str());
        return 1;
    }
    if (a.fit == chronelle::Fit::TooFar) {
        complain(
            _("%s: no offset within %s each way puts its subtitles in %s (--max-offset allows more); "
              "the file was left untouched"),
            path, chronelle::formatClock(o.maxOffsetMs).c_str(), o.match.c_str());
        return 1;
    }
    if (f.doubt == chronelle::Doubt::Cut) {
        complain(
            o.splits
                ? _("%s: one change fits its subtitles up to a place and another after it: the film "
                    "looks cut, and the place of the cut is not clear; the file was left untouched")
                : _("%s: one change fits its subtitles up to a place and another after it: the film "
                    "looks cut (--splits matches it piece by piece); the file was left untouched"),
            path);
        return 1;
    }
    if (f.doubt == chronelle::Doubt::Rival) {
        std::vector<const Found*> all{&f};
        for (const Found& c : f.rivals)
            all.push_back(&c);
        std::string places;
        for (const Found* c : all)
            places += (places.empty() ? "" : ", ") + candidate(o, *c, path);
        complain(ngettext("%s: %d place fits about as well: %s; the file was left untouched",
                          "%s: %d places fit about as well: %s; the file was left untouched",
                          plural(std::int64_t(all.size()))),
                 path, int(all.size()), places.c_str());
        return 1;
    }
    std::string why =
        f.doubt == chronelle::Doubt::FewCues
            ? format(ngettext("only %d cue with speech, %d needed",
                              "only %d cues with speech, %d needed", plural(std::int64_t(a.cues))),
                     int(a.cues), int(chronelle::SureCues))
            : format(_("confidence %s, %s needed"), percent(f.confidence).c_str(),
                     percent(chronelle::SureConfidence).c_str());
    complain(_("%s: no sure match (%s%s); the best candidate: %s; the file was left untouched"),
             path, heardOn(ref, a).c_str(), why.c_str(), candidate(o, f, path).c_str());
    return 1;
}

// Whether the file at `path` can take a change found for it: its cues in
// `cues` when it can, else its reason, said when `say`.
bool matchable(const char* path, const Options& o, bool say, chronelle::CuesResult* cues)
{
    // Refused as a shift would refuse it.
    if (o.shift.probeFirst) {
        chronelle::ProbeResult probe = chronelle::probe(path);
        if (probe.opened && !probe.accepted) {
            if (say)
                sayRefused(path, probe);
            return false;
        }
    }
    *cues = chronelle::readCues(path);
    if (cues->failure != chronelle::CuesFailure::None) {
        if (say)
            complain(_("%s: %s; the file was left untouched"), path, cuesFailure(*cues).c_str());
        return false;
    }
    return true;
}

}  // namespace

int startMatching(const Options& o, char** begin, char** end, Matching* matching)
{
    // No film is heard (minutes, for a long one) when every file would be
    // refused anyway: each is then refused with its reason.
    chronelle::CuesResult cues;
    if (std::none_of(begin, end, [&](const char* p) { return matchable(p, o, false, &cues); }))
        return -1;

    // A subtitle file has no tracks to choose from.
    if (o.track != 0 && chronelle::subtitleReference(o.match))
        return usageError(
            format(_("--track goes with a film: %s is a subtitle file"), o.match.c_str()));
    chronelle::MatchOptions mo;
    mo.maxOffsetMs = o.maxOffsetMs;
    mo.track = o.track;
    bool showing = !o.quiet && isatty(2);
    if (showing) {
        mo.progress = progress;
        mo.user = const_cast<char*>(o.match.c_str());
    }
    auto start = std::chrono::steady_clock::now();
    matching->reference = std::make_shared<Reference>(chronelle::loadReference(o.match, mo));
    const Reference& r = *matching->reference;
    if (showing && r.film)
        std::fprintf(stderr, "\r\033[K");
    if (r.soundResult.failure == SoundFailure::Stopped) {
        complain(_("interrupted while listening to %s; no file was touched"), o.match.c_str());
        return 128 + r.soundResult.signal;
    }
    if (r.failure != ReferenceFailure::None) {
        complain(_("%s: %s; no file was touched"), o.match.c_str(), referenceFailure(r, o).c_str());
        return 1;
    }
    sayReference(o, r, seconds(start));
    return -1;
}

int matchFile(const char* path, const Matching& matching, Options* one)
{
    auto start = std::chrono::steady_clock::now();
    chronelle::CuesResult cues;
    if (!matchable(path, *one, true, &cues) || !matching.reference)
        return 1;
    chronelle::MatchOptions mo;
    mo.maxOffsetMs = one->maxOffsetMs;
    mo.splits = one->splits;
    Found f = chronelle::matchCues(*matching.reference, cues.cues, mo);
    if (f.alignment.fit != chronelle::Fit::Found || !f.sure)
        return sayNotFound(path, *one, *matching.reference, f);
    std::string score = format(_("%sconfidence %s, found in %s s"),
                               heardOn(*matching.reference, f.alignment).c_str(),
                               percent(f.confidence).c_str(), decimal(seconds(start), 2).c_str());
    if (f.kind == ChangeKind::InTime) {
        if (!one->quiet)
            std::printf(_("%s: already in time (%s); left as it is\n"), path, score.c_str());
        return 0;
    }
    if (!one->quiet) {
        std::printf(_("%s: %s (%s)\n"), path, words(f).c_str(), score.c_str());
        std::printf(_("%s: the same as %s\n"), path, command(*one, f, path).c_str());
    }
    one->mode = f.mode;
    one->modeText = f.text;
    one->pieces = f.pieces;
    one->shift.retiming = f.retiming;
    return -1;
}
