// Real files on disk for the tests: a fresh temporary folder per test, and
// helpers to write, read and run the real chronelle-shift binary.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace testing_files {

class TempDir {
public:
    TempDir()
    {
        char pattern[] = "/tmp/chronelle-test-XXXXXX";
        path_ = mkdtemp(pattern);
    }
    ~TempDir() { std::system(("rm -rf '" + path_ + "'").c_str()); }
    std::string file(const std::string& name) const { return path_ + "/" + name; }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

inline void writeFile(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), std::streamsize(bytes.size()));
}

inline std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

struct RunResult {
    int status = -1;  // exit status, or -1 when killed by a signal
    std::string out;  // stdout
    std::string err;  // stderr
};

// Runs a shell command line in `dir`, capturing stdout and stderr.
inline RunResult run(const std::string& command, const std::string& dir)
{
    std::string out = dir + "/.stdout", err = dir + "/.stderr";
    int raw =
        std::system(("cd '" + dir + "' && " + command + " >'" + out + "' 2>'" + err + "'").c_str());
    RunResult r;
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    r.out = readFile(out);
    r.err = readFile(err);
    return r;
}

// Runs `command` (the tests' copy of chronelle-shift, CHRONELLE_SHIFT_PAUSED,
// and its arguments) in `dir` with its pause at its write number `atWrite`
// (CHRONELLE_TEST_PAUSE, cli/test_pause.cpp): a
// handshake through a FIFO, so that `action(pid)` runs while the program
// waits there, whatever the speed of the machine; then it goes on. `paused`
// says whether it got there (a program that ends before that write never
// does).
template <typename Action>
RunResult runPaused(const std::string& command, const std::string& dir, int atWrite, Action action,
                    bool* paused = nullptr)
{
    std::string fifo = dir + "/.pause", out = dir + "/.stdout", err = dir + "/.stderr";
    unlink(fifo.c_str());
    mkfifo(fifo.c_str(), 0600);
    std::string line = "cd '" + dir + "' && exec " + command + " >'" + out + "' 2>'" + err + "'";
    pid_t pid = fork();
    if (pid == 0) {
        setenv("CHRONELLE_TEST_PAUSE", (std::to_string(atWrite) + ":" + fifo).c_str(), 1);
        execl("/bin/sh", "sh", "-c", line.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    // The open succeeds once the program has opened the FIFO to wait on it.
    int status = 0;
    bool held = false, ended = false;
    while (!held && !ended) {
        int fd = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0) {
            held = true;
            action(pid);
            ssize_t w = ::write(fd, "g", 1);
            (void)w;
            close(fd);
        } else {
            ended = waitpid(pid, &status, WNOHANG) == pid;
            if (!ended)
                usleep(1000);
        }
    }
    if (!ended)
        waitpid(pid, &status, 0);
    if (paused)
        *paused = held;
    RunResult r;
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.out = readFile(out);
    r.err = readFile(err);
    return r;
}

// Quotes one argument for the shell.
inline std::string quote(const std::string& arg)
{
    std::string q = "'";
    for (char c : arg)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// A SubRip file of `cues` subtitles with the given line end.
inline std::string subtitles(int cues, const std::string& eol = "\r\n")
{
    std::string s;
    for (int i = 0; i < cues; ++i) {
        int start = 20 + i * 5;  // seconds
        char timing[64];
        std::snprintf(timing, sizeof timing, "%02d:%02d:%02d,000 --> %02d:%02d:%02d,400",
                      start / 3600, start / 60 % 60, start % 60, (start + 4) / 3600,
                      (start + 4) / 60 % 60, (start + 4) % 60);
        s += std::to_string(i + 1) + eol + timing + eol + "Réplique numéro " +
             std::to_string(i + 1) + eol + eol;
    }
    return s;
}

inline std::string clock(std::int64_t ms)
{
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d,%03d", int(ms / 3600000), int(ms / 60000 % 60),
                  int(ms / 1000 % 60), int(ms % 1000));
    return text;
}

// A film of `cues` subtitles with CR LF, the times of its cues `firstMoved`
// to `lastMoved` (counted from 1; all by default) moved by `laterMs`; the
// same call with another `laterMs` gives the file as a shift should leave it.
inline std::string film(int cues, std::int64_t laterMs = 0, int lastMoved = -1, int firstMoved = 1)
{
    std::string s;
    for (int i = 0; i < cues; ++i) {
        bool moved = i + 1 >= firstMoved && (lastMoved < 0 || i + 1 <= lastMoved);
        std::int64_t start = 60000 + std::int64_t(i) * 700 + (moved ? laterMs : 0);
        s += std::to_string(i + 1) + "\r\n" + clock(start) + " --> " + clock(start + 600) +
             "\r\nRéplique " + std::to_string(i) + std::string(std::size_t(i % 61), '.') +
             "\r\n\r\n";
    }
    return s;
}

}  // namespace testing_files
