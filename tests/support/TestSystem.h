#pragma once

#include <QString>

// What a test asks of the system it runs on, where Linux and Windows differ
// (TestSystemPosix.cpp, TestSystemWindows.cpp).
namespace testSystem {

// The file name of a program of the build: "reindex-cli", "reindex-cli.exe".
QString programName(const QString &name);

// A symbolic link at `link` to `target` (a relative target counts from the
// link's folder); false where the system makes none for this user.
bool symlink(const QString &target, const QString &link);
// A second name of a file.
bool hardLink(const QString &existing, const QString &newName);

// A file its owner marked so that nobody writes it, and the mark taken off.
bool makeReadOnly(const QString &path);
bool makeWritable(const QString &path);

// Only its owner may read and write the file (and, where the system has
// groups of that kind, its group read it); whether it is still so.
enum Readers { OwnerOnly, GroupMayRead };
bool restrictToOwner(const QString &path, Readers readers = OwnerOnly);
bool isRestrictedToOwner(const QString &path, Readers readers = OwnerOnly);

// Whether a file's name is the bytes a program passes (Linux), so that one
// may be any bytes, not UTF-8 among them; Windows keeps names in UTF-16 and
// hands a program its arguments so.
bool namesAreBytes();
// Whether a file's name may hold control characters (U+0001 to U+001F):
// Linux refuses only '/' and NUL, Windows refuses them all.
bool namesMayHoldControlCharacters();

// A FIFO at `path`, where the system keeps them in folders (not Windows).
bool makeFifo(const QString &path);
bool isFifo(const QString &path);

// The system's own descriptions as the run's messages carry them, without
// their full stop: a file that may not be written, a name that is not
// there in a folder that is, and one in a folder that is not.
QString deniedText();
QString noSuchFileText();
QString noSuchFolderText();

} // namespace testSystem
