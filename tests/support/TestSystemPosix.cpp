#include "TestSystem.h"

#include <QFile>

#include <cerrno>

#include <sys/stat.h>
#include <unistd.h>

namespace testSystem {

QString programName(const QString &name)
{
    return name;
}

bool symlink(const QString &target, const QString &link)
{
    return QFile::link(target, link);
}

bool hardLink(const QString &existing, const QString &newName)
{
    return ::link(QFile::encodeName(existing).constData(), QFile::encodeName(newName).constData()) == 0;
}

bool makeReadOnly(const QString &path)
{
    return QFile::setPermissions(path, QFile::ReadOwner | QFile::ReadUser | QFile::ReadGroup | QFile::ReadOther);
}

bool makeWritable(const QString &path)
{
    return QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser
                                           | QFile::ReadGroup | QFile::ReadOther);
}

namespace {

QFile::Permissions modeOf(Readers readers)
{
    const QFile::Permissions owner = QFile::ReadOwner | QFile::WriteOwner;
    return readers == GroupMayRead ? owner | QFile::ReadGroup : owner;
}

} // namespace

bool restrictToOwner(const QString &path, Readers readers)
{
    return QFile::setPermissions(path, modeOf(readers));
}

bool isRestrictedToOwner(const QString &path, Readers readers)
{
    // The "user" bits are the owner's, as far as the owner asks.
    return (QFile::permissions(path) & ~(QFile::ReadUser | QFile::WriteUser | QFile::ExeUser)) == modeOf(readers);
}

bool namesAreBytes()
{
    return true;
}

bool namesMayHoldControlCharacters()
{
    return true;
}

bool makeFifo(const QString &path)
{
    return ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0;
}

bool isFifo(const QString &path)
{
    struct stat st;
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 && S_ISFIFO(st.st_mode);
}

QString deniedText()
{
    return qt_error_string(EACCES);
}

QString noSuchFileText()
{
    return qt_error_string(ENOENT);
}

QString noSuchFolderText()
{
    return qt_error_string(ENOENT);
}

} // namespace testSystem
