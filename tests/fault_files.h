// Helpers of the fault and bad-input tests: films whose shifted form is known
// in advance, the split of a partly shifted file, and running the real
// binary as an unprivileged user.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "test_files.h"

namespace fault_files {

inline std::string clock(std::int64_t ms)
{
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d,%03d", int(ms / 3600000), int(ms / 60000 % 60),
                  int(ms / 1000 % 60), int(ms % 1000));
    return text;
}

// A film of `cues` subtitles with CR LF, every time moved by `laterMs`; the
// same call with another `laterMs` gives the file as a shift should leave it.
inline std::string film(int cues, std::int64_t laterMs = 0)
{
    std::string s;
    for (int i = 0; i < cues; ++i) {
        std::int64_t start = 60000 + std::int64_t(i) * 700 + laterMs;
        s += std::to_string(i + 1) + "\r\n" + clock(start) + " --> " + clock(start + 600) +
             "\r\nRéplique " + std::to_string(i) + std::string(std::size_t(i % 61), '.') +
             "\r\n\r\n";
    }
    return s;
}

// Where a partly shifted file stops agreeing with the fully shifted one;
// from there on it must still be the original.
inline std::size_t shiftedUpTo(const std::string& file, const std::string& shifted)
{
    std::size_t cut = 0;
    while (cut < file.size() && cut < shifted.size() && file[cut] == shifted[cut])
        ++cut;
    return cut;
}

inline bool isRoot() { return geteuid() == 0; }

// The prefix that runs a command as the unprivileged user 65534 when the
// tests run as root (as CI does); empty otherwise.
inline std::string asNobody()
{
    return isRoot() ? "setpriv --reuid=65534 --regid=65534 --clear-groups " : "";
}

// A copy of the binary in `dir`, so that the unprivileged user can run it
// whatever the permissions of the build folder.
inline std::string binaryIn(const testing_files::TempDir& dir)
{
    std::string copy = dir.file("chronelle-shift");
    std::system(("cp " + testing_files::quote(CHRONELLE_SHIFT) + " " +
                 testing_files::quote(copy))
                    .c_str());
    chmod(copy.c_str(), 0755);
    return copy;
}

}  // namespace fault_files
