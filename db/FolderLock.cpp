#include "FolderLock.h"

#include "DbError.h"

#include <QDir>
#include <QFile>

#include <sqlite3.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

namespace db {

namespace {

[[noreturn]] void busy()
{
    throw DbError(QString::fromUtf8(sqlite3_errstr(SQLITE_BUSY)), SQLITE_BUSY);
}

} // namespace

#ifdef _WIN32

// The lock is a byte range of a file of the folder that nothing else locks:
// far beyond the ranges the engine locks in its database file.
FolderLock::FolderLock(const QString &folder)
{
    const QString path = QDir(folder).filePath(QStringLiteral("Database.mdb"));
    HANDLE h = CreateFileW(reinterpret_cast<LPCWSTR>(QDir::toNativeSeparators(path).utf16()), GENERIC_READ,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        throw DbError(QString::fromUtf8(sqlite3_errstr(SQLITE_CANTOPEN)), SQLITE_CANTOPEN);
    OVERLAPPED at = {};
    at.Offset = 0;
    at.OffsetHigh = 0x7FFF0000;
    if (!LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
        CloseHandle(h);
        busy();
    }
    handle_ = h;
}

FolderLock::~FolderLock()
{
    CloseHandle(static_cast<HANDLE>(handle_)); // closing lets the range go
}

#else

// The folder itself is locked, not a file in it: the engine's own locks on
// its database file are dropped when any descriptor of that file closes, and
// a lock file would stay behind in the folder.
FolderLock::FolderLock(const QString &folder)
{
    const QByteArray name = QFile::encodeName(folder.isEmpty() ? QStringLiteral(".") : folder);
    fd_ = ::open(name.constData(), O_RDONLY | O_CLOEXEC | O_DIRECTORY);
    if (fd_ < 0)
        throw DbError(QString::fromUtf8(sqlite3_errstr(SQLITE_CANTOPEN)), SQLITE_CANTOPEN);
    int rc;
    do
        rc = ::flock(fd_, LOCK_EX | LOCK_NB);
    while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        ::close(fd_);
        busy();
    }
}

FolderLock::~FolderLock()
{
    ::close(fd_);
}

#endif

} // namespace db
