#include "FolderLock.h"

#include "DbError.h"

#include <QFile>

#include <sqlite3.h>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace db {

// The folder itself is locked, not a file in it: the engine's own locks on
// its database file are dropped when any descriptor of that file closes, and
// a lock file would stay behind in the folder.
FolderLock::FolderLock(const QString &folder)
{
    const QByteArray name = QFile::encodeName(folder.isEmpty() ? QStringLiteral(".") : folder);
    const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC | O_DIRECTORY);
    if (fd < 0)
        throw DbError(QString::fromUtf8(sqlite3_errstr(SQLITE_CANTOPEN)), SQLITE_CANTOPEN);
    int rc;
    do
        rc = ::flock(fd, LOCK_EX | LOCK_NB);
    while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        ::close(fd);
        throw DbError(QString::fromUtf8(sqlite3_errstr(SQLITE_BUSY)), SQLITE_BUSY);
    }
    native_ = fd;
}

FolderLock::~FolderLock()
{
    ::close(int(native_));
}

} // namespace db
