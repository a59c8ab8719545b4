// Reading cues: the same timing lines as the patcher shifts, the text that
// holds no speech, and files with none.
#include <gtest/gtest.h>

#include "cues.h"
#include "test_files.h"

using namespace testing_files;

TEST(SoundOnlyText, MusicAndBracketedSoundsHoldNoSpeech)
{
    const struct {
        const char* text;
        bool soundOnly;
    } cases[] = {
        {"\xE2\x99\xAA \xE2\x99\xAA\r\n", true},
        {"<i>\xE2\x99\xAB</i>\r\n", true},
        {"[porte qui claque]\r\n", true},
        {"(rires)\r\n- [soupir]\r\n", true},
        {"{\\an8}[Musique]\n", true},
        {"\xE2\x99\xAA Au clair de la lune \xE2\x99\xAA\r\n", false},  // sung words
        {"- [rires]\r\n- Bonjour.\r\n", false},
        {"Bonjour (enfin).\r\n", false},
        {"", false},  // no text: kept
    };
    for (const auto& c : cases)
        EXPECT_EQ(chronelle::soundOnlyText(c.text), c.soundOnly) << c.text;
}

TEST(ReadCues, TheTimingLinesThePatcherShifts)
{
    TempDir dir;
    std::string path = dir.file("film.srt");
    // CR LF and LF; a line with text after the end time; a timing line not
    // at the start of a line and one with a bad digit are not cues; a cue
    // without an empty line after it still ends at the next one.
    writeFile(path,
              "1\r\n00:00:01,000 --> 00:00:02,500\r\nBonjour.\r\n\r\n"
              "2\n00:01:00,250 --> 00:01:03,000 X1:10\n[rires]\n\n"
              "x 00:02:00,000 --> 00:02:01,000\n00:0a:00,000 --> 00:03:01,000\n"
              "3\n01:00:00,000 --> 01:00:01,000\n\xE2\x99\xAA\n"
              "00:00:05,000 --> 00:00:04,000\nDeux\n");
    chronelle::CuesResult r = chronelle::readCues(path);
    ASSERT_EQ(r.failure, chronelle::CuesFailure::None);
    ASSERT_EQ(r.cues.size(), 4u);
    const std::int64_t expected[4][3] = {
        {1000, 2500, 0}, {60250, 63000, 1}, {3600000, 3601000, 1}, {5000, 5000, 0}};
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(r.cues[i].startMs, expected[i][0]) << i;
        EXPECT_EQ(r.cues[i].endMs, expected[i][1]) << i;  // never before its start
        EXPECT_EQ(r.cues[i].soundOnly, expected[i][2] != 0) << i;
    }
    // The text, its lines without their line ends.
    EXPECT_EQ(r.cues[0].text, "Bonjour.");
    EXPECT_EQ(r.cues[1].text, "[rires]");
    EXPECT_EQ(r.cues[3].text, "Deux");
}

TEST(ReadCues, ManyBlocksAndBadFiles)
{
    TempDir dir;
    // Past the reader's 1 MiB block, every cue is found once.
    std::string big = film(40000);
    writeFile(dir.file("big.srt"), big);
    chronelle::CuesResult r = chronelle::readCues(dir.file("big.srt"));
    ASSERT_EQ(r.failure, chronelle::CuesFailure::None);
    ASSERT_EQ(r.cues.size(), 40000u);
    EXPECT_EQ(r.cues.back().startMs, 60000 + 39999 * 700);

    writeFile(dir.file("notes.txt"), "courses : pain, lait\r\n");
    EXPECT_EQ(chronelle::readCues(dir.file("notes.txt")).failure,
              chronelle::CuesFailure::NoTimingLine);
    EXPECT_EQ(chronelle::readCues(dir.file("absent.srt")).failure, chronelle::CuesFailure::Open);
    EXPECT_EQ(chronelle::readCues(dir.path()).failure, chronelle::CuesFailure::NotRegular);
}
