// File access: 64-bit offsets, UTF-8 names on Windows, locks where the
// system has them.
#include "file_io.h"

#include <cerrno>
#include <sys/stat.h>

#ifdef _WIN32
#include <share.h>
#include <stdlib.h>
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

// A stream opened for reading only because another process is writing the
// file; lockStream turns it away as busy, as flock does elsewhere.
static thread_local std::FILE* heldElsewhere = nullptr;
#endif

std::FILE* openStream(const std::string& path, const char* mode)
{
#ifdef _WIN32
    // _wfopen lets any number of writers share a file: a writer here denies
    // other writers, so two shifts of one file never interleave.
    std::string m(mode);
    bool writing = m.find_first_of("wa+") != std::string::npos;
    std::FILE* f = _wfsopen(wide(path).c_str(), wide(mode).c_str(), writing ? _SH_DENYWR : _SH_DENYNO);
    if (f || !writing || _doserrno != ERROR_SHARING_VIOLATION)
        return f;
    // Refused because another writer has the file: a read-only stream lets
    // the caller's lockStream report that, rather than an open error.
    f = _wfsopen(wide(path).c_str(), L"rb", _SH_DENYNO);
    heldElsewhere = f;
    if (!f)
        errno = EACCES;
    return f;
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
    // The share mode of openStream already keeps out a second writer.
    if (f != heldElsewhere)
        return true;
    heldElsewhere = nullptr;
    return false;
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
