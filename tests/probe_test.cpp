// The probe that accepts or refuses a file before it may be shifted.
#include "probe.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "test_files.h"

using namespace testing_files;
using chronelle::probe;

namespace {

std::string cue(int n, const std::string& text)
{
    return std::to_string(n) + "\r\n00:00:0" + std::to_string(n) + ",000 --> 00:00:0" +
           std::to_string(n) + ",500\r\n" + text + "\r\n\r\n";
}

}  // namespace

TEST(Probe, AcceptsThreeTimingLinesInTheFirstFifteenLines)
{
    TempDir dir;
    std::string path = dir.file("a.srt");
    writeFile(path, subtitles(4));
    auto r = probe(path);
    EXPECT_TRUE(r.opened);
    EXPECT_TRUE(r.accepted);
    EXPECT_EQ(r.timingLines, 4);  // lines 2, 6, 10 and 14

    writeFile(path, cue(1, "a") + cue(2, "b") + cue(3, "c"));
    EXPECT_TRUE(probe(path).accepted);
}

TEST(Probe, RefusesTooFewTimingLines)
{
    TempDir dir;
    std::string path = dir.file("a.srt");
    writeFile(path, cue(1, "a") + cue(2, "b"));  // two valid subtitles only
    EXPECT_FALSE(probe(path).accepted);
    EXPECT_EQ(probe(path).timingLines, 2);

    // Long first subtitles push the third timing line past line 15.
    std::string many = "l\r\nl\r\nl\r\nl\r\nl\r\n";
    writeFile(path, cue(1, many) + cue(2, many) + cue(3, "c"));
    EXPECT_FALSE(probe(path).accepted);

    // A text line over 255 bytes counts as several lines, as it is read.
    std::string longText(255 * 8, 'x');
    writeFile(path, cue(1, longText) + cue(2, "b") + cue(3, "c"));
    EXPECT_EQ(probe(path).timingLines, 2);

    writeFile(path, "");
    EXPECT_TRUE(probe(path).opened);
    EXPECT_FALSE(probe(path).accepted);
}

TEST(Probe, CountsWhatPassesTheLooseTest)
{
    TempDir dir;
    std::string path = dir.file("a.srt");
    writeFile(path, "ab:cd:efghijklm>\nab:cd:efghijklm>\nab:cd:efghijklm>\n");
    EXPECT_TRUE(probe(path).accepted);
}

TEST(Probe, CannotOpen)
{
    TempDir dir;
    auto missing = probe(dir.file("absent.srt"));
    EXPECT_FALSE(missing.opened);
    EXPECT_FALSE(missing.accepted);
    EXPECT_NE(missing.errnum, 0);

    auto folder = probe(dir.path());
    EXPECT_FALSE(folder.opened);
    EXPECT_FALSE(folder.accepted);

    std::string fifo = dir.file("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_FALSE(probe(fifo).opened);  // and does not block
}
