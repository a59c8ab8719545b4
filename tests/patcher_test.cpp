// The in-place patcher on real files: what changes, what never does, and the
// progress it reports.
#include "patcher.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "file_io.h"
#include "progress_record.h"
#include "test_files.h"

using namespace testing_files;
using chronelle::PatchResult;
using chronelle::Shift;
using chronelle::shiftFile;

namespace {

class Patcher : public ::testing::Test {
protected:
    TempDir dir;
    std::string path = dir.file("film.srt");
    std::vector<Step> steps;

    // Writes `before`, shifts it and returns the bytes on disk afterwards.
    std::string shiftBytes(const std::string& before, Shift shift, int adri,
                           PatchResult* result = nullptr)
    {
        writeFile(path, before);
        PatchResult r = shiftFile(path, shift, adri, record, &steps);
        EXPECT_TRUE(r.ok);
        if (result)
            *result = r;
        return readFile(path);
    }
};

const std::string Example =
    "1\r\n00:00:20,000 --> 00:00:24,400\r\nBonjour tout le monde\r\n\r\n"
    "2\r\n00:00:25,000 --> 00:00:28,000\r\nÀ bientôt !\r\n\r\n";

}  // namespace

TEST_F(Patcher, ShiftsEveryTimingLineAndNothingElse)
{
    PatchResult r;
    EXPECT_EQ(shiftBytes(Example, Shift{0, 0, 5, 0}, 1, &r),
              "1\r\n00:00:25,000 --> 00:00:29,400\r\nBonjour tout le monde\r\n\r\n"
              "2\r\n00:00:30,000 --> 00:00:33,000\r\nÀ bientôt !\r\n\r\n");
    EXPECT_EQ(r.timingLines, 2);
    EXPECT_EQ(r.clampedTimes, 0);
}

TEST_F(Patcher, ReportsTheStepsInOrder)
{
    shiftBytes(Example, Shift{0, 0, 1, 0}, 1);
    ASSERT_EQ(steps.size(), 4u);
    EXPECT_EQ(steps[0].stage, chronelle::Stage::Opening);
    EXPECT_EQ(steps[0].fraction, 0.2);
    EXPECT_EQ(steps[1].stage, chronelle::Stage::Modifying);
    EXPECT_EQ(steps[1].fraction, 0.8);
    EXPECT_EQ(steps[2].stage, chronelle::Stage::Closing);
    EXPECT_EQ(steps[2].fraction, 0.9);
    EXPECT_EQ(steps[3].stage, chronelle::Stage::Succeeded);
    EXPECT_EQ(steps[3].fraction, 1.0);
}

TEST_F(Patcher, RemoveThenAddGivesTheSameBytes)
{
    std::string original = subtitles(40);
    std::string removed = shiftBytes(original, Shift{0, 0, 5, 250}, 0);
    EXPECT_NE(removed, original);
    EXPECT_EQ(shiftBytes(removed, Shift{0, 0, 5, 250}, 1), original);
}

TEST_F(Patcher, ZeroOffsetChangesNothing)
{
    PatchResult r;
    EXPECT_EQ(shiftBytes(Example, Shift{0, 0, 0, 0}, 0, &r), Example);
    EXPECT_EQ(r.timingLines, 2);
}

TEST_F(Patcher, KeepsEveryLineEnd)
{
    // LF alone, mixed, text after the end time, and a last line with no end.
    const std::string before =
        "1\n00:00:01,000 --> 00:00:02,000\nun\n\n"
        "2\r\n00:00:03,000 --> 00:00:04,000 X1:10 X2:20\r\ndeux\n\n"
        "3\r00:00:05,000 --> 00:00:06,000\r\n"
        "4\n00:00:07,000 --> 00:00:08,000";
    EXPECT_EQ(shiftBytes(before, Shift{0, 1, 0, 0}, 1),
              "1\n00:01:01,000 --> 00:01:02,000\nun\n\n"
              "2\r\n00:01:03,000 --> 00:01:04,000 X1:10 X2:20\r\ndeux\n\n"
              "3\r00:00:05,000 --> 00:00:06,000\r\n"  // CR alone does not end a line
              "4\n00:01:07,000 --> 00:01:08,000");
}

TEST_F(Patcher, ByteOrderMarkAndFirstLine)
{
    const std::string bom = "\xEF\xBB\xBF";
    // A timing line behind the mark does not begin at the line's start.
    EXPECT_EQ(shiftBytes(bom + "00:00:01,000 --> 00:00:02,000\r\n" + Example, Shift{0, 0, 1, 0}, 1),
              bom + "00:00:01,000 --> 00:00:02,000\r\n" +
                  "1\r\n00:00:21,000 --> 00:00:25,400\r\nBonjour tout le monde\r\n\r\n"
                  "2\r\n00:00:26,000 --> 00:00:29,000\r\nÀ bientôt !\r\n\r\n");
    EXPECT_EQ(shiftBytes("00:00:01,000 --> 00:00:02,000\r\n", Shift{0, 0, 1, 0}, 1),
              "00:00:02,000 --> 00:00:03,000\r\n");
}

TEST_F(Patcher, LookAlikeInsideALongLineIsNotTouched)
{
    // Past byte 255 of a text line, where a 255-byte reader would start a
    // new piece, and further on.
    std::string text255(255, 'a');
    std::string longLine = text255 + "00:00:10,000 --> 00:00:11,000 " + std::string(300, 'b') +
                           "00:00:10,000 --> 00:00:11,000\r\n";
    const std::string before = "1\r\n00:00:01,000 --> 00:00:02,000\r\n" + longLine + "\r\n";
    PatchResult r;
    EXPECT_EQ(shiftBytes(before, Shift{0, 0, 1, 0}, 1, &r),
              "1\r\n00:00:02,000 --> 00:00:03,000\r\n" + longLine + "\r\n");
    EXPECT_EQ(r.timingLines, 1);
}

TEST_F(Patcher, LinesThatAreNotTimesStayByteForByte)
{
    const std::string odd =
        "00:00:2x,000 --> 00:00:24,400\r\n"     // letter at a digit position
        "00:61:00,000 --> 00:62:00,000\r\n"     // minutes past 59
        "ab:cd:efghijklm>\r\n"                  // passes the loose test only
        "00:00:20,000 --> 00:00:24,40\r\n"      // cut short
        "00:00:20,000 --> 00:00:24,4\n00\r\n";  // line end inside the times
    PatchResult r;
    EXPECT_EQ(shiftBytes(odd, Shift{0, 0, 1, 0}, 1, &r), odd);
    EXPECT_EQ(r.timingLines, 0);
}

TEST_F(Patcher, HoursAndClamping)
{
    PatchResult r;
    EXPECT_EQ(shiftBytes("09:00:00,000 --> 09:30:00,000\r\n", Shift{1, 0, 0, 0}, 1, &r),
              "10:00:00,000 --> 10:30:00,000\r\n");
    EXPECT_EQ(r.clampedTimes, 0);
    EXPECT_EQ(shiftBytes("00:00:02,000 --> 00:00:04,000\r\n", Shift{0, 0, 3, 0}, 0, &r),
              "00:00:00,000 --> 00:00:01,000\r\n");
    EXPECT_EQ(r.clampedTimes, 1);
    EXPECT_EQ(shiftBytes("98:00:00,000 --> 99:00:00,000\r\n", Shift{5, 0, 0, 0}, 1, &r),
              "99:59:59,999 --> 99:59:59,999\r\n");
    EXPECT_EQ(r.clampedTimes, 2);
}

TEST_F(Patcher, LargeFileAcrossBlockBoundaries)
{
    // Text lines of varied lengths put timing lines across every position of
    // the 1 MiB block boundaries; the expected file is the same file
    // generated with later times.
    auto make = [](int offsetMs) {
        std::string s;
        for (int i = 0; s.size() < 3u * 1024 * 1024; ++i) {
            long long t = 1000LL * i + offsetMs;
            char timing[64];
            std::snprintf(timing, sizeof timing,
                          "%02lld:%02lld:%02lld,%03lld --> %02lld:%02lld:%02lld,%03lld",
                          t / 3600000, t / 60000 % 60, t / 1000 % 60, t % 1000, (t + 500) / 3600000,
                          (t + 500) / 60000 % 60, (t + 500) / 1000 % 60, (t + 500) % 1000);
            s += std::to_string(i + 1) + "\r\n" + timing + "\r\n" + std::string(i % 97, 'x') +
                 "\r\n\r\n";
        }
        return s;
    };
    PatchResult r;
    EXPECT_EQ(shiftBytes(make(0), Shift{0, 2, 3, 456}, 1, &r), make(123456));
    EXPECT_GT(r.timingLines, 30000);
}

TEST_F(Patcher, DryRunWritesNothing)
{
    writeFile(path, Example);
    PatchResult r = shiftFile(path, Shift{0, 0, 30, 0}, 0, nullptr, nullptr, true);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.timingLines, 2);
    EXPECT_EQ(r.clampedTimes, 4);
    EXPECT_EQ(readFile(path), Example);
}

TEST_F(Patcher, DryRunNumbersLinesAsEditorsDo)
{
    // An LF, a CR LF and a lone CR each end a line; a CR LF across the
    // patcher's count at the end of its first block (a MiB less 29 bytes)
    // ends one; a random mix is counted as a plain loop counts it.
    std::string mix;
    std::srand(13);
    for (int i = 0; i < 3000; ++i)
        mix += "\r\nx"[std::rand() % 4];
    mix += "\n";
    auto lineEnds = [](const std::string& t) {
        long n = 0;
        for (std::size_t i = 0; i < t.size(); ++i)
            n += t[i] == '\n' || (t[i] == '\r' && (i + 1 == t.size() || t[i + 1] != '\n'));
        return n;
    };
    const struct {
        std::string before;
        long line;
    } cases[] = {
        {"1\r\n", 2},
        {"1\n", 2},
        {"a\rb\rc\n", 4},
        {"a\r\r\n", 3},
        {std::string(1048546, 'x') + "\r\n", 2},
        {std::string(1048545, 'x') + "\r\r\n", 3},
        {mix, lineEnds(mix) + 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        writeFile(path, c.before + "00:00:01,000 --> 00:00:02,000\r\n");
        chronelle::ShiftOptions o;
        o.retiming.offsetMs = 1000;
        o.dryRun = true;
        PatchResult r = shiftFile(path, o, nullptr, nullptr);
        ASSERT_EQ(r.preview.size(), 1u);
        EXPECT_EQ(r.preview[0].line, c.line);
    }
}

TEST_F(Patcher, FileWithoutTimingLinesSucceedsUnchanged)
{
    const std::string text = "juste du texte\r\nsur deux lignes\r\n";
    PatchResult r;
    EXPECT_EQ(shiftBytes(text, Shift{0, 0, 1, 0}, 1, &r), text);
    EXPECT_EQ(r.timingLines, 0);
    EXPECT_EQ(steps.back().stage, chronelle::Stage::Succeeded);
}

TEST_F(Patcher, MissingFileIsAnErrorAtTheOpeningFraction)
{
    PatchResult r = shiftFile(dir.file("absent.srt"), Shift{0, 0, 1, 0}, 1, record, &steps);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.failure, chronelle::Failure::Open);
    ASSERT_EQ(steps.size(), 2u);
    EXPECT_EQ(steps[1].stage, chronelle::Stage::Failed);
    EXPECT_EQ(steps[1].fraction, 0.2);
}

TEST_F(Patcher, FailedWriteIsAnErrorNotASuccess)
{
    const std::string before = subtitles(20);
    writeFile(path, before);
    chronelle::failWriteNumber(1);
    PatchResult r = shiftFile(path, Shift{0, 0, 1, 0}, 1, record, &steps);
    chronelle::failWriteNumber(0);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.failure, chronelle::Failure::Write);
    EXPECT_EQ(steps.back().stage, chronelle::Stage::Failed);
    EXPECT_EQ(readFile(path).size(), before.size());
}

TEST_F(Patcher, EveryChangeWithItsCueAndTheTimesHeld)
{
    // Removing 21 s from the lines before 0:25 holds their starts at 0; a
    // line already at 0 does not change; the first of subtitles(), the 4th
    // line, starts at 0:20.
    const std::string before =
        "1\r\n00:00:20,000 --> 00:00:24,400\r\nA\r\n\r\n"
        "2\r\n00:00:25,000 --> 00:00:28,000\r\nB\r\n\r\n"
        "3\r\n00:00:00,000 --> 00:00:00,000\r\nC\r\n\r\n" +
        subtitles(10);
    writeFile(path, before);
    chronelle::ShiftOptions o;
    o.retiming.offsetMs = -21000;
    o.selection.untilMs = 25000;
    o.dryRun = o.everyChange = true;
    PatchResult dry = shiftFile(path, o, nullptr, nullptr);
    ASSERT_TRUE(dry.ok);
    EXPECT_EQ(dry.changedLines, 2);
    ASSERT_EQ(dry.preview.size(), 2u);
    EXPECT_EQ(dry.preview[0].cue, 1);
    EXPECT_EQ(dry.preview[1].cue, 4);
    EXPECT_EQ(dry.preview[1].line, 14);
    for (const chronelle::LineChange& c : dry.preview)
        EXPECT_EQ(c.held, chronelle::HeldStart);
    // The real run changes as many, and says so.
    o.dryRun = false;
    PatchResult real = shiftFile(path, o, nullptr, nullptr);
    EXPECT_EQ(real.changedLines, 2);
    EXPECT_EQ(real.timingLines, 3);
}
