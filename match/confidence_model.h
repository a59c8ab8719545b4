// The matcher's confidence: a logistic curve of its evidence, written by
// bench/voices/calibrate.py from films of voices it never hears otherwise:
// do not edit by hand.
// 211 cases of 12 films, 172 right
#pragma once

namespace chronelle {

// Weights of: agreeing cues above chance (sd / 10), share of cues agreeing, the rival's margin (sd
// / 10), the rival's share of the best's cues, log10 cues; then the constant. Against a film's
// sound, and against a well-timed subtitle file.
constexpr double ConfidenceWeights[6] = {2.05598,  10.0963,    3.19752,
                                         -10.0678, -0.0286374, -0.671248};
constexpr double ReferenceConfidenceWeights[6] = {4.67246,  6.83953,  1.22408,
                                                  -1.74469, -4.33319, 1.66613};

}  // namespace chronelle
