// File access: 64-bit offsets, UTF-8 names on Windows, locks where the
// system has them.
#include "file_io.h"

#include <cerrno>
#include <sys/stat.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/file.h>
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
#endif

std::FILE* openStream(const std::string& path, const char* mode)
{
#ifdef _WIN32
    return _wfopen(wide(path).c_str(), wide(mode).c_str());
#else
    return std::fopen(path.c_str(), mode);
#endif
}

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

bool seekTo(std::FILE* f, std::int64_t offset)
{
#ifdef _WIN32
    return _fseeki64(f, offset, SEEK_SET) == 0;
#else
    static_assert(sizeof(off_t) == 8, "64-bit file offsets are required");
    return fseeko(f, off_t(offset), SEEK_SET) == 0;
#endif
}

bool lockStream(std::FILE* f)
{
#ifdef _WIN32
    (void)f;
    return true;  // Windows already refuses a second writer of an open file.
#else
    return flock(fileno(f), LOCK_EX | LOCK_NB) == 0;
#endif
}

static int writesUntilFailure = 0;

void failWriteNumber(int n) { writesUntilFailure = n; }

bool writeBytes(std::FILE* f, const char* bytes, std::size_t n)
{
    if (writesUntilFailure > 0 && --writesUntilFailure == 0) {
        errno = EIO;
        return false;
    }
    return std::fwrite(bytes, 1, n, f) == n;
}

}  // namespace chronelle
