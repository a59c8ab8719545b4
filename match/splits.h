// A film with cuts (a scene or an advert break taken out or put in): its
// cues fitted piece by piece, each piece a run of consecutive cues with its
// own offset on the scale found for the whole, with a cost per split so
// that a film without cuts keeps one piece.
#pragma once

#include <cstdint>
#include <vector>

#include "align.h"

namespace chronelle {

constexpr std::size_t PieceCues = 6;  // the fewest cues of a piece

struct Split {
    std::int64_t fromMs = 0;  // the subtitle's start of the piece's first cue
    Mapping mapping;
    std::size_t cues = 0;   // cues with speech in it
    std::size_t agree = 0;  // of them, those that agree with its mapping
    double chance = 0;      // how many would by chance
    bool sure = true;       // where it begins is clear
};

// The pieces of `cues` (those with speech count, in order of their starts)
// on `track`, given `whole`, the mapping found for all of them, and `also`,
// other offsets found on the same scale; more are looked for within
// `maxOffsetMs` each way. One piece, `whole` itself (with no agreement of
// its own), when no split pays for itself.
std::vector<Split> splitFit(const Track& track, const std::vector<Cue>& cues, const Mapping& whole,
                            const std::vector<double>& also, std::int64_t maxOffsetMs);

}  // namespace chronelle
