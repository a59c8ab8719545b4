// Faults while a file is being shifted: no permission to write, writes that
// fail part-way, a file-size limit, another program cutting the file, and
// another shift of the same file. Whatever happens, the file is never
// reported shifted when it is not, and is either untouched or shifted up to
// some point and untouched after it.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "fault_files.h"
#include "file_io.h"
#include "patcher.h"
#include "probe.h"
#include "progress_record.h"
#include "stop.h"
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
        EXPECT_EQ(steps.back().stage, chronelle::Stage::Failed);
        EXPECT_EQ(steps.back().fraction, fraction);
        for (const Step& s : steps)
            EXPECT_NE(s.stage, chronelle::Stage::Succeeded);
    }
};

// Runs `body` in a child process and returns its exit status (-1 when a
// signal ended it).
template <typename Body>
int inChild(Body body)
{
    pid_t pid = fork();
    if (pid == 0)
        _exit(body());
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The same as the unprivileged user (when the tests run as root).
template <typename Body>
int asUnprivileged(Body body)
{
    return inChild([&] {
        if (isRoot() && (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0))
            return 99;
        return body();
    });
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
                          !r.partlyWritten && steps.back().stage == chronelle::Stage::Failed &&
                          steps.back().fraction == 0.2;
        return asExpected ? 0 : 1;
    });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(readFile(path), before);

    // The binary: a clear message and exit status 1; a dry run says the same,
    // as it is a trial of the real run.
    for (const char* dry : {"", "--dry-run "}) {
        RunResult r = run(asNobody() + quote(binaryIn(dir)) + " " + dry + "--add 5 " + quote(path),
                          dir.path());
        EXPECT_EQ(r.status, 1) << r.err;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "chronelle-shift: " + path +
                             ": cannot open for reading and writing: Permission denied; the file "
                             "was left untouched\n");
    }
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

TEST_F(Faults, AFailedWriteLeavesExactlyTheFirstLinesShifted)
{
    // Four blocks of the patcher. A write fails whole, or is cut short (inside
    // a timing line, at its end, past it) and the next one fails: the file is
    // then its first N lines shifted and the rest untouched, N as reported.
    const std::string before = film(BigCues);
    struct Case {
        int write;
        std::size_t keep;
    };
    for (Case c : {Case{1, 0}, Case{2, 0}, Case{1, 10}, Case{2, 29}, Case{3, 5000}, Case{5, 0}}) {
        SCOPED_TRACE("write " + std::to_string(c.write) + ", keep " + std::to_string(c.keep));
        writeFile(path, before);
        chronelle::failWriteNumber(c.write, c.keep);
        PatchResult r = shift(Shift{0, 0, 1, 500});
        chronelle::failWriteNumber(0);
        EXPECT_TRUE(readFile(path) == film(BigCues, 1500, int(r.timingLines)));
        if (c.write == 5) {  // four writes: the fifth never comes
            EXPECT_TRUE(r.ok);
            EXPECT_EQ(r.timingLines, BigCues);
            continue;
        }
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.failure, Failure::Write);
        EXPECT_EQ(r.errnum, EIO);
        EXPECT_EQ(r.lastCue, r.timingLines);
        EXPECT_EQ(r.partlyWritten, r.timingLines > 0);
        EXPECT_EQ(r.tornAt, -1);
        expectErreur(0.8);
        // Only a write that put whole lines on disk counts.
        if (c.write == 1)
            EXPECT_EQ(r.timingLines, c.keep >= 29 ? 1 : 0);
        else
            EXPECT_GT(r.timingLines, 0);
    }
}

TEST_F(Faults, AFileSizeLimitNeitherKillsTheBinaryNorTearsALine)
{
    // A shell's `ulimit -f`, SIGXFSZ at its default as a user has it. Below
    // the film's size, a write is cut at the limit: the account is exact.
    // Above it, the film is shifted whole, and what is printed to a file
    // already past the limit is a failed write, told as such.
    signal(SIGXFSZ, SIG_DFL);
    const std::string before = film(BigCues);
    const struct {
        long blocks;  // of 1024 bytes
        const char* out;
        int status;
    } cases[] = {{906, "", 1}, {8192, "", 0}, {8192, " >>printed", 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.blocks);
        writeFile(path, before);
        writeFile(dir.file("printed"), std::string(8192 * 1024, '.'));
        std::string limited = "ulimit -f " + std::to_string(c.blocks) + "; exec " +
                              quote(CHRONELLE_SHIFT) + " --add 5 film.srt" + c.out;
        RunResult r = run("bash -c " + quote(limited), dir.path());
        EXPECT_EQ(r.status, c.status) << r.err;
        const std::string cut = ": File too large; 1-";
        std::size_t after = r.err.find(cut);
        int lines =
            after == std::string::npos ? BigCues : std::stoi(r.err.substr(after + cut.size()));
        EXPECT_TRUE(readFile(path) == film(BigCues, 5000, lines)) << r.err;
        if (*c.out) {
            EXPECT_EQ(r.err, "chronelle-shift: cannot write to standard output: File too large\n");
        } else if (c.status) {
            EXPECT_LT(lines, BigCues) << r.err;
        }
    }
}

TEST_F(Faults, APlainWriteCutByAFileSizeLimitLeavesExactlyTheFirstLinesShifted)
{
    // The kernel cuts writes at the limit: with the signal turned into EFBIG,
    // the account is exact and the process lives on to give it.
    const std::string before = film(BigCues);
    for (rlim_t limit : {rlim_t(2097152), rlim_t(2097152 + 10), rlim_t(3145728 + 1000)}) {
        SCOPED_TRACE(limit);
        writeFile(path, before);
        int status = inChild([&] {
            chronelle::catchStopSignals(false);
            rlimit l{limit, limit};
            setrlimit(RLIMIT_FSIZE, &l);
            PatchResult r = shift(Shift{0, 0, 5, 0});
            bool exact = !r.ok && r.failure == Failure::Write && r.errnum == EFBIG &&
                         r.timingLines > 0 && r.lastCue == r.timingLines && r.tornAt == -1 &&
                         readFile(path) == film(BigCues, 5000, int(r.timingLines));
            return exact ? 0 : 1;
        });
        EXPECT_EQ(status, 0);
    }
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
    EXPECT_NE(cli.err.find("another process is shifting this file"), std::string::npos) << cli.err;
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
    std::string command =
        "cd " + quote(dir.path()) + " && sh -c " +
        quote("(" + one + " 2>err1; echo $? >st1) & (" + one + " 2>err2; echo $? >st2) & wait");
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

namespace {

// Another program that changes the file's size once the shift has begun:
// before the file is read, or at the moment of the second write.
struct Resize {
    std::string path;
    off_t size;
};

void resizeWhenModifying(const chronelle::ProgressStep& step, void* data)
{
    auto* r = static_cast<Resize*>(data);
    if (step.stage == chronelle::Stage::Modifying) {
        ASSERT_EQ(truncate(r->path.c_str(), r->size), 0);
    }
}

void resizeAtSecondWrite(int n, void* data)
{
    auto* r = static_cast<Resize*>(data);
    if (n == 2) {
        ASSERT_EQ(truncate(r->path.c_str(), r->size), 0);
    }
}

}  // namespace

TEST_F(Faults, AFileThatChangesSizeMeanwhileIsNeverReportedShifted)
{
    // Cut short or grown: nothing is written past its new end, nor once the
    // change is seen. Cut at the second write, just before its look at the
    // size, the file keeps its new size and its first block shifted.
    const std::string before = film(BigCues);
    const off_t grown = off_t(before.size() + 100), midWrite = (1 << 20) + (1 << 19);
    struct Case {
        bool atWrite;
        off_t size;
    } cases[] = {{false, 1000}, {false, grown}, {true, 1000}, {true, midWrite}, {true, grown}};
    for (Case c : cases) {
        SCOPED_TRACE(std::to_string(c.atWrite) + " " + std::to_string(c.size));
        writeFile(path, before);
        Resize resize{path, c.size};
        if (c.atWrite)
            chronelle::beforeWrite(resizeAtSecondWrite, &resize);
        chronelle::ShiftOptions o;
        o.retiming.offsetMs = 2000;
        PatchResult r =
            chronelle::shiftFile(path, o, c.atWrite ? nullptr : resizeWhenModifying, &resize);
        chronelle::beforeWrite(nullptr, nullptr);
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.failure, Failure::Changed);
        EXPECT_EQ(r.partlyWritten, c.atWrite);
        std::string now = readFile(path);
        ASSERT_EQ(off_t(now.size()), c.size);
        std::string expected = film(BigCues, 2000, int(r.timingLines)) + std::string(100, '\0');
        EXPECT_TRUE(now == expected.substr(0, now.size()));
    }
    // The binary, its film emptied by another program at its second write:
    // it says so, and the film stays empty.
    writeFile(path, before);
    bool paused = false;
    RunResult cli = runPaused(
        quote(CHRONELLE_SHIFT_PAUSED) + " --add 2 film.srt", dir.path(), 2,
        [&](pid_t) { truncate(path.c_str(), 0); }, &paused);
    EXPECT_TRUE(paused);
    EXPECT_EQ(cli.status, 1) << cli.err;
    EXPECT_NE(cli.err.find("film.srt: the file changed size while it was being shifted: another "
                           "program is writing it"),
              std::string::npos)
        << cli.err;
    EXPECT_EQ(readFile(path), "");
}

TEST_F(Faults, HolesBetweenTimingLinesStayHoles)
{
    // Timing lines 64 KiB apart, holes between them, all in one block.
    int fd = open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    for (int i = 0; i < 16; ++i) {
        std::string cue = film(1, i * 1000);
        ASSERT_EQ(pwrite(fd, cue.data(), cue.size(), off_t(i) << 16), ssize_t(cue.size()));
    }
    ASSERT_EQ(ftruncate(fd, off_t(16) << 16), 0);
    ASSERT_EQ(fsync(fd), 0);  // blocks allocated now, not by the shift's sync
    close(fd);
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    blkcnt_t blocks = st.st_blocks;
    ASSERT_LT(blocks * 512, 16 << 16) << "the file system keeps no holes";

    RunResult cli = run(quote(CHRONELLE_SHIFT) + " --force --add 5 film.srt", dir.path());
    EXPECT_EQ(cli.status, 0) << cli.err;
    EXPECT_EQ(cli.out, "film.srt: 16 timing lines shifted\n");
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_blocks, blocks);
    std::string now = readFile(path);
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(now.substr(std::size_t(i) << 16, film(1).size()), film(1, i * 1000 + 5000));
}
