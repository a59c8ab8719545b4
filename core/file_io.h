// The few file operations the core needs, with 64-bit offsets and UTF-8 file
// names on every platform.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace chronelle {

// Opens `path` (in the file system's encoding; UTF-8 on Windows) with an
// fopen mode. Returns null with errno set on failure.
std::FILE* openStream(const std::string& path, const char* mode);

// What lies at a path, looked at before opening it: opening a FIFO would
// block, and a directory cannot be shifted.
enum class PathKind { Regular, Missing, Directory, Other };
PathKind pathKind(const std::string& path, int* errnum = nullptr);

bool seekTo(std::FILE* f, std::int64_t offset);

// Takes an exclusive advisory lock on the open file without waiting, so that
// two shifts of one file never interleave. False when another holds it.
bool lockStream(std::FILE* f);

// Writes `n` bytes at the stream's position; false on a short write.
bool writeBytes(std::FILE* f, const char* bytes, std::size_t n);

// Test hook: makes the n-th following writeBytes call fail with EIO
// (0 turns it off).
void failWriteNumber(int n);

}  // namespace chronelle
