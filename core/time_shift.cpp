// Time arithmetic on whole milliseconds, so that every carry and borrow,
// the hour's tens digit included, comes out right.
#include "time_shift.h"

#include <cstring>

#include "timing_line.h"

namespace chronelle {

std::int64_t toMilliseconds(const Shift& shift)
{
    return ((std::int64_t(shift.h) * 60 + shift.m) * 60 + shift.s) * 1000 + shift.ms;
}

static int digits(const char* p, int count)
{
    int value = 0;
    for (int i = 0; i < count; ++i)
        value = value * 10 + (p[i] - '0');
    return value;
}

static void putDigits(char* p, int count, std::int64_t value)
{
    for (int i = count - 1; i >= 0; --i) {
        p[i] = char('0' + value % 10);
        value /= 10;
    }
}

// Shifts the time "HH:MM:SS,mmm" at `t`; returns 1 when it had to be clamped.
static int shiftOne(char* t, std::int64_t offsetMs)
{
    std::int64_t ms = ((std::int64_t(digits(t, 2)) * 60 + digits(t + 3, 2)) * 60 +
                       digits(t + 6, 2)) * 1000 + digits(t + 9, 3);
    ms += offsetMs;
    int clamped = 0;
    if (ms < 0) {
        ms = 0;
        clamped = 1;
    } else if (ms > MaxTimeMs) {
        ms = MaxTimeMs;
        clamped = 1;
    }
    putDigits(t + 9, 3, ms % 1000);
    putDigits(t + 6, 2, ms / 1000 % 60);
    putDigits(t + 3, 2, ms / 60000 % 60);
    putDigits(t, 2, ms / 3600000);
    return clamped;
}

int shiftTimes(char* time, std::int64_t offsetMs)
{
    return shiftOne(time, offsetMs) + shiftOne(time + 17, offsetMs);
}

char* addTime(char* time, int Addh, int Addm, int Adds, int Addms)
{
    if (isShiftable(time, std::strlen(time)))
        shiftTimes(time, toMilliseconds(Shift{Addh, Addm, Adds, Addms}));
    return time;
}

}  // namespace chronelle
