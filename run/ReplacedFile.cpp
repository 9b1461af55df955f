#include "ReplacedFile.h"

#include "LineFile.h"
#include "RunError.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <filesystem>
#include <system_error>

#ifdef Q_OS_WIN
#include <io.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace run {

namespace {

// A link is replaced at its target, as writing through the link would have done.
QString effectiveTarget(const QString &path)
{
    const QFileInfo info(path);
    if (info.isSymLink()) {
        const QString target = info.symLinkTarget();
        if (!target.isEmpty())
            return target;
    }
    return path;
}

bool syncToDisk(QFile &file)
{
#ifdef Q_OS_WIN
    return _commit(file.handle()) == 0;
#else
    return ::fsync(file.handle()) == 0;
#endif
}

// The rename is durable only once its directory is.
void syncDirectory(const QString &dir)
{
#ifndef Q_OS_WIN
    const int fd = ::open(QFile::encodeName(dir).constData(), O_RDONLY | O_DIRECTORY);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
#else
    Q_UNUSED(dir);
#endif
}

std::filesystem::path fsPath(const QString &path)
{
#ifdef Q_OS_WIN
    return std::filesystem::path(path.toStdWString());
#else
    return std::filesystem::path(QFile::encodeName(path).toStdString());
#endif
}

} // namespace

ReplacedFile::ReplacedFile(QString path)
    : path_(std::move(path)), target_(effectiveTarget(path_)), temporary_(temporaryPathFor(target_))
{
}

ReplacedFile::~ReplacedFile()
{
    discard();
}

QString ReplacedFile::temporaryPathFor(const QString &path)
{
    return path + QStringLiteral(".tmp");
}

void ReplacedFile::replace(const QString &path, QByteArrayView bytes)
{
    ReplacedFile file(path);
    file.stage(bytes);
    file.commit();
}

void ReplacedFile::discard() noexcept
{
    if (staged_) {
        QFile::remove(temporary_);
        staged_ = false;
    }
}

void ReplacedFile::checkReplaceable() const
{
    const QFileInfo info(target_);
    if (!info.exists())
        return;
    if (info.isDir())
        throw RunError(LineFile::createFailure(path_, qt_error_string(EISDIR)));
    // A rename would replace even a read-only file; its owner marked it so to keep it.
    constexpr QFile::Permissions anyWrite = QFile::WriteOwner | QFile::WriteGroup | QFile::WriteOther;
    if (!(info.permissions() & anyWrite))
        throw RunError(LineFile::createFailure(path_, qt_error_string(EACCES)));
    QFile probe(info.filePath());
    if (!probe.open(QIODevice::ReadWrite))
        throw RunError(LineFile::createFailure(path_, probe.errorString()));
}

void ReplacedFile::stage(QByteArrayView bytes)
{
    checkReplaceable();
    discard();
    QFile file(temporary_);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered))
        throw RunError(LineFile::createFailure(path_, file.errorString()));
    staged_ = true;
    const bool written = file.write(bytes.data(), bytes.size()) == bytes.size() && syncToDisk(file);
    file.close();
    if (!written || file.error() != QFileDevice::NoError) {
        discard();
        throw RunError(LineFile::writeFailure());
    }
}

void ReplacedFile::commit()
{
    if (!staged_)
        throw RunError(LineFile::writeFailure());
    checkReplaceable();
    std::error_code ec;
    std::filesystem::rename(fsPath(temporary_), fsPath(target_), ec);
    if (ec)
        throw RunError(LineFile::createFailure(path_, QString::fromLocal8Bit(ec.message())));
    staged_ = false;
    syncDirectory(QFileInfo(target_).absolutePath());
}

} // namespace run
