// Time arithmetic on the fields of a time, with both hour digits and
// clamping, so that every carry and borrow comes out right.
#include "time_shift.h"

#include <cstdint>
#include <cstring>

#include "timing_line.h"

namespace chronelle {

std::int64_t toMilliseconds(const Shift& shift)
{
    return ((std::int64_t(shift.h) * 60 + shift.m) * 60 + shift.s) * 1000 + shift.ms;
}

static int digit(const char* p) { return *p - '0'; }

static int two(const char* p) { return (p[0] - '0') * 10 + (p[1] - '0'); }

// "00" to "99", two characters each.
static const char digitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

static void putTwo(char* p, int value) { std::memcpy(p, digitPairs + 2 * value, 2); }

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

#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
#define CHRONELLE_LITTLE_ENDIAN 1
#endif

// Inlined where many times are changed. "HH:MM:SS" is read as one word: with
// '0' taken from each byte, 10 times a byte plus the next gives each pair's
// value in its first byte (at most 9 * 10 + 9: no carry crosses bytes).
static inline std::int64_t millisecondsAt(const char* t)
{
#ifdef CHRONELLE_LITTLE_ENDIAN
    std::uint64_t w;
    std::uint32_t f;
    std::memcpy(&w, t, 8);
    std::memcpy(&f, t + 8, 4);
    // The separators made '0': an end time's may be any byte.
    w = (w & 0xFFFF00FFFF00FFFFULL) | 0x0000300000300000ULL;
    std::uint64_t d = w - 0x3030303030303030ULL;
    std::uint64_t pairs = d * 10 + (d >> 8);
    std::uint32_t millis = (f | 0xFF) - 0x303030FFu;  // the separator's byte made 0
    return std::int64_t(pairs & 0xFF) * 3600000 + std::int64_t(pairs >> 24 & 0xFF) * 60000 +
           std::int64_t(pairs >> 48 & 0xFF) * 1000 + (millis >> 8 & 0xFF) * 100 +
           (millis >> 16 & 0xFF) * 10 + (millis >> 24);
#else
    return std::int64_t(two(t)) * 3600000 + two(t + 3) * 60000 + two(t + 6) * 1000 +
           digit(t + 9) * 100 + two(t + 10);
#endif
}

std::int64_t timeAt(const char* t) { return millisecondsAt(t); }

// Granlund and Montgomery's division by invariant integers: for n < 2^N and
// l = ceil(log2 d), m = floor(2^(N+l) / d) + 1 gives n / d = (n * m) >> (N+l).
// N is 62, or 63 for d = 2, so that the shift is at least 64: the quotient
// is then in the high half of the product, shifted by what is left.
Divider divider(std::uint64_t d)
{
    Divider by;
    by.d = d;
#ifdef __SIZEOF_INT128__
    int l = 0;
    while ((std::uint64_t(1) << l) < d)
        ++l;
    int shift = (l >= 2 ? 62 : 63) + l;
    by.magic = std::uint64_t(((unsigned __int128)1 << shift) / d + 1);
    by.shift = shift - 64;
#endif
    return by;
}

static inline std::uint64_t divideInline(std::uint64_t n, const Divider& by)
{
#ifdef __SIZEOF_INT128__
    return std::uint64_t(((unsigned __int128)n * by.magic) >> 64) >> by.shift;
#else
    return n / by.d;
#endif
}

std::uint64_t divide(std::uint64_t n, const Divider& by) { return divideInline(n, by); }

Divider roundingDivider(const Scale& scale) { return divider(std::uint64_t(2 * scale.den)); }

static inline std::int64_t scaleInline(std::int64_t t, const Scale& scale, const Divider& twiceDen)
{
    // Rounded to the nearest, halves away from zero: floor((2v + den) / 2den)
    // for v >= 0, the same on -v for v < 0.
    std::int64_t v = scale.num * t + scale.add;
    std::uint64_t twiceV = std::uint64_t(v >= 0 ? v : -v) * 2;
    std::int64_t q = std::int64_t(divideInline(twiceV + std::uint64_t(scale.den), twiceDen));
    return v >= 0 ? q : -q;
}

std::int64_t scaleTime(std::int64_t t, const Scale& scale)
{
    return scaleInline(t, scale, roundingDivider(scale));
}

#ifdef CHRONELLE_LITTLE_ENDIAN
// "MM:SS" for each second of an hour, and "mmm" for each millisecond, as the
// bytes of a time hold them: a time is then written with two table reads.
struct TimeTables {
    std::uint64_t minutesSeconds[3600];  // bytes 3-4 and 6-7 of "HH:MM:SS"
    std::uint32_t millis[1000];          // bytes 1-3 of ",mmm"
    TimeTables()
    {
        auto byte = [](int digit, int at) { return std::uint64_t('0' + digit) << (8 * at); };
        for (int r = 0; r < 3600; ++r)
            minutesSeconds[r] =
                byte(r / 600, 3) | byte(r / 60 % 10, 4) | byte(r % 60 / 10, 6) | byte(r % 10, 7);
        for (int m = 0; m < 1000; ++m)
            millis[m] = std::uint32_t(byte(m / 100, 1) | byte(m / 10 % 10, 2) | byte(m % 10, 3));
    }
};
static const TimeTables tables;
#endif

// Writes `ms`, held to 0 .. MaxTimeMs, as the time at `t`; returns 1 when
// it had to be held.
static inline int putHeld(char* t, std::int64_t ms)
{
    int held = ms < 0 || ms > MaxTimeMs;
    ms = ms < 0 ? 0 : ms > MaxTimeMs ? MaxTimeMs : ms;
    int s = int(ms / 1000), h = s / 3600, rest = s - h * 3600;
#ifdef CHRONELLE_LITTLE_ENDIAN
    // "HH:MM:SS" in one store, its two separators kept as they are (the end
    // time's are not always ':'), and "mmm" with the byte before it kept.
    std::uint16_t hh;
    std::memcpy(&hh, digitPairs + 2 * h, 2);
    std::uint64_t w;
    std::uint32_t f;
    std::memcpy(&w, t, 8);
    std::memcpy(&f, t + 8, 4);
    w = (w & 0x0000FF0000FF0000ULL) | hh | tables.minutesSeconds[rest];
    f = (f & 0xFF) | tables.millis[ms - std::int64_t(s) * 1000];
    std::memcpy(t, &w, 8);
    std::memcpy(t + 8, &f, 4);
#else
    setTime(t, h, rest / 60, rest % 60, int(ms % 1000));
#endif
    return held;
}

int scaleTimes(char* time, const Scale& scale, const Divider& twiceDen)
{
    // Both times at once: their work is independent.
    std::int64_t start = scaleInline(millisecondsAt(time), scale, twiceDen);
    std::int64_t end = scaleInline(millisecondsAt(time + 17), scale, twiceDen);
    return putHeld(time, start) + putHeld(time + 17, end);
}

int scaleTimes(char* time, const Scale& scale)
{
    return scaleTimes(time, scale, roundingDivider(scale));
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
