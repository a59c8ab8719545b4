// From an alignment to one of the patcher's changes: the simplest one that
// says what was found (an offset, a frame-rate change, or two points of a
// linear change), written as chronelle-shift takes it and parsed back from
// that text, so that what is printed and what is applied are one.
#include "match.h"

#include <algorithm>
#include <cctype>
#include <cmath>

#include "confidence_model.h"
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
    *text = formatTime(old1, '.') + "=" + formatTime(std::llround(mapTime(m, double(old1))), '.') +
            "," + formatTime(old2, '.') + "=" +
            formatTime(std::llround(mapTime(m, double(old2))), '.');
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
        f.text = formatOffset(std::llabs(f.offsetMs));
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
        text += (offset < 0 ? "-" : "+") + formatOffset(std::llabs(offset));
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
        std::string text = (k == 0 ? std::string("0") : formatTime(s.fromMs, '.')) + "-" +
                           (k + 1 < splits.size() ? formatTime(splits[k + 1].fromMs, '.') : "") +
                           "=" + pieceChange(f.alignment, s.mapping);
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

// How often a change found with this evidence is right: the logistic curve
// fitted on films of their own (bench/voices/calibrate.py). The evidence:
// how far the agreeing cues stand above chance, their share of the cues,
// how far the best stands above its nearest rival and what share of the
// best's cues the rival has where they differ, and how many cues there are.
double confidenceOf(const double* weights, double agree, double chance, std::size_t cues,
                    const Rival* rival)
{
    double aboveChance = std::min((agree - chance) / std::sqrt(chance + 1), 20.0) / 10;
    double share = agree / double(std::max<std::size_t>(cues, 1));
    double margin = rival ? std::min(rival->margin(), 10.0) / 10 : 1;
    double rivalShare =
        rival ? std::min(double(rival->agreeFor) / double(std::max<std::size_t>(rival->bestFor, 1)),
                         2.0)
              : 0;
    double x[] = {aboveChance,
                  share,
                  margin,
                  rivalShare,
                  std::log10(double(std::max<std::size_t>(cues, 1))),
                  1};
    double z = 0;
    for (int k = 0; k < 6; ++k)
        z += weights[k] * x[k];
    return 1 / (1 + std::exp(-z));
}

// A rival fits about as well as the best where it puts the cues elsewhere.
bool asWell(const Rival& r) { return double(r.agreeFor) >= RivalShare * double(r.bestFor); }

// Whether the best change and a rival on the same track each hold one side
// of the cues, clearly: a film cut (a scene lost, a break put in), which no
// one change puts in time.
bool cutAgainst(const Alignment& a, const Rival& r)
{
    const std::vector<char>&best = a.agrees, &other = r.agrees;
    std::size_t n = best.size();
    if (r.track != a.track || other.size() != n || n < 2 * PieceCues)
        return false;
    // How many of the first k cues agree with each.
    std::vector<double> x(n + 1, 0), y(n + 1, 0);
    for (std::size_t i = 0; i < n; ++i) {
        x[i + 1] = x[i] + best[i];
        y[i + 1] = y[i] + other[i];
    }
    // How far more of cues [from, to) agree with one than with the other.
    auto ahead = [&](bool first, std::size_t from, std::size_t to) {
        double p = x[to] - x[from], q = y[to] - y[from];
        return (first ? p - q : q - p) / std::sqrt(p + q + 1);
    };
    for (std::size_t k = PieceCues; k + PieceCues <= n; ++k)
        for (bool bestFirst : {true, false})
            if (ahead(bestFirst, 0, k) >= CutGain && ahead(!bestFirst, k, n) >= CutGain)
                return true;
    return false;
}

void weigh(Found& f, const double* weights)
{
    Alignment& a = f.alignment;
    const Rival* rival = a.rivals.empty() ? nullptr : &a.rivals.front();
    f.confidence = confidenceOf(weights, double(a.agree), a.chance, a.cues, rival);
    // A rival is told only beside a best change that stands well above
    // chance itself: two places that fit a periodic film, not two that
    // chance made.
    double aboveChance = (double(a.agree) - a.chance) / std::sqrt(a.chance + 1);
    bool plausible =
        aboveChance >= RivalAboveChance && double(a.agree) >= RivalAgreeShare * double(a.cues);
    bool cut = false;
    for (const Rival& r : a.rivals)
        cut = cut || cutAgainst(a, r);
    if (a.cues < SureCues)
        f.doubt = Doubt::FewCues;
    else if (cut)
        f.doubt = Doubt::Cut;
    else if (f.confidence >= SureConfidence)
        f.doubt = Doubt::None;
    else if (rival && plausible && asWell(*rival))
        f.doubt = Doubt::Rival;
    else
        f.doubt = Doubt::Weak;
    f.sure = f.doubt == Doubt::None;
}

// The progress of listening to several tracks, one after the other.
struct Listening {
    const MatchOptions& options;
    int done, of;
};

void listening(const ProgressStep& step, void* user)
{
    const Listening* l = static_cast<const Listening*>(user);
    ProgressStep whole = step;
    whole.fraction = (l->done + step.fraction) / l->of;
    l->options.progress(whole, l->options.user);
}

// The views of one audio track's sound, added to `tracks`, each knowing
// which track it is of.
Hearing heardTracks(Sound& sound, std::vector<Track>* tracks)
{
    std::vector<Track> views;
    Hearing h = speechViews(sound, &views);
    for (Track& t : views) {
        t.audio = sound.track;
        tracks->push_back(std::move(t));
    }
    return h;
}

}  // namespace

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
    // The film's default audio track (or the one asked for); then, when it
    // has several and none was asked for, the others too: the default may
    // be music and effects alone, or a commentary, and the voices' track is
    // the one the cues fit.
    Listening l{options, 0, 1};
    SoundOptions so;
    so.track = options.track;
    so.progress = options.progress ? listening : nullptr;
    so.user = &l;
    so.stop = options.stop;
    r.soundResult = listen(path, so, &r.sound);
    if (r.soundResult.failure != SoundFailure::None) {
        r.failure = ReferenceFailure::Sound;
        return r;
    }
    r.durationMs = r.sound.frames * FrameMs;
    int heard = r.sound.track;
    Hearing h = heardTracks(r.sound, &r.tracks);
    l.of = options.track == 0 ? r.sound.tracks : 1;
    for (int k = 1; k <= r.sound.tracks && options.track == 0; ++k) {
        if (k == heard)
            continue;
        ++l.done;
        Sound other;
        so.track = k;
        SoundResult result = listen(path, so, &other);
        if (result.failure == SoundFailure::Stopped) {
            r.soundResult = result;
            r.failure = ReferenceFailure::Sound;
            return r;
        }
        if (result.failure == SoundFailure::None &&
            heardTracks(other, &r.tracks) == Hearing::Speech)
            h = Hearing::Speech;
    }
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
    const double* weights = reference.film ? ConfidenceWeights : ReferenceConfidenceWeights;
    weigh(f, weights);
    if (options.splits) {
        const Track& t = reference.tracks[std::size_t(f.alignment.track)];
        // The pieces share a scale. The whole's may lean a little to fit
        // cues that a cut put elsewhere: near a frame rate's, it is that.
        Mapping whole = f.alignment.mapping;
        int from = f.alignment.from, to = f.alignment.to;
        bool ratio = ratioNear(whole.scale, 0.0005, &from, &to, &whole.scale);
        // The rivals' places too, as offsets on that scale through the
        // middle of the cues: a cut's other side is often one of them.
        std::vector<double> also;
        double middle = double(cues.front().startMs + cues.back().endMs) / 2;
        for (const Rival& r : f.alignment.rivals)
            if (r.track == f.alignment.track)
                also.push_back(mapTime(r.mapping, middle) - whole.scale * middle);
        std::vector<Split> splits = splitFit(t, cues, whole, also, options.maxOffsetMs);
        // Pieces are made only when each is sure on its own cues and one at
        // least agrees with clearly more of them than the whole's change
        // did: a split that chance made is not; otherwise the whole's change
        // is made, or refused, as without splits.
        double least = 1, gain = 0;
        std::size_t first = 0;
        for (const Split& s : splits) {
            least = std::min(
                least,
                s.sure ? confidenceOf(weights, double(s.agree), s.chance, s.cues, nullptr) : 0.5);
            // Its own cues, that agreed with the whole's change.
            std::size_t before = 0;
            for (std::size_t i = first; i < first + s.cues; ++i)
                before += std::size_t(f.alignment.agrees[i]);
            double p = double(s.agree), w = double(before);
            gain = std::max(gain, (p - w) / std::sqrt(p + w + 1));
            first += s.cues;
        }
        if (splits.size() > 1 && least >= SureConfidence && gain >= CutGain) {
            f.confidence = least * (f.alignment.cues >= SureCues);
            f.doubt = f.alignment.cues < SureCues ? Doubt::FewCues : Doubt::None;
            f.sure = f.doubt == Doubt::None;
            if (ratio) {
                f.alignment.from = from;
                f.alignment.to = to;
                f.alignment.drift = false;
            }
            describePieces(f, splits);
            return f;
        }
    }
    describe(f, cues);
    // The places that fit about as well, told with a refusal.
    for (const Rival& r : f.alignment.rivals) {
        if (f.doubt != Doubt::Rival || !asWell(r))
            continue;
        Found other;
        other.alignment = f.alignment;
        other.alignment.rivals.clear();
        other.alignment.mapping = r.mapping;
        other.alignment.track = r.track;
        other.alignment.from = r.from;
        other.alignment.to = r.to;
        other.alignment.drift = r.from < 0 && r.mapping.scale != 1;
        other.alignment.agree = r.agree;
        describe(other, cues);
        f.rivals.push_back(std::move(other));
    }
    return f;
}

}  // namespace chronelle
