// Faults while a file is being shifted: no permission to write, writes that
// fail part-way, and another shift of the same file. Whatever happens, the
// file keeps its length, is never reported shifted when it is not, and is
// either untouched or shifted up to some point and untouched after it.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "fault_files.h"
#include "file_io.h"
#include "patcher.h"
#include "probe.h"
#include "progress_record.h"
#include "test_files.h"

using namespace testing_files;
using namespace fault_files;
using chronelle::Failure;
using chronelle::PatchResult;
using chronelle::Shift;

namespace {

class Faults : public ::testing::Test {
protected:
    TempDir dir;
    std::string path = dir.file("film.srt");
    std::vector<Step> steps;

    PatchResult shift(Shift s, int adri = 1)
    {
        steps.clear();
        return chronelle::shiftFile(path, s, adri, record, &steps);
    }

    // The run was shown as a failure, never as a success.
    void expectErreur(double fraction)
    {
        ASSERT_FALSE(steps.empty());
        EXPECT_EQ(steps.back().text, "Erreur");
        EXPECT_EQ(steps.back().fraction, fraction);
        for (const Step& s : steps)
            EXPECT_NE(s.text, chronelle::StepSucceeded.text);
    }
};

// Runs `body` in a child process as the unprivileged user (as root) and
// returns its exit status.
template <typename Body>
int asUnprivileged(Body body)
{
    pid_t pid = fork();
    if (pid == 0) {
        if (isRoot() && (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0))
            _exit(99);
        _exit(body());
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A film of a few MiB: four blocks of the patcher, so four writes.
const int BigCues = 40000;

}  // namespace

TEST_F(Faults, ReadOnlyFileIsLeftUntouched)
{
    const std::string before = film(10);
    writeFile(path, before);
    chmod(dir.path().c_str(), 0755);
    chmod(path.c_str(), 0644);  // root's file: readable, not writable, for 65534
    if (!isRoot())
        chmod(path.c_str(), 0444);

    // The core: refused at opening, the bar left at the opening fraction.
    int status = asUnprivileged([&] {
        PatchResult r = shift(Shift{0, 0, 5, 0});
        bool asExpected = !r.ok && r.failure == Failure::Open && r.errnum == EACCES &&
                          !r.partlyWritten && steps.back().text == std::string("Erreur") &&
                          steps.back().fraction == 0.2;
        return asExpected ? 0 : 1;
    });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(readFile(path), before);

    // The binary: a clear message and exit status 1.
    RunResult r = run(asNobody() + quote(binaryIn(dir)) + " --add 5 " + quote(path), dir.path());
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "chronelle-shift: " + path +
                         ": cannot open for reading and writing: Permission denied; the file was "
                         "left untouched\n");
    EXPECT_EQ(readFile(path), before);
}

TEST_F(Faults, ReadOnlyFolderDoesNotMatter)
{
    // In place, nothing is created beside the file: a writable file in a
    // folder the user cannot write to is shifted all the same.
    writeFile(path, film(10));
    chmod(path.c_str(), 0666);
    chmod(dir.path().c_str(), 0555);
    RunResult r = run(asNobody() + quote(binaryIn(dir)) + " --add 5 " + quote(path), dir.path());
    chmod(dir.path().c_str(), 0755);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(readFile(path), film(10, 5000));
}

TEST_F(Faults, WriteFailingAtEachBlockLeavesAShiftedBeginning)
{
    const std::string before = film(BigCues);
    const std::string after = film(BigCues, 1500);
    ASSERT_GT(before.size(), 3u << 20);
    std::size_t lastCut = 0;
    for (int n = 1; n <= 5; ++n) {
        SCOPED_TRACE("write number " + std::to_string(n));
        writeFile(path, before);
        chronelle::failWriteNumber(n);
        PatchResult r = shift(Shift{0, 0, 1, 500});
        chronelle::failWriteNumber(0);
        std::string now = readFile(path);
        ASSERT_EQ(now.size(), before.size());
        if (n == 5) {
            // Four blocks, four writes: the fifth never comes.
            EXPECT_TRUE(r.ok);
            EXPECT_EQ(now, after);
            break;
        }
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.failure, Failure::Write);
        EXPECT_EQ(r.errnum, EIO);
        EXPECT_TRUE(r.partlyWritten);
        expectErreur(0.8);
        std::size_t cut = shiftedUpTo(now, after);
        EXPECT_EQ(now.compare(cut, std::string::npos, before, cut, std::string::npos), 0)
            << "bytes changed after " << cut;
        // Each block that went to disk is a further MiB of shifted lines.
        EXPECT_GE(cut + 64, std::size_t(n - 1) << 20);
        EXPECT_LT(cut, (std::size_t(n - 1) << 20) + 4096);
        EXPECT_GE(cut, lastCut);
        lastCut = cut;
    }
}

TEST_F(Faults, BinaryStopsAtAFileSizeLimitAndSaysSo)
{
    // A limit on file size makes the kernel refuse writes beyond 2 MiB: the
    // first blocks are shifted, the rest is not, and the message says so.
    const std::string before = film(BigCues);
    const std::string after = film(BigCues, 5000);
    writeFile(path, before);
    std::string command =
        "sh -c " + quote("trap '' XFSZ; exec prlimit --fsize=2097152 " + quote(CHRONELLE_SHIFT) +
                         " --add 5 " + quote(path));
    RunResult r = run(command, dir.path());
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find(path + ": "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("File too large; the file may be partly shifted\n"), std::string::npos)
        << r.err;
    EXPECT_EQ(r.out, "");
    std::string now = readFile(path);
    ASSERT_EQ(now.size(), before.size());
    std::size_t cut = shiftedUpTo(now, after);
    EXPECT_GT(cut, 1u << 20);
    EXPECT_LT(cut, (2u << 20) + 4096);
    EXPECT_EQ(now.compare(cut, std::string::npos, before, cut, std::string::npos), 0);
}

TEST_F(Faults, ALockedFileIsBusy)
{
    const std::string before = film(10);
    writeFile(path, before);
    int fd = open(path.c_str(), O_RDONLY);
    ASSERT_EQ(flock(fd, LOCK_EX), 0);

    PatchResult r = shift(Shift{0, 0, 5, 0});
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.failure, Failure::Busy);
    EXPECT_FALSE(r.partlyWritten);
    expectErreur(0.2);

    RunResult cli = run(std::string(CHRONELLE_SHIFT) + " --add 5 " + quote(path), dir.path());
    EXPECT_EQ(cli.status, 1);
    EXPECT_NE(cli.err.find("another process is shifting this file"), std::string::npos)
        << cli.err;
    EXPECT_NE(cli.err.find("the file was left untouched"), std::string::npos) << cli.err;

    // A dry run only reads, and is not held back.
    cli = run(std::string(CHRONELLE_SHIFT) + " --dry-run --add 5 " + quote(path), dir.path());
    EXPECT_EQ(cli.status, 0) << cli.err;
    close(fd);
    EXPECT_EQ(readFile(path), before);
}

TEST_F(Faults, TwoBinariesAtOnceNeverInterleave)
{
    // Started together, either one waits for nothing and is turned away, or
    // they ran one after the other: the file is shifted once or twice, whole.
    const int cues = 300000;
    const std::string before = film(cues);
    writeFile(path, before);
    std::string one = quote(CHRONELLE_SHIFT) + " --add 2 " + quote(path);
    std::string command = "cd " + quote(dir.path()) + " && sh -c " +
                          quote("(" + one + " 2>err1; echo $? >st1) & (" + one +
                                " 2>err2; echo $? >st2) & wait");
    RunResult r = run(command, dir.path());
    ASSERT_EQ(r.status, 0);
    std::string statuses = readFile(dir.file("st1")) + readFile(dir.file("st2"));
    std::string errors = readFile(dir.file("err1")) + readFile(dir.file("err2"));
    std::string now = readFile(path);
    ASSERT_EQ(now.size(), before.size());
    if (statuses == "0\n0\n") {
        EXPECT_EQ(now, film(cues, 4000)) << "both ran: shifted twice";
    } else {
        EXPECT_TRUE(statuses == "0\n1\n" || statuses == "1\n0\n") << statuses << errors;
        EXPECT_NE(errors.find("another process is shifting this file"), std::string::npos)
            << errors;
        EXPECT_NE(errors.find("the file was left untouched"), std::string::npos) << errors;
        EXPECT_EQ(now, film(cues, 2000)) << "one ran: shifted once";
    }
}
