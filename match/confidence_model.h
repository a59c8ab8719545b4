// The matcher's confidence: a logistic curve of its evidence, written by
// bench/voices/calibrate.py from films of voices it never hears otherwise:
// do not edit by hand.
// 211 cases of 12 films, 172 right
#pragma once

namespace chronelle {

// Weights of: agreeing cues above chance (sd / 10), share of cues agreeing, the rival's margin (sd
// / 10), the rival's share of the best's cues, log10 cues; then the constant. Against a film's
// sound, and against a well-timed subtitle file.
constexpr double ConfidenceWeights[6] = {1.98238, 9.21031, 3.08229, -9.81679, -0.0595584, -0.16665};
constexpr double ReferenceConfidenceWeights[6] = {4.65492,  6.82225,  1.23591,
                                                  -1.78572, -4.31451, 1.68217};

}  // namespace chronelle
