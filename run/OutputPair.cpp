#include "OutputPair.h"

#include "LineFile.h"
#include "RunError.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#ifdef Q_OS_WIN
#include <io.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
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

std::filesystem::path fsPath(const QString &path)
{
#ifdef Q_OS_WIN
    return std::filesystem::path(path.toStdWString());
#else
    return std::filesystem::path(QFile::encodeName(path).toStdString());
#endif
}

bool exists(const QString &path)
{
    std::error_code ec;
    return std::filesystem::exists(std::filesystem::symlink_status(fsPath(path), ec));
}

void removeQuietly(const QString &path) noexcept
{
    std::error_code ec;
    std::filesystem::remove(fsPath(path), ec);
}

bool renameOver(const QString &from, const QString &to, QString *reason)
{
    std::error_code ec;
    std::filesystem::rename(fsPath(from), fsPath(to), ec);
    if (ec && reason)
        *reason = QString::fromLocal8Bit(ec.message());
    return !ec;
}

void syncDirectory(const QString &dir)
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

QString folderOf(const QString &path)
{
    return QFileInfo(path).absolutePath();
}

} // namespace

// One output's new content, complete and on disk, not yet under its name.
class OutputPair::Staged
{
public:
    Staged(const QString &target, QByteArrayView bytes, const QString &output)
        : target_(target), temporary_(temporaryPathFor(target))
    {
        removeQuietly(temporary_);
#if defined(Q_OS_LINUX) && defined(O_TMPFILE)
        fd_ = ::open(QFile::encodeName(folderOf(target)).constData(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
        if (fd_ >= 0) {
            keepMode();
            if (!writeAll(bytes) || ::fsync(fd_) != 0)
                throw RunError(LineFile::writeFailure());
            return;
        }
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
            throw RunError(LineFile::createFailure(output, qt_error_string(errno)));
#endif
        QFile file(temporary_);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered))
            throw RunError(LineFile::createFailure(output, file.errorString()));
        named_ = true;
        bool written = file.write(bytes.data(), bytes.size()) == bytes.size();
#ifdef Q_OS_WIN
        written = written && _commit(file.handle()) == 0;
#else
        written = written && ::fsync(file.handle()) == 0;
#endif
        file.close();
        if (!written || file.error() != QFileDevice::NoError) {
            removeQuietly(temporary_);
            named_ = false;
            throw RunError(LineFile::writeFailure());
        }
    }

    ~Staged()
    {
#ifndef Q_OS_WIN
        if (fd_ >= 0)
            ::close(fd_);
#endif
        if (named_)
            removeQuietly(temporary_);
    }

    Staged(const Staged &) = delete;
    Staged &operator=(const Staged &) = delete;

    // Gives the complete file its temporary name.
    void name()
    {
#if defined(Q_OS_LINUX)
        if (fd_ >= 0) {
            const QByteArray self = "/proc/self/fd/" + QByteArray::number(fd_);
            if (::linkat(AT_FDCWD, self.constData(), AT_FDCWD, QFile::encodeName(temporary_).constData(),
                         AT_SYMLINK_FOLLOW)
                != 0)
                throw RunError(LineFile::createFailure(target_, qt_error_string(errno)));
            named_ = true;
            ::close(fd_);
            fd_ = -1;
        }
#endif
    }

    const QString &temporary() const noexcept { return temporary_; }
    void renamed() noexcept { named_ = false; }

private:
#ifndef Q_OS_WIN
    bool writeAll(QByteArrayView bytes)
    {
        const char *p = bytes.data();
        qsizetype left = bytes.size();
        while (left > 0) {
            const ssize_t n = ::write(fd_, p, size_t(left));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return false;
            p += n;
            left -= n;
        }
        return true;
    }

    // A replaced output keeps the permissions it had.
    void keepMode()
    {
        struct stat st;
        if (::stat(QFile::encodeName(target_).constData(), &st) == 0)
            (void)::fchmod(fd_, st.st_mode & 07777);
    }
#endif

    QString target_;
    QString temporary_;
    int fd_ = -1;
    bool named_ = false;
};

OutputPair::OutputPair(QString first, QString second) : outputs_{std::move(first), std::move(second)}
{
    for (int i = 0; i < 2; ++i)
        targets_[i] = effectiveTarget(outputs_[i]);
}

OutputPair::~OutputPair()
{
    discard();
}

QString OutputPair::temporaryPathFor(const QString &output)
{
    return output + QStringLiteral(".tmp");
}

QString OutputPair::backupPathFor(const QString &output)
{
    return output + QStringLiteral(".bak");
}

QString OutputPair::commitMarkFor(const QString &output)
{
    return output + QStringLiteral(".commit");
}

void OutputPair::discard() noexcept
{
    for (Staged *&s : staged_) {
        delete s;
        s = nullptr;
    }
}

void OutputPair::checkReplaceable(int index) const
{
    const QString &output = outputs_[index];
    const QFileInfo info(targets_[index]);
    if (!info.exists())
        return;
    if (info.isDir())
        throw RunError(LineFile::createFailure(output, qt_error_string(EISDIR)));
    // A rename would replace even a read-only file; the user marked it so to
    // keep it. The mode bits, not the caller's access: an administrator could
    // write anything.
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
    delete staged_[index];
    staged_[index] = nullptr;
    staged_[index] = new Staged(targets_[index], bytes, outputs_[index]);
}

void OutputPair::commit()
{
    // Every check that can fail is made before the first rename.
    for (int i = 0; i < 2; ++i) {
        if (!staged_[i])
            throw RunError(LineFile::writeFailure());
        checkReplaceable(i);
    }
    // The second first: a crash with only one named never looks committed.
    staged_[1]->name();
    staged_[0]->name();
    const QString backup = backupPathFor(targets_[0]);
    const QString mark = commitMarkFor(targets_[0]);
    const bool hadFirst = exists(targets_[0]);
    removeQuietly(backup);
    if (hadFirst) {
        std::error_code ec;
        std::filesystem::create_hard_link(fsPath(targets_[0]), fsPath(backup), ec);
        if (ec)
            std::filesystem::copy_file(fsPath(targets_[0]), fsPath(backup), ec);
        if (ec)
            throw RunError(LineFile::createFailure(outputs_[0], QString::fromLocal8Bit(ec.message())));
    }
    struct Cleanup
    {
        QString backup, mark;
        ~Cleanup()
        {
            removeQuietly(mark);
            removeQuietly(backup);
        }
    } cleanup{backup, mark};
    {
        QFile markFile(mark);
        if (!markFile.open(QIODevice::WriteOnly | QIODevice::Truncate))
            throw RunError(LineFile::createFailure(outputs_[0], markFile.errorString()));
    }
    syncDirectory(folderOf(targets_[0]));
    if (folderOf(targets_[1]) != folderOf(targets_[0]))
        syncDirectory(folderOf(targets_[1]));

    QString reason;
    if (!renameOver(staged_[0]->temporary(), targets_[0], &reason))
        throw RunError(LineFile::createFailure(outputs_[0], reason));
    staged_[0]->renamed();
    if (!renameOver(staged_[1]->temporary(), targets_[1], &reason)) {
        // Put the first output back as it was, so the pair stays whole.
        if (hadFirst)
            renameOver(backup, targets_[0], nullptr);
        else
            removeQuietly(targets_[0]);
        throw RunError(LineFile::createFailure(outputs_[1], reason));
    }
    staged_[1]->renamed();
    syncDirectory(folderOf(targets_[0]));
    if (folderOf(targets_[1]) != folderOf(targets_[0]))
        syncDirectory(folderOf(targets_[1]));
}

void OutputPair::recover(const QString &first, const QString &second)
{
    const QString targets[2] = {effectiveTarget(first), effectiveTarget(second)};
    const QString mark = commitMarkFor(targets[0]);
    if (exists(mark)) {
        // Both files were complete before the mark was made: finish the renames.
        for (const QString &target : targets) {
            const QString temporary = temporaryPathFor(target);
            if (exists(temporary))
                renameOver(temporary, target, nullptr);
        }
        syncDirectory(folderOf(targets[0]));
    }
    for (const QString &target : targets)
        removeQuietly(temporaryPathFor(target));
    removeQuietly(backupPathFor(targets[0]));
    removeQuietly(mark);
}

} // namespace run
