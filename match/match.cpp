// From an alignment to one of the patcher's changes: the simplest one that
// says what was found (an offset, a frame-rate change, or two points of a
// linear change), written as chronelle-shift takes it and parsed back from
// that text, so that what is printed and what is applied are one.
#include "match.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>

#include "duration.h"
#include "probe.h"

namespace chronelle {

namespace {

// The earliest start and latest end: a linear change moves no cue further
// than it moves one of these.
std::int64_t firstStart(const std::vector<Cue>& cues)
{
    std::int64_t t = cues.front().startMs;
    for (const Cue& c : cues)
        t = std::min(t, c.startMs);
    return t;
}

std::int64_t lastEnd(const std::vector<Cue>& cues)
{
    std::int64_t t = 0;
    for (const Cue& c : cues)
        t = std::max(t, c.endMs);
    return t;
}

double largestMove(const Mapping& a, const Mapping& b, const std::vector<Cue>& cues)
{
    double d = 0;
    for (std::int64_t t : {firstStart(cues), lastEnd(cues)})
        d = std::max(d, std::abs(mapTime(a, double(t)) - mapTime(b, double(t))));
    return d;
}

std::string seconds(std::int64_t ms)
{
    char text[32];
    std::snprintf(text, sizeof text, "%lld.%03d", static_cast<long long>(ms / 1000), int(ms % 1000));
    std::string s = text;
    while (s.back() == '0')
        s.pop_back();
    if (s.back() == '.')
        s.pop_back();
    return s;
}

// Two cue starts far apart whose new times are both valid, and where the
// mapping takes them; false when there are none.
bool syncPoints(const Mapping& m, const std::vector<Cue>& cues, std::string* text)
{
    std::int64_t old1 = -1, old2 = -1;
    for (const Cue& c : cues) {
        std::int64_t to = std::llround(mapTime(m, double(c.startMs)));
        if (to < 0 || to > MaxTimeMs)
            continue;
        if (old1 < 0 || c.startMs < old1)
            old1 = c.startMs;
        if (c.startMs > old2)
            old2 = c.startMs;
    }
    if (old1 < 0 || old2 <= old1)
        return false;
    *text = syncTime(old1) + "=" + syncTime(std::llround(mapTime(m, double(old1)))) + "," +
            syncTime(old2) + "=" + syncTime(std::llround(mapTime(m, double(old2))));
    return true;
}

// Which change says it, in chronelle-shift's words.
void describe(Found& f, const std::vector<Cue>& cues)
{
    const Alignment& a = f.alignment;
    const Mapping& m = a.mapping;
    Mapping same;
    std::int64_t first = firstStart(cues), last = lastEnd(cues);
    f.offsetMs = std::llround(mapTime(m, double(first))) - first;
    f.driftMs = std::llround(mapTime(m, double(last))) - last - f.offsetMs;
    if (largestMove(m, same, cues) <= InTimeMs) {
        f.kind = ChangeKind::InTime;
        return;
    }
    if (m.scale == 1) {
        f.kind = ChangeKind::Offset;
        f.offsetMs = std::llround(m.offsetMs);
        f.mode = f.offsetMs < 0 ? "--remove" : "--add";
        f.text = seconds(std::llabs(f.offsetMs));
        f.retiming.offsetMs = f.offsetMs;
        return;
    }
    if (a.from >= 0 && !a.drift) {
        Mapping pure{m.scale, 0};
        if (largestMove(m, pure, cues) <= InTimeMs) {
            f.kind = ChangeKind::Rates;
            f.mode = "--fps";
            f.text = std::string(FrameRates[a.from].name) + ":" + FrameRates[a.to].name;
            f.retiming.kind = Retiming::Kind::Scale;
            if (!parseRates(f.text, &f.retiming.scale))
                f.sure = false;
            return;
        }
    }
    f.kind = ChangeKind::Linear;
    f.mode = "--sync";
    f.retiming.kind = Retiming::Kind::Scale;
    if (!syncPoints(m, cues, &f.text) || parseSync(f.text, &f.retiming.scale) != SyncError::None)
        f.sure = false;
}

// A piece's change as --piece takes it: the rates found (a scale that no
// two rates give, as a ratio of millionths), then its offset.
std::string pieceChange(const Alignment& a, const Mapping& m)
{
    std::string text;
    if (a.from >= 0 && !a.drift)
        text = std::string(FrameRates[a.from].name) + ":" + FrameRates[a.to].name;
    else if (m.scale != 1)
        text = std::to_string(std::llround(m.scale * 1e6)) + ":1000000";
    std::int64_t offset = std::llround(m.offsetMs);
    if (offset != 0 || text.empty())
        text += (offset < 0 ? "-" : "+") + seconds(std::llabs(offset));
    return text;
}

// The pieces found, as --piece options parsed back, so that what is printed
// is what is applied.
void describePieces(Found& f, const std::vector<Split>& splits)
{
    f.kind = ChangeKind::Pieces;
    f.mode = "--piece";
    f.retiming.kind = Retiming::Kind::Pieces;
    for (std::size_t k = 0; k < splits.size(); ++k) {
        const Split& s = splits[k];
        std::string text = (k == 0 ? std::string("0") : syncTime(s.fromMs)) + "-" +
                           (k + 1 < splits.size() ? syncTime(splits[k + 1].fromMs) : "") + "=" +
                           pieceChange(f.alignment, s.mapping);
        Piece p;
        if (parsePiece(text, false, &p) != PieceError::None)
            f.sure = false;
        f.pieces.push_back(text);
        f.retiming.pieces.push_back(p);
        f.found.push_back(
            FoundPiece{s.fromMs, std::llround(mapTime(s.mapping, double(s.fromMs))) - s.fromMs});
    }
    if (!sortPieces(f.retiming.pieces))
        f.sure = false;
    f.offsetMs = f.found.front().offsetMs;
}

}  // namespace

std::string syncTime(std::int64_t ms)
{
    char text[32];
    std::snprintf(text, sizeof text, "%d:%02d:%02d.%03d", int(ms / 3600000), int(ms / 60000 % 60),
                  int(ms / 1000 % 60), int(ms % 1000));
    return text;
}

bool subtitleReference(const std::string& path)
{
    std::string end = path.size() >= 4 ? path.substr(path.size() - 4) : "";
    for (char& c : end)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return end == ".srt" || probe(path).accepted;
}

Reference loadReference(const std::string& path, const MatchOptions& options)
{
    Reference r;
    if (subtitleReference(path)) {
        r.cuesResult = readCues(path);
        if (r.cuesResult.failure != CuesFailure::None) {
            r.failure = ReferenceFailure::Cues;
            return r;
        }
        r.tracks.push_back(cueTrack(r.cuesResult.cues));
        r.durationMs = std::int64_t(r.tracks[0].activity.size()) * FrameMs;
        return r;
    }
    r.film = true;
    SoundOptions so;
    so.track = options.track;
    so.progress = options.progress;
    so.user = options.user;
    so.stop = options.stop;
    r.soundResult = listen(path, so, &r.sound);
    if (r.soundResult.failure != SoundFailure::None) {
        r.failure = ReferenceFailure::Sound;
        return r;
    }
    r.durationMs = r.sound.frames * FrameMs;
    Hearing h = speechViews(r.sound, &r.tracks);
    if (h == Hearing::Silent)
        r.failure = ReferenceFailure::Silent;
    else if (h == Hearing::NoSpeech)
        r.failure = ReferenceFailure::NoSpeech;
    return r;
}

Found matchCues(const Reference& reference, const std::vector<Cue>& cues,
                const MatchOptions& options)
{
    Found f;
    AlignOptions ao;
    ao.maxOffsetMs = options.maxOffsetMs;
    f.alignment = align(reference.tracks, cues, ao);
    if (f.alignment.fit != Fit::Found)
        return f;
    f.confidence = f.alignment.score;
    f.sure = f.alignment.score >= SureScore && f.alignment.cues >= SureCues;
    f.doubt = f.alignment.cues < SureCues ? Doubt::FewCues : f.sure ? Doubt::None : Doubt::Weak;
    if (options.splits) {
        const Track& t = reference.tracks[std::size_t(f.alignment.track)];
        std::vector<Split> splits = splitFit(t, cues, f.alignment.mapping, options.maxOffsetMs);
        // Pieces are as sure as the least sure of them, and made only when
        // sure: a split that chance made is not; otherwise the whole's
        // change is made, or refused, as without splits.
        double score = 1;
        for (const Split& s : splits)
            score = std::min(score, s.score);
        if (splits.size() > 1 && score >= SureScore) {
            f.alignment.score = score;
            f.sure = f.alignment.cues >= SureCues;
            describePieces(f, splits);
            return f;
        }
    }
    describe(f, cues);
    return f;
}

}  // namespace chronelle
