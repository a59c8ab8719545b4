// The changes beyond one offset, through the real chronelle-shift on real
// files: --to, --sync and --fps, the selections by time and position, the
// dry run's preview, and the account after a stop in every mode.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "test_files.h"

using namespace testing_files;

namespace {

using Times = std::vector<std::pair<long long, long long>>;

// Subtitles with these times (ms), a text line each, after `before`; the
// last timing line ends the file without a line end when `openEnd`.
std::string cues(const Times& times, const std::string& eol = "\r\n", bool openEnd = false,
                 const std::string& before = "")
{
    std::string s = before;
    for (std::size_t i = 0; i < times.size(); ++i) {
        s += std::to_string(i + 1) + eol + clock(times[i].first) + " --> " + clock(times[i].second);
        if (openEnd && i + 1 == times.size())
            break;
        s += eol + "Réplique " + std::to_string(i + 1) + eol + eol;
    }
    return s;
}

const Times Base = {{20000, 24400}, {25000, 28000}, {60000, 62500}};

class Retiming : public ::testing::Test {
protected:
    TempDir dir;
    std::string path = dir.file("film.srt");

    RunResult shift(const std::string& args)
    {
        return run(quote(CHRONELLE_SHIFT) + " " + args + " film.srt", dir.path());
    }
};

}  // namespace

TEST_F(Retiming, EveryModeAndSelectionByteForByte)
{
    const long long H = 3600000, Max = 359999999;  // 99:59:59,999
    // A long first line puts the second timing line across the patcher's
    // 1 MiB block boundary.
    const std::string pad = std::string((1 << 20) - 20, 'x') + "\r\n\r\n";
    const std::string crlf = "\r\n", none;
    const struct {
        std::string args;
        Times in, out;
        std::string eol;
        bool openEnd;
        std::string before;
        int clamped;
    } cases[] = {
        {"--to 0:00:41,300",
         Base,
         {{41300, 45700}, {46300, 49300}, {81300, 83800}},
         crlf,
         false,
         none,
         0},
        {"--to 10 --from 0:25",
         Base,
         {{20000, 24400}, {10000, 13000}, {45000, 47500}},
         crlf,
         false,
         none,
         0},
        {"--sync 0:20=0:21,0:25=0:27",
         Base,
         {{21000, 26280}, {27000, 30600}, {69000, 72000}},
         crlf,
         false,
         none,
         0},
        {"--fps 25:24",
         Base,
         {{20833, 25417}, {26042, 29167}, {62500, 65104}},
         "\n",
         false,
         none,
         0},
        {"--fps 23.976:25",
         Base,
         {{19181, 23401}, {23976, 26853}, {57542, 59940}},
         crlf,
         true,
         none,
         0},
        {"--remove 5 --from 0:25 --until 1:00",
         Base,
         {{20000, 24400}, {20000, 23000}, {60000, 62500}},
         crlf,
         false,
         none,
         0},
        {"--add 1 --cues 2- --until 0:59",
         Base,
         {{20000, 24400}, {26000, 29000}, {60000, 62500}},
         crlf,
         false,
         none,
         0},
        {"--sync 0:25=0:00,0:28=0:03",
         Base,
         {{0, 0}, {0, 3000}, {35000, 37500}},
         crlf,
         false,
         none,
         2},
        {"--fps 25:24",
         {{95 * H, 96 * H}, {96 * H, 97 * H}, {97 * H, 98 * H}},
         {{356250000, Max}, {Max, Max}, {Max, Max}},
         crlf,
         false,
         none,
         5},
        {"--fps 25:24",
         Base,
         {{20833, 25417}, {26042, 29167}, {62500, 65104}},
         crlf,
         false,
         pad,
         0},
        // Pieces: each line by its own piece's change; lines in none stay.
        {"--piece 0:25-=-5 --piece 0-0:25=+1",
         Base,
         {{21000, 25400}, {20000, 23000}, {55000, 57500}},
         crlf,
         false,
         none,
         0},
        {"--piece-cues 2-=25:24+1",
         Base,
         {{20000, 24400}, {27042, 30167}, {63500, 66104}},
         crlf,
         false,
         none,
         0},
        {"--piece 0:21-0:26=+1 --piece 1:00-=-0:30,5",
         Base,
         {{20000, 24400}, {26000, 29000}, {29500, 32000}},
         crlf,
         false,
         none,
         0},
        {"--piece -=+2 --from 0:25",
         Base,
         {{20000, 24400}, {27000, 30000}, {62000, 64500}},
         crlf,
         false,
         none,
         0},
        {"--piece-cues 1=-25 --piece-cues 3=+2",
         Base,
         {{0, 0}, {25000, 28000}, {62000, 64500}},
         crlf,
         false,
         pad,
         2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        writeFile(path, cues(c.in, c.eol, c.openEnd, c.before));
        RunResult r = shift((c.before.empty() ? "" : "--force ") + c.args);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_TRUE(readFile(path) == cues(c.out, c.eol, c.openEnd, c.before));
        if (c.clamped)
            EXPECT_NE(r.err.find(": warning: " + std::to_string(c.clamped) + " times were held"),
                      std::string::npos)
                << r.err;
        else
            EXPECT_EQ(r.err, "");
    }
}

TEST_F(Retiming, NothingSelectedAndNothingToMoveTo)
{
    const std::string before = cues(Base);
    for (const char* args :
         {"--add 1 --from 5:00", "--fps 25:24 --cues 4-", "--sync 1=2,3=4 --until 0:10"}) {
        writeFile(path, before);
        RunResult r = shift(args);
        EXPECT_EQ(r.status, 0) << args << r.err;
        EXPECT_EQ(r.out, "film.srt: 0 timing lines shifted\n") << args;
        EXPECT_TRUE(readFile(path) == before) << args;
    }
    RunResult r = shift("--to 1:00 --from 5:00");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err,
              "chronelle-shift: film.srt: --to found no selected timing line to move; the "
              "file was left untouched\n");
    EXPECT_TRUE(readFile(path) == before);
}

TEST_F(Retiming, GoingBackIsExactWhereNothingRounds)
{
    // Times in multiples of 24 ms, and a sync whose factor is exact both ways.
    const Times times = {{24000, 26400}, {48024, 50400}, {3600000, 3602400}};
    const std::string before = cues(times);
    for (auto there :
         {std::make_pair("--fps 25:24", "--fps 24:25"),
          std::make_pair("--sync 0:10=0:12,0:20=0:32", "--sync 0:12=0:10,0:32=0:20")}) {
        writeFile(path, before);
        EXPECT_EQ(shift(there.first).status, 0);
        EXPECT_FALSE(readFile(path) == before);
        EXPECT_EQ(shift(there.second).status, 0);
        EXPECT_TRUE(readFile(path) == before) << there.first;
    }
}

TEST_F(Retiming, DryRunShowsTheFirstAndLastChangesAndWritesNothing)
{
    Times times;
    for (int i = 0; i < 10; ++i)
        times.push_back({60000 + i * 1000, 60500 + i * 1000});
    const std::string before = cues(times);
    writeFile(path, before);
    RunResult r = shift("--dry-run --from 1:01 --add 1");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "film.srt: 9 timing lines would be shifted\n"
              "  line  6: 00:01:01,000 --> 00:01:01,500  =>  00:01:02,000 --> 00:01:02,500\n"
              "  line 10: 00:01:02,000 --> 00:01:02,500  =>  00:01:03,000 --> 00:01:03,500\n"
              "  line 14: 00:01:03,000 --> 00:01:03,500  =>  00:01:04,000 --> 00:01:04,500\n"
              "  ...\n"
              "  line 30: 00:01:07,000 --> 00:01:07,500  =>  00:01:08,000 --> 00:01:08,500\n"
              "  line 34: 00:01:08,000 --> 00:01:08,500  =>  00:01:09,000 --> 00:01:09,500\n"
              "  line 38: 00:01:09,000 --> 00:01:09,500  =>  00:01:10,000 --> 00:01:10,500\n");
    EXPECT_TRUE(readFile(path) == before);

    // Line numbers stay right over long runs of line ends.
    writeFile(path, std::string(5000, '\n') + cues({{1000, 2000}}));
    r = shift("--dry-run --force --add 1");
    EXPECT_EQ(r.out,
              "film.srt: 1 timing line would be shifted\n"
              "  line 5002: 00:00:01,000 --> 00:00:02,000  =>  00:00:02,000 --> 00:00:03,000\n");
}

TEST_F(Retiming, EveryModeStoppedPartWayFinishesAsItSays)
{
    // Stopped before its second write: the printed command repeats the
    // change (--to as the offset it found), and the film then equals one
    // uninterrupted run.
    const std::string before = film(40000);
    for (const char* args :
         {"--fps 25:24", "--to 0:00:30 --from 0:05:00", "--sync 1:00=1:01,2:00=2:03",
          "--piece 2:00:00-5:00:00=25:24-1 --piece 0-2:00:00=+2 --piece 6:00:00-=-3.5",
          "--piece-cues 1-20000=+1 --piece-cues 20001-=-1 --from 1:00:00"}) {
        SCOPED_TRACE(args);
        writeFile(path, before);
        ASSERT_EQ(shift(args).status, 0);
        const std::string expected = readFile(path);
        writeFile(path, before);
        RunResult r = runPaused(quote(CHRONELLE_SHIFT_PAUSED) + " " + args + " film.srt",
                                dir.path(), 2, [](pid_t pid) { kill(pid, SIGINT); });
        EXPECT_EQ(r.status, 130) << r.err;
        std::size_t at = r.err.find("; to finish: chronelle-shift ");
        ASSERT_NE(at, std::string::npos) << r.err;
        std::string finish = r.err.substr(at + 28);
        finish.pop_back();  // its line end
        r = run(quote(CHRONELLE_SHIFT) + finish, dir.path());
        EXPECT_EQ(r.status, 0) << finish << "\n" << r.err;
        EXPECT_TRUE(readFile(path) == expected) << finish;
    }
}

TEST_F(Retiming, AStopInPiecesCountsFromTheFirstLineOfAPiece)
{
    // The first cue is in no piece, the third one is in the second write.
    const std::string text = std::string(1200000, 'x') + "\r\n";
    writeFile(path, cues({{20000, 24400}, {25000, 28000}}) + text + cues({{60000, 62500}}) + text +
                        cues({{70000, 71000}}));
    RunResult r = runPaused(quote(CHRONELLE_SHIFT_PAUSED) + " --force --piece-cues 2-3=+1 film.srt",
                            dir.path(), 2, [](pid_t pid) { kill(pid, SIGINT); });
    EXPECT_EQ(r.status, 130);
    EXPECT_EQ(r.err,
              "chronelle-shift: film.srt: interrupted after timing line 3; the selected timing "
              "lines of 2-3 shifted, the rest untouched; to finish: chronelle-shift --piece-cues "
              "2-3=+1 --cues 4- --force film.srt\n");
}

TEST_F(Retiming, AStopAfterTheLastSelectedLineLeavesNothingToFinish)
{
    // Long texts between the cues, so that a block holds no more than two.
    // A stop that comes as the last line picked by --cues goes to disk finds
    // the job done: nothing is read after it, and there is nothing to finish.
    const std::string text = std::string(1200000, 'x') + "\r\n";
    std::string before = cues({{20000, 24400}, {25000, 28000}});
    before += text + cues({{60000, 62500}}).replace(0, 1, "3") + text + cues({{70000, 71000}});
    const struct {
        const char* args;
        int lastWrite;  // the write that holds the third cue
        const char* out;
    } cases[] = {
        {"--force --fps 25:24 --cues 3", 1, "film.srt: 1 timing line shifted\n"},
        {"--force --add 2 --cues 1-3", 2, "film.srt: 3 timing lines shifted\n"},
        {"--force --to 0:00:10 --cues 2-3", 2, "film.srt: 2 timing lines shifted\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        writeFile(path, before);
        ASSERT_EQ(shift(c.args).status, 0);
        const std::string expected = readFile(path);
        writeFile(path, before);
        RunResult r = runPaused(quote(CHRONELLE_SHIFT_PAUSED) + " " + c.args + " film.srt",
                                dir.path(), c.lastWrite, [](pid_t pid) { kill(pid, SIGINT); });
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, c.out);
        EXPECT_TRUE(readFile(path) == expected);
    }
}
