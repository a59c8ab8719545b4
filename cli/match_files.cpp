// What chronelle-shift --match says: what it listened to, what it found for
// each file (in words, with its score and the time taken), the command that
// makes the same change, and why a file is left untouched.
#include "match_files.h"

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

#include "match.h"

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

// "1:52:03"
std::string clock(std::int64_t ms)
{
    char text[32];
    std::snprintf(text, sizeof text, "%d:%02d:%02d", int(ms / 3600000), int(ms / 60000 % 60),
                  int(ms / 1000 % 60));
    return text;
}

// "2.480 s"
std::string length(std::int64_t ms)
{
    char text[32];
    std::snprintf(text, sizeof text, "%s%lld.%03d s", ms < 0 ? "-" : "",
                  static_cast<long long>(std::llabs(ms) / 1000), int(std::llabs(ms) % 1000));
    return text;
}

std::string laterOrSooner(std::int64_t ms)
{
    return length(std::llabs(ms)) + (ms < 0 ? " sooner" : " later");
}

// An argument as a shell reads it back: quoted unless it is plainly safe.
std::string word(const std::string& w)
{
    if (!w.empty() && w.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                          "0123456789_./:,=+@%-") == std::string::npos)
        return w;
    std::string q = "'";
    for (char c : w)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

std::string command(const Options& o, const Found& f, const std::string& path)
{
    std::string c = "chronelle-shift";
    if (f.pieces.empty())
        c += " " + f.mode + " " + word(f.text);
    for (const std::string& p : f.pieces)
        c += " " + f.mode + " " + word(p);
    if (!o.shift.probeFirst)
        c += " --force";
    if (!o.shift.sync)
        c += " --no-sync";
    return c + (path[0] == '-' ? " -- " : " ") + word(path);
}

// "in 2 pieces, split at 0:05:02: 2.500 s later, then 17.500 s sooner"
std::string pieceWords(const Found& f)
{
    const chronelle::Alignment& a = f.alignment;
    std::string w;
    if (a.from >= 0 && !a.drift)
        w = std::string("timed for ") + chronelle::FrameRates[a.from].name + " fps, the film at " +
            chronelle::FrameRates[a.to].name + " fps; ";
    w += "in " + std::to_string(f.found.size()) + " pieces, split at ";
    for (std::size_t k = 1; k < f.found.size(); ++k)
        w += (k > 1 ? ", " : "") + clock(f.found[k].fromMs);
    w += ":";
    for (std::size_t k = 0; k < f.found.size(); ++k)
        w += (k ? ", then " : " ") + laterOrSooner(f.found[k].offsetMs);
    return w;
}

// What was found, in words.
std::string words(const Found& f)
{
    const chronelle::Alignment& a = f.alignment;
    switch (f.kind) {
    case ChangeKind::InTime: return "already in time";
    case ChangeKind::Offset: return laterOrSooner(f.offsetMs);
    case ChangeKind::Rates:
        return std::string("timed for ") + chronelle::FrameRates[a.from].name + " fps, the film runs at " +
               chronelle::FrameRates[a.to].name + " fps";
    case ChangeKind::Linear: break;
    case ChangeKind::Pieces: return pieceWords(f);
    }
    std::string w = laterOrSooner(f.offsetMs) + " at the first subtitle, " +
                    laterOrSooner(f.offsetMs + f.driftMs) + " at the last";
    if (a.from >= 0)
        w += std::string(" (timed for ") + chronelle::FrameRates[a.from].name + " fps, the film at " +
             chronelle::FrameRates[a.to].name + " fps)";
    return w;
}

// "film.mkv: listening... 42%" on a terminal, rewritten in place.
void progress(const chronelle::ProgressStep& step, void* user)
{
    std::fprintf(stderr, "\r%s: listening... %d%%", static_cast<const char*>(user),
                 int(step.fraction * 100 + 0.5));
}

std::string soundFailure(const Reference& r, const Options& o)
{
    const chronelle::Sound& s = r.sound;
    switch (r.soundResult.failure) {
    case SoundFailure::NotRegular: return "not a regular file";
    case SoundFailure::Open: return "cannot read it as a film: " + r.soundResult.detail;
    case SoundFailure::NoAudio: return "it has no audio track";
    case SoundFailure::NoSuchTrack:
        return "it has no audio track " + std::to_string(o.track) + " (it has " +
               std::to_string(s.tracks) + ")";
    case SoundFailure::Decoder: return "cannot decode its sound: " + r.soundResult.detail;
    case SoundFailure::Truncated:
        return "its sound stops at " + clock(s.frames * chronelle::FrameMs) + " of the " +
               clock(s.statedMs) + " it says it lasts: the file looks truncated";
    case SoundFailure::Stopped:
    case SoundFailure::None: break;
    }
    return "failed";
}

std::string referenceFailure(const Reference& r, const Options& o)
{
    switch (r.failure) {
    case ReferenceFailure::Sound: return soundFailure(r, o);
    case ReferenceFailure::Silent: return "its sound is silent";
    case ReferenceFailure::NoSpeech: return "no speech found in its sound";
    case ReferenceFailure::Cues:
        if (r.cuesResult.failure == chronelle::CuesFailure::NoTimingLine)
            return "no timing line in it";
        return std::string("cannot read it: ") + std::strerror(r.cuesResult.errnum);
    case ReferenceFailure::None: break;
    }
    return "failed";
}

void sayReference(const Options& o, const Reference& r, double took)
{
    if (o.quiet)
        return;
    if (r.film && o.track == 0 && r.sound.tracks > 1)
        std::printf("%s: listened to its %d audio tracks, %s, in %.2f s\n", o.match.c_str(), r.sound.tracks,
                    clock(r.durationMs).c_str(), took);
    else if (r.film)
        std::printf("%s: listened to audio track %d of %d (%s), %s, in %.2f s\n", o.match.c_str(), r.sound.track,
                    r.sound.tracks, r.sound.codec.c_str(), clock(r.durationMs).c_str(), took);
    else
        std::printf("%s: read %zu cues, %s, in %.2f s\n", o.match.c_str(), r.cuesResult.cues.size(),
                    clock(r.durationMs).c_str(), took);
}

// "audio track 2 of 2, " when the film has several.
std::string heardOn(const Reference& r, const chronelle::Alignment& a)
{
    if (!r.film || r.sound.tracks < 2)
        return "";
    return "audio track " + std::to_string(r.tracks[std::size_t(a.track)].audio) + " of " +
           std::to_string(r.sound.tracks) + ", ";
}

std::string percent(double v) { return std::to_string(int(std::floor(v * 100))) + " %"; }

std::string cuesFailure(const chronelle::CuesResult& c)
{
    switch (c.failure) {
    case chronelle::CuesFailure::Open:
        return std::string("cannot open: ") + std::strerror(c.errnum);
    case chronelle::CuesFailure::NotRegular: return "not a regular file";
    case chronelle::CuesFailure::Read: return std::string("read error: ") + std::strerror(c.errnum);
    case chronelle::CuesFailure::NoTimingLine: return "no timing line to match";
    case chronelle::CuesFailure::None: break;
    }
    return "failed";
}

// Why a file found no change that can be made; its status.
int sayNotFound(const char* path, const Options& o, const Reference& ref, const Found& f)
{
    const chronelle::Alignment& a = f.alignment;
    if (a.fit == chronelle::Fit::TooLong)
        std::fprintf(stderr, "chronelle-shift: %s: its subtitles last longer than %s (%s); the file was left untouched\n",
                     path, o.match.c_str(), clock(ref.durationMs).c_str());
    else if (a.fit == chronelle::Fit::TooFar)
        std::fprintf(stderr,
                     "chronelle-shift: %s: no offset within %s each way puts its subtitles in %s "
                     "(--max-offset allows more); the file was left untouched\n",
                     path, clock(o.maxOffsetMs).c_str(), o.match.c_str());
    else if (f.doubt == chronelle::Doubt::Cut)
        std::fprintf(stderr,
                     "chronelle-shift: %s: one change fits its subtitles up to a place and another after it: "
                     "the film looks cut%s; the file was left untouched\n",
                     path, o.splits ? ", and the place of the cut is not clear" : " (--splits matches it piece by piece)");
    else if (f.doubt == chronelle::Doubt::Rival) {
        std::vector<const Found*> all{&f};
        for (const Found& c : f.rivals)
            all.push_back(&c);
        std::string places;
        for (const Found* c : all)
            places += (places.empty() ? "" : ", ") +
                      (c->kind == ChangeKind::InTime ? std::string("in time as it is")
                                                     : words(*c) + " (" + command(o, *c, path) + ")");
        std::fprintf(stderr,
                     "chronelle-shift: %s: %zu places fit about as well: %s; the file was left untouched\n",
                     path, f.rivals.size() + 1, places.c_str());
    } else {
        std::string best = f.kind == ChangeKind::InTime ? "in time as it is"
                                                        : words(f) + " (" + command(o, f, path) + ")";
        std::string why = f.doubt == chronelle::Doubt::FewCues
                              ? "only " + std::to_string(a.cues) + " cues with speech, " +
                                    std::to_string(chronelle::SureCues) + " needed"
                              : "confidence " + percent(f.confidence) + ", " +
                                    percent(chronelle::SureConfidence) + " needed";
        std::fprintf(stderr,
                     "chronelle-shift: %s: no sure match (%s%s); the best candidate: %s; the file was "
                     "left untouched\n",
                     path, heardOn(ref, a).c_str(), why.c_str(), best.c_str());
    }
    return 1;
}

}  // namespace

int startMatching(const Options& o, Matching* matching)
{
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
        std::fprintf(stderr, "chronelle-shift: interrupted while listening to %s; no file was touched\n",
                     o.match.c_str());
        return 128 + r.soundResult.signal;
    }
    if (r.failure != ReferenceFailure::None) {
        std::fprintf(stderr, "chronelle-shift: %s: %s; no file was touched\n", o.match.c_str(),
                     referenceFailure(r, o).c_str());
        return 1;
    }
    sayReference(o, r, seconds(start));
    return -1;
}

int matchFile(const char* path, const Matching& matching, Options* one)
{
    auto start = std::chrono::steady_clock::now();
    chronelle::CuesResult cues = chronelle::readCues(path);
    if (cues.failure != chronelle::CuesFailure::None) {
        std::fprintf(stderr, "chronelle-shift: %s: %s; the file was left untouched\n", path,
                     cuesFailure(cues).c_str());
        return 1;
    }
    chronelle::MatchOptions mo;
    mo.maxOffsetMs = one->maxOffsetMs;
    mo.splits = one->splits;
    Found f = chronelle::matchCues(*matching.reference, cues.cues, mo);
    if (f.alignment.fit != chronelle::Fit::Found || !f.sure)
        return sayNotFound(path, *one, *matching.reference, f);
    char score[128];
    std::snprintf(score, sizeof score, "%sconfidence %s, found in %.2f s",
                  heardOn(*matching.reference, f.alignment).c_str(), percent(f.confidence).c_str(), seconds(start));
    if (f.kind == ChangeKind::InTime) {
        if (!one->quiet)
            std::printf("%s: already in time (%s); left as it is\n", path, score);
        return 0;
    }
    if (!one->quiet)
        std::printf("%s: %s (%s)\n%s: the same as %s\n", path, words(f).c_str(), score, path,
                    command(*one, f, path).c_str());
    one->mode = f.mode;
    one->modeText = f.text;
    one->pieces = f.pieces;
    one->shift.retiming = f.retiming;
    return -1;
}
