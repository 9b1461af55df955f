#include "FolderLock.h"

#include "DbError.h"

#include <QDir>

#include <sqlite3.h>

#include <windows.h>

namespace db {

// Windows locks no folder: the lock is a byte range of the folder's database
// file that nothing else locks, far beyond the ranges the engine locks in it.
// The engine's own handles of the file are not disturbed by this one, and a
// closed handle (or an ended process) lets its range go.
FolderLock::FolderLock(const QString &folder)
{
    const QString path = QDir::toNativeSeparators(QDir(folder).absoluteFilePath(QStringLiteral("Database.mdb")));
    const HANDLE file = CreateFileW(reinterpret_cast<LPCWSTR>(path.utf16()), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        throw DbError(QString::fromUtf8(sqlite3_errstr(SQLITE_CANTOPEN)), SQLITE_CANTOPEN);
    OVERLAPPED at = {};
    at.Offset = 0;
    at.OffsetHigh = 0x7FFF0000;
    if (!LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
        CloseHandle(file);
        throw DbError(QString::fromUtf8(sqlite3_errstr(SQLITE_BUSY)), SQLITE_BUSY);
    }
    native_ = reinterpret_cast<qintptr>(file);
}

FolderLock::~FolderLock()
{
    CloseHandle(reinterpret_cast<HANDLE>(native_));
}

} // namespace db
