#include "OutputPair.h"

#include "LineFile.h"
#include "RunError.h"

#include <QDir>
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

// An output that is a link is replaced at the link's target, as writing
// through the link would have done.
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

OutputPair::OutputPair(QString first, QString second) : outputs_{std::move(first), std::move(second)}
{
    for (int i = 0; i < 2; ++i)
        temporaries_[i] = temporaryPathFor(effectiveTarget(outputs_[i]));
}

OutputPair::~OutputPair()
{
    discard();
}

QString OutputPair::temporaryPathFor(const QString &output)
{
    return output + QStringLiteral(".tmp");
}

void OutputPair::discard() noexcept
{
    for (int i = 0; i < 2; ++i) {
        if (staged_[i]) {
            QFile::remove(temporaries_[i]);
            staged_[i] = false;
        }
    }
}

void OutputPair::checkReplaceable(int index) const
{
    const QString &output = outputs_[index];
    const QFileInfo info(effectiveTarget(output));
    if (!info.exists())
        return;
    if (info.isDir())
        throw RunError(LineFile::createFailure(output, qt_error_string(EISDIR)));
    // A rename would replace even a read-only file; the user marked it so to keep it.
    // The mode bits, not the caller's access: an administrator could write anything.
    constexpr QFile::Permissions anyWrite = QFile::WriteOwner | QFile::WriteGroup | QFile::WriteOther;
    if (!(info.permissions() & anyWrite))
        throw RunError(LineFile::createFailure(output, qt_error_string(EACCES)));
    QFile probe(info.filePath());
    if (!probe.open(QIODevice::ReadWrite))
        throw RunError(LineFile::createFailure(output, probe.errorString()));
}

void OutputPair::stage(int index, QByteArrayView bytes)
{
    checkReplaceable(index);
    QFile file(temporaries_[index]);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered))
        throw RunError(LineFile::createFailure(outputs_[index], file.errorString()));
    staged_[index] = true;
    const bool written = file.write(bytes.data(), bytes.size()) == bytes.size() && syncToDisk(file);
    file.close();
    if (!written || file.error() != QFileDevice::NoError) {
        QFile::remove(temporaries_[index]);
        staged_[index] = false;
        throw RunError(LineFile::writeFailure());
    }
}

void OutputPair::commit()
{
    // Every check that can fail is made before the first rename, so the pair
    // is replaced whole or not at all.
    for (int i = 0; i < 2; ++i) {
        if (!staged_[i])
            throw RunError(LineFile::writeFailure());
        checkReplaceable(i);
    }
    for (int i = 0; i < 2; ++i) {
        std::error_code ec;
        std::filesystem::rename(fsPath(temporaries_[i]), fsPath(effectiveTarget(outputs_[i])), ec);
        if (ec)
            throw RunError(LineFile::createFailure(outputs_[i], QString::fromLocal8Bit(ec.message())));
        staged_[i] = false;
    }
    syncDirectory(QFileInfo(effectiveTarget(outputs_[0])).absolutePath());
    const QString second = QFileInfo(effectiveTarget(outputs_[1])).absolutePath();
    if (second != QFileInfo(effectiveTarget(outputs_[0])).absolutePath())
        syncDirectory(second);
}

} // namespace run
