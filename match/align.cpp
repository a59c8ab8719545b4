// The alignment, in two steps. First, for each frame-rate ratio, the
// cross-correlation of the cues (the part of each where its line is heard)
// with each track over every offset allowed, in one pass with the FFT: the
// few best places of each are the candidates. Then each candidate is put to
// the cues one by one: each cue looks, near where the candidate puts it, for
// the place where the track rises into speech; a robust line through those
// places gives the change, and the cues that agree with it (within
// AgreeMs) say how well it fits. A subtitle lingers after its line, so its
// extent alone is blurred by most of a second; where speech begins is sharp.
// The best candidate is weighed against the best one elsewhere: agreement
// far above chance and well above any rival is what makes a change sure.
#include "align.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include "fft.h"
#include "threads.h"

namespace chronelle {

namespace {

constexpr double Frame = FrameMs;
// Of the cues' time, at least this much must fall in the track for a
// place to be a candidate: a film that lost a scene, or a subtitle that
// runs on past the film, leaves part of them out; how many agree then
// tells the place's worth.
constexpr double Inside = 0.5;
constexpr double LocalMs = 1500;  // how far a cue looks for its place around a candidate
constexpr double CloseMs = 400;   // and around the change fitted
constexpr double TightMs = 50;    // and fits it closely
constexpr double NoRise = 0.02;   // a rise of activity (0 to 1) this small is none
constexpr int PeaksPerRatio = 5;
constexpr std::size_t PlainPeaks = 2;  // of each part's places, those without a ratio kept first
constexpr std::size_t Fitted = 16;     // candidates put to the cues, at least
constexpr std::size_t FittedCues = 24000;  // and as many more as this many cue-candidates allow
constexpr std::size_t SplitCues = 20;      // the fewest cues in each half searched on its own
// With more than twice this many cues, candidates are first put to this
// many of them, and only this many of the candidates to them all.
constexpr std::size_t SampleCues = 250;
constexpr std::size_t Kept = 6;
// A change beside the frame-rate ratios, found by the robust line: at most
// this far from the candidate's scale.
constexpr double MaxSlope = 0.0025;

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

bool ratioNear(double scale, double tolerance, int* from, int* to, double* ratio)
{
    bool found = false;
    for (const Ratio& r : ratios())
        if (std::abs(r.value / scale - 1) <= tolerance &&
            (!found || std::abs(r.value - scale) < std::abs(*ratio - scale))) {
            found = true;
            *from = r.from;
            *to = r.to;
            *ratio = r.value;
        }
    return found;
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

namespace {

// The longest FFT used. libavutil 57 (FFmpeg 5.1, Debian 12's) slows down
// sharply past this length and all but stops at twice it; the coarse
// search works on bins of several frames so as to stay within it.
constexpr int LongestFft = 1 << 16;

// A place found by the coarse search.
struct Peak {
    int ratio = 0, track = 0;
    std::int64_t lag = 0;  // bins
    double rho = -2;
};

// The cues searched together: all of them, and each half, so that a film
// that lost a scene or gained an advert break still has a place proposed
// for each side of the cut.
struct Part {
    std::size_t from, to;
    std::size_t shortlist;  // of its places, how many are put to the cues
};

struct Search {
    const std::vector<Track>* tracks;
    const std::vector<Cue>* cues;
    std::vector<Ratio> ratios;
    int bin = 1;                             // frames a bin
    std::vector<std::vector<float>> binned;  // each track, by bins
    std::vector<double> binnedNorm;
    std::vector<std::vector<AVComplexFloat>> spectra;  // of each binned track
    int n = 0;                                         // FFT length
    std::int64_t lags = 0;                             // searched each way, in bins
    std::int64_t apart = 0;                            // bins between two places of one ratio
    std::vector<Part> parts;
    std::vector<std::vector<std::vector<Peak>>> peaks;  // by ratio, then part by track
};

// Where a cue's line is heard, as the coarse search sees it: from a little
// after its start to well before its end, as subtitles linger after the
// words.
void heardPart(const Track& t, double startMs, double endMs, double* from, double* to)
{
    *from = startMs + t.leadMs;
    *to = std::max(*from + 300, endMs - 500);
}

// The cues under `ratio`, bin by bin the part of each that is heard, in the
// FFT's buffer, with their prefix sums. Returns the total covered, counting
// what fell past the buffer, and the sum of squares of what it holds in
// `squares`.
double cueBins(const Search& s, const Part& part, const Track& t, double ratio, float* out,
               std::vector<double>& sums, double* squares)
{
    std::int64_t room = std::int64_t(s.n) - s.lags - 1;
    std::fill(out, out + s.n, 0.0f);
    double total = 0, width = Frame * s.bin;
    for (std::size_t i = part.from; i < part.to; ++i) {
        const Cue& c = (*s.cues)[i];
        double from, to;
        heardPart(t, ratio * double(c.startMs), ratio * double(c.endMs), &from, &to);
        double a = from / width, b = to / width;
        total += b - a;
        for (std::int64_t k = std::max<std::int64_t>(0, std::int64_t(a));
             k < std::min(std::int64_t(std::ceil(b)), room); ++k)
            out[k] =
                std::min(1.0f, out[k] + float(std::min(b, double(k + 1)) - std::max(a, double(k))));
    }
    sums.assign(std::size_t(room) + 1, 0);
    *squares = 0;
    for (std::int64_t k = 0; k < room; ++k) {
        sums[std::size_t(k) + 1] = sums[std::size_t(k)] + out[k];
        *squares += double(out[k]) * out[k];
    }
    return total;
}

// The best places of `rho` (indexed by lag + lags), each `apart` from the
// ones before; values of -2 are no place.
std::vector<Peak> bestPlaces(const std::vector<float>& rho, std::int64_t lags, std::int64_t apart,
                             int r, int v)
{
    std::vector<Peak> out;
    for (int k = 0; k < PeaksPerRatio; ++k) {
        Peak best{r, v, 0, -2};
        for (std::int64_t d = -lags; d <= lags; ++d) {
            float value = rho[std::size_t(d + lags)];
            if (value <= best.rho)
                continue;
            bool taken = false;
            for (const Peak& p : out)
                taken = taken || std::llabs(d - p.lag) < apart;
            if (!taken)
                best = Peak{r, v, d, value};
        }
        if (best.rho <= -2)
            break;
        out.push_back(best);
    }
    return out;
}

void searchRatio(Search& s, Fft& fft, int r, std::vector<double>& sums)
{
    std::size_t tracks = s.tracks->size();
    for (std::size_t k = 0; k < s.parts.size() * tracks; ++k) {
        std::size_t v = k % tracks;
        double squares = 0;
        double total = cueBins(s, s.parts[k / tracks], (*s.tracks)[v],
                               s.ratios[std::size_t(r)].value, fft.real(), sums, &squares);
        fft.forward();
        std::int64_t room = std::int64_t(sums.size()) - 1;
        std::int64_t na = std::int64_t(s.binned[v].size());
        for (std::size_t k = 0; k < fft.bins(); ++k) {
            const AVComplexFloat a = s.spectra[v][k], c = fft.spectrum()[k];
            fft.spectrum()[k] =
                AVComplexFloat{a.re * c.re + a.im * c.im, a.im * c.re - a.re * c.im};
        }
        fft.inverse();
        double held = sums.back();
        double spread = squares - held * held / double(na);
        double norm = s.binnedNorm[v] * std::sqrt(std::max(spread, 0.0));
        std::vector<float> rho(std::size_t(2 * s.lags + 1), -2.0f);
        for (std::int64_t d = -s.lags; d <= s.lags; ++d) {
            std::int64_t hi = std::min(room, na - d), lo = std::max<std::int64_t>(0, -d);
            double inside = hi > lo ? sums[std::size_t(hi)] - sums[std::size_t(lo)] : 0;
            if (inside >= Inside * total && norm > 0)
                rho[std::size_t(d + s.lags)] = float(fft.real()[d >= 0 ? d : s.n + d] / norm);
        }
        s.peaks[std::size_t(r)][k] = bestPlaces(rho, s.lags, s.apart, r, int(v));
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
        std::vector<float> b((t.activity.size() + std::size_t(s.bin) - 1) / std::size_t(s.bin),
                             0.0f);
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
    // Places closer than this are one for the cues' own search.
    s.apart = std::max<std::int64_t>(1, std::int64_t(2 * LocalMs / Frame) / s.bin);
    s.ratios = ratios();
    // Candidates cost in proportion to the cues: few cues, more candidates.
    std::size_t n = s.cues->size();
    std::size_t fitted =
        std::clamp<std::size_t>(FittedCues / std::max<std::size_t>(n, 1), Fitted, 4 * Fitted);
    s.parts = {Part{0, n, fitted / 2}};
    if (n >= 2 * SplitCues)
        s.parts.insert(s.parts.end(), {Part{0, n / 2, fitted / 4}, Part{n / 2, n, fitted / 4}});
    s.peaks.assign(s.ratios.size(),
                   std::vector<std::vector<Peak>>(s.parts.size() * s.tracks->size()));
    if (!trackSpectra(s))
        return Fit::TooFar;
    // Set up before the threads start, so that a failure stops here.
    Fft fa(s.n), fb(s.n);
    if (!fa.ready() || !fb.ready())
        return Fit::TooFar;
    Worker a{&s, &fa, 0, 2}, b{&s, &fb, 1, 2};
    runBoth(searchRatios, &a, searchRatios, &b);
    for (const auto& byTrack : s.peaks)
        for (const auto& peaks : byTrack)
            if (!peaks.empty())
                return Fit::Found;
    // Nothing fits: because the cues last longer than the track, or
    // because they lie further off than was searched.
    std::int64_t firstStart = s.cues->front().startMs;
    for (const Cue& c : *s.cues)
        firstStart = std::min(firstStart, c.startMs);
    return double(lastEnd - firstStart) > double(longest) * Frame ? Fit::TooLong : Fit::TooFar;
}

// ---- each candidate put to the cues one by one ----

constexpr int BeforeFrames = 30;  // of a cue's start, looked at for the quiet before its words

// Frames after a cue's start looked at for its words: 300 ms, less for a
// short cue (it lingers after them).
double afterFrames(double s, double e, double leadMs)
{
    return std::round(std::clamp((e - s - leadMs - 300) / Frame, 20.0, 30.0));
}

// Where a cue's start goes under `m`, moved by the offset within `half` ms
// at which the track rises most (ms, to a fraction of a frame).
double localPlace(const Track& t, const Cue& c, const Mapping& m, double half,
                  std::vector<double>& rise)
{
    double s = mapTime(m, double(c.startMs)), e = mapTime(m, double(c.endMs));
    // How clearly the track rises into speech where the cue begins, at
    // every frame step: the activity of the 300 ms that follow (less for a
    // short cue), less that of the 300 ms before. The start moves by whole
    // frames, so the part of a frame it falls in stays.
    int steps = int(half / Frame);
    double first = (s + t.leadMs) / Frame - steps;
    double whole = std::floor(first), part = first - whole;
    std::ptrdiff_t base = std::ptrdiff_t(whole), n = std::ptrdiff_t(t.activity.size());
    auto sum = [&](std::ptrdiff_t j) {
        return j < 0    ? 0.0
               : j >= n ? double(t.sums[std::size_t(n)])
                        : t.sums[std::size_t(j)] + part * t.activity[std::size_t(j)];
    };
    int after = int(afterFrames(s, e, t.leadMs));
    rise.resize(std::size_t(2 * steps + 1));
    std::size_t best = 0;
    for (std::size_t i = 0; i < rise.size(); ++i) {
        std::ptrdiff_t j = base + std::ptrdiff_t(i);
        double at = sum(j);
        rise[i] = (sum(j + after) - at) / after - (at - sum(j - BeforeFrames)) / BeforeFrames;
        if (rise[i] > rise[best])
            best = i;
    }
    // Where the track never rises near the cue (past the film's end, in
    // silence), the cue has no place: it can agree with nothing.
    if (!(rise[best] > NoRise))
        return std::nan("");
    // Between frames: the top of the V through the best and its neighbours
    // (a step in the track makes a V of the rise).
    double shift = 0;
    if (best > 0 && best + 1 < rise.size()) {
        double a = rise[best - 1], b = rise[best], c2 = rise[best + 1];
        double drop = b - std::min(a, c2);
        if (drop > 0)
            shift = std::clamp((c2 - a) / (2 * drop), -0.5, 0.5);
    }
    return (double(best) - steps + shift) * Frame;
}

// The places of the cues around `m`, as offsets from where it puts them.
std::vector<double> localPlaces(const Track& t, const std::vector<Cue>& cues, const Mapping& m,
                                double half)
{
    std::vector<double> out, rise;
    out.reserve(cues.size());
    for (const Cue& c : cues)
        out.push_back(localPlace(t, c, m, half, rise));
    return out;
}

// A line d = a + b * x through the points that lie within AgreeMs of it.
struct Line {
    double a = 0, b = 0;
    std::size_t agree = 0;
};

std::size_t agreeing(const std::vector<double>& x, const std::vector<double>& d, const Line& l)
{
    std::size_t n = 0;
    for (std::size_t i = 0; i < x.size(); ++i)
        n += std::abs(d[i] - l.a - l.b * x[i]) <= AgreeMs;
    return n;
}

// The densest stretch of AgreeMs each way among the offsets (of the cues
// that have a place), and its middle.
double densest(std::vector<double> d)
{
    d.erase(std::remove_if(d.begin(), d.end(), [](double v) { return std::isnan(v); }), d.end());
    std::sort(d.begin(), d.end());
    std::size_t bestFrom = 0, bestTo = 0;
    for (std::size_t i = 0, j = 0; i < d.size(); ++i) {
        while (j < d.size() && d[j] - d[i] <= 2 * AgreeMs)
            ++j;
        if (j - i > bestTo - bestFrom) {
            bestFrom = i;
            bestTo = j;
        }
    }
    return d.empty() ? 0 : d[(bestFrom + bestTo) / 2];
}

// The line through the points that agree with it, started flat at the
// densest offset; with `slope` false it stays flat.
Line robustLine(const std::vector<double>& x, const std::vector<double>& d, bool slope)
{
    Line l;
    l.a = densest(d);
    for (int round = 0; round < 4; ++round) {
        double sx = 0, sd = 0, n = 0;
        for (std::size_t i = 0; i < x.size(); ++i)
            if (std::abs(d[i] - l.a - l.b * x[i]) <= AgreeMs) {
                sx += x[i];
                sd += d[i];
                n += 1;
            }
        if (n < 2)
            break;
        double mx = sx / n, md = sd / n, sxx = 0, sxd = 0;
        for (std::size_t i = 0; i < x.size(); ++i)
            if (std::abs(d[i] - l.a - l.b * x[i]) <= AgreeMs) {
                sxx += (x[i] - mx) * (x[i] - mx);
                sxd += (x[i] - mx) * (d[i] - md);
            }
        double b = slope && n >= 8 && sxx > 0 ? std::clamp(sxd / sxx, -MaxSlope, MaxSlope) : 0;
        if (b == 0) {
            // Flat: the median of those that agree, which a few placed
            // a little off on one side do not pull.
            std::vector<double> near;
            for (std::size_t i = 0; i < x.size(); ++i)
                if (std::abs(d[i] - l.a - l.b * x[i]) <= AgreeMs)
                    near.push_back(d[i]);
            std::nth_element(near.begin(), near.begin() + std::ptrdiff_t(near.size() / 2),
                             near.end());
            md = near[near.size() / 2];
        }
        l = Line{md - b * mx, b, 0};
    }
    l.agree = agreeing(x, d, l);
    return l;
}

// `m` followed by the line: a time t goes to m(t) + a + b m(t).
Mapping along(const Mapping& m, const Line& l)
{
    return Mapping{m.scale * (1 + l.b), m.offsetMs * (1 + l.b) + l.a};
}

// How many of the cues would agree with a change by chance: from how the
// places of those that do not agree spread over the search.
double chanceOf(const std::vector<double>& x, const std::vector<double>& d, const Line& l)
{
    std::size_t far = 0;
    for (std::size_t i = 0; i < x.size(); ++i)
        far += std::abs(d[i] - l.a - l.b * x[i]) > 3 * AgreeMs;
    double width = 2 * LocalMs - 6 * AgreeMs;
    return double(far) * 2 * AgreeMs / width;
}

void agreeWith(const std::vector<double>& x, const std::vector<double>& d, const Line& l,
               const Mapping& m, Agreement& a)
{
    a.mapping = along(m, l);
    a.agree = l.agree;
    a.chance = chanceOf(x, d, l);
    a.agrees.resize(x.size());
    a.placed.resize(x.size());
    for (std::size_t i = 0; i < x.size(); ++i) {
        a.agrees[i] = std::abs(d[i] - l.a - l.b * x[i]) <= AgreeMs;
        a.placed[i] = x[i] + l.a + l.b * x[i];
    }
}

}  // namespace

Agreement placeCues(const Track& t, const Cue* from, const Cue* to, Mapping m, bool slope)
{
    std::vector<Cue> cues(from, to);
    std::vector<double> x(cues.size()), d;
    auto starts = [&](const Mapping& at) {
        for (std::size_t i = 0; i < cues.size(); ++i)
            x[i] = mapTime(at, double(cues[i].startMs));
    };
    // Wide, then close around the change found; then wide again, as far
    // as each cue looked first, for how many agree: looking close, most
    // would find something to agree with anyway.
    starts(m);
    d = localPlaces(t, cues, m, LocalMs);
    m = along(m, robustLine(x, d, slope));
    for (int round = 0; round < 2; ++round) {
        starts(m);
        d = localPlaces(t, cues, m, CloseMs);
        m = along(m, robustLine(x, d, slope));
    }
    starts(m);
    d = localPlaces(t, cues, m, LocalMs);
    Agreement a;
    agreeWith(x, d, robustLine(x, d, slope), m, a);
    a.x = std::move(x);
    a.d = std::move(d);
    return a;
}

namespace {

// A candidate put to the cues.
struct Placed {
    Agreement agreement;
    int track = 0;
    int ratio = 0;    // of the frame-rate ratios, or -1: a scale beside them
    double rise = 0;  // the coarse search's correlation
};

Placed fitCandidate(const Track& t, const std::vector<Cue>& cues, const std::vector<Ratio>& rs,
                    const Peak& p, double binMs)
{
    Placed f;
    f.track = p.track;
    f.rise = p.rho;
    f.ratio = -1;
    const Cue *from = cues.data(), *to = from + cues.size();
    f.agreement = placeCues(t, from, to,
                            Mapping{rs[std::size_t(p.ratio)].value, double(p.lag) * binMs}, true);
    // A scale as near a frame-rate ratio as the cues can tell is that ratio:
    // the same places, seen from each ratio's line through the middle of
    // the cues that comes within a cue's uncertainty of the line found; the
    // ratio that most agree with, if about as many as with the line found.
    // Which of two fits the places better is told by those within TightMs
    // of each: within AgreeMs, a line a little off fits as many.
    const Agreement& free = f.agreement;
    auto tight = [](const Agreement& a) {
        std::size_t n = 0;
        for (std::size_t i = 0; i < a.x.size(); ++i)
            n += std::abs(a.x[i] + a.d[i] - a.placed[i]) <= TightMs;
        return n;
    };
    double span = std::max(1.0, double(cues.back().endMs - cues.front().startMs));
    double middle = (double(cues.front().startMs) + double(cues.back().endMs)) / 2;
    std::vector<Agreement> snaps(rs.size());
    std::vector<std::size_t> fits(rs.size(), 0);
    std::size_t most = 0;
    for (std::size_t r = 0; r < rs.size(); ++r) {
        double scale = rs[r].value;
        if (std::abs(scale - free.mapping.scale) * span > 2 * AgreeMs)
            continue;
        Mapping snapped{scale, mapTime(free.mapping, middle) - scale * middle};
        std::vector<double> x(cues.size()), d(cues.size());
        for (std::size_t i = 0; i < cues.size(); ++i) {
            x[i] = mapTime(snapped, double(cues[i].startMs));
            d[i] = free.x[i] + free.d[i] - x[i];
        }
        Agreement& a = snaps[r];
        agreeWith(x, d, robustLine(x, d, false), snapped, a);
        a.x = std::move(x);
        a.d = std::move(d);
        fits[r] = tight(a) + 1;  // 0: not tried
        most = std::max(most, fits[r]);
    }
    // Of the ratios that fit about as many cues closely as the best: the
    // plain offset (no ratio) if it is one of them, else the one with the
    // least offset (a frame rate changed alone), as the cues cannot tell
    // two close ratios apart on a short film.
    auto near = [&](std::size_t r) {
        return fits[r] > 0 && fits[r] + std::max<std::size_t>(4, most / 20) > most;
    };
    for (std::size_t r = 0; r < rs.size(); ++r)
        if (near(r) &&
            (f.ratio < 0 ||
             (f.ratio > 0 && std::abs(snaps[r].mapping.offsetMs) <
                                 std::abs(snaps[std::size_t(f.ratio)].mapping.offsetMs))))
            f.ratio = int(r);
    Agreement best = f.ratio >= 0 ? std::move(snaps[std::size_t(f.ratio)]) : Agreement();
    std::size_t bestTight = f.ratio >= 0 ? fits[std::size_t(f.ratio)] - 1 : 0;
    // A drift beside the ratio is kept only when it moves the cues at the
    // ends further than the cues can be placed, and clearly more of them fit
    // it closely.
    std::size_t freeTight = tight(free);
    bool within =
        f.ratio >= 0 && std::abs(free.mapping.scale - best.mapping.scale) * span / 2 <= TightMs;
    if (f.ratio >= 0 &&
        (within || bestTight + std::max<std::size_t>(3, freeTight / 20) >= freeTight))
        f.agreement = std::move(best);
    else
        f.ratio = -1;
    return f;
}

// The candidates worth putting to the cues: each part's best places over
// all ratios and tracks.
std::vector<Peak> shortlist(const Search& s)
{
    std::vector<Peak> out;
    std::size_t tracks = s.tracks->size();
    for (std::size_t p = 0; p < s.parts.size(); ++p) {
        std::vector<Peak> all;
        for (const auto& byPart : s.peaks)
            for (std::size_t v = 0; v < tracks; ++v)
                all.insert(all.end(), byPart[p * tracks + v].begin(), byPart[p * tracks + v].end());
        // The best places overall, and the best few of the plain offset
        // (no frame-rate change), the commonest change of all.
        std::sort(all.begin(), all.end(), [](const Peak& a, const Peak& b) {
            return (a.ratio == 0) != (b.ratio == 0) ? a.ratio == 0 : a.rho > b.rho;
        });
        std::size_t plain = std::min<std::size_t>(
            PlainPeaks, std::size_t(std::count_if(all.begin(), all.end(),
                                                  [](const Peak& q) { return q.ratio == 0; })));
        out.insert(out.end(), all.begin(), all.begin() + std::ptrdiff_t(plain));
        all.erase(all.begin(), all.begin() + std::ptrdiff_t(plain));
        std::sort(all.begin(), all.end(),
                  [](const Peak& a, const Peak& b) { return a.rho > b.rho; });
        all.resize(
            std::min(all.size(), s.parts[p].shortlist - std::min(plain, s.parts[p].shortlist)));
        out.insert(out.end(), all.begin(), all.end());
    }
    return out;
}

}  // namespace

Alignment align(const std::vector<Track>& tracks, const std::vector<Cue>& all,
                const AlignOptions& options)
{
    std::vector<Cue> cues = speechCues(all);
    std::sort(cues.begin(), cues.end(),
              [](const Cue& a, const Cue& b) { return a.startMs < b.startMs; });
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
    // Many cues: the candidates put first to a sample of them, and only the
    // best few to them all.
    std::vector<Peak> peaks = shortlist(s);
    if (cues.size() > 2 * SampleCues && peaks.size() > Kept) {
        std::vector<Cue> sample;
        for (std::size_t i = 0; i < cues.size(); i += cues.size() / SampleCues)
            sample.push_back(cues[i]);
        std::vector<std::pair<std::size_t, std::size_t>> agree;  // agreeing cues, peak
        for (std::size_t k = 0; k < peaks.size(); ++k)
            agree.emplace_back(fitCandidate(tracks[std::size_t(peaks[k].track)], sample, s.ratios,
                                            peaks[k], Frame * s.bin)
                                   .agreement.agree,
                               k);
        std::stable_sort(agree.begin(), agree.end(),
                         [](const auto& a, const auto& b) { return a.first > b.first; });
        std::vector<Peak> kept;
        for (std::size_t k = 0; k < Kept; ++k)
            kept.push_back(peaks[agree[k].second]);
        peaks = kept;
    }
    std::vector<Placed> fits;
    for (const Peak& p : peaks)
        fits.push_back(
            fitCandidate(tracks[std::size_t(p.track)], cues, s.ratios, p, Frame * s.bin));
    std::sort(fits.begin(), fits.end(), [](const Placed& a, const Placed& b) {
        return a.agreement.agree != b.agreement.agree ? a.agreement.agree > b.agreement.agree
                                                      : a.rise > b.rise;
    });
    const Placed& best = fits.front();
    // The rivals: for each other candidate, of the cues it puts elsewhere,
    // those that agree with it against those that agree with the best. (A
    // change that only crosses the best one, at another frame rate say,
    // puts few cues elsewhere and has few there.) Nearest first, each place
    // once.
    auto elsewhere = [&](const Mapping& a, const Mapping& b, std::size_t i) {
        return std::abs(mapTime(a, double(cues[i].startMs)) - mapTime(b, double(cues[i].startMs))) >
               2 * AgreeMs;
    };
    for (const Placed& f : fits) {
        Rival r;
        std::size_t apart = 0;
        for (std::size_t i = 0; i < cues.size(); ++i)
            if (elsewhere(f.agreement.mapping, best.agreement.mapping, i)) {
                ++apart;
                r.bestFor += std::size_t(best.agreement.agrees[i]);
                r.agreeFor += std::size_t(f.agreement.agrees[i]);
            }
        if (&f == &best || apart < 3)
            continue;
        r.mapping = f.agreement.mapping;
        r.track = f.track;
        r.agree = f.agreement.agree;
        r.agrees = f.agreement.agrees;
        if (f.ratio >= 0) {
            r.from = s.ratios[std::size_t(f.ratio)].from;
            r.to = s.ratios[std::size_t(f.ratio)].to;
        }
        out.rivals.push_back(r);
    }
    std::sort(out.rivals.begin(), out.rivals.end(),
              [](const Rival& a, const Rival& b) { return a.margin() < b.margin(); });
    std::vector<Rival> once;
    for (const Rival& r : out.rivals) {
        bool seen = false;
        for (const Rival& o : once) {
            std::size_t apart = 0;
            for (std::size_t i = 0; i < cues.size(); ++i)
                apart += elsewhere(r.mapping, o.mapping, i);
            seen = seen || apart * 2 < cues.size();
        }
        if (!seen)
            once.push_back(r);
    }
    out.rivals = std::move(once);
    out.mapping = best.agreement.mapping;
    out.track = best.track;
    if (best.ratio >= 0) {
        out.from = s.ratios[std::size_t(best.ratio)].from;
        out.to = s.ratios[std::size_t(best.ratio)].to;
    } else {
        out.drift = true;
    }
    out.cues = cues.size();
    out.agree = best.agreement.agree;
    out.agrees = best.agreement.agrees;
    out.chance = best.agreement.chance;
    return out;
}

Track cueTrack(const std::vector<Cue>& all)
{
    std::vector<Cue> cues = speechCues(all);
    Track t;
    std::int64_t end = 0;
    for (const Cue& c : cues)
        end = std::max(end, c.endMs);
    std::size_t n = std::size_t(end / FrameMs + 1);
    t.activity.assign(n, 0);
    for (const Cue& c : cues) {
        std::int64_t from = std::max<std::int64_t>(0, c.startMs);
        // Frames the cue covers in part count that part: a start is then
        // placed to the millisecond.
        for (std::int64_t k = from / FrameMs; k * FrameMs < c.endMs; ++k) {
            std::int64_t a = std::max(from, k * FrameMs), b = std::min(c.endMs, (k + 1) * FrameMs);
            float& v = t.activity[std::size_t(k)];
            v = std::min(1.0f, v + float(b - a) / float(FrameMs));
        }
    }
    finishTrack(t);
    return t;
}

}  // namespace chronelle
