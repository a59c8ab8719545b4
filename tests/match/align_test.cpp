// Alignment and the change found, against a well-timed subtitle file: a
// track made of its cues, and the same cues moved by known changes.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "match.h"
#include "voices.h"

using chronelle::ChangeKind;
using chronelle::Cue;

namespace {

std::vector<Cue> asCues(const std::vector<voices::Cue>& v)
{
    std::vector<Cue> out;
    for (const voices::Cue& c : v)
        out.push_back(Cue{c.startMs, c.endMs, false, {}});
    return out;
}

// The cues with every time t changed to change(t), held at 0 as the
// patcher holds them.
std::vector<Cue> moved(std::vector<Cue> cues, const std::function<double(double)>& change)
{
    for (Cue& c : cues) {
        c.startMs = std::max<std::int64_t>(0, std::llround(change(double(c.startMs))));
        c.endMs = std::max<std::int64_t>(0, std::llround(change(double(c.endMs))));
    }
    return cues;
}

chronelle::Reference reference(const std::vector<Cue>& cues)
{
    chronelle::Reference r;
    r.tracks.push_back(chronelle::cueTrack(cues));
    return r;
}

}  // namespace

TEST(Align, FindsEachKindOfChange)
{
    const std::vector<Cue> truth = asCues(voices::cues(600, 7));
    const chronelle::Reference ref = reference(truth);
    const struct {
        const char* what;
        std::function<double(double)> wrong;  // what was done to the subtitles
        ChangeKind kind;
        const char* mode;
        const char* text;
    } cases[] = {
        {"in time", [](double t) { return t; }, ChangeKind::InTime, "", ""},
        {"late", [](double t) { return t + 2480; }, ChangeKind::Offset, "--remove", "2.48"},
        {"early", [](double t) { return t - 7300; }, ChangeKind::Offset, "--add", "7.3"},
        {"a minute and more", [](double t) { return t + 61000; }, ChangeKind::Offset, "--remove",
         "61"},
        {"five minutes", [](double t) { return t + 300000; }, ChangeKind::Offset, "--remove",
         "300"},
        {"timed for 25 fps", [](double t) { return t * 23.976 / 25; }, ChangeKind::Rates, "--fps",
         "25:23.976"},
        {"timed for 24 fps", [](double t) { return t * 25 / 24; }, ChangeKind::Rates, "--fps",
         "24:25"},
        {"a rate and an offset", [](double t) { return t * 24 / 25 + 3000; }, ChangeKind::Linear,
         "--sync", nullptr},
        {"a drift", [](double t) { return t * 1.0008 - 1500; }, ChangeKind::Linear, "--sync",
         nullptr},
    };
    for (const auto& c : cases) {
        std::vector<Cue> wrong = moved(truth, c.wrong);
        chronelle::Found f = chronelle::matchCues(ref, wrong, chronelle::MatchOptions());
        EXPECT_TRUE(f.sure) << c.what << ": confidence " << f.confidence;
        EXPECT_EQ(f.kind, c.kind) << c.what;
        EXPECT_EQ(f.mode, c.mode) << c.what;
        if (c.text) {
            EXPECT_EQ(f.text, c.text) << c.what;
        }
        // The change applied as the patcher applies it puts every cue back.
        double worst = 0;
        for (std::size_t i = 0; i < truth.size(); ++i) {
            if (wrong[i].startMs == 0)  // held: nothing can put it back
                continue;
            std::int64_t t = wrong[i].startMs;
            if (f.retiming.kind == chronelle::Retiming::Kind::Scale)
                t = chronelle::scaleTime(t, f.retiming.scale);
            else
                t += f.retiming.offsetMs;
            worst = std::max(worst, std::abs(double(t - truth[i].startMs)));
        }
        EXPECT_LE(worst, 20) << c.what << ": " << f.mode << " " << f.text;
    }
}

TEST(Align, RefusesWhatDoesNotFit)
{
    const std::vector<Cue> truth = asCues(voices::cues(600, 7));
    const chronelle::Reference ref = reference(truth);
    // Another film's subtitles fit nowhere for sure.
    for (unsigned seed : {8u, 9u, 10u}) {
        chronelle::Found f = chronelle::matchCues(ref, asCues(voices::cues(600, seed)), {});
        EXPECT_EQ(f.alignment.fit, chronelle::Fit::Found);
        EXPECT_FALSE(f.sure) << seed << ": confidence " << f.confidence;
        EXPECT_LT(f.confidence, chronelle::SureConfidence / 2) << seed;
    }
    // Five minutes off is beyond a search of ten seconds each way, not
    // beyond the ten minutes searched by default.
    std::vector<Cue> far = moved(truth, [](double t) { return t + 300000; });
    chronelle::MatchOptions narrow;
    narrow.maxOffsetMs = 10000;
    EXPECT_FALSE(chronelle::matchCues(ref, far, narrow).sure);
    chronelle::Found f = chronelle::matchCues(ref, far, {});
    EXPECT_TRUE(f.sure);
    EXPECT_EQ(f.text, "300");
    // Subtitles of ten minutes cannot fit in one.
    chronelle::Reference shortFilm = reference(asCues(voices::cues(60, 7)));
    EXPECT_EQ(chronelle::matchCues(shortFilm, truth, {}).alignment.fit, chronelle::Fit::TooLong);
    // Nine cues are too few to be sure of, however well they fit.
    std::vector<Cue> few(truth.begin(), truth.begin() + 9);
    EXPECT_FALSE(chronelle::matchCues(reference(few), few, {}).sure);
}

namespace {

// Where the patcher puts a time under the change found.
std::int64_t applied(const chronelle::Retiming& r, std::int64_t t)
{
    using Kind = chronelle::Retiming::Kind;
    if (r.kind == Kind::Scale)
        return chronelle::scaleTime(t, r.scale);
    if (r.kind == Kind::Offset)
        return t + r.offsetMs;
    for (const chronelle::Piece& p : r.pieces)
        if (t >= p.from && t < p.until)
            return chronelle::scaleTime(t, p.scale);
    return t;
}

}  // namespace

TEST(Align, SplitsFindCutsAndKeepAFilmWithoutThem)
{
    // The film's cues, with 30 s of advert and no speech from 5:00.
    std::vector<Cue> truth;
    for (const Cue& c : asCues(voices::cues(600, 7)))
        if (c.startMs < 300000 || c.startMs >= 330000)
            truth.push_back(c);
    const chronelle::Reference ref = reference(truth);
    chronelle::MatchOptions splits;
    splits.splits = true;
    // Each cue moved whole, by where it starts: a cut runs between cues.
    const struct {
        const char* what;
        std::function<double(double t, double start)> wrong;
        std::size_t pieces;  // 0: one change, as without splits
    } cases[] = {
        {"no cut", [](double t, double) { return t + 2480; }, 0},
        {"no cut, 25 fps", [](double t, double) { return t * 23.976 / 25; }, 0},
        {"a cut at 2:00", [](double t, double s) { return t + (s >= 120000 ? 22500 : 2500); }, 2},
        {"two cuts",
         [](double t, double s) {
             return t - 1000 + (s >= 100000 ? 15000 : 0) + (s >= 400000 ? 40000 : 0);
         },
         3},
        {"the advert not in the subtitles",
         [](double t, double s) { return s >= 330000 ? t - 30000 : t; }, 2},
        {"a cut and 24 fps",
         [](double t, double s) { return (t + (s >= 200000 ? 20000 : 0)) * 25 / 24; }, 2},
    };
    for (const auto& c : cases) {
        std::vector<Cue> wrong = truth;
        for (Cue& w : wrong) {
            double start = double(w.startMs);
            w.startMs = std::llround(c.wrong(start, start));
            w.endMs = std::llround(c.wrong(double(w.endMs), start));
        }
        chronelle::Found f = chronelle::matchCues(ref, wrong, splits);
        EXPECT_TRUE(f.sure) << c.what << ": confidence " << f.confidence;
        EXPECT_EQ(f.pieces.size(), c.pieces) << c.what << ": " << f.mode << " " << f.text;
        if (c.pieces == 0) {
            chronelle::Found plain = chronelle::matchCues(ref, wrong, {});
            EXPECT_TRUE(f.mode == plain.mode && f.text == plain.text) << c.what;
        }
        double worst = 0;
        for (std::size_t i = 0; i < truth.size(); ++i)
            worst = std::max(
                worst, std::abs(double(applied(f.retiming, wrong[i].startMs) - truth[i].startMs)));
        EXPECT_LE(worst, 20) << c.what;
    }
    // Another film's subtitles are no surer in pieces.
    for (unsigned seed : {8u, 9u, 10u}) {
        chronelle::Found f = chronelle::matchCues(ref, asCues(voices::cues(600, seed)), splits);
        EXPECT_FALSE(f.sure) << seed << ": confidence " << f.confidence;
        EXPECT_TRUE(f.pieces.empty()) << seed;
    }
}
