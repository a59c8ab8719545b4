// The arguments of the command-line tool: durations ("5", "2.5", "0,250",
// "1:30", "0:00:05,000") and ranges of timing lines ("12", "12-40", "12-",
// "-40").
#pragma once

#include <cstdint>
#include <string>

#include "time_shift.h"

namespace chronelle {

// Parses seconds, M:SS or H:MM:SS, each with an optional fraction of 1 to 3
// digits after '.' or ','. Fields after the first are two digits below 60;
// the whole is below 100 hours. False when `text` is none of these.
bool parseDuration(const std::string& text, Shift* shift);

// Parses N, N-M, N- or -M (positions counted from 1, N <= M) into `first` and
// `last`; an open end is 1 or `none`. False for anything else.
bool parseRange(const std::string& text, std::int64_t none, std::int64_t* first,
                std::int64_t* last);

}  // namespace chronelle
