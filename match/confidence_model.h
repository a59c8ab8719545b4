// The matcher's confidence: a logistic curve of its evidence, written by
// bench/voices/calibrate.py from films of voices it never hears otherwise:
// do not edit by hand.
// 127 cases of 12 films, 94 right
#pragma once

namespace chronelle {

// Weights of: agreeing cues above chance (sd / 10), share of cues agreeing, the rival's margin (sd / 10), the rival's share of the best's cues, log10 cues; then the constant.
constexpr double ConfidenceWeights[6] = {0.0898544, 15.5698, 9.91606, -11.1719, 1.1795, -3.53143};

}  // namespace chronelle
