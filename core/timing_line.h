// The SubRip timing line "HH:MM:SS,mmm --> HH:MM:SS,mmm" and the tests that
// recognise it in a line read from a file.
#pragma once

#include <cstddef>

namespace chronelle {

// A timing line on disk: 29 characters and CR LF.
struct TimingLine {
    static constexpr std::size_t size = 31;
    static constexpr std::size_t text = 29;
};

// Lines are read into a buffer of this size: at most 255 bytes and a NUL.
constexpr std::size_t LineBufferSize = 256;

// The 18 positions that hold the digits of the two times.
constexpr int DigitPositions[18] = {0,  1,  3,  4,  6,  7,  9,  10, 11,
                                    17, 18, 20, 21, 23, 24, 26, 27, 28};

// True when position 2 and 5 hold ':' and position 15 holds '>'. Nothing else
// is looked at; a line of fewer than 16 bytes is never a timing line.
bool isTimingLine(const char* line, std::size_t length);

// Stricter: a timing line of at least 29 characters before its line end
// (`length` may run on past the line: what follows its end is not read),
// whose 18 digit positions hold digits and whose minutes and seconds are at
// most 59. Only such lines are ever rewritten.
bool isShiftable(const char* line, std::size_t length);

}  // namespace chronelle
