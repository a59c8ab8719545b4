// Time arithmetic on the fields of a time, with both hour digits and
// clamping, so that every carry and borrow comes out right.
#include "time_shift.h"

#include <cstring>

#include "timing_line.h"

namespace chronelle {

std::int64_t toMilliseconds(const Shift& shift)
{
    return ((std::int64_t(shift.h) * 60 + shift.m) * 60 + shift.s) * 1000 + shift.ms;
}

static int digit(const char* p) { return *p - '0'; }

static int two(const char* p) { return (p[0] - '0') * 10 + (p[1] - '0'); }

static void putTwo(char* p, int value)
{
    static const char pairs[] =
        "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
        "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
        "8081828384858687888990919293949596979899";
    std::memcpy(p, pairs + 2 * value, 2);
}

Offset splitOffset(std::int64_t offsetMs)
{
    // Beyond the whole range every time clamps the same way.
    if (offsetMs > MaxTimeMs)
        offsetMs = MaxTimeMs + 1;
    else if (offsetMs < -MaxTimeMs)
        offsetMs = -MaxTimeMs - 1;
    int sign = offsetMs < 0 ? -1 : 1;
    std::int64_t a = offsetMs < 0 ? -offsetMs : offsetMs;
    return Offset{sign * int(a / 3600000), sign * int(a / 60000 % 60), sign * int(a / 1000 % 60),
                  sign * int(a % 1000)};
}

static void putThree(char* p, int value)
{
    p[0] = char('0' + value / 100);
    putTwo(p + 1, value % 100);
}

// Sets the fields of the time at `t`, leaving its separators alone.
static void setTime(char* t, int h, int m, int s, int ms)
{
    putTwo(t, h);
    putTwo(t + 3, m);
    putTwo(t + 6, s);
    putThree(t + 9, ms);
}

// Adds `add` and an incoming carry to the field of `unit` values at `p`
// (two digits, or three for milliseconds); returns the carry out.
static int addField(char* p, int digits, int unit, int add, int carry)
{
    int v = (digits == 3 ? digit(p) * 100 + two(p + 1) : two(p)) + add + carry;
    carry = v >= unit ? 1 : v < 0 ? -1 : 0;
    v -= carry * unit;
    if (digits == 3)
        putThree(p, v);
    else
        putTwo(p, v);
    return carry;
}

// Shifts the time "HH:MM:SS,mmm" at `t`; returns 1 when it had to be clamped.
// Each field of the offset is below its unit and has the offset's sign, so
// one carry or borrow per field is enough; a field that gets neither an
// offset nor a carry is left as it is, which spares most of the work for
// the usual offsets of a few seconds.
static int shiftOne(char* t, const Offset& o)
{
    int carry = 0;
    if (o.ms)
        carry = addField(t + 9, 3, 1000, o.ms, 0);
    if (o.s || carry)
        carry = addField(t + 6, 2, 60, o.s, carry);
    if (o.m || carry)
        carry = addField(t + 3, 2, 60, o.m, carry);
    if (o.h || carry) {
        int h = two(t) + o.h + carry;
        if (h < 0) {
            setTime(t, 0, 0, 0, 0);
            return 1;
        }
        if (h > 99) {
            setTime(t, 99, 59, 59, 999);
            return 1;
        }
        putTwo(t, h);
    }
    return 0;
}

// Inlined where many times are changed; the products are independent, so
// that they run side by side.
static inline std::int64_t millisecondsAt(const char* t)
{
    return std::int64_t(two(t)) * 3600000 + two(t + 3) * 60000 + two(t + 6) * 1000 +
           digit(t + 9) * 100 + two(t + 10);
}

std::int64_t timeAt(const char* t) { return millisecondsAt(t); }

std::int64_t scaleTime(std::int64_t t, const Scale& scale)
{
    // Rounded to the nearest, halves away from zero: floor((2v + den) / 2den)
    // for v >= 0, the same on -v for v < 0.
    std::int64_t v = scale.num * t + scale.add;
    std::int64_t q = (2 * (v >= 0 ? v : -v) + scale.den) / (2 * scale.den);
    return v >= 0 ? q : -q;
}

// Writes `ms`, held to 0 .. MaxTimeMs, as the time at `t`; returns 1 when
// it had to be held.
static inline int putHeld(char* t, std::int64_t ms)
{
    int held = ms < 0 || ms > MaxTimeMs;
    ms = ms < 0 ? 0 : ms > MaxTimeMs ? MaxTimeMs : ms;
    setTime(t, int(ms / 3600000), int(ms / 60000 % 60), int(ms / 1000 % 60), int(ms % 1000));
    return held;
}

int scaleTimes(char* time, const Scale& scale)
{
    // Both times at once: their work is independent.
    std::int64_t start = scaleTime(millisecondsAt(time), scale);
    std::int64_t end = scaleTime(millisecondsAt(time + 17), scale);
    return putHeld(time, start) + putHeld(time + 17, end);
}

int shiftTimes(char* time, const Offset& offset)
{
    return shiftOne(time, offset) + shiftOne(time + 17, offset);
}

int shiftTimes(char* time, std::int64_t offsetMs)
{
    return shiftTimes(time, splitOffset(offsetMs));
}

char* addTime(char* time, int Addh, int Addm, int Adds, int Addms)
{
    if (isShiftable(time, std::strlen(time)))
        shiftTimes(time, toMilliseconds(Shift{Addh, Addm, Adds, Addms}));
    return time;
}

}  // namespace chronelle
