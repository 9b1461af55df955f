#pragma once

#include <QString>

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
#ifdef _WIN32
    void *handle_ = nullptr;
#else
    int fd_ = -1;
#endif
};

} // namespace db
