// Where someone speaks in a film, 10 ms at a time: how likely it is that
// someone speaks in each frame, as a trained classifier tells, in the
// whole mix and in the front centre channel alone (where films put voices).
// The matcher aligns the subtitles with each view and keeps the better.
#pragma once

#include <cstdint>
#include <vector>

#include "sound.h"

namespace chronelle {

// A signal to align cues with, one value per 10 ms frame: activity (high
// while someone speaks), with its mean taken out.
struct Track {
    std::vector<float> activity;
    // Prefix sums of activity (one more than frames): the sum over any
    // stretch of time in two look-ups. Floats are plenty: the activity's
    // mean is out, so they stay small.
    std::vector<float> sums;
    // How long after a cue's start its words are heard rising in the
    // activity: subtitles are shown a little before the words.
    double leadMs = 0;
    int audio = 0;  // the film's audio track it was heard in, from 1 (0: none)
};

enum class Hearing {
    Speech,    // views made
    Silent,    // nothing above a whisper
    NoSpeech,  // sound, but nothing that rises and falls as speech does
};

// The view of the film's sound, and one more of its front centre channel
// alone when it has one. The sound's levels are let go on the way, each
// once its view is made.
Hearing speechViews(Sound& sound, std::vector<Track>* views);

// What the classifier sees of each frame (SpeechFeatures values a frame,
// speech_model.h): for training it offline.
std::vector<float> speechFeatures(const std::vector<std::uint8_t>& bands);

// Takes the mean out of `activity` and fills in the rest. False when the
// activity is the same throughout.
bool finishTrack(Track& track);

}  // namespace chronelle
