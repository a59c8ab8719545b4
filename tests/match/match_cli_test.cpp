// chronelle-shift --match, the real binary on films made here with a known
// truth: the change found and made, what it says, files it leaves alone,
// and the command that finishes a change stopped part-way.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <memory>
#include <regex>
#include <vector>

#include "test_films.h"

using namespace testing_files;

namespace {

class MatchCli : public ::testing::Test {
protected:
    // Made once: three minutes of voices over music, in AAC (Matroska) and
    // in WAV, its subtitles, and another film's.
    static void SetUpTestSuite()
    {
        films = new TempDir;
        makeFilm(films->path(), "film.mkv", "--seed 41 --duration 3:00");
        makeFilm(films->path(), "other.mkv", "--seed 42 --duration 3:00 --srt-only");
        RunResult r = run("mv film.srt truth.srt && ffmpeg -v error -i film.mkv -ac 1 film.wav",
                          films->path());
        ASSERT_EQ(r.status, 0) << r.err;
        truth = starts(readFile(films->file("truth.srt")));
    }
    static void TearDownTestSuite() { delete films; }

    static TempDir* films;
    static std::vector<std::int64_t> truth;
    TempDir dir;

    RunResult shift(const std::string& args)
    {
        return run(std::string(CHRONELLE_SHIFT) + " " + args, dir.path());
    }
    std::string film(const char* name) { return quote(films->file(name)); }

    // A copy of the true subtitles made wrong by `change`.
    std::string wrong(const std::string& name, const std::string& change)
    {
        writeFile(dir.file(name), readFile(films->file("truth.srt")));
        EXPECT_EQ(shift("-q " + change + " " + name).status, 0);
        return dir.file(name);
    }

    // How far the cue starts of the file are from the truth, at most (ms).
    static std::int64_t worst(const std::string& path)
    {
        std::vector<std::int64_t> now = starts(readFile(path));
        EXPECT_EQ(now.size(), truth.size());
        std::int64_t w = 0;
        for (std::size_t i = 0; i < std::min(now.size(), truth.size()); ++i)
            w = std::max<std::int64_t>(w, std::llabs(now[i] - truth[i]));
        return w;
    }
};

TempDir* MatchCli::films = nullptr;
std::vector<std::int64_t> MatchCli::truth;

// A command as printed, run with the binary under test.
RunResult runPrinted(const std::string& command, const std::string& dir)
{
    return run(quote(CHRONELLE_SHIFT) + command.substr(std::string("chronelle-shift").size()), dir);
}

// "the same as chronelle-shift ..." in what it printed: the command alone.
std::string sameAs(const std::string& out)
{
    std::smatch m;
    return std::regex_search(out, m, std::regex("the same as (chronelle-shift [^\n]*)\n"))
               ? m[1].str()
               : "";
}

}  // namespace

TEST_F(MatchCli, FindsTheChangeSaysItAndMakesIt)
{
    const struct {
        const char* wrong;  // what was done to the subtitles
        const char* found;  // the change that puts them back
    } cases[] = {
        {"--add 2.48", "--remove 2.4"},
        {"--remove 0.75", "--add 0."},
        {"--fps 23.976:25", "--fps 25:23.976"},
        {"--fps 25:24", "--fps 24:25"},
    };
    for (const auto& c : cases) {
        std::string path = wrong("w.srt", c.wrong);
        RunResult r = shift("--match " + film("film.wav") + " w.srt");
        EXPECT_EQ(r.status, 0) << c.wrong << r.err;
        std::string command = sameAs(r.out);
        EXPECT_EQ(command.rfind(std::string("chronelle-shift ") + c.found, 0), 0u)
            << c.wrong << ": " << r.out;
        EXPECT_NE(r.out.find("w.srt: " + std::to_string(truth.size()) + " timing lines shifted"),
                  std::string::npos);
        EXPECT_LE(worst(path), 80) << c.wrong << ": " << r.out;
        // The command printed makes exactly the same change.
        std::string matched = readFile(path);
        wrong("w.srt", c.wrong);
        ASSERT_EQ(runPrinted(command, dir.path()).status, 0) << command;
        EXPECT_EQ(readFile(path), matched) << command;
    }
}

TEST_F(MatchCli, SeveralFilesOneListeningAndADryRun)
{
    std::string late = wrong("late.srt", "--add 3.1"), early = wrong("early.srt", "--remove 1.2");
    std::string lateBytes = readFile(late);
    RunResult r = shift("--dry-run --match " + film("film.mkv") + " late.srt early.srt");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(readFile(late), lateBytes);
    EXPECT_TRUE(std::regex_search(r.out, std::regex("late\\.srt: " + std::to_string(truth.size()) +
                                                    " timing lines would be shifted\n  line +2: ")))
        << r.out;

    r = shift("--match " + film("film.mkv") + " late.srt early.srt");
    EXPECT_EQ(r.status, 0) << r.err;
    // Heard once, in AAC: its priming adds some 20 ms to the sound.
    EXPECT_EQ(r.out.find("listened to audio track 1 of 1 (aac), 0:03:00"), r.out.rfind("listened"));
    EXPECT_LE(worst(late), 80);
    EXPECT_LE(worst(early), 80);
}

TEST_F(MatchCli, LeavesAFileInTimeAndRefusesAnUnrelatedOne)
{
    writeFile(dir.file("right.srt"), readFile(films->file("truth.srt")));
    writeFile(dir.file("other.srt"), readFile(films->file("other.srt")));
    RunResult r = shift("--match " + film("film.wav") + " right.srt other.srt");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("right.srt: already in time (confidence "), std::string::npos) << r.out;
    EXPECT_TRUE(std::regex_search(
        r.err,
        std::regex(
            "other\\.srt: no sure match \\(confidence [0-9] %, 90 % needed\\); the best candidate: .*"
            "chronelle-shift .* other\\.srt\\); the file was left untouched\n")))
        << r.err;
    EXPECT_EQ(readFile(dir.file("right.srt")), readFile(films->file("truth.srt")));
    EXPECT_EQ(readFile(dir.file("other.srt")), readFile(films->file("other.srt")));
}

TEST_F(MatchCli, HearsTheTrackWithTheVoicesOrTheOneAsked)
{
    // Music alone as the film's default track, the voices second.
    ASSERT_EQ(run("ffmpeg -v error -f lavfi -i 'sine=f=220:r=16000' -i " + film("film.wav") +
                      " -map 0 -map 1 -t 180 -c:a flac -disposition:a:0 default "
                      "-disposition:a:1 0 two.mkv",
                  dir.path())
                  .status,
              0);
    std::string path = wrong("w.srt", "--add 1.5");
    std::string before = readFile(path);
    RunResult r = shift("--track 1 --match two.mkv w.srt");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(readFile(path), before);
    for (const char* track : {"", "--track 2 "}) {
        writeFile(path, before);
        r = shift(std::string(track) + "--match two.mkv w.srt");
        EXPECT_EQ(r.status, 0) << track << r.err;
        EXPECT_NE(r.out.find(*track ? "two.mkv: listened to audio track 2 of 2 (flac)"
                                    : "(audio track 2 of 2, confidence"),
                  std::string::npos)
            << r.out;
        EXPECT_LE(worst(path), 80);
    }
}

TEST_F(MatchCli, MatchesWithAWellTimedSubtitleFile)
{
    std::string path = wrong("w.srt", "--fps 25:23.976");
    RunResult r = shift("--match " + film("truth.srt") + " w.srt");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("truth.srt: read " + std::to_string(truth.size()) + " cues"),
              std::string::npos);
    EXPECT_NE(r.out.find("the same as chronelle-shift --fps 23.976:25 w.srt"), std::string::npos)
        << r.out;
    EXPECT_LE(worst(path), 1);
}

TEST_F(MatchCli, StoppedPartWayTheFinishingCommandRepeatsTheChange)
{
    // Long texts in the fourth and eighth cues put the cues in three writes;
    // stopped at the second, the printed command repeats the change found.
    std::string path = wrong("w.srt", "--add 2.48");
    std::string srt = readFile(path);
    std::size_t at = 0;
    for (int i = 1; i <= 8; ++i) {
        at = srt.find("-->", at) + 3;
        if (i % 4 == 0)
            srt.insert(srt.find('\n', at) + 1, std::string(1500000, 'x') + "\n");
    }
    writeFile(path, srt);
    RunResult r =
        runPaused(quote(CHRONELLE_SHIFT_PAUSED) + " --match " + film("film.wav") + " w.srt",
                  dir.path(), 2, [](pid_t pid) { kill(pid, SIGINT); });
    EXPECT_EQ(r.status, 130) << r.out << r.err;
    std::smatch m;
    ASSERT_TRUE(std::regex_search(
        r.err, m,
        std::regex("to finish: (chronelle-shift --remove 2\\.4[0-9]* --cues [0-9]+- w\\.srt)\n")))
        << r.err;
    ASSERT_EQ(runPrinted(m[1].str(), dir.path()).status, 0);
    std::string finished = readFile(path);
    writeFile(path, srt);
    ASSERT_EQ(shift("--match " + film("film.wav") + " w.srt").status, 0);
    EXPECT_EQ(finished, readFile(path));
}

TEST_F(MatchCli, AStopSignalEndsTheListeningAtOnce)
{
    // Twenty minutes of film, stopped at once: before the hand-over to the
    // matcher, while it listens, or (on a fast machine) after it is done.
    ASSERT_EQ(run("ffmpeg -v error -stream_loop 6 -i " + film("film.wav") + " -ar 8000 long.wav",
                  dir.path())
                  .status,
              0);
    for (int sig : {SIGINT, SIGTERM}) {
        std::string path = wrong("w.srt", "--add 2.48"), before = readFile(path);
        pid_t pid = fork();
        if (pid == 0) {
            execl(CHRONELLE_SHIFT, CHRONELLE_SHIFT, "-q", "--match", dir.file("long.wav").c_str(),
                  path.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        kill(pid, sig);
        auto sent = std::chrono::steady_clock::now();
        int status = 0;
        waitpid(pid, &status, 0);
        double took =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - sent).count();
        ASSERT_TRUE(WIFEXITED(status) || WIFSIGNALED(status));
        int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        EXPECT_TRUE(code == 128 + sig || code == 0) << code;
        if (code != 0) {
            EXPECT_EQ(readFile(path), before);
            EXPECT_LT(took, 2.0);
        }
    }
}

TEST_F(MatchCli, SplitsLeaveAFilmWithoutCutsAsOnePiece)
{
    // With --splits, the same command and the same bytes as without.
    for (const char* change : {"--add 2.48", "--fps 25:24"}) {
        std::string path = wrong("w.srt", change);
        RunResult plain = shift("--match " + film("film.wav") + " w.srt");
        std::string once = readFile(path);
        wrong("w.srt", change);
        RunResult split = shift("--splits --match " + film("film.wav") + " w.srt");
        EXPECT_EQ(split.status, 0) << change << split.err;
        EXPECT_EQ(sameAs(split.out), sameAs(plain.out)) << change << "\n" << split.out;
        EXPECT_EQ(readFile(path), once) << change;
    }
    writeFile(dir.file("other.srt"), readFile(films->file("other.srt")));
    RunResult r = shift("--splits --match " + film("film.wav") + " other.srt");
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_NE(r.err.find("other.srt: no sure match (confidence "), std::string::npos) << r.err;
    EXPECT_EQ(readFile(dir.file("other.srt")), readFile(films->file("other.srt")));
}

TEST_F(MatchCli, SplitsFindACutAndMakeItAsPieces)
{
    // Four minutes of film; its subtitles were timed on a cut of it that
    // held 20 s more at 2:00 (cues in it that the film does not have), and
    // are 1.5 s late all through.
    makeFilm(dir.path(), "cut.mkv", "--seed 43 --duration 4:00 --cut 2:00+20 --music-db -20");
    std::vector<std::int64_t> said = starts(readFile(dir.file("cut.srt")));
    std::string srt = readFile(dir.file("cut.uncut.srt"));
    writeFile(dir.file("w.srt"), srt);
    ASSERT_EQ(shift("-q --add 1.5 w.srt").status, 0);
    srt = readFile(dir.file("w.srt"));
    RunResult r = shift("--splits --match cut.mkv w.srt");
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_TRUE(std::regex_search(
        r.out,
        std::regex(
            "w\\.srt: in 2 pieces, split at 0:0[12]:[0-5][0-9]: 1\\.[45][0-9][0-9] s sooner, "
            "then 21\\.[45][0-9]* s sooner \\(confidence ")))
        << r.out;
    // Every cue the film has starts within 0.3 s of where its subtitle
    // puts it.
    std::vector<std::int64_t> fixed = starts(readFile(dir.file("w.srt")));
    std::size_t found = 0;
    for (std::int64_t t : said)
        found += std::any_of(fixed.begin(), fixed.end(),
                             [t](std::int64_t f) { return std::llabs(f - t) <= 300; });
    EXPECT_EQ(found, said.size()) << r.out;
    // The printed command makes the same change.
    std::string command = sameAs(r.out);
    EXPECT_EQ(command.rfind("chronelle-shift --piece 0-0:0", 0), 0u) << command;
    std::string matched = readFile(dir.file("w.srt"));
    writeFile(dir.file("w.srt"), srt);
    ASSERT_EQ(runPrinted(command, dir.path()).status, 0) << command;
    EXPECT_EQ(readFile(dir.file("w.srt")), matched) << command;
}

TEST_F(MatchCli, BadInputLeavesTheSubtitlesUntouched)
{
    std::string srt = films->file("truth.srt");
    writeFile(dir.file("w.srt"), readFile(srt));
    writeFile(dir.file("notes.txt"), "courses : pain, lait\r\n");
    writeFile(dir.file("empty.srt"), "1\r\nBonjour.\r\n");
    // Subtitles that a long preface hides from the probe, though they match.
    writeFile(dir.file("preface.srt"), std::string(20, '\n') + readFile(srt));
    ASSERT_EQ(run("ffmpeg -v error -i " + quote(srt) +
                      " nosound.mkv && "
                      "ffmpeg -v error -i " +
                      film("film.wav") +
                      " -t 20 short.wav && "
                      "ffmpeg -v error -f lavfi -i anullsrc=r=8000 -t 130 silent.wav && "
                      "head -c 300000 " +
                      film("film.mkv") + " >truncated.mkv && mkfifo fifo.mkv && mkdir folder.mkv",
                  dir.path())
                  .status,
              0);
    const struct {
        std::string args;
        int status;
        const char* says;
    } cases[] = {
        {"--match absent.mkv w.srt", 1,
         "absent.mkv: cannot read it as a film: No such file or directory; no file was touched"},
        {"--match notes.txt w.srt", 1, "notes.txt: cannot read it as a film: "},
        {"--match nosound.mkv w.srt", 1, "nosound.mkv: it has no audio track; no file was touched"},
        {"--match silent.wav w.srt", 1, "silent.wav: its sound is silent; no file was touched"},
        {"--match truncated.mkv w.srt", 1, "truncated.mkv: its sound stops at 0:00:"},
        {"--match fifo.mkv w.srt", 1, "fifo.mkv: not a regular file; no file was touched"},
        {"--match folder.mkv w.srt", 1, "folder.mkv: not a regular file; no file was touched"},
        {"--match /dev/zero w.srt", 1, "/dev/zero: not a regular file; no file was touched"},
        {"--track 2 --match " + film("film.wav") + " w.srt", 1,
         "film.wav: it has no audio track 2 (it has 1)"},
        {"--match short.wav w.srt", 1,
         "w.srt: its subtitles last longer than short.wav (0:00:20); the file was left untouched"},
        {"--match " + film("film.wav") + " empty.srt w.srt", 1,
         "empty.srt: not a subtitle file (0 timing lines"},
        {"--force --match " + film("film.wav") + " empty.srt", 1,
         "empty.srt: no timing line to match; the file was left untouched"},
        {"--match " + film("film.wav") + " preface.srt", 1,
         "preface.srt: not a subtitle file (0 timing lines"},
        {"--match absent.mkv notes.txt", 1, "notes.txt: not a subtitle file (0 timing lines"},
        {"--match empty.srt w.srt", 1,
         "chronelle-shift: empty.srt: no timing line in it; no file was touched"},
        {"--track 1 --match " + film("truth.srt") + " w.srt", 2, "--track goes with a film: "},
        {"--match " + film("film.wav") + " --cues 2- w.srt", 2,
         "--match changes whole files: --cues cannot go with it"},
        {"--track 0 --match " + film("film.wav") + " w.srt", 2, "bad track '0'"},
        {"--max-offset 5 -a 1 w.srt", 2, "--max-offset and --track go with --match"},
        {"--splits -a 1 w.srt", 2, "--splits goes with --match"},
    };
    for (const auto& c : cases) {
        RunResult r = shift(c.args);
        EXPECT_EQ(r.status, c.status) << c.args << "\n" << r.err;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << c.args << "\n" << r.err;
        EXPECT_EQ(r.out.find("the same as"), std::string::npos) << c.args << "\n" << r.out;
        // No film is heard when every file is refused.
        if (c.args.find("w.srt") == std::string::npos) {
            EXPECT_EQ(r.out.find("listened"), std::string::npos) << c.args << "\n" << r.out;
        }
        EXPECT_EQ(readFile(dir.file("w.srt")), readFile(srt)) << c.args;
    }
}
