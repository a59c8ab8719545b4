// The real chronelle-shift binary: output, exit statuses, and files left
// untouched whenever it refuses.
#include <gtest/gtest.h>

#include <string>

#include "test_files.h"

using namespace testing_files;

namespace {

class Cli : public ::testing::Test {
protected:
    TempDir dir;
    std::string film = dir.file("film.srt");
    std::string notes = dir.file("notes.txt");
    const std::string filmBytes = subtitles(5);
    const std::string notesBytes = "courses : pain, lait\r\n00:00:01,000 --> 00:00:02,000\r\n";

    void SetUp() override
    {
        writeFile(film, filmBytes);
        writeFile(notes, notesBytes);
    }

    RunResult shift(const std::string& args) { return run(std::string(CHRONELLE_SHIFT) + " " + args, dir.path()); }

    void expectUntouched()
    {
        EXPECT_EQ(readFile(film), filmBytes);
        EXPECT_EQ(readFile(notes), notesBytes);
    }
};

}  // namespace

TEST_F(Cli, AddAndRemove)
{
    RunResult r = shift("--add 1:00 " + quote(film));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, film + ": 5 timing lines shifted\n");
    EXPECT_EQ(r.err, "");
    EXPECT_NE(readFile(film).find("00:01:40,000 --> 00:01:44,400"), std::string::npos);

    r = shift("-r 60 " + quote(film));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(readFile(film), filmBytes);
}

TEST_F(Cli, ClampingIsWarned)
{
    RunResult r = shift("-r 0:00:30 " + quote(film));
    EXPECT_EQ(r.status, 0);
    // Cues start at 20, 25 ... 40 s and end 4.4 s later: 20, 24.4, 25 and
    // 29.4 go below zero; 30 lands on it exactly.
    EXPECT_NE(r.err.find("warning: 4 times were held at 00:00:00,000"), std::string::npos) << r.err;
    EXPECT_NE(readFile(film).find("00:00:00,000 --> 00:00:00,000"), std::string::npos);
}

TEST_F(Cli, DryRunAndQuiet)
{
    RunResult r = shift("-n -a 2.5 " + quote(film));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, film + ": 5 timing lines would be shifted\n");
    expectUntouched();

    r = shift("-q -a 2.5 " + quote(film));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(readFile(film).find("00:00:22,500 --> 00:00:26,900"), std::string::npos);
}

TEST_F(Cli, RefusedFileIsLeftAndOthersGoOn)
{
    RunResult r = shift("-a 1 " + quote(notes) + " " + quote(dir.file("absent.srt")) + " " + quote(film));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(notes + ": not a subtitle file"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("absent.srt: No such file or directory"), std::string::npos) << r.err;
    EXPECT_EQ(readFile(notes), notesBytes);
    EXPECT_EQ(r.out, film + ": 5 timing lines shifted\n");

    r = shift("--force -a 1 " + quote(notes));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(readFile(notes), "courses : pain, lait\r\n00:00:02,000 --> 00:00:03,000\r\n");
}

TEST_F(Cli, UsageErrorsTouchNothing)
{
    const std::string usageCases[] = {std::string(""), "-a", "-a 5", "-a 5 -r 5 " + quote(film), quote(film),
          "-a 1:75 " + quote(film), "-a -5 " + quote(film), "--add=5x " + quote(film),
          "-x -a 5 " + quote(film), "-r 100:00:00 " + quote(film)};
    for (const std::string& args : usageCases) {
        RunResult r = shift(args);
        EXPECT_EQ(r.status, 2) << args;
        EXPECT_NE(r.err.find("usage: chronelle-shift"), std::string::npos) << args;
        EXPECT_EQ(r.out, "") << args;
    }
    expectUntouched();
}

TEST_F(Cli, HelpVersionAndDashedNames)
{
    RunResult r = shift("--help");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("--dry-run"), std::string::npos);
    r = shift("-V");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind("chronelle-shift ", 0), 0u);

    std::string dashed = dir.file("-a.srt");
    writeFile(dashed, filmBytes);
    r = run(std::string(CHRONELLE_SHIFT) + " --add=0,5 -- -a.srt", dir.path());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(readFile(dashed).find("00:00:20,500 --> 00:00:24,900"), std::string::npos);
}
