// File access on descriptors: 64-bit offsets, UTF-8 names on Windows, locks
// and syncs where the system has them.
#include "file_io.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>

#ifdef _WIN32
#include <io.h>
#include <share.h>
#include <stdlib.h>
#include <windows.h>
#else
#include <sys/file.h>
#include <unistd.h>
#endif

namespace chronelle {

#ifdef _WIN32
static std::wstring wide(const std::string& utf8)
{
    int n = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, nullptr, 0);
    std::wstring w(n > 0 ? n : 1, L'\0');
    if (n > 0)
        MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, &w[0], n);
    return w;
}

static bool handleInfo(HANDLE handle, FileInfo* info)
{
    BY_HANDLE_FILE_INFORMATION bhfi;
    if (!GetFileInformationByHandle(handle, &bhfi)) {
        errno = EIO;
        return false;
    }
    info->device = bhfi.dwVolumeSerialNumber;
    info->inode = (std::uint64_t(bhfi.nFileIndexHigh) << 32) | bhfi.nFileIndexLow;
    info->size = (std::int64_t(bhfi.nFileSizeHigh) << 32) | bhfi.nFileSizeLow;
    info->blockSize = 4096;
    return true;
}
#else
static bool statInfo(const struct stat& st, FileInfo* info)
{
    static_assert(sizeof(off_t) == 8, "64-bit file offsets are required");
    info->device = std::uint64_t(st.st_dev);
    info->inode = std::uint64_t(st.st_ino);
    info->size = std::int64_t(st.st_size);
    info->blockSize = st.st_blksize > 0 ? std::int64_t(st.st_blksize) : 4096;
    return true;
}
#endif

PathKind pathKind(const std::string& path, int* errnum)
{
#ifdef _WIN32
    struct _stat64 st;
    int rc = _wstat64(wide(path).c_str(), &st);
#else
    struct stat st;
    int rc = stat(path.c_str(), &st);
#endif
    if (rc != 0) {
        if (errnum)
            *errnum = errno;
        return PathKind::Missing;
    }
    if (S_ISREG(st.st_mode))
        return PathKind::Regular;
    if (errnum)
        *errnum = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    return S_ISDIR(st.st_mode) ? PathKind::Directory : PathKind::Other;
}

int openFile(const std::string& path, bool forWriting)
{
#ifdef _WIN32
    // A writer denies other writers: Windows has no advisory lock to take
    // afterwards, so the refusal happens here.
    int fd = _wsopen(wide(path).c_str(), (forWriting ? _O_RDWR : _O_RDONLY) | _O_BINARY,
                     forWriting ? _SH_DENYWR : _SH_DENYNO, _S_IREAD | _S_IWRITE);
    // The C runtime keeps the system's own error, and says only EACCES.
    if (fd < 0 && _doserrno == ERROR_SHARING_VIOLATION)
        errno = EBUSY;
    return fd;
#else
    // Opened without waiting: a FIFO put where a file was looked at would
    // otherwise hold the open until someone writes to it. Anything but a
    // regular file is then refused.
    int fd;
    do
        fd = open(path.c_str(),
                  (forWriting ? O_RDWR : O_RDONLY) | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    while (fd < 0 && errno == EINTR);
    struct stat st;
    if (fd >= 0 && (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
                    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0)) {
        int e = errno;
        if (fstat(fd, &st) == 0 && !S_ISREG(st.st_mode))
            e = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        close(fd);
        errno = e;
        return -1;
    }
    return fd;
#endif
}

bool closeFile(int fd)
{
#ifdef _WIN32
    return _close(fd) == 0;
#else
    // After EINTR the descriptor is gone on Linux: retrying could close another.
    return close(fd) == 0 || errno == EINTR;
#endif
}

std::int64_t readAt(int fd, char* bytes, std::size_t n, std::int64_t offset)
{
    std::size_t done = 0;
    while (done < n) {
#ifdef _WIN32
        if (_lseeki64(fd, offset + std::int64_t(done), SEEK_SET) < 0)
            return -1;
        int k = _read(fd, bytes + done, unsigned(n - done));
#else
        ssize_t k = pread(fd, bytes + done, n - done, off_t(offset + std::int64_t(done)));
        if (k < 0 && errno == EINTR)
            continue;
#endif
        if (k < 0)
            return -1;
        if (k == 0)
            break;
        done += std::size_t(k);
    }
    return std::int64_t(done);
}

static int writesUntilFailure = 0;
static std::size_t keepOfFailingWrite = 0;
static void (*writeHook)(int, void*) = nullptr;
static void* writeHookUser = nullptr;
static int writesSeen = 0;

void failWriteNumber(int n, std::size_t keep)
{
    writesUntilFailure = n;
    keepOfFailingWrite = keep;
}

void beforeWrite(void (*hook)(int n, void* user), void* user)
{
    writeHook = hook;
    writeHookUser = user;
    writesSeen = 0;
}

static std::int64_t writePlain(int fd, const char* bytes, std::size_t n, std::int64_t offset)
{
#ifdef _WIN32
    if (_lseeki64(fd, offset, SEEK_SET) < 0)
        return -1;
    return _write(fd, bytes, unsigned(n));
#else
    ssize_t k;
    do
        k = pwrite(fd, bytes, n, off_t(offset));
    while (k < 0 && errno == EINTR);
    return k;
#endif
}

std::int64_t writeAt(int fd, const char* bytes, std::size_t n, std::int64_t offset,
                     std::int64_t size)
{
    if (writeHook)
        writeHook(++writesSeen, writeHookUser);
    if (writesUntilFailure > 0 && --writesUntilFailure == 0) {
        if (keepOfFailingWrite == 0 || keepOfFailingWrite >= n) {
            errno = EIO;
            return -1;
        }
        // A short write now, and the next one fails.
        n = keepOfFailingWrite;
        keepOfFailingWrite = 0;
        writesUntilFailure = 1;
    }
    // The time between this look and the write is the one moment left where
    // a cut by another program can be undone.
    FileInfo now;
    if (!fileInfo(fd, &now))
        return -1;
    if (now.size != size)
        return 0;
    return writePlain(fd, bytes, n, offset);
}

void startSync(int fd, std::int64_t offset, std::int64_t n)
{
#ifdef __linux__
    sync_file_range(fd, off_t(offset), off_t(n), SYNC_FILE_RANGE_WRITE);
#else
    (void)fd, (void)offset, (void)n;
#endif
}

bool syncFile(int fd)
{
#ifdef _WIN32
    return _commit(fd) == 0;
#else
    int rc;
    do
        rc = fsync(fd);
    while (rc != 0 && errno == EINTR);
    return rc == 0;
#endif
}

bool lockFile(int fd)
{
#ifdef _WIN32
    (void)fd;
    return true;  // openFile already denied other writers.
#else
    return flock(fd, LOCK_EX | LOCK_NB) == 0;
#endif
}

bool fileInfo(int fd, FileInfo* info)
{
#ifdef _WIN32
    return handleInfo(HANDLE(_get_osfhandle(fd)), info);
#else
    struct stat st;
    return fstat(fd, &st) == 0 && statInfo(st, info);
#endif
}

bool pathInfo(const std::string& path, FileInfo* info)
{
#ifdef _WIN32
    HANDLE handle =
        CreateFileW(wide(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        errno = ENOENT;
        return false;
    }
    bool ok = handleInfo(handle, info);
    CloseHandle(handle);
    return ok;
#else
    struct stat st;
    return stat(path.c_str(), &st) == 0 && statInfo(st, info);
#endif
}

}  // namespace chronelle
