#pragma once

#include <QByteArrayView>
#include <QString>

#include <optional>

QT_FORWARD_DECLARE_CLASS(QFile)

namespace run::fs {

// What the run needs of the file system, in the words of the run: the one
// place where the systems differ (FileSystemPosix.cpp, FileSystemWindows.cpp).
// Paths are the run's QStrings; a failure carries the system's own text.

// Which file a name leads to, whatever the name: two names of one file have
// one identity, and a file put in a name's place has another.
// A file's number is given again once it is removed, so its birth (where the
// file system keeps one) tells a new file of that number from the old.
struct FileId
{
    quint64 device = 0;
    quint64 file = 0;
    quint64 born = 0; // nanoseconds; 0 where unknown
    friend bool operator==(const FileId &, const FileId &) = default;
};

// A file the run has open. Closed when it goes.
class Handle
{
public:
    Handle() = default;
    ~Handle();
    Handle(Handle &&other) noexcept;
    Handle &operator=(Handle &&other) noexcept;
    Handle(const Handle &) = delete;
    Handle &operator=(const Handle &) = delete;

    bool isOpen() const noexcept;
    // All of `bytes`, or false (the reason in `error()`).
    bool write(QByteArrayView bytes);
    // Up to `size` bytes; 0 at the end, -1 on failure.
    qint64 read(char *into, qint64 size);
    // The content is on the disk.
    bool sync();
    FileId id() const;
    // The system's text for the last failure of this handle.
    QString error() const { return error_; }
    void close();

    // Posix: a descriptor; Windows: a HANDLE.
    explicit Handle(qintptr native) : native_(native) {}
    qintptr native() const noexcept { return native_; }

private:
    void fail();
    qintptr native_ = -1;
    QString error_;
};

// The system's text for the last failed call on this thread.
QString lastError();
// Whether that call failed because the name was taken.
bool lastErrorWasExists();
// The text the system gives when a file is a folder, or may not be written.
QString isFolderText();
QString deniedText();
// The text for a name that is neither a file nor a folder (a pipe, a
// device): no system has one of its own.
inline QString notRegularFileText()
{
    return QStringLiteral("Not a regular file");
}

// Creates `path` as a new, empty file for writing: never an existing file
// or the target of a link. `likeTarget`, when it exists, lends its
// permissions, so a replaced file keeps who may read it. On failure the
// handle is closed and `*exists` tells whether something had the name.
Handle createNew(const QString &path, const QString &likeTarget, bool *exists = nullptr);
// Opens an existing regular file for reading, not through a link.
Handle openOwnForReading(const QString &path);
// Opens `path` into `list` for reading, unbuffered: a regular file, links
// followed. Anything else is refused at once, before a pipe could hold the
// run waiting for a writer: false, with the system's text in `reason`,
// isFolderText() for a folder, notRegularFileText() for the rest.
bool openList(QFile &list, const QString &path, QString *reason);
// A handle that keeps a file of at least `bytes` alive while its names are
// renamed over or removed, so that its space goes only when the handle
// closes; none for a smaller file, and none where an open file's name cannot
// be taken away.
Handle holdForRelease(const QString &path, qint64 bytes);

// The identity of what `path` names: following links (`of`), or of the
// entry itself (`ofEntry`); none when there is nothing there.
std::optional<FileId> of(const QString &path);
std::optional<FileId> ofEntry(const QString &path);
// The file a name finally stands for, following a chain of links (each
// relative one from its own folder); the name itself when it is no link.
// A chain that ends nowhere gives the name it ends at.
QString resolved(const QString &path);
// Two names of one file: the same file when both exist, else the same name
// in the same folder (compared as folders, not as strings).
bool sameFile(const QString &a, const QString &b);

bool isFolder(const QString &path);
bool isRegularFile(const QString &path); // an entry, not followed
// An entry that is not a folder, judged by the entry itself: a link to a
// file passes even when its file is gone, a link to a folder fails.
bool existsNotFolder(const QString &path);
// Whether the run may put a new file in the place of `target`: a folder or
// a file nobody may write is kept; the system's text in `reason`.
bool replaceable(const QString &target, QString *reason);

// Puts `from` in the place of `to` in one step.
bool rename(const QString &from, const QString &to, QString *reason);
// A second name for a file; fails where the file system has none.
bool link(const QString &existing, const QString &newName);
bool remove(const QString &path);
// Makes the names of a folder durable: a rename is on the disk only then.
void syncFolder(const QString &folder);
// The names in a folder (no "." or "..").
QStringList namesIn(const QString &folder);

// A name part no other run and no person will pick: random, 16 hex digits.
QString uniqueTag();

QString folderOf(const QString &path);
QString nameOf(const QString &path);

} // namespace run::fs
