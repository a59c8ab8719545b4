// The matcher as the command-line tool and the window use it: listen once
// to a film (or read a well-timed subtitle file), then find for each
// subtitle file the change that puts it in time, as one of the changes the
// patcher makes, with how confident that is and whether it is sure enough
// to apply.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "align.h"
#include "cues.h"
#include "patcher.h"
#include "sound.h"
#include "speech.h"
#include "splits.h"

namespace chronelle {

// Below this confidence the best candidate is not applied: a wrong change
// made in place is worse than none.
constexpr double SureConfidence = 0.9;
// A rival that has this share of the best's agreeing cues, where the two
// put them in different places, fits about as well: both are told.
constexpr double RivalShare = 0.7;
// A rival is told beside a best change that this many standard deviations
// of cues above chance, and this share of the cues, agree with.
constexpr double RivalAboveChance = 5, RivalAgreeShare = 0.3;
// A film is cut when a piece agrees with this many standard deviations more
// of its cues than the whole's change did, or than another.
constexpr double CutGain = 3;
// Nor with fewer cues than this: a handful fit anywhere.
constexpr std::size_t SureCues = 10;

// A change that moves no cue by more than this is no change at all.
constexpr double InTimeMs = 50;

struct MatchOptions {
    std::int64_t maxOffsetMs = 600000;
    int track = 0;                  // 0: the film's default audio track
    bool splits = false;            // a film with cuts: the cues matched piece by piece
    ProgressFn progress = nullptr;  // while listening; may come from another thread
    void* user = nullptr;
    const std::atomic<bool>* stop = nullptr;
};

enum class ReferenceFailure {
    None,
    Sound,     // the film could not be listened to: see `sound`
    Silent,    // its sound track is silent
    NoSpeech,  // nothing in it comes and goes as speech does
    Cues,      // the reference subtitle file could not be read: see `cues`
};

// What cues are matched against, made once for any number of files.
struct Reference {
    bool film = false;  // a film's sound, or another subtitle file's cues
    Sound sound;        // the film: what was heard, and of which track
    std::vector<Track> tracks;
    std::int64_t durationMs = 0;
    ReferenceFailure failure = ReferenceFailure::None;
    SoundResult soundResult;
    CuesResult cuesResult;
};

// Whether the reference at `path` is a subtitle file: named *.srt, or one
// that the probe accepts; a film otherwise.
bool subtitleReference(const std::string& path);

// Reads the reference at `path`: a subtitle file or a film, as
// subtitleReference tells.
Reference loadReference(const std::string& path, const MatchOptions& options);

enum class ChangeKind {
    InTime,  // nothing to change
    Offset,  // --add / --remove
    Rates,   // --fps FROM:TO
    Linear,  // --sync OLD1=NEW1,OLD2=NEW2
    Pieces,  // --piece FROM-UNTIL=CHANGE, once per piece
};

// One piece found with splits: where it begins (the subtitle's time of its
// first cue) and how much that cue moves.
struct FoundPiece {
    std::int64_t fromMs = 0, offsetMs = 0;
};

// Why a change found is not made.
enum class Doubt {
    None,     // sure: it is made
    FewCues,  // too few cues with speech to tell
    Weak,     // its confidence is below what a change in place needs
    Rival,    // another change, told in `rivals`, fits about as well
    Cut,      // one change fits the cues before a place, another those after
              // it: the film is cut, and is matched piece by piece (--splits)
};

struct Found {
    Alignment alignment;
    ChangeKind kind = ChangeKind::InTime;
    bool sure = false;  // made in place: doubt is None
    Doubt doubt = Doubt::Weak;
    // How often a change found with this much evidence is the right one,
    // 0 to 1, as measured on films timed by people.
    double confidence = 0;
    // Other changes that fit nearly as well (with Doubt::Rival), best first.
    std::vector<Found> rivals;
    // The change as chronelle-shift takes it ("--add", "2.48"), and as the
    // patcher applies it: the same, parsed from that text.
    std::string mode, text;
    std::vector<std::string> pieces;  // Pieces: the text of each --piece
    std::vector<FoundPiece> found;    // Pieces: each one, in order
    Retiming retiming;
    std::int64_t offsetMs = 0;  // Offset: the offset; otherwise at the first cue
    // How much more the last cue moves than the first (ms): a drift.
    std::int64_t driftMs = 0;
};

// Matches the cues of one subtitle file (not empty) with the reference.
Found matchCues(const Reference& reference, const std::vector<Cue>& cues,
                const MatchOptions& options);

}  // namespace chronelle
