#pragma once

#include "FileSystem.h"

#include <QByteArrayView>
#include <QString>
#include <QStringList>

#include <functional>

#include <vector>

namespace run {

class Journal;

// Puts new content in the place of one or more files, all of them or none:
// the run's output pair, and the twin's section map. Each new content is
// written in full and flushed to the disk under a name of the run's own
// beside its file, never into the file itself; only when all are complete
// are they renamed over their files. A file reached through links is
// replaced at the end of the chain, as writing through them would have done.
//
// Every name the replacement makes is in the run's journal before it is
// made, and the order of the journal's records is what lets a later run
// finish or undo one killed on the way: the backups of all but the last
// file are kept (a second name where the file system has them, else a
// copy) before the commit record, and the renames follow it.
class SpaceRelease;

class Replacement
{
public:
    // `files` as the user knows them: failures name these.
    Replacement(Journal &journal, const QStringList &files);
    // New content that was never committed goes.
    ~Replacement();
    Replacement(const Replacement &) = delete;
    Replacement &operator=(const Replacement &) = delete;

    // Starts file `index`'s new content, anew. A file that may not be
    // replaced (a folder, a read-only file) or a new file that cannot be
    // made is the create failure naming it.
    void begin(int index);
    // A short write is the write failure.
    void write(int index, QByteArrayView bytes);
    // The bytes of `from` after its first `skip`, read to its end, calling
    // `tick` (when given) between pieces. A short read is the read failure.
    void copy(int index, fs::Handle &from, qint64 skip, const std::function<void()> &tick = {});
    // The content is complete and on the disk.
    void finish(int index);

    // Renames every new content over its file. A rename that fails puts the
    // files already replaced back and is the create failure naming its file;
    // if putting back fails too, everything is kept for the next run, and
    // the failure says where the previous content is. So it is when the
    // journal cannot take the undoing down: the next run then decides.
    // The files replaced are held in `release`, when given, so that their
    // space goes when it lets them go, not in a rename.
    void commit(SpaceRelease *release = nullptr);

    // Both steps for one file's whole content.
    static void replace(Journal &journal, const QString &file, QByteArrayView bytes);

private:
    struct Piece
    {
        QString shown;
        QString target;
        QString staged;
        fs::FileId stagedId;
        fs::Handle handle;
        qint64 unsynced = 0;
        bool complete = false;
        QString backup; // empty: none, or the target had no file
        bool hadTarget = false;
    };
    void checkReplaceable(const Piece &p) const;
    void keepBackup(Piece &p);
    void discard(Piece &p) noexcept;
    [[noreturn]] void putBack(std::size_t failed, const QString &reason);

    Journal &journal_;
    std::vector<Piece> pieces_;
    bool committed_ = false;
};

} // namespace run
