// The tests' copies of chronelle-shift only: CHRONELLE_TEST_PAUSE=N:FIFO
// holds the N-th write of the run until the test has opened FIFO for writing
// and written a byte to it, so that a test acts at a known moment of a shift
// (a stop, another program cutting the file) without guessing it with a
// timer. N is read strictly: a setting that is not what a test meant stops
// the program rather than pause elsewhere.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "file_io.h"
#include "test_pause.h"

namespace {

int pauseAt = 0;
std::string pauseFifo;

void pauseBeforeWrite(int n, void*)
{
    if (n != pauseAt)
        return;
    int fd = open(pauseFifo.c_str(), O_RDONLY);
    char byte;
    if (fd >= 0 && read(fd, &byte, 1) >= 0)
        close(fd);
}

}  // namespace

void startTestPause()
{
    const char* setting = std::getenv("CHRONELLE_TEST_PAUSE");
    if (!setting)
        return;
    char* rest = nullptr;
    errno = 0;
    long long n = std::strtoll(setting, &rest, 10);
    bool digits = *setting >= '0' && *setting <= '9';
    if (!digits || errno != 0 || n < 1 || n > INT_MAX || *rest != ':' || rest[1] == '\0') {
        std::fprintf(stderr, "chronelle-shift: bad CHRONELLE_TEST_PAUSE '%s' (N:FIFO, N from 1)\n",
                     setting);
        std::exit(2);
    }
    pauseAt = int(n);
    pauseFifo = rest + 1;
    chronelle::beforeWrite(pauseBeforeWrite, nullptr);
}
