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
    std::system(
        ("cp " + testing_files::quote(CHRONELLE_SHIFT) + " " + testing_files::quote(copy)).c_str());
    chmod(copy.c_str(), 0755);
    return copy;
}

}  // namespace fault_files
