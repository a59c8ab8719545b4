// Bad input for the core and the real chronelle-shift: things that are not
// subtitle files, files that change under it, files past 4 GiB and awkward
// names. Each ends with the file byte for byte as expected.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <random>
#include <string>

#include "fault_files.h"
#include "patcher.h"
#include "probe.h"
#include "test_files.h"
#include "timing_line.h"

using namespace testing_files;
using namespace fault_files;
using chronelle::Failure;
using chronelle::PatchResult;
using chronelle::Shift;

namespace {

class BadInput : public ::testing::Test {
protected:
    TempDir dir;

    // `timeout` turns a hang (a FIFO opened for reading) into a failure.
    RunResult shift(const std::string& args, int seconds = 60)
    {
        return run("cd " + quote(dir.path()) + " && timeout " + std::to_string(seconds) + " " +
                       quote(CHRONELLE_SHIFT) + " " + args,
                   dir.path());
    }
};

PatchResult shiftPath(const std::string& path, int seconds = 5)
{
    return chronelle::shiftFile(path, Shift{0, 0, seconds, 0}, 1, nullptr, nullptr);
}

std::string readAt(const std::string& path, std::int64_t at, std::size_t n)
{
    std::string bytes(n, '\0');
    int fd = open(path.c_str(), O_RDONLY);
    ssize_t got = pread(fd, &bytes[0], n, at);
    close(fd);
    bytes.resize(got > 0 ? std::size_t(got) : 0);
    return bytes;
}

void writeAt(const std::string& path, std::int64_t at, const std::string& bytes)
{
    int fd = open(path.c_str(), O_WRONLY);
    ASSERT_EQ(pwrite(fd, bytes.data(), bytes.size(), at), ssize_t(bytes.size()));
    close(fd);
}

}  // namespace

TEST_F(BadInput, DirectoryIsRefused)
{
    std::string folder = dir.file("film.srt");
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    PatchResult r = shiftPath(folder);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.failure, Failure::NotRegular);
    EXPECT_EQ(chronelle::probe(folder).opened, false);

    for (const char* force : {"", "--force "}) {
        RunResult cli = shift(std::string(force) + "--add 5 film.srt");
        EXPECT_EQ(cli.status, 1);
        EXPECT_EQ(cli.err,
                  "chronelle-shift: film.srt: not a regular file: Is a directory; the file "
                  "was left untouched\n");
    }
}

TEST_F(BadInput, FifoAndDevicesAreRefusedWithoutWaiting)
{
    std::string fifo = dir.file("pipe.srt");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    PatchResult r = shiftPath(fifo);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.failure, Failure::NotRegular);
    EXPECT_FALSE(chronelle::probe(fifo).opened);

    for (const std::string& name : {fifo, std::string("/dev/full"), std::string("/dev/null")}) {
        for (const char* force : {"", "--force "}) {
            RunResult cli = shift(std::string(force) + "--add 5 " + quote(name));
            EXPECT_EQ(cli.status, 1) << name << " " << force << cli.err;
            EXPECT_EQ(cli.err.rfind("chronelle-shift: " + name + ": not a regular file", 0), 0u)
                << cli.err;
        }
    }
    struct stat st;
    ASSERT_EQ(stat(fifo.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
}

TEST_F(BadInput, EmptyFileStaysEmpty)
{
    std::string empty = dir.file("empty.srt");
    writeFile(empty, "");
    PatchResult r = shiftPath(empty);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.timingLines, 0);

    RunResult cli = shift("--add 5 empty.srt");
    EXPECT_EQ(cli.status, 1);
    EXPECT_NE(cli.err.find("not a subtitle file (0 timing lines"), std::string::npos) << cli.err;
    cli = shift("--force --add 5 empty.srt");
    EXPECT_EQ(cli.status, 0) << cli.err;
    EXPECT_EQ(cli.out, "empty.srt: 0 timing lines shifted\n");
    EXPECT_EQ(readFile(empty), "");
}

TEST_F(BadInput, FileThatVanishesAfterTheProbe)
{
    std::string path = dir.file("film.srt");
    writeFile(path, film(5));
    ASSERT_TRUE(chronelle::probe(path).accepted);
    ASSERT_EQ(unlink(path.c_str()), 0);
    PatchResult r = shiftPath(path);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.failure, Failure::Open);
    EXPECT_EQ(r.errnum, ENOENT);
    EXPECT_FALSE(r.partlyWritten);
    EXPECT_NE(access(path.c_str(), F_OK), 0) << "the shift must not create the file";

    // Put back as a folder of the same name: refused, not opened.
    writeFile(path, film(5));
    ASSERT_TRUE(chronelle::probe(path).accepted);
    ASSERT_EQ(unlink(path.c_str()), 0);
    ASSERT_EQ(mkdir(path.c_str(), 0755), 0);
    EXPECT_EQ(shiftPath(path).failure, Failure::NotRegular);
}

TEST_F(BadInput, BinaryFileChangesOnlyAtItsTimingLines)
{
    // Random bytes of every value, NUL, CR and LF included, with timing lines
    // put in at line starts.
    std::mt19937 random(20240607);
    auto noise = [&](std::size_t n) {
        std::string s(n, '\0');
        for (char& c : s)
            c = char(random() & 0xff);
        return s;
    };
    std::string before = noise(300000), after = before;
    for (std::size_t at : {1000u, 150000u, 299000u}) {
        before.replace(at, 31, "\n00:00:20,000 --> 00:00:24,400\n");
        after.replace(at, 31, "\n00:00:25,000 --> 00:00:29,400\n");
    }
    std::string path = dir.file("noise.bin");
    writeFile(path, before);

    RunResult cli = shift("--add 5 noise.bin");
    EXPECT_EQ(cli.status, 1);
    EXPECT_NE(cli.err.find("not a subtitle file"), std::string::npos) << cli.err;
    EXPECT_EQ(readFile(path), before);

    cli = shift("--force --add 5 noise.bin");
    EXPECT_EQ(cli.status, 0) << cli.err;
    EXPECT_EQ(cli.out, "noise.bin: 3 timing lines shifted\n");
    EXPECT_EQ(readFile(path), after);
}

TEST_F(BadInput, LineEndWithinTheFirst29BytesEndsTheTimingLine)
{
    // An LF at any position that is neither digit nor ':' ':' '>' makes the
    // line too short; the digits after it belong to the next line.
    std::string before = film(3), after = film(3, 1000);
    const std::string line = "00:00:25,000 --> 00:00:28,000";
    for (int p : {8, 12, 13, 14, 16, 19, 22, 25}) {
        std::string cut = line;
        cut[std::size_t(p)] = '\n';
        EXPECT_FALSE(chronelle::isShiftable(cut.data(), cut.size())) << "LF at " << p;
        before += cut + "\r\n";
        after += cut + "\r\n";
    }
    std::string path = dir.file("film.srt");
    writeFile(path, before);
    PatchResult r = shiftPath(path, 1);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.timingLines, 3);
    EXPECT_EQ(readFile(path), after);
}

TEST_F(BadInput, SparseFilePastFourGibibytes)
{
    // Timing lines across 2^31 and 2^32 and at the very end, without a line
    // end, in a sparse file of 4 GiB and more: every offset must hold.
    const std::int64_t G2 = std::int64_t(1) << 31, G4 = std::int64_t(1) << 32;
    const std::int64_t size = G4 + (1 << 20) + 123;
    const std::string line = "01:02:03,004 --> 01:02:05,006";
    const std::string shifted = "01:02:08,254 --> 01:02:10,256";
    const std::int64_t starts[] = {G2 - 9, G2 + 4096, G4 - 12, size - 29};

    std::string path = dir.file("sparse film.srt");
    const std::string head = film(3);
    writeFile(path, head);
    ASSERT_EQ(truncate(path.c_str(), size), 0);
    for (std::int64_t at : starts)
        writeAt(path, at - 1, "\n" + line + (at + 29 < size ? "\r\n" : ""));

    // 4 GiB read through: under the sanitizers on a busy machine, a minute
    // or more.
    RunResult cli = shift("--add 5,25 " + quote(path), 900);
    EXPECT_EQ(cli.status, 0) << cli.err;
    EXPECT_EQ(cli.out, path + ": 7 timing lines shifted\n");

    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_size, size);
    // Only the changed ranges were written: the holes stay holes.
    EXPECT_LT(std::int64_t(st.st_blocks) * 512, std::int64_t(64) << 20);
    EXPECT_EQ(readAt(path, 0, head.size()), film(3, 5250));
    for (std::int64_t at : starts) {
        std::string end = at + 29 < size ? "\r\n" : "";
        EXPECT_EQ(readAt(path, at - 2, 31 + end.size()),
                  std::string(1, '\0') + "\n" + shifted + end)
            << "at " << at;
    }
}

TEST_F(BadInput, AwkwardNames)
{
    const std::string before = film(4), after = film(4, 1000);
    // Spaces, accents, a quote, a byte that is not UTF-8, a leading dash, "-".
    const std::string names[] = {"mon film.srt", "Été à l'écran.srt", "caf\xe9.srt",
                                 "-r 5.srt",     "--add.srt",         "-"};
    std::string args;
    for (const std::string& name : names) {
        writeFile(dir.file(name), before);
        args += " " + quote(name);
    }
    RunResult cli = shift("--add 1 --" + args);
    EXPECT_EQ(cli.status, 0) << cli.err;
    for (const std::string& name : names) {
        EXPECT_EQ(readFile(dir.file(name)), after) << name;
        EXPECT_NE(cli.out.find(name + ": 4 timing lines shifted\n"), std::string::npos) << name;
    }

    // Without "--" a leading dash is an option: a usage error, nothing touched.
    cli = shift("--add 1 '-r 5.srt'");
    EXPECT_EQ(cli.status, 2);
    EXPECT_EQ(readFile(dir.file("-r 5.srt")), after);
}

TEST_F(BadInput, LinksAreFollowedAndKept)
{
    // In place, a symbolic or hard link still leads to the shifted file.
    std::string path = dir.file("film.srt");
    writeFile(path, film(4));
    ASSERT_EQ(symlink("film.srt", dir.file("symbolic.srt").c_str()), 0);
    ASSERT_EQ(link(path.c_str(), dir.file("hard.srt").c_str()), 0);
    ASSERT_EQ(symlink("absent.srt", dir.file("dangling.srt").c_str()), 0);

    RunResult cli = shift("--add 1 symbolic.srt");
    EXPECT_EQ(cli.status, 0) << cli.err;
    struct stat st;
    ASSERT_EQ(lstat(dir.file("symbolic.srt").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(readFile(path), film(4, 1000));
    EXPECT_EQ(readFile(dir.file("hard.srt")), film(4, 1000));

    cli = shift("--force --add 1 dangling.srt");
    EXPECT_EQ(cli.status, 1);
    EXPECT_EQ(cli.err,
              "chronelle-shift: dangling.srt: cannot open for reading and writing: No "
              "such file or directory; the file was left untouched\n");
    EXPECT_NE(access(dir.file("absent.srt").c_str(), F_OK), 0);
}
