#include "Writeback.h"

#include <QFile>

#include <fcntl.h>
#include <unistd.h>

namespace db {

// A descriptor of its own on the database file: the engine's are out of
// reach. Closing any descriptor of a file drops every lock the process holds
// on it, the engine's too, so this one is closed only once the engine's
// connection is (the owner's duty), and kept open in between.
Writeback::Writeback(const QString &path)
    : fd_(::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC))
{
}

Writeback::~Writeback()
{
    if (fd_ >= 0)
        ::close(fd_);
}

void Writeback::start() noexcept
{
    // A failure here is the flush's to report, when it meets it for sure.
    if (fd_ >= 0)
        (void)::sync_file_range(fd_, 0, 0, SYNC_FILE_RANGE_WRITE);
}

} // namespace db
