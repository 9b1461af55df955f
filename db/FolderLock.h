#pragma once

#include <QString>
#include <QtGlobal>

namespace db {

// Keeps every other run out of a program folder while one runs there: the
// runs of a folder share its database, its intermediate files and its
// outputs, and a run's work on them is only whole when no other run's is
// interleaved. Taken at once or not at all; the system lets it go when the
// process ends, however it ends.
class FolderLock
{
public:
    // Raises DbError with the engine's text for a database another writer
    // holds ("database is locked") when another run has the folder.
    explicit FolderLock(const QString &folder);
    ~FolderLock();
    FolderLock(const FolderLock &) = delete;
    FolderLock &operator=(const FolderLock &) = delete;

private:
    // What holds the lock: a descriptor (FolderLockPosix.cpp) or a HANDLE
    // (FolderLockWindows.cpp).
    qintptr native_ = -1;
};

} // namespace db
