#pragma once

#include <QString>

#include <filesystem>

class QFile;

namespace run {

// The file-system steps that replacing a file whole is made of.
class FileOps
{
public:
    // A link is replaced at its target, as writing through it would have done.
    static QString effectiveTarget(const QString &path);
    static std::filesystem::path fsPath(const QString &path);
    static bool exists(const QString &path);
    static void removeQuietly(const QString &path) noexcept;
    // Replaces `to`; on failure the system's reason goes to `reason`.
    static bool renameOver(const QString &from, const QString &to, QString *reason);
    static bool syncFile(QFile &file);
    // A rename is durable only once its directory is.
    static void syncDirectory(const QString &dir);
    static QString folderOf(const QString &path);
    // Creates `file` anew for writing, with the permissions of `target` when
    // it exists: a replaced file keeps who may read it.
    static bool createLike(QFile &file, const QString &target);

    // A directory, a read-only file (by its mode bits: an administrator could
    // write anything) or a file that cannot be opened for writing is not
    // replaced: the create failure naming `output`.
    static void checkReplaceable(const QString &output, const QString &target);
};

} // namespace run
