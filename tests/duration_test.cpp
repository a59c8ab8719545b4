// Durations as chronelle-shift reads them.
#include "duration.h"

#include <gtest/gtest.h>

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
    for (const char* bad : {"", "-5", "+5", "5s", "1.2345", "1.", ".5", "1:60", "1:5", "1:2:3",
                            "0:60:00", "1:00:00:00", "100:00:00", "360000", "6000:00", "a",
                            "1,5,0", "1::30", " 5", "5 "})
        EXPECT_EQ(ms(bad), -1) << '"' << bad << '"';
}
