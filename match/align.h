// Aligning cues with a track (a film's speech, or another subtitle file's
// cues): which linear change of the cues' times puts them where the track
// says people speak, and how sure that is.
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

#include "cues.h"
#include "speech.h"

namespace chronelle {

// A time t (ms) of the subtitles goes to scale * t + offsetMs.
struct Mapping {
    double scale = 1;
    double offsetMs = 0;
};

inline double mapTime(const Mapping& m, double t) { return m.scale * t + m.offsetMs; }

// The frame rates whose ratios are tried, as --fps names them.
struct FrameRate {
    const char* name;
    std::int64_t num, den;
};
constexpr FrameRate FrameRates[] = {
    {"23.976", 24000, 1001}, {"24", 24, 1}, {"25", 25, 1}, {"29.97", 30000, 1001}, {"30", 30, 1}};

struct AlignOptions {
    std::int64_t maxOffsetMs = 600000;
};

enum class Fit {
    Found,
    TooLong,  // the cues last longer than the track: no place holds them
    TooFar,   // no offset within the largest allowed puts them in the track
};

// Another change that the cues may fit, set against the best one on the
// cues it puts elsewhere (by more than a cue's uncertainty).
struct Rival {
    Mapping mapping;
    int track = 0;
    int from = -1, to = -1;    // its frame-rate ratio, or -1
    std::size_t agree = 0;     // cues that agree with it
    std::vector<char> agrees;  // each one's, in the order of their starts
    std::size_t agreeFor = 0;  // of the cues it puts elsewhere, those that agree with it
    std::size_t bestFor = 0;   // and those that agree with the best
    // How far the best stands above it there, in standard deviations.
    double margin() const
    {
        double a = double(bestFor), b = double(agreeFor);
        return (a - b) / std::sqrt(a + b + 1);
    }
};

struct Alignment {
    Fit fit = Fit::Found;
    Mapping mapping;
    int track = 0;             // the track it was found on
    int from = -1, to = -1;    // a frame-rate ratio FrameRates[from] : FrameRates[to], or -1
    bool drift = false;        // a scale beside the ratios
    std::size_t cues = 0;      // cues with speech, that were aligned
    std::size_t agree = 0;     // of them, those whose start is where the track rises for them
    std::vector<char> agrees;  // each one's, in the order of their starts
    double chance = 0;         // how many would agree with a change by chance
    // The other places found, the nearest rival first.
    std::vector<Rival> rivals;
};

// Finds the change that fits the cues (those with speech) best to one of
// the tracks. `cues` must not be empty.
Alignment align(const std::vector<Track>& tracks, const std::vector<Cue>& cues,
                const AlignOptions& options);

// A track made of another subtitle file's cues: active while they are
// shown.
Track cueTrack(const std::vector<Cue>& cues);

// The parts of the alignment that the piecewise fit (splits.h) builds on.

// The cues that hold speech (all of them if none does), less those shown
// for no time.
std::vector<Cue> speechCues(const std::vector<Cue>& cues);

// The sum of the track's activity over frames [0, x) (in frames, the frame x
// falls in taken in part).
double sumTo(const Track& t, double x);

// A cue whose start lies this close to where a change puts it agrees with
// the change (ms).
constexpr double AgreeMs = 150;

// The frame-rate ratio (1 included, with `from` and `to` -1) within
// `tolerance` (a fraction) of `scale`, the nearest; false if none is.
bool ratioNear(double scale, double tolerance, int* from, int* to, double* ratio);

// The cues [from, to) put one by one to the track around `m`: each finds
// where the track rises for it nearby; the change through those places
// (an offset, and with `slope` a scale too), and which cues agree with it.
struct Agreement {
    Mapping mapping;
    std::size_t agree = 0;
    double chance = 0;           // how many would agree by chance
    std::vector<char> agrees;    // each cue's
    std::vector<double> x, d;    // where the candidate put each start, and its place from there
    std::vector<double> placed;  // where `mapping` puts each start
};
Agreement placeCues(const Track& t, const Cue* from, const Cue* to, Mapping m, bool slope);

}  // namespace chronelle
