// The sound of a film: its audio track decoded with FFmpeg's libraries and
// streamed, 10 ms at a time, into the level of each of a few frequency
// bands. Memory stays small whatever the film: a few bytes per 10 ms.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "patcher.h"

namespace chronelle {

constexpr int FrameMs = 10;
constexpr int Bands = 16;
// A band's level is kept in half decibels above this.
constexpr double LevelFloorDb = -110;

struct SoundOptions {
    int track = 0;                  // 0: the film's default audio track; N: its Nth one, from 1
    ProgressFn progress = nullptr;  // may be called from another thread
    void* user = nullptr;
    const std::atomic<bool>* stop = nullptr;  // set to stop listening
    bool bothCores = true;                    // two halves of the film at once
};

enum class SoundFailure {
    None,
    NotRegular,   // a directory, FIFO or device
    Open,         // not a file FFmpeg can read
    NoAudio,      // no audio track at all
    NoSuchTrack,  // fewer audio tracks than --track asked for
    Decoder,      // no decoder for its codec, or it cannot be opened
    Truncated,    // the sound stops well before the film's stated end
    Stopped,      // the stop flag, or a stop signal
};

struct Sound {
    std::int64_t frames = 0;          // 10 ms frames
    std::vector<std::uint8_t> bands;  // Bands levels per frame
    // The same of the front centre channel alone, when the film has one
    // (5.1, 3.0 ...); empty otherwise.
    std::vector<std::uint8_t> centre;
    int tracks = 0;             // audio tracks in the film
    int track = 0;              // the one listened to, from 1
    std::string codec;          // its codec's name
    std::int64_t statedMs = 0;  // the film's duration as it says (0: unknown)
};

struct SoundResult {
    SoundFailure failure = SoundFailure::None;
    std::string detail;  // FFmpeg's words for what failed
    int signal = 0;      // the stop signal, when stopped by one
};

// Listens to the film at `path` (a name in the file system's encoding;
// UTF-8 on Windows).
SoundResult listen(const std::string& path, const SoundOptions& options, Sound* sound);

}  // namespace chronelle
