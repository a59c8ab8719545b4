// The piecewise fit. Candidate offsets first: those the whole's search
// found (its best place and its rivals), and the two best places of each
// stretch of a few cues over every offset allowed (the cues' extent against
// the track's activity, 100 ms apart). Each is put to all the cues one by
// one, as the whole is, and says which cues agree with it. Then the
// order-keeping choice, by dynamic programming: consecutive runs of cues,
// each of at least a few, each with one candidate, the most agreeing cues
// in all, every new run paying a fixed cost. A cut shows as runs whose
// offsets differ by its length. Each piece is then put to its own cues.
#include "splits.h"

#include <algorithm>
#include <cmath>

namespace chronelle {

namespace {

constexpr double Frame = FrameMs;
constexpr std::size_t StretchCues = 8;  // the cues that propose candidates together
// A split costs as many agreeing cues: a run of a few cues that some other
// offset happens to fit is not a cut.
constexpr double SplitCost = 5;
constexpr double StepMs = 100;    // of the candidates' search
constexpr double ApartMs = 2000;  // a stretch's two candidates at least this far apart
constexpr double SameMs = 50;     // two pieces whose offsets are this close are one
// Places of a cut where the cues agree within this many of the best are
// as likely as the best.
constexpr double CutDoubt = 0.9;

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
        if ((k + apart <= s.best || k >= s.best + apart) &&
            (s.second == s.best || s.fit[k] > s.fit[s.second]))
            s.second = k;
    return s;
}

// The two best offsets of the stretch [from, to), apart.
void stretchCandidates(const Track& t, const Cue* from, const Cue* to, const Mapping& whole,
                       double maxOffset, std::vector<double>* out)
{
    Scan s = scan(t, from, to, whole.scale, maxOffset, ApartMs);
    for (std::size_t k : {s.best, s.second})
        out->push_back(-maxOffset + double(k) * StepMs);
}

// Every candidate, put to all the cues: its offset found and each cue's
// agreement, once for each offset found.
std::vector<Agreement> candidates(const Track& t, const std::vector<Cue>& cues,
                                  const Mapping& whole, const std::vector<double>& also,
                                  double maxOffset)
{
    std::vector<double> all{whole.offsetMs};
    all.insert(all.end(), also.begin(), also.end());
    for (std::size_t i = 0; i < cues.size(); i += StretchCues) {
        std::size_t end = std::min(cues.size(), i + StretchCues);
        stretchCandidates(t, cues.data() + i, cues.data() + end, whole, maxOffset, &all);
    }
    std::sort(all.begin(), all.end());
    std::vector<Agreement> out;
    double last = -1e300;
    for (double o : all) {
        if (o - last <= StepMs)
            continue;
        last = o;
        Agreement a =
            placeCues(t, cues.data(), cues.data() + cues.size(), Mapping{whole.scale, o}, false);
        bool seen = false;
        for (const Agreement& b : out)
            seen = seen || std::abs(b.mapping.offsetMs - a.mapping.offsetMs) <= SameMs;
        if (!seen && a.agree > 0)
            out.push_back(std::move(a));
    }
    return out;
}

// Which cues agree under each candidate, each the more the closer it lies
// to the candidate's change (a cue may agree with two candidates by chance,
// hardly as closely with both): gains[j * (n + 1) + i + 1] holds the sum
// over cues 0..i, for candidate j.
std::vector<double> prefixGains(const std::vector<Agreement>& candidates, std::size_t n)
{
    std::vector<double> gains(candidates.size() * (n + 1), 0);
    for (std::size_t j = 0; j < candidates.size(); ++j) {
        const Agreement& a = candidates[j];
        for (std::size_t i = 0; i < n; ++i) {
            double off = std::abs(a.x[i] + a.d[i] - a.placed[i]) / AgreeMs;
            gains[j * (n + 1) + i + 1] = gains[j * (n + 1) + i] + (a.agrees[i] ? 1 - off / 2 : 0);
        }
    }
    return gains;
}

// A piece: its first cue, and its candidate.
struct Run {
    std::size_t first, candidate;
    bool sure = true;  // where it begins is clear
};

// What each cue's state came from: Goes on in its run, First of the file,
// or the candidate of the run before a new one.
constexpr int Goes = -1, First = -2;

// The runs, from the last cue's best state back to the first cue.
std::vector<Run> traceBack(const std::vector<int>& back, std::size_t n, std::size_t k,
                           std::size_t j)
{
    std::vector<Run> runs;
    std::size_t i = n - 1;
    for (;;) {
        int b = back[i * k + j];
        if (b == Goes) {
            --i;
            continue;
        }
        runs.push_back(Run{b == First ? 0 : i + 1 - PieceCues, j, true});
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
std::vector<Run> bestRuns(const std::vector<double>& gains, std::size_t n, std::size_t k,
                          double cost)
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

// Where each run after the first begins, among the places between its
// neighbours where the cues agree about as well: most often a cut falls
// between scenes, so at the widest gap between two cues of those places.
// A place is sure when it is the only one, or its gap clearly the widest.
void placeCuts(const std::vector<double>& gains, const std::vector<Cue>& cues,
               std::vector<Run>& runs)
{
    std::size_t n = cues.size();
    auto prefix = [&](std::size_t j, std::size_t i) { return gains[j * (n + 1) + i]; };
    for (std::size_t r = 1; r < runs.size(); ++r) {
        std::size_t a = runs[r - 1].candidate, b = runs[r].candidate;
        std::size_t lo = runs[r - 1].first + PieceCues;
        std::size_t hi = (r + 1 < runs.size() ? runs[r + 1].first : n) - PieceCues;
        double top = -1e300;
        std::vector<double> score;
        for (std::size_t at = lo; at <= hi; ++at) {
            score.push_back(prefix(a, at) + prefix(b, hi + PieceCues) - prefix(b, at));
            top = std::max(top, score.back());
        }
        std::size_t widest = runs[r].first;
        std::int64_t gap = -1, second = -1;
        for (std::size_t at = lo; at <= hi; ++at) {
            if (score[at - lo] < top - CutDoubt)
                continue;
            std::int64_t g = cues[at].startMs - cues[at - 1].endMs;
            if (g > gap) {
                second = gap;
                gap = g;
                widest = at;
            } else {
                second = std::max(second, g);
            }
        }
        runs[r].first = widest;
        runs[r].sure = second < 0 || gap >= 2 * std::max<std::int64_t>(second, 1);
    }
}

// The runs as pieces, each put to its own cues; neighbours that come out
// at the same offset are one piece.
std::vector<Split> pieces(const Track& t, const std::vector<Cue>& cues, const Mapping& whole,
                          const std::vector<Run>& runs, const std::vector<Agreement>& offsets)
{
    std::vector<Split> out;
    std::size_t first = 0;
    for (std::size_t r = 0; r < runs.size(); ++r) {
        double offset = offsets[runs[r].candidate].mapping.offsetMs;
        if (!out.empty() && std::abs(out.back().mapping.offsetMs - offset) <= SameMs)
            continue;  // one piece with the one before: placed below, with its cues
        if (!out.empty())
            out.back().cues = runs[r].first - first;
        first = runs[r].first;
        out.push_back(Split{cues[first].startMs, Mapping{whole.scale, offset}, 0});
        out.back().sure = runs[r].sure;
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
                            const std::vector<double>& also, std::int64_t maxOffsetMs)
{
    std::vector<Cue> cues = speechCues(all);
    std::sort(cues.begin(), cues.end(),
              [](const Cue& a, const Cue& b) { return a.startMs < b.startMs; });
    std::vector<Split> one{Split{0, whole, cues.size()}};
    if (cues.size() < 2 * PieceCues)
        return one;
    // No offset beyond the film's length and the cues' can put them in it.
    double reach = std::min(double(maxOffsetMs),
                            double(t.activity.size()) * Frame + 1.3 * double(cues.back().endMs));
    std::vector<Agreement> offsets = candidates(t, cues, whole, also, reach);
    if (offsets.empty())
        return one;
    std::vector<double> gains = prefixGains(offsets, cues.size());
    std::vector<Run> runs = bestRuns(gains, cues.size(), offsets.size(), SplitCost);
    if (runs.size() < 2)
        return one;
    placeCuts(gains, cues, runs);
    std::vector<Split> out = pieces(t, cues, whole, runs, offsets);
    return out.size() < 2 ? one : out;
}

}  // namespace chronelle
