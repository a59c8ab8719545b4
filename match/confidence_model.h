// The matcher's confidence: a logistic curve of its evidence, written by
// bench/voices/calibrate.py: do not edit by hand. (Not yet fitted.)
#pragma once

namespace chronelle {

// Weights of: agreeing cues above chance (sd / 10), share of cues agreeing,
// the rival's margin (sd / 10), the rival's share of the best's cues, log10
// cues; then the constant.
constexpr double ConfidenceWeights[6] = {6, 4, 8, -6, 0, -8};

}  // namespace chronelle
