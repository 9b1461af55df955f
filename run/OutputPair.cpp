#include "OutputPair.h"

#include "FileOps.h"
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

constexpr qsizetype copyBufferSize = 1 << 20;

} // namespace

// One output's new content, complete and on disk, not yet under its name.
class OutputPair::Staged
{
public:
    Staged(const QString &target, const QString &output) : target_(target), temporary_(temporaryPathFor(target))
    {
        FileOps::removeQuietly(temporary_);
#if defined(Q_OS_LINUX) && defined(O_TMPFILE)
        fd_ = ::open(QFile::encodeName(FileOps::folderOf(target)).constData(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
        if (fd_ >= 0) {
            keepMode();
            return;
        }
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
            throw RunError(LineFile::createFailure(output, qt_error_string(errno)));
#endif
        file_.setFileName(temporary_);
        if (!FileOps::createLike(file_, target_))
            throw RunError(LineFile::createFailure(output, file_.errorString()));
        named_ = true;
    }

    void write(QByteArrayView bytes)
    {
#ifndef Q_OS_WIN
        if (fd_ >= 0) {
            if (!writeAll(bytes))
                throw RunError(LineFile::writeFailure());
            return;
        }
#endif
        if (file_.write(bytes.data(), bytes.size()) != bytes.size())
            throw RunError(LineFile::writeFailure());
    }

    // The whole content is on the disk.
    void finish()
    {
#ifndef Q_OS_WIN
        if (fd_ >= 0) {
            if (::fsync(fd_) != 0)
                throw RunError(LineFile::writeFailure());
            return;
        }
#endif
        const bool synced = FileOps::syncFile(file_);
        file_.close();
        if (!synced || file_.error() != QFileDevice::NoError)
            throw RunError(LineFile::writeFailure());
    }

    ~Staged()
    {
        file_.close();
#ifndef Q_OS_WIN
        if (fd_ >= 0)
            ::close(fd_);
#endif
        if (named_)
            FileOps::removeQuietly(temporary_);
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
    QFile file_;
    int fd_ = -1;
    bool named_ = false;
};

OutputPair::OutputPair(QString first, QString second) : outputs_{std::move(first), std::move(second)}
{
    for (int i = 0; i < 2; ++i)
        targets_[i] = FileOps::effectiveTarget(outputs_[i]);
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

QString OutputPair::absenceNoteFor(const QString &output)
{
    return output + QStringLiteral(".none");
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
    FileOps::checkReplaceable(outputs_[index], targets_[index]);
}

OutputPair::Staged &OutputPair::restage(int index)
{
    checkReplaceable(index);
    delete staged_[index];
    staged_[index] = nullptr;
    staged_[index] = new Staged(targets_[index], outputs_[index]);
    return *staged_[index];
}

void OutputPair::stageCopy(int index, const QString &from, qint64 skip, const std::function<void()> &tick)
{
    QFile source(from);
    if (!source.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        throw RunError(LineFile::openFailure(from, source.errorString()));
    if (!source.seek(qMin(skip, source.size())))
        throw RunError(LineFile::readFailure());
    Staged &staged = restage(index);
    QByteArray buffer(copyBufferSize, Qt::Uninitialized);
    for (;;) {
        const qint64 got = source.read(buffer.data(), buffer.size());
        if (got < 0)
            throw RunError(LineFile::readFailure());
        if (got == 0)
            break;
        staged.write(QByteArrayView(buffer.constData(), got));
        if (tick && got == buffer.size()) // more may follow
            tick();
    }
    staged.finish();
}

// The order of the steps below is what lets recover() tell, after a crash at
// any point, which way to make the pair whole:
//   no mark:  nothing has been committed; the first output's backup (or the
//             note that it had none) puts it back, the temporaries go;
//   a mark:   both new files are complete; the renames are finished.
// So the mark is made after the backup, and removed before it: first of all
// when a rename fails and the pair is put back, last of all when it succeeds.
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
    const QString noFirst = absenceNoteFor(targets_[0]);
    const QString mark = commitMarkFor(targets_[0]);
    const bool hadFirst = FileOps::exists(targets_[0]);
    FileOps::removeQuietly(backup);
    FileOps::removeQuietly(noFirst);
    std::error_code ec;
    if (hadFirst) {
        std::filesystem::create_hard_link(FileOps::fsPath(targets_[0]), FileOps::fsPath(backup), ec);
        if (ec)
            std::filesystem::copy_file(FileOps::fsPath(targets_[0]), FileOps::fsPath(backup), ec);
    } else {
        QFile note(noFirst);
        if (!note.open(QIODevice::WriteOnly | QIODevice::Truncate))
            ec = std::make_error_code(std::errc::io_error);
    }
    struct Undo
    {
        QString backup, noFirst;
        bool armed = true;
        ~Undo()
        {
            if (armed) {
                FileOps::removeQuietly(backup);
                FileOps::removeQuietly(noFirst);
            }
        }
    } undo{backup, noFirst};
    if (ec)
        throw RunError(LineFile::createFailure(outputs_[0], QString::fromLocal8Bit(ec.message())));
    {
        QFile markFile(mark);
        if (!markFile.open(QIODevice::WriteOnly | QIODevice::Truncate))
            throw RunError(LineFile::createFailure(outputs_[0], markFile.errorString()));
    }
    FileOps::syncDirectory(FileOps::folderOf(targets_[0]));
    if (FileOps::folderOf(targets_[1]) != FileOps::folderOf(targets_[0]))
        FileOps::syncDirectory(FileOps::folderOf(targets_[1]));

    QString reason;
    bool renamed = FileOps::renameOver(staged_[0]->temporary(), targets_[0], &reason);
    if (renamed) {
        staged_[0]->renamed();
        renamed = FileOps::renameOver(staged_[1]->temporary(), targets_[1], &reason);
        if (!renamed) {
            // Put the first output back as it was, so the pair stays whole:
            // uncommitted first, then restored.
            FileOps::removeQuietly(mark);
            if (hadFirst)
                FileOps::renameOver(backup, targets_[0], nullptr);
            else
                FileOps::removeQuietly(targets_[0]);
            throw RunError(LineFile::createFailure(outputs_[1], reason));
        }
        staged_[1]->renamed();
    } else {
        FileOps::removeQuietly(mark);
        throw RunError(LineFile::createFailure(outputs_[0], reason));
    }
    FileOps::syncDirectory(FileOps::folderOf(targets_[0]));
    if (FileOps::folderOf(targets_[1]) != FileOps::folderOf(targets_[0]))
        FileOps::syncDirectory(FileOps::folderOf(targets_[1]));
    FileOps::removeQuietly(backup);
    FileOps::removeQuietly(noFirst);
    undo.armed = false;
    FileOps::removeQuietly(mark);
}

void OutputPair::recover(const QString &first, const QString &second)
{
    const QString targets[2] = {FileOps::effectiveTarget(first), FileOps::effectiveTarget(second)};
    const QString mark = commitMarkFor(targets[0]);
    const QString backup = backupPathFor(targets[0]);
    const QString noFirst = absenceNoteFor(targets[0]);
    if (FileOps::exists(mark)) {
        // Both files were complete before the mark was made: finish the renames.
        for (const QString &target : targets) {
            const QString temporary = temporaryPathFor(target);
            if (FileOps::exists(temporary))
                FileOps::renameOver(temporary, target, nullptr);
        }
        FileOps::syncDirectory(FileOps::folderOf(targets[0]));
        FileOps::removeQuietly(backup);
        FileOps::removeQuietly(noFirst);
    } else if (FileOps::exists(backup)) {
        // The first output as it was. While it is still the backup's own
        // file (a link to it), the rename leaves both, and the removal below
        // takes the backup away.
        FileOps::renameOver(backup, targets[0], nullptr);
    } else if (FileOps::exists(noFirst)) {
        FileOps::removeQuietly(targets[0]); // there was none
    }
    for (const QString &target : targets)
        FileOps::removeQuietly(temporaryPathFor(target));
    FileOps::removeQuietly(backup);
    FileOps::removeQuietly(noFirst);
    FileOps::syncDirectory(FileOps::folderOf(targets[0]));
    FileOps::removeQuietly(mark);
}

} // namespace run
