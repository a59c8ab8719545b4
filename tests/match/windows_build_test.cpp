// The matcher for Windows: MinGW-w64's compilers of the win32 thread model
// have no std::thread nor std::mutex, and must still compile every file of
// it (against these FFmpeg headers: the Windows build has its own).
#include <gtest/gtest.h>

#include <dirent.h>

#include "test_files.h"

using namespace testing_files;

TEST(MatcherForWindows, CompilesWithTheWin32ThreadModel)
{
    const std::string compiler = "i686-w64-mingw32-g++-win32";
    if (run("command -v " + compiler, "/tmp").status != 0)
        GTEST_SKIP() << compiler << " is missing (bash tools/deps.sh test installs it)";
    TempDir dir;
    // FFmpeg's headers alone, without the system's others beside them.
    for (const char* lib : {"libavutil", "libavcodec", "libavformat", "libswresample"})
        ASSERT_EQ(symlink((std::string(FFMPEG_HEADERS) + "/" + lib).c_str(), dir.file(lib).c_str()),
                  0);
    const std::string source = CHRONELLE_SOURCE_DIR;
    std::vector<std::string> files = {source + "/cli/match_files.cpp"};
    DIR* d = opendir((source + "/match").c_str());
    ASSERT_NE(d, nullptr);
    while (dirent* e = readdir(d)) {
        std::string name = e->d_name;
        if (name.size() > 4 && name.compare(name.size() - 4, 4, ".cpp") == 0)
            files.push_back(source + "/match/" + name);
    }
    closedir(d);
    EXPECT_GE(files.size(), 7u);
    for (const std::string& f : files) {
        RunResult r = run(
            compiler + " -std=c++17 -fsyntax-only -Wall -Wextra -Werror -DCHRONELLE_HAVE_MATCH -I" +
                quote(source + "/core") + " -I" + quote(source + "/match") + " -I" +
                quote(source + "/cli") + " -I" + quote(dir.path()) + " " + quote(f),
            dir.path());
        EXPECT_EQ(r.status, 0) << f << "\n" << r.err;
    }
}
