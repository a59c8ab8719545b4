// Recognising timing lines.
#include "timing_line.h"

#include <initializer_list>

namespace chronelle {

bool isTimingLine(const char* line, std::size_t length)
{
    return length >= 16 && line[2] == ':' && line[5] == ':' && line[15] == '>';
}

static bool isDigit(char c) { return c >= '0' && c <= '9'; }

bool isShiftable(const char* line, std::size_t length)
{
    if (length < TimingLine::text || !isTimingLine(line, length))
        return false;
    for (int p : DigitPositions)
        if (!isDigit(line[p]))
            return false;
    // Minutes and seconds: a tens digit above 5 is not a time.
    for (int p : {3, 6, 20, 23})
        if (line[p] > '5')
            return false;
    return true;
}

}  // namespace chronelle
