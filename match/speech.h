// Where someone speaks in a film, 10 ms at a time, seen two ways: the
// loudness of the speech band above the quiet around it, and what rises in
// each band above the steady sound of the moment (a music bed, a hum).
// The matcher aligns the subtitles with each view and keeps the better.
#pragma once

#include <cstdint>
#include <vector>

#include "sound.h"

namespace chronelle {

// A signal to align cues with, one value per 10 ms frame: activity (high
// while someone speaks) and onsets (high where speech begins), each with
// its mean taken out.
struct Track {
    const char* name = "";
    std::vector<float> activity;
    std::vector<float> onsets;
    // Prefix sums of activity (one more than frames): the sum over any
    // stretch of time in two look-ups. Floats are plenty: the activity's
    // mean is out, so they stay small.
    std::vector<float> sums;
    double activityNorm = 0, onsetNorm = 0;  // square roots of the sums of squares
    // How long after a cue's start its words are heard rising in the
    // activity: subtitles are shown a little before the words.
    double leadMs = 0;
};

enum class Hearing {
    Speech,   // views made
    Silent,   // nothing above a whisper
    NoSpeech, // sound, but nothing that rises and falls as speech does
};

// The two views of the film's sound, and two more of its front centre
// channel alone when it has one. The sound's levels are let go on the way,
// each once its views are made.
Hearing speechViews(Sound& sound, std::vector<Track>* views);

// Takes the mean out of `activity` and `onsets` and fills in the rest.
void finishTrack(Track& track);

}  // namespace chronelle
