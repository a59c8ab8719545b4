// Durations as chronelle-shift reads them.
#include "duration.h"

#include <gtest/gtest.h>

#include <limits>
#include <vector>

using chronelle::parseDuration;
using chronelle::Shift;
using chronelle::toMilliseconds;

static long long ms(const char* text)
{
    Shift s;
    return parseDuration(text, &s) ? toMilliseconds(s) : -1;
}

TEST(Duration, AcceptedForms)
{
    EXPECT_EQ(ms("5"), 5000);
    EXPECT_EQ(ms("2.5"), 2500);
    EXPECT_EQ(ms("0,250"), 250);
    EXPECT_EQ(ms("0.05"), 50);
    EXPECT_EQ(ms("90"), 90000);
    EXPECT_EQ(ms("1:30"), 90000);
    EXPECT_EQ(ms("0:00:05,000"), 5000);
    EXPECT_EQ(ms("2:03:04.5"), ((2 * 60 + 3) * 60 + 4) * 1000 + 500);
    EXPECT_EQ(ms("99:59:59,999"), ((99LL * 60 + 59) * 60 + 59) * 1000 + 999);
    EXPECT_EQ(ms("359999"), 359999000);
}

TEST(Duration, RefusedForms)
{
    for (const char* bad :
         {"",        "-5",  "+5",    "5s",      "1.2345",     "1.",        ".5",
          "1:60",    "1:5", "1:2:3", "0:60:00", "1:00:00:00", "100:00:00", "360000",
          "6000:00", "a",   "1,5,0", "1::30",   " 5",         "5 "})
        EXPECT_EQ(ms(bad), -1) << '"' << bad << '"';
}

TEST(Arguments, RangesSyncsAndRates)
{
    const long long none = 1000000;
    const struct {
        const char* text;
        long long first, last;  // 0: refused
    } ranges[] = {{"7", 7, 7},   {"2-5", 2, 5}, {"3-", 3, none}, {"-4", 1, 4}, {"0", 0, 0},
                  {"5-2", 0, 0}, {"-", 0, 0},   {"1-2-3", 0, 0}, {"x", 0, 0}};
    for (const auto& r : ranges) {
        std::int64_t first = 0, last = 0;
        bool ok = chronelle::parseRange(r.text, none, &first, &last);
        EXPECT_EQ(ok, r.first != 0) << r.text;
        if (ok) {
            EXPECT_TRUE(first == r.first && last == r.last) << r.text;
        }
    }

    using chronelle::SyncError;
    const struct {
        const char* text;
        SyncError error;
        long long at20s;  // where 0:20 goes
    } syncs[] = {
        {"0:20=0:21,0:25=0:27", SyncError::None, 21000},
        {"00:00:20,000=00:00:21,000,00:00:25,000=00:00:27,000", SyncError::None, 21000},
        {"0:25=0:27,0:20=0:21", SyncError::None, 21000},  // either order
        {"20=21.5,30=31.5", SyncError::None, 21500},
        {"4,5,6=7,8=9", SyncError::Form, 0},
        {"4=5,6,7=8", SyncError::Ambiguous, 0},
        {"0:20=0:21,0:20=0:27", SyncError::SameOld, 0},
        {"0:20=0:27,0:25=0:21", SyncError::Reversed, 0},
        {"0:20=0:21,0:25=0:21", SyncError::Reversed, 0},
        {"0:20=0:21", SyncError::Form, 0},
    };
    for (const auto& c : syncs) {
        chronelle::Scale scale;
        EXPECT_EQ(chronelle::parseSync(c.text, &scale), c.error) << c.text;
        if (c.error == SyncError::None) {
            EXPECT_EQ(chronelle::scaleTime(20000, scale), c.at20s) << c.text;
        }
    }

    const struct {
        const char* text;
        long long num, den;  // reduced; 0: refused
    } rates[] = {{"25:23.976", 1001, 960},
                 {"23,976:25", 960, 1001},
                 {"29.97:30000/1001", 1, 1},
                 {"47.952:59.94", 4, 5},
                 {"25:24", 25, 24},
                 {"23.98:24", 1199, 1200},
                 {"25", 0, 0},
                 {"0:25", 0, 0},
                 {"25:1/0", 0, 0},
                 {"25:2x", 0, 0},
                 {"1234567890:1", 0, 0},
                 {"25.:24", 0, 0}};
    for (const auto& r : rates) {
        chronelle::Scale scale;
        bool ok = chronelle::parseRates(r.text, &scale);
        EXPECT_EQ(ok, r.num != 0) << r.text;
        if (ok) {
            EXPECT_TRUE(scale.num == r.num && scale.den == r.den && scale.add == 0)
                << r.text << ": " << scale.num << "/" << scale.den;
        }
    }
}

TEST(Arguments, Pieces)
{
    using chronelle::PieceError;
    const long long End = std::numeric_limits<std::int64_t>::max();
    const struct {
        const char* text;
        bool byCue;
        PieceError error;
        long long from, until, at60s;  // where 1:00 goes
    } cases[] = {
        {"0-5:00=+2.5", false, PieceError::None, 0, 300000, 62500},
        {"5:00-=-17,5", false, PieceError::None, 300000, End, 42500},
        {"-1:00:00=25:24", false, PieceError::None, 0, 3600000, 62500},
        {"0:30-1:30=25:24-1", false, PieceError::None, 30000, 90000, 61500},
        {"0:30-1:30=24000/1001:25+0.5", false, PieceError::None, 30000, 90000, 58042},
        {"3-7=+1", true, PieceError::None, 3, 8, 61000},
        {"12=-1", true, PieceError::None, 12, 13, 59000},
        {"40-=+0", true, PieceError::None, 40, End, 60000},
        {"5:00=+1", false, PieceError::Form, 0, 0, 0},
        {"1:75-=+1", false, PieceError::Form, 0, 0, 0},
        {"0-5", false, PieceError::Form, 0, 0, 0},
        {"5:00-1:00=+1", false, PieceError::Range, 0, 0, 0},
        {"1:00-1:00=+1", false, PieceError::Range, 0, 0, 0},
        {"9-3=+1", true, PieceError::Range, 0, 0, 0},
        {"0-=2.5", false, PieceError::Change, 0, 0, 0},
        {"0-=+", false, PieceError::Change, 0, 0, 0},
        {"0-=25:24+", false, PieceError::Change, 0, 0, 0},
        {"0-=25+1", false, PieceError::Change, 0, 0, 0},
    };
    for (const auto& c : cases) {
        chronelle::Piece p;
        EXPECT_EQ(chronelle::parsePiece(c.text, c.byCue, &p), c.error) << c.text;
        if (c.error == PieceError::None) {
            EXPECT_TRUE(p.from == c.from && p.until == c.until) << c.text;
            EXPECT_EQ(chronelle::scaleTime(60000, p.scale), c.at60s) << c.text;
        }
    }
    // Sorted by where they begin; touching is not overlapping.
    std::vector<chronelle::Piece> pieces(3);
    pieces[0].from = 50, pieces[1].until = 20, pieces[2].from = 20, pieces[2].until = 50;
    EXPECT_TRUE(chronelle::sortPieces(pieces));
    EXPECT_TRUE(pieces[0].until == 20 && pieces[1].from == 20 && pieces[2].from == 50);
    pieces[1].until = 51;
    EXPECT_FALSE(chronelle::sortPieces(pieces));
}

// What is written back is read back the same: the printed commands hold it.
TEST(Arguments, TimesWrittenBack)
{
    const struct {
        long long ms;
        const char *time, *clock, *seconds, *offset;
    } cases[] = {{0, "0:00:00,000", "0:00:00", "0.000", "0"},
                 {7300, "0:00:07,300", "0:00:07", "7.300", "7.3"},
                 {60050, "0:01:00,050", "0:01:00", "60.050", "60.05"},
                 {5400000, "1:30:00,000", "1:30:00", "5400.000", "5400"},
                 {359999999, "99:59:59,999", "99:59:59", "359999.999", "359999.999"}};
    for (const auto& c : cases) {
        EXPECT_EQ(chronelle::formatTime(c.ms), c.time);
        EXPECT_EQ(chronelle::formatClock(c.ms), c.clock);
        EXPECT_EQ(chronelle::formatSeconds(c.ms), c.seconds);
        EXPECT_EQ(chronelle::formatOffset(c.ms), c.offset);
        std::int64_t back = -1;
        EXPECT_TRUE(chronelle::parseTime(chronelle::formatTime(c.ms, '.'), &back) && back == c.ms);
        EXPECT_TRUE(chronelle::parseTime(c.offset, &back) && back == c.ms) << c.offset;
    }
}
