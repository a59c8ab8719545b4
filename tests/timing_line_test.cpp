// Recognising timing lines: the loose test the probe counts with, and the
// strict one that decides what is rewritten.
#include "timing_line.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

using chronelle::isShiftable;
using chronelle::isTimingLine;

static bool timing(const std::string& s) { return isTimingLine(s.data(), s.size()); }
static bool shiftable(const std::string& s) { return isShiftable(s.data(), s.size()); }

TEST(IsTimingLine, LooksOnlyAtThreePositions)
{
    EXPECT_TRUE(timing("00:00:20,000 --> 00:00:24,400\r\n"));
    EXPECT_TRUE(timing("00:00:20,000 --> 00:00:24,400 X1:40 X2:600 Y1:20 Y2:50\r\n"));
    EXPECT_TRUE(timing("ab:cd:efghijklm>"));
    EXPECT_FALSE(timing("1\r\n"));
    EXPECT_FALSE(timing("\r\n"));
    EXPECT_FALSE(timing("Bonjour\r\n"));
    EXPECT_TRUE(timing("00:00:20,000 -->"));  // 16 bytes are enough
    EXPECT_FALSE(timing("00:00:20,000 --"));  // 15 are not
    EXPECT_FALSE(timing("00:00:20,000 -- >"));
    EXPECT_FALSE(timing("ab:cd:efghijklm"));  // too short for position 15
}

TEST(IsTimingLine, EmptyLineAfterTimingLineInSameBuffer)
{
    char l[chronelle::LineBufferSize];
    std::strcpy(l, "00:00:20,000 --> 00:00:24,400\r\n");
    ASSERT_TRUE(isTimingLine(l, std::strlen(l)));
    std::strcpy(l, "\r\n");  // the old characters stay behind the NUL
    EXPECT_FALSE(isTimingLine(l, std::strlen(l)));
}

TEST(IsShiftable, NeedsDigitsAndValidMinutesAndSeconds)
{
    EXPECT_TRUE(shiftable("00:00:20,000 --> 00:00:24,400\r\n"));
    EXPECT_TRUE(shiftable("99:59:59,999 --> 99:59:59,999"));  // last line, no line end
    EXPECT_TRUE(shiftable("00:00:20,000 --> 00:00:24,400 position:1\n"));
    EXPECT_FALSE(shiftable("ab:cd:efghijklm>"));
    EXPECT_FALSE(shiftable("00:00:2x,000 --> 00:00:24,400\r\n"));
    EXPECT_FALSE(shiftable("00:00:20,000 --> 00:00:24,40x\r\n"));
    EXPECT_FALSE(shiftable("00:60:20,000 --> 00:00:24,400\r\n"));
    EXPECT_FALSE(shiftable("00:00:20,000 --> 00:00:74,400\r\n"));
    EXPECT_FALSE(shiftable("00:00:20,000 --> 00:00:24,40"));  // cut short
    // A line end anywhere in the first 29 characters makes the line too
    // short, wherever it stands.
    for (int p = 0; p < 29; ++p) {
        std::string s = "00:00:20,000 --> 00:00:24,400\r\n28,000\r\n";
        s[std::size_t(p)] = '\n';
        EXPECT_FALSE(shiftable(s)) << "line end at " << p;
    }
    // Every digit position, one at a time.
    for (int p : chronelle::DigitPositions) {
        std::string s = "00:00:20,000 --> 00:00:24,400\r\n";
        s[std::size_t(p)] = ' ';
        EXPECT_FALSE(shiftable(s)) << "position " << p;
    }
}
