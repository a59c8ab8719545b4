// Durations as the command-line tool takes them: "5", "2.5", "0,250",
// "1:30", "0:00:05,000".
#pragma once

#include <string>

#include "time_shift.h"

namespace chronelle {

// Parses seconds, M:SS or H:MM:SS, each with an optional fraction of 1 to 3
// digits after '.' or ','. Fields after the first are two digits below 60;
// the whole is below 100 hours. False when `text` is none of these.
bool parseDuration(const std::string& text, Shift* shift);

}  // namespace chronelle
