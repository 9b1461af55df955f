#include "FileOps.h"

#include "LineFile.h"
#include "RunError.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <system_error>

#ifdef Q_OS_WIN
#include <io.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace run {

QString FileOps::effectiveTarget(const QString &path)
{
    const QFileInfo info(path);
    if (info.isSymLink()) {
        const QString target = info.symLinkTarget();
        if (!target.isEmpty())
            return target;
    }
    return path;
}

std::filesystem::path FileOps::fsPath(const QString &path)
{
#ifdef Q_OS_WIN
    return std::filesystem::path(path.toStdWString());
#else
    return std::filesystem::path(QFile::encodeName(path).toStdString());
#endif
}

bool FileOps::exists(const QString &path)
{
    std::error_code ec;
    return std::filesystem::exists(std::filesystem::symlink_status(fsPath(path), ec));
}

void FileOps::removeQuietly(const QString &path) noexcept
{
    std::error_code ec;
    std::filesystem::remove(fsPath(path), ec);
}

bool FileOps::renameOver(const QString &from, const QString &to, QString *reason)
{
    std::error_code ec;
    std::filesystem::rename(fsPath(from), fsPath(to), ec);
    if (ec && reason)
        *reason = QString::fromLocal8Bit(ec.message());
    return !ec;
}

bool FileOps::syncFile(QFile &file)
{
#ifdef Q_OS_WIN
    return _commit(file.handle()) == 0;
#else
    return ::fsync(file.handle()) == 0;
#endif
}

void FileOps::syncDirectory(const QString &dir)
{
#ifndef Q_OS_WIN
    const int fd = ::open(QFile::encodeName(dir).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
#else
    Q_UNUSED(dir);
#endif
}

QString FileOps::folderOf(const QString &path)
{
    return QFileInfo(path).absolutePath();
}

void FileOps::checkReplaceable(const QString &output, const QString &target)
{
    const QFileInfo info(target);
    if (!info.exists())
        return;
    if (info.isDir())
        throw RunError(LineFile::createFailure(output, qt_error_string(EISDIR)));
    // A rename would replace even a read-only file; its owner marked it so to keep it.
    constexpr QFile::Permissions anyWrite = QFile::WriteOwner | QFile::WriteGroup | QFile::WriteOther;
    if (!(info.permissions() & anyWrite))
        throw RunError(LineFile::createFailure(output, qt_error_string(EACCES)));
    QFile probe(info.filePath());
    if (!probe.open(QIODevice::ReadWrite))
        throw RunError(LineFile::createFailure(output, probe.errorString()));
}

bool FileOps::createLike(QFile &file, const QString &target)
{
    const QIODevice::OpenMode mode = QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered;
    if (!QFileInfo::exists(target))
        return file.open(mode);
    return file.open(mode, QFile::permissions(target));
}

} // namespace run
