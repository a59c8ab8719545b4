// Moving both times of a timing line by one offset, in the line's own
// characters.
#pragma once

#include <cstdint>

namespace chronelle {

// An offset as the window's four spin buttons give it.
struct Shift {
    int h = 0;
    int m = 0;
    int s = 0;
    int ms = 0;
};

// The latest time a timing line can hold: 99:59:59,999.
constexpr std::int64_t MaxTimeMs = ((99 * 60 + 59) * 60 + 59) * 1000 + 999;

std::int64_t toMilliseconds(const Shift& shift);

// An offset in milliseconds split into fields that all have its sign:
// prepared once for all the lines of a file.
struct Offset {
    int h, m, s, ms;
};
Offset splitOffset(std::int64_t offsetMs);
int shiftTimes(char* time, const Offset& offset);

// Adds `offsetMs` (negative to remove time) to both times of the shiftable
// timing line `time` (at least 29 characters), clamping each time to
// 00:00:00,000 .. 99:59:59,999. Only the 18 digit positions change.
// Returns how many of the two times were clamped.
int shiftTimes(char* time, std::int64_t offsetMs);

// Adds the offset to both times of `time`; to remove time the caller passes
// the negated values. A line that is not shiftable is left as it was.
char* addTime(char* time, int Addh, int Addm, int Adds, int Addms);

}  // namespace chronelle
