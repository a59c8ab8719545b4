// Recognising timing lines.
#include "timing_line.h"

#include <cstdint>
#include <cstring>
#include <initializer_list>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace chronelle {

bool isTimingLine(const char* line, std::size_t length)
{
    return length >= 16 && line[2] == ':' && line[5] == ':' && line[15] == '>';
}

// The checks of isShiftable run on every candidate line of a file, so they
// work on the line's first 32 bytes at once.
namespace {

#if defined(__SSE2__)
// With SSE2 (every x86-64), as two 16-byte vectors: each byte less its base
// must be at most its limit (9 or 5 for a digit, 0 for a separator, 255
// where anything goes), and the positions nothing else tests must not hold
// an LF. Counted by callgrind on 100 MB, 41 million instructions fewer than
// the words below (267 million in all, instead of 308).
struct Vectors {
    __m128i base[2], limit[2], free[2];
};

Vectors makeVectors()
{
    unsigned char base[32] = {}, limit[32], free[32] = {};
    std::memset(limit, 0xFF, sizeof limit);
    for (int p : DigitPositions) {
        base[p] = '0';
        limit[p] = 9;
    }
    for (int p : {3, 6, 20, 23})
        limit[p] = 5;
    for (int p : {2, 5, 15}) {
        base[p] = p == 15 ? '>' : ':';
        limit[p] = 0;
    }
    for (int p : {8, 12, 13, 14, 16, 19, 22, 25})
        free[p] = 0xFF;
    Vectors v;
    for (int k = 0; k < 2; ++k) {
        v.base[k] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(base + 16 * k));
        v.limit[k] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(limit + 16 * k));
        v.free[k] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(free + 16 * k));
    }
    return v;
}

const Vectors vectors = makeVectors();

bool shiftableBytes(const unsigned char* bytes)
{
    int good = 0xFFFF;
    for (int k = 0; k < 2; ++k) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + 16 * k));
        __m128i d = _mm_sub_epi8(v, vectors.base[k]);
        __m128i inRange = _mm_cmpeq_epi8(_mm_max_epu8(d, vectors.limit[k]), vectors.limit[k]);
        __m128i lineEnd = _mm_and_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('\n')), vectors.free[k]);
        good &= _mm_movemask_epi8(_mm_andnot_si128(lineEnd, inRange));
    }
    return good == 0xFFFF;
}
#else
// Elsewhere, as four 64-bit words. Masks are loaded the same way as the
// line, so byte order does not matter.
using Word = std::uint64_t;

struct Masks {
    Word digit[4];    // 0xFF at the 18 digit positions
    Word zeros[4];    // '0' everywhere else
    Word add[4];      // added to a digit: 6 (9 is the last digit), 10 at the
                      // tens of minutes and seconds (5 is their last digit)
    Word sep[4];      // 0xFF at positions 2, 5 and 15
    Word sepText[4];  // ':' ':' '>' there
    Word free[4];     // 0xFF at the positions nothing else tests
};

Word load(const unsigned char* p)
{
    Word w;
    std::memcpy(&w, p, sizeof w);
    return w;
}

Masks makeMasks()
{
    unsigned char digit[32] = {}, zeros[32], add[32] = {}, sep[32] = {}, sepText[32] = {},
                  free[32] = {};
    std::memset(zeros, '0', sizeof zeros);
    for (int p : DigitPositions) {
        digit[p] = 0xFF;
        zeros[p] = 0;
        add[p] = 6;
    }
    for (int p : {3, 6, 20, 23})
        add[p] = 10;
    for (int p : {2, 5, 15})
        sep[p] = 0xFF;
    sepText[2] = sepText[5] = ':';
    sepText[15] = '>';
    for (int p : {8, 12, 13, 14, 16, 19, 22, 25})
        free[p] = 0xFF;
    Masks m;
    for (int k = 0; k < 4; ++k) {
        m.digit[k] = load(digit + 8 * k);
        m.zeros[k] = load(zeros + 8 * k);
        m.add[k] = load(add + 8 * k);
        m.sep[k] = load(sep + 8 * k);
        m.sepText[k] = load(sepText + 8 * k);
        m.free[k] = load(free + 8 * k);
    }
    return m;
}

const Masks masks = makeMasks();

constexpr Word Ones = 0x0101010101010101ULL;

bool shiftableBytes(const unsigned char* bytes)
{
    Word bad = 0;
    for (int k = 0; k < 4; ++k) {
        Word w = load(bytes + 8 * k);
        // Digits: with every other byte made '0', each byte must be in
        // '0'..'9' (tens of minutes and seconds in '0'..'5'): high nibble 3,
        // before and after adding the limit. No carry crosses bytes once
        // the first test holds.
        Word v = (w & masks.digit[k]) | masks.zeros[k];
        bad |= ((v & (Ones * 0xF0)) ^ (Ones * 0x30)) |
               (((v + masks.add[k]) & (Ones * 0xF0)) ^ (Ones * 0x30));
        bad |= (w & masks.sep[k]) ^ masks.sepText[k];
        // No line end at the untested positions: a zero byte in w ^ '\n'.
        Word x = (w ^ (Ones * '\n')) | ~masks.free[k];
        bad |= (x - Ones) & ~x & (Ones * 0x80);
    }
    return bad == 0;
}
#endif

}  // namespace

bool isShiftable(const char* line, std::size_t length)
{
    if (length < TimingLine::text)
        return false;
    // The checks take 32 bytes; past the end of what was given, zeros.
    if (length < 32) {
        unsigned char copy[32] = {};
        std::memcpy(copy, line, length);
        return shiftableBytes(copy);
    }
    return shiftableBytes(reinterpret_cast<const unsigned char*>(line));
}

}  // namespace chronelle
