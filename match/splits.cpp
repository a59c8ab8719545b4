// The piecewise fit. Candidate offsets first: the two best places of each
// stretch of a few cues over every offset allowed (the cues' extent against
// the track's activity, 100 ms apart), each refined. Then how clearly the
// track rises where each cue begins under each candidate, and the
// order-keeping choice, by dynamic programming: consecutive runs of cues,
// each of at least a few, each with one candidate, every new run paying a
// fixed cost. A cut shows as runs whose offsets differ by its length. Each
// piece is then put to its cues one by one, as the whole is.
#include "splits.h"

#include <algorithm>
#include <cmath>

namespace chronelle {

namespace {

constexpr double Frame = FrameMs;
constexpr std::size_t StretchCues = 8;  // the cues that propose candidates together
constexpr std::size_t PieceCues = 6;    // the fewest cues of a piece
// A split costs what this many cues add, on average, to the whole's fit: a
// run of a few cues that some other offset happens to fit better is not a cut.
constexpr double SplitCost = 8;
constexpr double StepMs = 100;   // of the candidates' search
constexpr double ApartMs = 2000; // a stretch's two candidates at least this far apart
constexpr double SameMs = 50;    // two pieces whose offsets are this close are one

double boxAt(const Track& t, const Cue* from, const Cue* to, double scale, double offset)
{
    double box = 0;
    for (const Cue* c = from; c != to; ++c)
        box += sumTo(t, (scale * double(c->endMs) + offset) / Frame) -
               sumTo(t, (scale * double(c->startMs) + offset) / Frame);
    return box;
}

// The extent fit of the cues [from, to) at every offset allowed, StepMs
// apart, and where its best is, and its best at least `apartMs` from that.
struct Scan {
    std::vector<double> fit;
    std::size_t best = 0, second = 0;
};

Scan scan(const Track& t, const Cue* from, const Cue* to, double scale, double maxOffset,
          double apartMs)
{
    Scan s;
    std::size_t n = std::size_t(2 * maxOffset / StepMs) + 1;
    s.fit.resize(n);
    for (std::size_t k = 0; k < n; ++k)
        s.fit[k] = boxAt(t, from, to, scale, -maxOffset + double(k) * StepMs);
    s.best = std::size_t(std::max_element(s.fit.begin(), s.fit.end()) - s.fit.begin());
    std::size_t apart = std::size_t(apartMs / StepMs);
    s.second = s.best;
    for (std::size_t k = 0; k < n; ++k)
        if ((k + apart <= s.best || k >= s.best + apart) && (s.second == s.best || s.fit[k] > s.fit[s.second]))
            s.second = k;
    return s;
}

// The two best offsets of the stretch [from, to), apart, each refined.
void stretchCandidates(const Track& t, const Cue* from, const Cue* to, const Mapping& whole,
                       double maxOffset, std::vector<double>* out)
{
    Scan s = scan(t, from, to, whole.scale, maxOffset, ApartMs);
    for (std::size_t k : {s.best, s.second}) {
        Mapping m{whole.scale, -maxOffset + double(k) * StepMs};
        out->push_back(refineOffset(t, from, to, m, StepMs * 2).offsetMs);
    }
}

// Every stretch's candidates and the whole's offset, each once.
std::vector<double> candidates(const Track& t, const std::vector<Cue>& cues, const Mapping& whole,
                               double maxOffset)
{
    std::vector<double> all{whole.offsetMs};
    for (std::size_t i = 0; i < cues.size(); i += StretchCues) {
        std::size_t end = std::min(cues.size(), i + StretchCues);
        stretchCandidates(t, cues.data() + i, cues.data() + end, whole, maxOffset, &all);
    }
    std::sort(all.begin(), all.end());
    std::vector<double> out;
    for (double o : all)
        if (out.empty() || o - out.back() > SameMs / 2)
            out.push_back(o);
    return out;
}

// How clearly the track rises where each cue begins, under each candidate:
// gains[j * (n + 1) + i + 1] holds the sum over cues 0..i, for candidate j.
std::vector<double> prefixGains(const Track& t, const std::vector<Cue>& cues, double scale,
                                const std::vector<double>& offsets)
{
    std::size_t n = cues.size();
    std::vector<double> gains(offsets.size() * (n + 1), 0);
    for (std::size_t j = 0; j < offsets.size(); ++j)
        for (std::size_t i = 0; i < n; ++i) {
            double g = riseAt(t, scale * double(cues[i].startMs) + offsets[j],
                              scale * double(cues[i].endMs) + offsets[j]);
            gains[j * (n + 1) + i + 1] = gains[j * (n + 1) + i] + g;
        }
    return gains;
}

// A piece: its first cue, and its candidate.
struct Run {
    std::size_t first, candidate;
};

// What each cue's state came from: Goes on in its run, First of the file,
// or the candidate of the run before a new one.
constexpr int Goes = -1, First = -2;

// The runs, from the last cue's best state back to the first cue.
std::vector<Run> traceBack(const std::vector<int>& back, std::size_t n, std::size_t k, std::size_t j)
{
    std::vector<Run> runs;
    std::size_t i = n - 1;
    for (;;) {
        int b = back[i * k + j];
        if (b == Goes) {
            --i;
            continue;
        }
        runs.push_back(Run{b == First ? 0 : i + 1 - PieceCues, j});
        if (b == First)
            break;
        i -= PieceCues;
        j = std::size_t(b);
    }
    std::reverse(runs.begin(), runs.end());
    return runs;
}

// The runs that fit best, less `cost` for each after the first. State: the
// best total up to cue i with cue i in a run of candidate j at least
// PieceCues long; a run either goes on, or begins PieceCues cues back.
std::vector<Run> bestRuns(const std::vector<double>& gains, std::size_t n, std::size_t k, double cost)
{
    auto sum = [&](std::size_t j, std::size_t a, std::size_t b) {  // cues [a, b)
        return gains[j * (n + 1) + b] - gains[j * (n + 1) + a];
    };
    std::vector<int> back(n * k, Goes);
    std::vector<double> now(k), best(n, -1e300);
    std::vector<std::size_t> bestOf(n, 0);
    for (std::size_t i = PieceCues - 1; i < n; ++i) {
        for (std::size_t j = 0; j < k; ++j) {
            if (i == PieceCues - 1) {
                now[j] = sum(j, 0, PieceCues);
                back[i * k + j] = First;
            } else {
                now[j] += sum(j, i, i + 1);
                double begin = i >= 2 * PieceCues - 1
                                   ? best[i - PieceCues] - cost + sum(j, i + 1 - PieceCues, i + 1)
                                   : -1e300;
                if (begin > now[j]) {
                    now[j] = begin;
                    back[i * k + j] = int(bestOf[i - PieceCues]);
                }
            }
            if (now[j] > best[i]) {
                best[i] = now[j];
                bestOf[i] = j;
            }
        }
    }
    return traceBack(back, n, k, bestOf[n - 1]);
}

// The runs as pieces, each put to its own cues; neighbours that come out
// at the same offset are one piece.
std::vector<Split> pieces(const Track& t, const std::vector<Cue>& cues, const Mapping& whole,
                          const std::vector<Run>& runs, const std::vector<double>& offsets)
{
    std::vector<Split> out;
    std::size_t first = 0;
    for (std::size_t r = 0; r < runs.size(); ++r) {
        std::size_t end = r + 1 < runs.size() ? runs[r + 1].first : cues.size();
        if (!out.empty() && std::abs(out.back().mapping.offsetMs - offsets[runs[r].candidate]) <= SameMs)
            continue;  // one piece with the one before: placed below, with its cues
        if (!out.empty())
            out.back().cues = runs[r].first - first;
        first = runs[r].first;
        out.push_back(Split{cues[first].startMs, Mapping{whole.scale, offsets[runs[r].candidate]}, end - first});
    }
    out.back().cues = cues.size() - first;
    const Cue* from = cues.data();
    for (Split& s : out) {
        Agreement a = placeCues(t, from, from + s.cues, s.mapping, false);
        s.mapping = a.mapping;
        s.agree = a.agree;
        s.chance = a.chance;
        from += s.cues;
    }
    return out;
}

}  // namespace

std::vector<Split> splitFit(const Track& t, const std::vector<Cue>& all, const Mapping& whole,
                            std::int64_t maxOffsetMs)
{
    std::vector<Cue> cues = speechCues(all);
    std::sort(cues.begin(), cues.end(), [](const Cue& a, const Cue& b) { return a.startMs < b.startMs; });
    std::vector<Split> one{Split{0, whole, cues.size()}};
    if (cues.size() < 2 * PieceCues)
        return one;
    // No offset beyond the film's length and the cues' can put them in it.
    double reach = std::min(double(maxOffsetMs),
                            double(t.activity.size()) * Frame + 1.3 * double(cues.back().endMs));
    std::vector<double> offsets = candidates(t, cues, whole, reach);
    std::vector<double> gains = prefixGains(t, cues, whole.scale, offsets);
    std::size_t n = cues.size();
    // A split costs what SplitCost cues rise, on average, under the whole.
    double fit = 0;
    for (const Cue& c : cues)
        fit += riseAt(t, mapTime(whole, double(c.startMs)), mapTime(whole, double(c.endMs)));
    if (fit <= 0)
        return one;
    std::vector<Run> runs = bestRuns(gains, n, offsets.size(), SplitCost * fit / double(n));
    if (runs.size() < 2)
        return one;
    std::vector<Split> out = pieces(t, cues, whole, runs, offsets);
    return out.size() < 2 ? one : out;
}

}  // namespace chronelle
