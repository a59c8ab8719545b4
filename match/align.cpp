// The alignment. First, for each frame-rate ratio, the cross-correlation of
// the cues' extent with each track over every offset allowed, in one pass
// with libavutil's FFT; the best peak and how far it stands above any other
// give the candidate and its score. Then, by direct sums over the cues, the
// offset to the millisecond (where speech begins counts as much as its
// extent, which a subtitle shown longer than its line blurs), and a drift
// no ratio explains: the offsets of a dozen stretches of the film, and the
// line through them.
#include "align.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include "fft.h"
#include "threads.h"

namespace chronelle {

namespace {

constexpr double Frame = FrameMs;
constexpr double Inside = 0.9;       // of the cues' time must fall in the track
// What the best is set against includes changes that leave up to half the
// cues out: without them, subtitles about as long as the film would have
// nothing to be set against.
constexpr double LooseInside = 0.5;
constexpr double SimplerBy = 0.01;   // a simpler change is kept unless beaten by this

struct Ratio {
    int from = -1, to = -1;
    double value = 1;
};

// 1, then every ratio of two frame rates, each value once.
std::vector<Ratio> ratios()
{
    std::vector<Ratio> out(1);
    int n = int(sizeof FrameRates / sizeof FrameRates[0]);
    for (int f = 0; f < n; ++f)
        for (int t = 0; t < n; ++t) {
            std::int64_t num = FrameRates[f].num * FrameRates[t].den;
            std::int64_t den = FrameRates[f].den * FrameRates[t].num;
            bool seen = false;
            for (const Ratio& r : out)
                seen = seen || std::abs(r.value - double(num) / double(den)) < 1e-12;
            if (!seen)
                out.push_back(Ratio{f, t, double(num) / double(den)});
        }
    return out;
}

}  // namespace

// The cues that hold speech (all of them if none does), less those shown
// for no time at all, as times held at 00:00:00,000 leave them: they say
// nothing of when anyone speaks.
std::vector<Cue> speechCues(const std::vector<Cue>& cues)
{
    std::vector<Cue> out, shown;
    for (const Cue& c : cues)
        if (c.endMs > c.startMs) {
            shown.push_back(c);
            if (!c.soundOnly)
                out.push_back(c);
        }
    return out.empty() ? shown : out;
}

// The sum of activity over frames [0, x), x in frames, with the frame x
// falls in taken in part.
double sumTo(const Track& t, double x)
{
    std::size_t n = t.activity.size();
    if (x <= 0)
        return 0;
    if (x >= double(n))
        return t.sums[n];
    std::size_t i = std::size_t(x);
    return t.sums[i] + (x - double(i)) * t.activity[i];
}

double onsetAt(const Track& t, double x)
{
    std::size_t n = t.onsets.size();
    if (x < 0 || x >= double(n - 1))
        return 0;
    std::size_t i = std::size_t(x);
    double f = x - double(i);
    return t.onsets[i] * (1 - f) + t.onsets[i + 1] * f;
}

// The correlation of the cues' extent with the activity (times
// `boxWeight`) plus that of their starts with the onsets.
double fitnessOf(const Track& t, const Cue* from, const Cue* to, const Mapping& m,
                 double boxWeight)
{
    double box = 0, onset = 0, length = 0;
    for (const Cue* c = from; c != to; ++c) {
        double s = mapTime(m, double(c->startMs)) / Frame, e = mapTime(m, double(c->endMs)) / Frame;
        box += sumTo(t, e) - sumTo(t, s);
        // Onsets are measured at the middle of their frames.
        onset += onsetAt(t, s - 0.5);
        length += e - s;
    }
    double n = double(t.activity.size());
    length = std::min(length, n * 0.999);
    double boxNorm = t.activityNorm * std::sqrt(length * (1 - length / n));
    double onsetNorm = t.onsetNorm * std::sqrt(double(to - from));
    return (boxNorm > 0 ? boxWeight * box / boxNorm : 0) + (onsetNorm > 0 ? onset / onsetNorm : 0);
}

// The offset within `half` ms of `centre`, by steps of `step`, that fits
// best (with the cues' extent weighed by `boxWeight`).
static double bestOffset(const Track& t, const Cue* from, const Cue* to, Mapping m, double centre,
                  double half, double step, double boxWeight)
{
    double best = centre, bestFit = -1e300;
    for (double d = -half; d <= half + step / 2; d += step) {
        m.offsetMs = centre + d;
        double f = fitnessOf(t, from, to, m, boxWeight);
        if (f > bestFit) {
            bestFit = f;
            best = m.offsetMs;
        }
    }
    return best;
}

// The offset, within `halfMs` of the mapping's, that fits best: by 40 ms
// then 10 ms, then to the millisecond within 100 ms of that by the starts
// alone. A subtitle shown longer than its line leaves its extent a range of
// equally good places, and their starts then decide.
Mapping refineOffset(const Track& t, const Cue* from, const Cue* to, Mapping m, double halfMs)
{
    double best = m.offsetMs;
    if (halfMs > 200)
        best = bestOffset(t, from, to, m, best, halfMs, 40, 1);
    best = bestOffset(t, from, to, m, best, halfMs > 200 ? 40 : halfMs, 10, 1);
    best = bestOffset(t, from, to, m, best, 100, 5, 0);
    m.offsetMs = bestOffset(t, from, to, m, best, 5, 1, 0);
    return m;
}

namespace {

// The longest FFT used. libavutil 57 (FFmpeg 5.1, Debian 12's) slows down
// sharply past this length and all but stops at twice it; the coarse
// search works on bins of several frames so as to stay within it.
constexpr int LongestFft = 1 << 16;

// The best peak of one ratio on one track.
struct Peak {
    int ratio = 0, track = 0;
    std::int64_t lag = 0;  // bins
    double rho = -2, second = -2;
    bool any = false;
    // The best where only half the cues need to fall in the track.
    std::int64_t looseLag = 0;
    double looseRho = -2;
};

struct Search {
    const std::vector<Track>* tracks;
    const std::vector<Cue>* cues;
    std::vector<Ratio> ratios;
    int bin = 1;              // frames a bin
    std::vector<std::vector<float>> binned;            // each track, by bins
    std::vector<double> binnedNorm;
    std::vector<std::vector<AVComplexFloat>> spectra;  // of each binned track
    int n = 0;                // FFT length
    std::int64_t lags = 0;    // searched each way, in bins
    std::int64_t exclude = 0; // bins around a peak that belong to it
    std::vector<Peak> peaks;  // ratio by track
};

// The cues under `ratio`, bin by bin the part of it that a cue covers, in
// the FFT's buffer, with their prefix sums. Returns the total covered,
// counting what fell past the buffer, and the sum of squares of what it
// holds in `squares`.
double cueBins(const Search& s, double ratio, float* out, std::vector<double>& sums, double* squares)
{
    std::int64_t room = std::int64_t(s.n) - s.lags - 1;
    std::fill(out, out + s.n, 0.0f);
    double total = 0, width = Frame * s.bin;
    for (const Cue& c : *s.cues) {
        double a = ratio * double(c.startMs) / width, b = ratio * double(c.endMs) / width;
        total += b - a;
        for (std::int64_t k = std::max<std::int64_t>(0, std::int64_t(a));
             k < std::min(std::int64_t(std::ceil(b)), room); ++k)
            out[k] = std::min(1.0f, out[k] + float(std::min(b, double(k + 1)) - std::max(a, double(k))));
    }
    sums.assign(std::size_t(room) + 1, 0);
    *squares = 0;
    for (std::int64_t k = 0; k < room; ++k) {
        sums[std::size_t(k) + 1] = sums[std::size_t(k)] + out[k];
        *squares += double(out[k]) * out[k];
    }
    return total;
}

void searchRatio(Search& s, Fft& fft, int r, std::vector<double>& sums)
{
    double squares = 0;
    double total = cueBins(s, s.ratios[std::size_t(r)].value, fft.real(), sums, &squares);
    fft.forward();
    std::vector<AVComplexFloat> cues(fft.spectrum(), fft.spectrum() + fft.bins());
    std::int64_t room = std::int64_t(sums.size()) - 1;
    for (std::size_t v = 0; v < s.tracks->size(); ++v) {
        std::int64_t na = std::int64_t(s.binned[v].size());
        for (std::size_t k = 0; k < fft.bins(); ++k) {
            const AVComplexFloat a = s.spectra[v][k], c = cues[k];
            fft.spectrum()[k] = AVComplexFloat{a.re * c.re + a.im * c.im, a.im * c.re - a.re * c.im};
        }
        fft.inverse();
        double held = sums.back();
        double spread = squares - held * held / double(na);
        double norm = s.binnedNorm[v] * std::sqrt(std::max(spread, 0.0));
        Peak& p = s.peaks[std::size_t(r) * s.tracks->size() + v];
        p.ratio = r;
        p.track = int(v);
        std::vector<float> rho(std::size_t(2 * s.lags + 1), -2.0f);
        for (std::int64_t d = -s.lags; d <= s.lags; ++d) {
            std::int64_t hi = std::min(room, na - d), lo = std::max<std::int64_t>(0, -d);
            double inside = hi > lo ? sums[std::size_t(hi)] - sums[std::size_t(lo)] : 0;
            if (inside < LooseInside * total || norm <= 0)
                continue;
            float value = float(fft.real()[d >= 0 ? d : s.n + d] / norm);
            rho[std::size_t(d + s.lags)] = value;
            if (value > p.looseRho) {
                p.looseRho = value;
                p.looseLag = d;
            }
            if (inside >= Inside * total && value > p.rho) {
                p.rho = value;
                p.lag = d;
                p.any = true;
            }
        }
        for (std::int64_t d = -s.lags; d <= s.lags; ++d)
            if (std::llabs(d - p.lag) > s.exclude)
                p.second = std::max(p.second, double(rho[std::size_t(d + s.lags)]));
    }
}

struct Worker {
    Search* search;
    Fft* fft;
    int first, step;
};

void searchRatios(void* p)
{
    Worker& w = *static_cast<Worker*>(p);
    std::vector<double> sums;
    for (int r = w.first; r < int(w.search->ratios.size()); r += w.step)
        searchRatio(*w.search, *w.fft, r, sums);
}

// Each track by bins, and its FFT, for the correlations.
bool trackSpectra(Search& s)
{
    Fft fft(s.n);
    if (!fft.ready())
        return false;
    for (const Track& t : *s.tracks) {
        std::vector<float> b((t.activity.size() + std::size_t(s.bin) - 1) / std::size_t(s.bin), 0.0f);
        for (std::size_t i = 0; i < t.activity.size(); ++i)
            b[i / std::size_t(s.bin)] += t.activity[i] / float(s.bin);
        double squares = 0;
        for (float v : b)
            squares += double(v) * v;
        std::fill(fft.real(), fft.real() + s.n, 0.0f);
        std::copy(b.begin(), b.end(), fft.real());
        fft.forward();
        s.spectra.emplace_back(fft.spectrum(), fft.spectrum() + fft.bins());
        s.binned.push_back(std::move(b));
        s.binnedNorm.push_back(std::sqrt(squares));
    }
    return true;
}

std::int64_t medianLength(const std::vector<Cue>& cues)
{
    std::vector<std::int64_t> l;
    for (const Cue& c : cues)
        l.push_back(c.endMs - c.startMs);
    std::nth_element(l.begin(), l.begin() + std::ptrdiff_t(l.size() / 2), l.end());
    return l[l.size() / 2];
}

// Bins as small as the longest FFT allows, and the FFT's length.
void sizeSearch(Search& s, std::int64_t frames, std::int64_t lagFrames)
{
    s.bin = 1;
    for (;;) {
        s.lags = (lagFrames + s.bin - 1) / s.bin;
        std::int64_t need = (frames + s.bin - 1) / s.bin + 2 * s.lags + 1;
        if (need <= LongestFft) {
            s.n = 1024;
            while (s.n < need)
                s.n *= 2;
            return;
        }
        ++s.bin;
    }
}

// Every ratio on every track, the ratios shared between two threads.
Fit coarseSearch(Search& s, const AlignOptions& o)
{
    std::int64_t longest = 0, lastEnd = 0;
    for (const Track& t : *s.tracks)
        longest = std::max<std::int64_t>(longest, std::int64_t(t.activity.size()));
    for (const Cue& c : *s.cues)
        lastEnd = std::max(lastEnd, c.endMs);
    // No offset beyond the film's length and the cues' can put them in it.
    std::int64_t lagFrames = std::min<std::int64_t>(o.maxOffsetMs / FrameMs,
                                                   longest + std::int64_t(lastEnd / Frame * 1.3));
    sizeSearch(s, longest, lagFrames);
    s.exclude = std::max<std::int64_t>(300, medianLength(*s.cues) * 3 / 2 / FrameMs) / s.bin;
    s.ratios = ratios();
    s.peaks.assign(s.ratios.size() * s.tracks->size(), Peak());
    if (!trackSpectra(s))
        return Fit::TooFar;
    // Set up before the threads start, so that a failure stops here.
    Fft fa(s.n), fb(s.n);
    if (!fa.ready() || !fb.ready())
        return Fit::TooFar;
    Worker a{&s, &fa, 0, 2}, b{&s, &fb, 1, 2};
    runBoth(searchRatios, &a, searchRatios, &b);
    for (const Peak& p : s.peaks)
        if (p.any)
            return Fit::Found;
    // Nothing fits: because the cues last longer than the track, or
    // because they lie further off than was searched.
    std::int64_t firstStart = s.cues->front().startMs;
    for (const Cue& c : *s.cues)
        firstStart = std::min(firstStart, c.startMs);
    return double(lastEnd - firstStart) > double(longest) * Frame ? Fit::TooLong : Fit::TooFar;
}

Mapping peakMapping(const Search& s, const Peak& p)
{
    return Mapping{s.ratios[std::size_t(p.ratio)].value, double(p.lag) * Frame * s.bin};
}

// How far the peak stands above the best of any other change of the cues:
// elsewhere on its own ratio, or on another ratio where that puts the cues
// somewhere else (a ratio of 1.001 on a short film puts them in the same
// places). 1 when nothing else fits at all, 0 when something fits as well.
double score(const Search& s, const Peak& p)
{
    if (p.rho <= 0)
        return 0;
    double second = std::max(p.second, 0.0);
    Mapping m = peakMapping(s, p);
    double apartMs = double(s.exclude * s.bin) * Frame;
    for (const Peak& q : s.peaks) {
        if (q.track != p.track || q.ratio == p.ratio || q.looseRho <= second)
            continue;
        Mapping other{s.ratios[std::size_t(q.ratio)].value, double(q.looseLag) * Frame * s.bin};
        for (double t : {double(s.cues->front().startMs), double(s.cues->back().endMs)})
            if (std::abs(mapTime(m, t) - mapTime(other, t)) > apartMs) {
                second = q.looseRho;
                break;
            }
    }
    return std::max(0.0, 1 - second / p.rho);
}

// Mapped centres and offsets of a dozen stretches of cues, each found on its
// own within the drift allowed, and the line through them (Theil and Sen's:
// the median of the slopes between every two, so that a stretch matched
// wrong does not bend it).
bool driftLine(const Track& t, const std::vector<Cue>& cues, const Mapping& m, double maxDrift,
               Mapping* out)
{
    std::size_t k = std::min<std::size_t>(16, cues.size() / 12);
    if (k < 4)
        return false;
    double span = mapTime(m, double(cues.back().endMs)) - mapTime(m, double(cues.front().startMs));
    std::vector<double> x, y;
    for (std::size_t i = 0; i < k; ++i) {
        const Cue* from = cues.data() + i * cues.size() / k;
        const Cue* to = cues.data() + (i + 1) * cues.size() / k;
        Mapping local = refineOffset(t, from, to, m, maxDrift * span + 1000);
        double centre = 0;
        for (const Cue* c = from; c != to; ++c)
            centre += mapTime(m, double(c->startMs));
        x.push_back(centre / double(to - from));
        y.push_back(local.offsetMs - m.offsetMs);
    }
    std::vector<double> slopes;
    for (std::size_t i = 0; i < k; ++i)
        for (std::size_t j = i + 1; j < k; ++j)
            if (x[j] - x[i] > 1)
                slopes.push_back((y[j] - y[i]) / (x[j] - x[i]));
    if (slopes.empty())
        return false;
    std::nth_element(slopes.begin(), slopes.begin() + std::ptrdiff_t(slopes.size() / 2), slopes.end());
    double slope = slopes[slopes.size() / 2];
    if (std::abs(slope) > maxDrift)
        return false;
    std::vector<double> rest;
    for (std::size_t i = 0; i < k; ++i)
        rest.push_back(y[i] - slope * x[i]);
    std::nth_element(rest.begin(), rest.begin() + std::ptrdiff_t(k / 2), rest.end());
    out->scale = m.scale * (1 + slope);
    out->offsetMs = m.offsetMs * (1 + slope) + rest[k / 2];
    return true;
}

// The line through the stretches' offsets is good to a few tens of ms at
// the ends; this turns it about the middle of the cues in steps of 5 ms at
// the ends, 100 ms each way, with the offset free within 30 ms, and keeps
// what fits best.
Mapping refineScale(const Track& t, const Cue* from, const Cue* to, Mapping m)
{
    double first = double(from->startMs), last = double((to - 1)->endMs);
    double middle = (first + last) / 2, half = (last - first) / 2;
    if (half <= 0)
        return m;
    Mapping best = m;
    double bestFit = fitnessOf(t, from, to, m);
    double pivot = mapTime(m, middle);
    for (int k = -20; k <= 20; ++k) {
        Mapping q;
        q.scale = m.scale + k * 5.0 / half;
        for (double d = -30; d <= 30; d += 2) {
            q.offsetMs = pivot + d - q.scale * middle;
            double f = fitnessOf(t, from, to, q);
            if (f > bestFit) {
                bestFit = f;
                best = q;
            }
        }
    }
    return refineOffset(t, from, to, best, 10);
}

// How far apart two mappings put the cues, at most (ms).
double apart(const Mapping& a, const Mapping& b, const std::vector<Cue>& cues)
{
    double d = 0;
    for (double t : {double(cues.front().startMs), double(cues.back().endMs)})
        d = std::max(d, std::abs(mapTime(a, t) - mapTime(b, t)));
    return d;
}

// Of the peaks on one track, the best one, and the one without a ratio.
const Peak& bestOf(const Search& s, std::size_t track, bool anyRatio)
{
    const Peak* best = &s.peaks[track];
    for (std::size_t r = 1; anyRatio && r < s.ratios.size(); ++r) {
        const Peak& p = s.peaks[r * s.tracks->size() + track];
        if (p.any && p.rho > best->rho)
            best = &p;
    }
    return *best;
}

// Of the ratios whose peaks come near the best one on track `v`, the one
// whose refined offset fits best; no ratio at all unless that does clearly
// better. (On a short film, a ratio of 1.001 moves the cues too little for
// the coarse search to tell.)
Mapping chooseRatio(const Search& s, std::size_t v, double near, const Peak** chosen)
{
    const Track& t = (*s.tracks)[v];
    const Cue *from = s.cues->data(), *to = from + s.cues->size();
    double top = bestOf(s, v, true).rho;
    Mapping best, plain;
    double bestFit = -1e300, plainFit = -1e300;
    const Peak* plainPeak = nullptr;
    for (std::size_t r = 0; r < s.ratios.size(); ++r) {
        const Peak& p = s.peaks[r * s.tracks->size() + v];
        if (!p.any || p.rho < 0.8 * top)
            continue;
        Mapping m = refineOffset(t, from, to, peakMapping(s, p), near);
        double f = fitnessOf(t, from, to, m);
        if (r == 0) {
            plain = m;
            plainFit = f;
            plainPeak = &p;
        }
        if (f > bestFit) {
            best = m;
            bestFit = f;
            *chosen = &p;
        }
    }
    if (plainPeak && plainFit >= bestFit - SimplerBy) {
        *chosen = plainPeak;
        return plain;
    }
    return best;
}

}  // namespace

Alignment align(const std::vector<Track>& tracks, const std::vector<Cue>& all,
                const AlignOptions& options)
{
    std::vector<Cue> cues = speechCues(all);
    std::sort(cues.begin(), cues.end(), [](const Cue& a, const Cue& b) { return a.startMs < b.startMs; });
    Alignment out;
    if (cues.empty()) {
        out.fit = Fit::TooFar;
        return out;
    }
    Search s;
    s.tracks = &tracks;
    s.cues = &cues;
    out.fit = coarseSearch(s, options);
    if (out.fit != Fit::Found)
        return out;
    // The track that the cues fit best. (Of the film's views, the one that
    // sets each band against its steady level also places onsets best.)
    std::size_t v = 0;
    for (std::size_t k = 1; k < tracks.size(); ++k)
        if (bestOf(s, k, true).rho > bestOf(s, v, true).rho)
            v = k;
    const Track& t = tracks[v];
    const Cue *from = cues.data(), *to = cues.data() + cues.size();
    double near = std::max(500.0, 2 * Frame * s.bin);  // the coarse search's blur
    const Peak* chosen = nullptr;
    Mapping m = chooseRatio(s, v, near, &chosen);
    Mapping drifted;
    if (driftLine(t, cues, m, options.maxDrift, &drifted)) {
        drifted = refineScale(t, from, to, refineOffset(t, from, to, drifted, 200));
        if (apart(drifted, m, cues) > 40 &&
            fitnessOf(t, from, to, drifted) > fitnessOf(t, from, to, m) + SimplerBy) {
            m = drifted;
            out.drift = true;
        }
    }
    out.mapping = m;
    out.track = int(v);
    out.from = s.ratios[std::size_t(chosen->ratio)].from;
    out.to = s.ratios[std::size_t(chosen->ratio)].to;
    out.score = score(s, *chosen);
    out.correlation = chosen->rho;
    out.spanMs = cues.back().endMs - cues.front().startMs;
    out.cues = cues.size();
    return out;
}

double fitness(const Track& track, const std::vector<Cue>& cues, const Mapping& m)
{
    std::vector<Cue> speech = speechCues(cues);
    return fitnessOf(track, speech.data(), speech.data() + speech.size(), m);
}

Track cueTrack(const std::vector<Cue>& all)
{
    std::vector<Cue> cues = speechCues(all);
    Track t;
    t.name = "subtitles";
    std::int64_t end = 0;
    for (const Cue& c : cues)
        end = std::max(end, c.endMs);
    std::size_t n = std::size_t(end / FrameMs + 1);
    t.activity.assign(n, 0);
    t.onsets.assign(n, 0);
    for (const Cue& c : cues) {
        std::int64_t from = std::max<std::int64_t>(0, c.startMs);
        for (std::int64_t k = from / FrameMs; k < c.endMs / FrameMs; ++k)
            t.activity[std::size_t(k)] = 1;
        // A start, blurred as the film's onsets are, centred where it falls
        // (onsets are measured at the middle of their frames).
        double at = double(from) / Frame - 0.5;
        for (std::int64_t k = std::max<std::int64_t>(0, std::int64_t(at) - 9);
             k <= std::int64_t(at) + 9 && k < std::int64_t(n); ++k) {
            double d = double(k) - at;
            t.onsets[std::size_t(k)] += float(std::exp(-0.5 * d * d / 9.0));
        }
    }
    finishTrack(t);
    return t;
}

}  // namespace chronelle
