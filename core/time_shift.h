// Moving both times of a timing line by one offset, in the line's own
// characters.
#pragma once

#include <cstdint>
#include <limits>

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

// The time "HH:MM:SS,mmm" at `t` (digits, as a shiftable line holds them) in
// milliseconds.
std::int64_t timeAt(const char* t);

// A linear change of times: t becomes (num * t + add) / den, rounded to the
// nearest millisecond, halves away from zero. den > 0; num * t + add must
// stay within 63 bits for t up to MaxTimeMs.
struct Scale {
    std::int64_t num = 1, den = 1, add = 0;
};

// Division of numbers below 2^62 by one divisor, many times over: a
// multiplication and a shift where the compiler has 128-bit integers (a
// division costs tens of cycles), a plain division elsewhere.
struct Divider {
    std::uint64_t d = 1, magic = 0;
    int shift = 0;
};
Divider divider(std::uint64_t d);
std::uint64_t divide(std::uint64_t n, const Divider& by);

// The divider that a scale's rounding needs: by 2 * den.
Divider roundingDivider(const Scale& scale);

std::int64_t scaleTime(std::int64_t t, const Scale& scale);

// One piece of a change made of pieces: the lines whose key (the start time
// in ms, or the position among the shiftable lines) is in [from, until) go
// through `scale`; an offset alone is the scale 1/1 with its `add`.
struct Piece {
    std::int64_t from = 0;
    std::int64_t until = std::numeric_limits<std::int64_t>::max();
    Scale scale;
};

// Changes both times of the shiftable timing line `time` by `scale`, each
// clamped to 00:00:00,000 .. 99:59:59,999. Only the 18 digit positions
// change. Returns how many of the two times were clamped.
int scaleTimes(char* time, const Scale& scale, const Divider& twiceDen);
int scaleTimes(char* time, const Scale& scale);

// Adds the offset to both times of `time`; to remove time the caller passes
// the negated values. A line that is not shiftable is left as it was.
char* addTime(char* time, int Addh, int Addm, int Adds, int Addms);

}  // namespace chronelle
