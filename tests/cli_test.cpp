// The real chronelle-shift binary: output, exit statuses, and files left
// untouched whenever it refuses.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <utility>

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

    RunResult shift(const std::string& args)
    {
        return run(std::string(CHRONELLE_SHIFT) + " " + args, dir.path());
    }

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
    EXPECT_EQ(r.out.substr(0, r.out.find('\n') + 1), film + ": 5 timing lines would be shifted\n");
    expectUntouched();

    r = shift("-q -a 2.5 " + quote(film));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(readFile(film).find("00:00:22,500 --> 00:00:26,900"), std::string::npos);
}

TEST_F(Cli, RefusedFileIsLeftAndOthersGoOn)
{
    RunResult r =
        shift("-a 1 " + quote(notes) + " " + quote(dir.file("absent.srt")) + " " + quote(film));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(notes + ": not a subtitle file"), std::string::npos) << r.err;
    EXPECT_NE(
        r.err.find("absent.srt: cannot open for reading and writing: No such file or directory; "
                   "the file was left untouched"),
        std::string::npos)
        << r.err;
    EXPECT_EQ(readFile(notes), notesBytes);
    EXPECT_EQ(r.out, film + ": 5 timing lines shifted\n");

    r = shift("--force -a 1 " + quote(notes));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(readFile(notes), "courses : pain, lait\r\n00:00:02,000 --> 00:00:03,000\r\n");
}

TEST_F(Cli, UsageErrorsSayWhatIsWrongAndTouchNothing)
{
    const std::string f = " " + quote(film);
    const struct {
        std::string args, message;
    } cases[] = {
        {"", "missing the change: --add, --remove, --to, --sync, --fps, --piece or --match"},
        {"-a", "option '-a' needs a value"},
        {"--cues", "option '--cues' needs a value"},
        {"-a 5", "no FILE given"},
        {"-a 5 -r 5" + f,
         "give only one of --add, --remove, --to, --sync, --fps, --piece and --match"},
        {"--to 1 --fps 25:24" + f,
         "give only one of --add, --remove, --to, --sync, --fps, --piece and --match"},
        {"--sync 1=2" + f, "bad sync '1=2' (OLD1=NEW1,OLD2=NEW2, four times)"},
        {"--fps 25" + f, "bad rates '25' (FROM:TO, each a decimal or N/D)"},
        {"--to 100:00:00" + f, "bad time '100:00:00'"},
        {"--from 0:30 --until 0:20 -a 1" + f, "--until must be later than --from"},
        {"-a 1 -a 2" + f, "--add given more than once"},
        {f, "missing the change: --add, --remove, --to, --sync, --fps, --piece or --match"},
        {"-a 1:75" + f, "bad duration '1:75'"},
        {"-a -5" + f, "bad duration '-5'"},
        {"--add=5x" + f, "bad duration '5x'"},
        {"-r 100:00:00" + f, "bad duration '100:00:00'"},
        {"-x -a 5" + f, "unknown option '-x'"},
        {"--frobnicate -a 5" + f, "unknown option '--frobnicate'"},
        {"--no-sync=1 -a 5" + f, "option '--no-sync' takes no value: '--no-sync=1'"},
        {"--dry-run=1 -a 5" + f, "option '--dry-run' takes no value: '--dry-run=1'"},
        {"--cues 0 -a 5" + f, "bad range '0' (N, N-M, N- or -M)"},
        {"--cues 5-3 -a 5" + f, "bad range '5-3' (N, N-M, N- or -M)"},
        {"--cues 1 --cues 2 -a 5" + f, "--cues given more than once"},
        {"--piece 0-5:00=+2.5 --piece 4:00-=-1" + f,
         "the pieces overlap: each subtitle may be in one piece only"},
        {"--piece-cues 1-10=+1 --piece-cues 10=-1" + f,
         "the pieces overlap: each subtitle may be in one piece only"},
        {"--piece 5:00-1:00=+1" + f, "bad piece '5:00-1:00=+1': its end must come after its start"},
        {"--piece-cues 9-3=+1" + f, "bad piece '9-3=+1': its end must come after its start"},
        {"--piece 5:00=+1" + f, "bad piece '5:00=+1' (FROM-UNTIL=CHANGE)"},
        {"--piece 1:75-=+1" + f, "bad piece '1:75-=+1' (FROM-UNTIL=CHANGE)"},
        {"--piece 0-=2.5" + f,
         "bad piece '0-=2.5': its change is +DURATION, -DURATION, FROM:TO or FROM:TO+DURATION"},
        {"--piece 0-=25:24+" + f,
         "bad piece '0-=25:24+': its change is +DURATION, -DURATION, FROM:TO or FROM:TO+DURATION"},
        {"--piece 0-=+1 --piece-cues 2=+1" + f,
         "give the pieces all by time (--piece) or all by position (--piece-cues)"},
        {"--piece 0-=+1 -a 1" + f,
         "give only one of --add, --remove, --to, --sync, --fps, --piece and --match"},
        {"--splits -a 1" + f, "--splits goes with --match"},
    };
    for (const auto& c : cases) {
        RunResult r = shift(c.args);
        EXPECT_EQ(r.status, 2) << c.args;
        EXPECT_EQ(r.err.rfind("chronelle-shift: " + c.message + "\nusage: chronelle-shift", 0), 0u)
            << c.args << "\n"
            << r.err;
        EXPECT_EQ(r.out, "") << c.args;
    }
    expectUntouched();
}

TEST_F(Cli, CountsInTheSingularAndStdoutErrorsFail)
{
    writeFile(film, testing_files::film(1));
    RunResult r = shift("--force -a 1 " + quote(film));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, film + ": 1 timing line shifted\n");
    r = shift("--force -r 61.5 " + quote(film));
    EXPECT_EQ(r.err, "chronelle-shift: " + film +
                         ": warning: 1 time was held at 00:00:00,000 or 99:59:59,999\n");

    // What is printed is part of the result: a full disk there is a failure,
    // though the file itself was shifted.
    writeFile(film, filmBytes);
    r = run("sh -c " + quote(quote(CHRONELLE_SHIFT) + " -a 1 " + quote(film) + " >/dev/full"),
            dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "chronelle-shift: cannot write to standard output: No space left on device\n");
    EXPECT_NE(readFile(film), filmBytes);

    // A pipe whose reader has gone (`| head -1`, closed before the first line
    // here): the same, and every file of the batch is still shifted.
    std::string names;
    for (int i = 0; i < 20; ++i) {
        writeFile(dir.file("q" + std::to_string(i) + ".srt"), filmBytes);
        names += " q" + std::to_string(i) + ".srt";
    }
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    close(ends[0]);
    r = run("sh -c " +
                quote(quote(CHRONELLE_SHIFT) + " -a 1" + names + " >&" + std::to_string(ends[1])),
            dir.path());
    close(ends[1]);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "chronelle-shift: cannot write to standard output: Broken pipe\n");
    writeFile(film, filmBytes);
    ASSERT_EQ(shift("-q -a 1 " + quote(film)).status, 0);
    for (int i = 0; i < 20; ++i)
        EXPECT_EQ(readFile(dir.file("q" + std::to_string(i) + ".srt")), readFile(film)) << i;
}

TEST_F(Cli, OneFileNamedTwiceIsShiftedOnce)
{
    ASSERT_EQ(symlink("film.srt", dir.file("lien.srt").c_str()), 0);
    ASSERT_EQ(link(film.c_str(), dir.file("dur.srt").c_str()), 0);
    RunResult r = shift("-a 1 film.srt ./film.srt lien.srt dur.srt " + quote(film));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "film.srt: 5 timing lines shifted\n");
    for (const char* other : {"./film.srt", "lien.srt", "dur.srt"})
        EXPECT_NE(r.err.find(std::string("chronelle-shift: ") + other +
                             ": warning: the same file as film.srt; shifted once\n"),
                  std::string::npos)
            << r.err;
    EXPECT_NE(readFile(film).find("00:00:21,000 --> 00:00:25,400"), std::string::npos);
    EXPECT_EQ(readFile(film).find("00:00:22,000"), std::string::npos);

    // Named twice where nothing is shifted: the warning says what became of it.
    ASSERT_EQ(mkdir(dir.file("dossier").c_str(), 0755), 0);
    const struct {
        std::string options, first, second, fate;
    } cases[] = {
        {"-n -a 1", "film.srt", "./film.srt", "would be shifted once"},
        {"-a 1", "notes.txt", "./notes.txt", "not tried again"},
        {"-a 1", "dossier", "dossier/", "not tried again"},
    };
    for (const auto& c : cases) {
        r = shift(c.options + " " + c.first + " " + c.second);
        EXPECT_NE(r.err.find("chronelle-shift: " + c.second + ": warning: the same file as " +
                             c.first + "; " + c.fate + "\n"),
                  std::string::npos)
            << r.err;
    }
}

TEST_F(Cli, Utf16IsNamedAsSuch)
{
    // The same subtitles in UTF-16, little and big endian, with their marks.
    for (bool little : {true, false}) {
        std::string utf16 = little ? "\xFF\xFE" : "\xFE\xFF";
        for (char c : filmBytes.substr(0, 200))
            utf16 += little ? std::string{c, '\0'} : std::string{'\0', c};
        writeFile(film, utf16);
        RunResult r = shift("-a 1 " + quote(film));
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "chronelle-shift: " + film +
                             ": looks like UTF-16, which is not supported; left untouched\n");
        EXPECT_EQ(readFile(film), utf16);
    }
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

TEST_F(Cli, TheTestPauseIsReadStrictlyByTheTestsCopyAlone)
{
    // Anything but N:FIFO, N from 1 to INT_MAX, stops the tests' copy before
    // it touches a file (4294967297 once became 1 without a word).
    for (const char* bad :
         {"4294967297:p", "2147483648:p", "0:p", "-1:p", "+1:p", " 1:p", "1x:p", "1:", "1"}) {
        RunResult r = run("CHRONELLE_TEST_PAUSE=" + quote(bad) + " " +
                              quote(CHRONELLE_SHIFT_PAUSED) + " -a 1 " + quote(film),
                          dir.path());
        EXPECT_EQ(r.status, 2) << bad;
        EXPECT_EQ(r.err, "chronelle-shift: bad CHRONELLE_TEST_PAUSE '" + std::string(bad) +
                             "' (N:FIFO, N from 1)\n");
    }
    expectUntouched();
    // The program that gets installed does not know of it.
    EXPECT_EQ(readFile(CHRONELLE_SHIFT).find("CHRONELLE_TEST_PAUSE"), std::string::npos);
    EXPECT_NE(readFile(CHRONELLE_SHIFT_PAUSED).find("CHRONELLE_TEST_PAUSE"), std::string::npos);
}

TEST_F(Cli, SpeaksFrenchToTheFrenchAndEnglishInTheCLocale)
{
    // The French locale is made by tools/deps.sh; in it the system's own
    // reasons come in French too. The finishing command after a stop is the
    // same in both.
    const std::string nb = "\u00a0";
    const struct {
        const char* lang;
        std::string help, missing, shifted, finish;
    } cases[] = {
        {"fr_FR.UTF-8", "utilisation" + nb + ": chronelle-shift CHANGEMENT",
         "chronelle-shift" + nb + ": absent.srt" + nb + ": impossible d'ouvrir en lecture et en " +
             "écriture" + nb + ": Aucun fichier ou dossier de ce type" + nb +
             "; le fichier a été laissé intact\n",
         "film.srt" + nb + ": 5 lignes de temps décalées\n", "; pour finir" + nb + ": "},
        {"C", "usage: chronelle-shift CHANGE",
         "chronelle-shift: absent.srt: cannot open for reading and writing: No such file or "
         "directory; the file was left untouched\n",
         "film.srt: 5 timing lines shifted\n", "; to finish: "},
    };
    const std::string big = testing_files::film(40000);
    std::string commands[2];
    for (int i = 0; i < 2; ++i) {
        const auto& c = cases[i];
        SCOPED_TRACE(c.lang);
        std::string env = std::string("env -u LC_ALL -u LANGUAGE LANG=") + c.lang + " ";
        RunResult r = run(env + quote(CHRONELLE_SHIFT) + " --help", dir.path());
        EXPECT_EQ(r.out.rfind(c.help, 0), 0u) << r.out;
        r = run(env + quote(CHRONELLE_SHIFT) + " -a 1 absent.srt", dir.path());
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, c.missing);
        writeFile(film, filmBytes);
        r = run(env + quote(CHRONELLE_SHIFT) + " -a 1 film.srt", dir.path());
        EXPECT_EQ(r.out, c.shifted);
        writeFile(film, big);
        r = runPaused(env + quote(CHRONELLE_SHIFT_PAUSED) + " --from 0:01:02 --fps 25:24 film.srt",
                      dir.path(), 2, [](pid_t pid) { kill(pid, SIGINT); });
        EXPECT_EQ(r.status, 130);
        std::size_t at = r.err.find(c.finish);
        ASSERT_NE(at, std::string::npos) << r.err;
        commands[i] = r.err.substr(at + c.finish.size());
    }
    EXPECT_EQ(commands[0], commands[1]);
    EXPECT_EQ(commands[1].rfind("chronelle-shift --fps 25:24 --from 0:01:02 --cues ", 0), 0u)
        << commands[1];
}
