#include "ReplacedFile.h"

#include "FileOps.h"
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

ReplacedFile::ReplacedFile(QString path)
    : path_(std::move(path)), target_(FileOps::effectiveTarget(path_)), temporary_(temporaryPathFor(target_))
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
        FileOps::removeQuietly(temporary_);
        staged_ = false;
    }
}

void ReplacedFile::checkReplaceable() const
{
    FileOps::checkReplaceable(path_, target_);
}

void ReplacedFile::stage(QByteArrayView bytes)
{
    checkReplaceable();
    discard();
    QFile file(temporary_);
    if (!FileOps::createLike(file, target_))
        throw RunError(LineFile::createFailure(path_, file.errorString()));
    staged_ = true;
    const bool written = file.write(bytes.data(), bytes.size()) == bytes.size() && FileOps::syncFile(file);
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
    QString reason;
    if (!FileOps::renameOver(temporary_, target_, &reason))
        throw RunError(LineFile::createFailure(path_, reason));
    staged_ = false;
    FileOps::syncDirectory(FileOps::folderOf(target_));
}

} // namespace run
