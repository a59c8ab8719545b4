// Shifting both times of a line: carries, borrows, both hour digits and
// clamping, on the characters of the line buffer.
#include "time_shift.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

using chronelle::addTime;

static std::string shifted(const std::string& line, int h, int m, int s, int ms)
{
    char l[256];
    std::strcpy(l, line.c_str());
    EXPECT_EQ(addTime(l, h, m, s, ms), l);
    return l;
}

TEST(AddTime, CarriesAndBorrows)
{
    EXPECT_EQ(shifted("00:00:20,000 --> 00:00:24,400\r\n", 0, 0, 5, 0),
              "00:00:25,000 --> 00:00:29,400\r\n");
    EXPECT_EQ(shifted("00:59:59,500 --> 00:59:59,900\r\n", 0, 0, 0, 600),
              "01:00:00,100 --> 01:00:00,500\r\n");
    EXPECT_EQ(shifted("01:00:00,100 --> 01:00:00,200\r\n", 0, 0, 0, -300),
              "00:59:59,800 --> 00:59:59,900\r\n");
    EXPECT_EQ(shifted("00:05:07,123 --> 00:05:09,456\r\n", 1, 59, 59, 999),
              "02:05:07,122 --> 02:05:09,455\r\n");
    EXPECT_EQ(shifted("00:00:01,000 --> 00:00:02,000\r\n", 0, 0, 0, -5),
              "00:00:00,995 --> 00:00:01,995\r\n");
    EXPECT_EQ(shifted("12:30:00,000 --> 12:30:05,000\r\n", 1, 0, 0, 0),
              "13:30:00,000 --> 13:30:05,000\r\n");
}

TEST(AddTime, BothHourDigits)
{
    EXPECT_EQ(shifted("09:00:00,000 --> 09:59:59,999\r\n", 1, 0, 0, 0),
              "10:00:00,000 --> 10:59:59,999\r\n");
    EXPECT_EQ(shifted("10:00:00,000 --> 10:00:00,001\r\n", 0, 0, 0, -1),
              "09:59:59,999 --> 10:00:00,000\r\n");
    EXPECT_EQ(shifted("19:30:00,000 --> 20:00:00,000\r\n", -5, 0, 0, 0),
              "14:30:00,000 --> 15:00:00,000\r\n");
}

TEST(AddTime, ClampsEachTimeOnItsOwn)
{
    EXPECT_EQ(shifted("00:00:01,000 --> 00:00:09,000\r\n", 0, 0, -5, 0),
              "00:00:00,000 --> 00:00:04,000\r\n");
    EXPECT_EQ(shifted("97:00:00,000 --> 99:00:00,000\r\n", 2, 30, 0, 0),
              "99:30:00,000 --> 99:59:59,999\r\n");

    char l[64] = "00:00:01,000 --> 00:00:09,000";
    EXPECT_EQ(chronelle::shiftTimes(l, -2000), 1);
    EXPECT_EQ(chronelle::shiftTimes(l, -20000), 2);
    EXPECT_STREQ(l, "00:00:00,000 --> 00:00:00,000");
}

TEST(AddTime, ChangesOnlyTheDigits)
{
    const std::string withText = "00:00:20,000 --> 00:00:24,400 X1:100 X2:200\r\n";
    EXPECT_EQ(shifted(withText, 0, 0, 0, 0), withText);
    EXPECT_EQ(shifted(withText, 0, 0, -5, 0), "00:00:15,000 --> 00:00:19,400 X1:100 X2:200\r\n");
    // Odd separators stay as they are.
    EXPECT_EQ(shifted("00:00:20.000 -->\t00:00:24.400\n", 0, 0, 1, 0),
              "00:00:21.000 -->\t00:00:25.400\n");
}

TEST(AddTime, ZeroOffsetAndNonDigitsLeaveTheLine)
{
    const std::string line = "00:00:20,000 --> 00:00:24,400\r\n";
    EXPECT_EQ(shifted(line, 0, 0, 0, 0), line);
    EXPECT_EQ(shifted(line, -0, -0, -0, -0), line);
    const std::string junk = "ab:cd:efghijklm> and more text\r\n";
    EXPECT_EQ(shifted(junk, 1, 2, 3, 4), junk);
    const std::string badMinutes = "00:61:20,000 --> 00:00:24,400\r\n";
    EXPECT_EQ(shifted(badMinutes, 0, 0, 1, 0), badMinutes);
}

// The field-by-field arithmetic against plain milliseconds, over random
// times and offsets of every size and both signs.
TEST(ShiftTimes, AgreesWithMillisecondArithmetic)
{
    auto format = [](long long t) {
        char s[64];
        std::snprintf(s, sizeof s, "%02lld:%02lld:%02lld,%03lld", t / 3600000, t / 60000 % 60,
                      t / 1000 % 60, t % 1000);
        return std::string(s);
    };
    const long long maxMs = chronelle::MaxTimeMs;
    unsigned seed = 12345;
    auto next = [&seed](long long bound) {
        seed = seed * 1103515245u + 12345u;
        unsigned long long r = (unsigned long long)seed << 16 ^ (seed >> 8);
        return (long long)(r % (unsigned long long)bound);
    };
    for (int i = 0; i < 200000; ++i) {
        long long start = next(maxMs + 1), end = next(maxMs + 1);
        // Offsets from a few milliseconds to past the whole range.
        long long scale[] = {1000, 60000, 3600000, 6 * 3600000LL, 2 * maxMs};
        long long offset = next(scale[i % 5]) * (i % 2 ? 1 : -1);
        std::string line = format(start) + " --> " + format(end) + "\r\n";
        char l[64];
        std::strcpy(l, line.c_str());
        int clamped = chronelle::shiftTimes(l, offset);
        auto clamp = [&](long long t) { return t < 0 ? 0 : t > maxMs ? maxMs : t; };
        long long s2 = start + offset, e2 = end + offset;
        ASSERT_EQ(std::string(l), format(clamp(s2)) + " --> " + format(clamp(e2)) + "\r\n")
            << line << " by " << offset;
        ASSERT_EQ(clamped, int(s2 != clamp(s2)) + int(e2 != clamp(e2)));
    }
}

// Linear changes round to the nearest millisecond, halves away from zero,
// and clamp each time on its own.
TEST(ScaleTimes, RoundsHalvesAwayFromZeroAndClamps)
{
    using chronelle::Scale;
    const struct {
        Scale scale;
        long long t, expected;
    } cases[] = {
        {{1, 2, 0}, 1, 1},               // 0.5 up
        {{1, 2, 0}, 3, 2},               // 1.5 up
        {{1, 2, -2}, 1, -1},             // -0.5 away from zero
        {{1, 3, 0}, 1, 0},               // 0.33 down
        {{2, 3, 0}, 1, 1},               // 0.67 up
        {{25, 24, 0}, 24, 25},           // exact
        {{1001, 960, 0}, 20000, 20854},  // 25 to 23.976 fps
        {{6, 5, -15000}, 20000, 21000},  // a two-point sync: 0:20 to 0:21, 0:25 to 0:27
    };
    for (const auto& c : cases)
        EXPECT_EQ(chronelle::scaleTime(c.t, c.scale), c.expected)
            << c.scale.num << "/" << c.scale.den << " + " << c.scale.add << " at " << c.t;

    char l[64] = "00:00:00,002 --> 97:00:00,000\r\n";
    EXPECT_EQ(chronelle::scaleTimes(l, Scale{25, 24, -100}), 2);
    EXPECT_STREQ(l, "00:00:00,000 --> 99:59:59,999\r\n") << "-2 ms held at 0, 101 h at the end";
}

// The division by multiplication against the plain one, at the edges of its
// range and at random, for the divisors the scales use.
TEST(Divider, AgreesWithPlainDivision)
{
    unsigned long long seed = 7;
    auto next = [&seed] { return seed = seed * 6364136223846793005ULL + 1442695040888963407ULL; };
    const unsigned long long top = (1ULL << 62) - 1;
    for (unsigned long long d : {2ULL, 3ULL, 7ULL, 48ULL, 1920ULL, 2002ULL, 1000000007ULL,
                                 (1ULL << 32) - 2, (1ULL << 32)}) {
        chronelle::Divider by = chronelle::divider(d);
        for (unsigned long long n :
             {0ULL, 1ULL, d - 1, d, d + 1, top - 1, top, top / d * d, top / d * d - 1})
            ASSERT_EQ(chronelle::divide(n, by), n / d) << n << " / " << d;
        for (int i = 0; i < 100000; ++i) {
            unsigned long long n = next() >> (2 + i % 40);
            ASSERT_EQ(chronelle::divide(n, by), n / d) << n << " / " << d;
        }
    }
}

TEST(ScaleTimes, ChangesOnlyTheDigits)
{
    // The end time's separators are whatever the line holds.
    char l[64] = "00:00:10,000 --> 00;00.20;000 X1:100\r\n";
    EXPECT_EQ(chronelle::scaleTimes(l, chronelle::Scale{2, 1, 0}), 0);
    EXPECT_STREQ(l, "00:00:20,000 --> 00;00.40;000 X1:100\r\n");
}
