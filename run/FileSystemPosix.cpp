#include "FileSystem.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <random>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace run::fs {

namespace {

QByteArray native(const QString &path)
{
    return QFile::encodeName(path);
}

QString systemText(int code)
{
    return qt_error_string(code);
}

FileId idOf(const struct statx &st)
{
    const quint64 born = (st.stx_mask & STATX_BTIME)
        ? quint64(st.stx_btime.tv_sec) * 1000000000u + st.stx_btime.tv_nsec
        : 0;
    return {(quint64(st.stx_dev_major) << 32) | st.stx_dev_minor, quint64(st.stx_ino), born};
}

std::optional<FileId> identify(int at, const QByteArray &name, int flags)
{
    struct statx st;
    if (::statx(at, name.constData(), flags, STATX_INO | STATX_BTIME, &st) != 0)
        return std::nullopt;
    return idOf(st);
}

int retried(auto call)
{
    int rc;
    do
        rc = call();
    while (rc < 0 && errno == EINTR);
    return rc;
}

} // namespace

Handle::~Handle()
{
    close();
}

Handle::Handle(Handle &&other) noexcept : native_(other.native_), error_(std::move(other.error_))
{
    other.native_ = -1;
}

Handle &Handle::operator=(Handle &&other) noexcept
{
    if (this != &other) {
        close();
        native_ = other.native_;
        error_ = std::move(other.error_);
        other.native_ = -1;
    }
    return *this;
}

bool Handle::isOpen() const noexcept
{
    return native_ >= 0;
}

void Handle::fail()
{
    error_ = systemText(errno);
}

bool Handle::write(QByteArrayView bytes)
{
    const char *p = bytes.data();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(int(native_), p, std::size_t(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = ENOSPC;
            fail();
            return false;
        }
        p += n;
        left -= n;
    }
    return true;
}

qint64 Handle::read(char *into, qint64 size)
{
    ssize_t n;
    do
        n = ::read(int(native_), into, std::size_t(size));
    while (n < 0 && errno == EINTR);
    if (n < 0)
        fail();
    return n;
}

bool Handle::sync()
{
    if (retried([&] { return ::fsync(int(native_)); }) != 0) {
        fail();
        return false;
    }
    return true;
}

FileId Handle::id() const
{
    return identify(int(native_), QByteArray(""), AT_EMPTY_PATH).value_or(FileId{});
}

void Handle::close()
{
    if (native_ >= 0)
        ::close(int(native_));
    native_ = -1;
}

QString lastError()
{
    return systemText(errno);
}

bool lastErrorWasExists()
{
    return errno == EEXIST;
}

QString isFolderText()
{
    return systemText(EISDIR);
}

QString deniedText()
{
    return systemText(EACCES);
}

Handle createNew(const QString &path, const QString &likeTarget, bool *exists)
{
    const int fd = retried([&] {
        return ::open(native(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    });
    if (exists)
        *exists = fd < 0 && errno == EEXIST;
    if (fd < 0)
        return Handle();
    struct stat st;
    if (!likeTarget.isEmpty() && ::stat(native(likeTarget).constData(), &st) == 0 && S_ISREG(st.st_mode))
        (void)::fchmod(fd, st.st_mode & 07777);
    return Handle(fd);
}

Handle openOwnForReading(const QString &path)
{
    const int fd = retried([&] { return ::open(native(path).constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK); });
    if (fd < 0)
        return Handle();
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        const int code = errno;
        ::close(fd);
        errno = code;
        return Handle();
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        errno = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        return Handle();
    }
    return Handle(fd);
}

bool openList(QFile &list, const QString &path, QString *reason)
{
    // Without O_NONBLOCK, opening a pipe waits for a writer, which may never
    // come, while the run holds its folder.
    const int fd = retried([&] { return ::open(native(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC); });
    if (fd < 0) {
        *reason = lastError();
        return false;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0)
        *reason = lastError();
    else if (S_ISDIR(st.st_mode))
        *reason = isFolderText();
    else if (!S_ISREG(st.st_mode))
        *reason = notRegularFileText();
    else if (const int flags = ::fcntl(fd, F_GETFL); flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0)
        *reason = lastError();
    else if (list.open(fd, QIODevice::ReadOnly | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle))
        return true;
    else
        *reason = list.errorString();
    ::close(fd);
    return false;
}

Handle holdForRelease(const QString &path, qint64 bytes)
{
    Handle file = openOwnForReading(path);
    struct stat st;
    if (file.isOpen() && (::fstat(int(file.native()), &st) != 0 || st.st_size < bytes))
        file.close();
    return file;
}

std::optional<FileId> of(const QString &path)
{
    if (path.isEmpty())
        return std::nullopt;
    return identify(AT_FDCWD, native(path), 0);
}

std::optional<FileId> ofEntry(const QString &path)
{
    if (path.isEmpty())
        return std::nullopt;
    return identify(AT_FDCWD, native(path), AT_SYMLINK_NOFOLLOW);
}

QString resolved(const QString &path)
{
    QString at = QFileInfo(path).absoluteFilePath();
    // The system's own limit on a chain of links.
    for (int hop = 0; hop < 40; ++hop) {
        const QByteArray name = native(at);
        struct stat st;
        if (::lstat(name.constData(), &st) != 0 || !S_ISLNK(st.st_mode))
            return at;
        QByteArray target(st.st_size > 0 ? st.st_size + 1 : 4096, Qt::Uninitialized);
        const ssize_t n = ::readlink(name.constData(), target.data(), std::size_t(target.size()));
        if (n < 0 || n >= target.size())
            return at;
        target.truncate(n);
        at = QDir::cleanPath(QDir(folderOf(at)).absoluteFilePath(QFile::decodeName(target)));
    }
    return at;
}

bool sameFile(const QString &a, const QString &b)
{
    const std::optional<FileId> first = of(a);
    const std::optional<FileId> second = of(b);
    if (first && second)
        return *first == *second;
    if (first || second)
        return false;
    const QString ra = resolved(a);
    const QString rb = resolved(b);
    const std::optional<FileId> folderA = of(folderOf(ra));
    return folderA && folderA == of(folderOf(rb)) && nameOf(ra) == nameOf(rb);
}

bool isFolder(const QString &path)
{
    struct stat st;
    return ::stat(native(path).constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool isRegularFile(const QString &path)
{
    struct stat st;
    return ::lstat(native(path).constData(), &st) == 0 && S_ISREG(st.st_mode);
}

bool existsNotFolder(const QString &path)
{
    if (path.isEmpty())
        return false;
    const QFileInfo info(path);
    if (info.isSymLink())
        return !info.isDir(); // a dangling link is no directory
    return info.exists() && !info.isDir();
}

bool replaceable(const QString &target, QString *reason)
{
    const QByteArray name = native(target);
    struct stat st;
    if (::stat(name.constData(), &st) != 0)
        return true; // nothing there to keep
    if (S_ISDIR(st.st_mode)) {
        *reason = isFolderText();
        return false;
    }
    // A rename would put a new file in place of even a read-only one; its
    // owner marked it so to keep it, and an administrator could write anything.
    if (!(st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) || ::access(name.constData(), W_OK) != 0) {
        *reason = deniedText();
        return false;
    }
    return true;
}

bool rename(const QString &from, const QString &to, QString *reason)
{
    if (::rename(native(from).constData(), native(to).constData()) == 0)
        return true;
    if (reason)
        *reason = lastError();
    return false;
}

bool link(const QString &existing, const QString &newName)
{
    return ::link(native(existing).constData(), native(newName).constData()) == 0;
}

bool remove(const QString &path)
{
    return ::unlink(native(path).constData()) == 0;
}

void syncFolder(const QString &folder)
{
    const int fd = ::open(native(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        (void)retried([&] { return ::fsync(fd); });
        ::close(fd);
    }
}

QStringList namesIn(const QString &folder)
{
    QStringList names;
    DIR *d = ::opendir(native(folder).constData());
    if (!d)
        return names;
    while (const dirent *e = ::readdir(d)) {
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
            names << QFile::decodeName(e->d_name);
    }
    ::closedir(d);
    return names;
}

QString uniqueTag()
{
    // Drawn anew each time: a process forked from another draws its own.
    std::random_device device;
    const quint64 value = (quint64(device()) << 32) ^ device();
    return QStringLiteral("%1").arg(value, 16, 16, QLatin1Char('0'));
}

QString folderOf(const QString &path)
{
    return QFileInfo(path).absolutePath();
}

QString nameOf(const QString &path)
{
    return QFileInfo(path).fileName();
}

} // namespace run::fs
