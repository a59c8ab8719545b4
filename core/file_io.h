// The few file operations the core needs, on plain descriptors: 64-bit
// offsets, UTF-8 file names on Windows, and writes whose boundaries the
// caller chooses (a stream would split them wherever its buffer ends).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace chronelle {

// What lies at a path, looked at before opening it: opening a FIFO would
// block, and a directory cannot be shifted.
enum class PathKind { Regular, Missing, Directory, Other };
PathKind pathKind(const std::string& path, int* errnum = nullptr);

// Opens `path` (in the file system's encoding; UTF-8 on Windows) for reading,
// or for reading and writing. Returns a descriptor, or -1 with errno set;
// EBUSY when Windows turns a writer away because another one has the file.
int openFile(const std::string& path, bool forWriting);
bool closeFile(int fd);

// Reads up to `n` bytes at `offset`, going on after short reads; returns the
// count (less than `n` only at the end of the file) or -1 with errno set.
std::int64_t readAt(int fd, char* bytes, std::size_t n, std::int64_t offset);

// One write of up to `n` bytes at `offset` into a file that must still be
// `size` bytes long. A write past the end makes a file grow: had another
// program cut it, the write would bring back what was cut. So the size is
// looked at just before, and a file that no longer has `size` bytes gets
// nothing. Returns the count written, which may be short (a size limit, a
// full disk) or 0 (the size changed), or -1 with errno set.
std::int64_t writeAt(int fd, const char* bytes, std::size_t n, std::int64_t offset,
                     std::int64_t size);

// Starts writing to the disk what was written at [offset, offset + n), so
// that the sync at the end has less to wait for (Linux; elsewhere nothing).
void startSync(int fd, std::int64_t offset, std::int64_t n);

// Puts what was written on the disk (fsync; _commit on Windows).
bool syncFile(int fd);

// Takes an exclusive advisory lock without waiting, so that two shifts of
// one file never interleave. False when another process holds it.
bool lockFile(int fd);

// What identifies an open file and what it holds now.
struct FileInfo {
    std::uint64_t device = 0, inode = 0;
    std::int64_t size = 0;
    std::int64_t blockSize = 4096;  // the file system's preferred block
};
bool fileInfo(int fd, FileInfo* info);

// The same for a path, without opening it for long; false with errno set.
bool pathInfo(const std::string& path, FileInfo* info);

// Test hooks. The n-th following writeAt call (0 turns it off) fails with
// EIO; with `keep`, it first writes that many of its bytes and returns their
// count, and the call after it fails, as a write reaching a size limit does.
void failWriteNumber(int n, std::size_t keep = 0);

// `hook` (null: none) is called at the start of each following writeAt
// call, with its number from 1: after the patcher has read and changed the
// lines, just before the last look at the file's size, where another
// program's change would do the most harm.
void beforeWrite(void (*hook)(int n, void* user), void* user);

}  // namespace chronelle
