#pragma once

#include "FileSystem.h"

#include <QString>

#include <vector>

namespace run {

// The run's own record of the files it makes, written down before each is
// made. A folder also holds its user's files, and names alone cannot tell
// them apart from the run's: so the run makes only files it names here
// first, each created anew (never an existing file, never through a link),
// and a later run that finds the journal of one killed on the way puts right
// exactly what it names, and nothing else.
//
// The journal lives in the run's locked folder as "reindex~<tag>.journal":
// a line a record, each ending in its own checksum, so a record cut short by
// a crash is known as such. Its file is made with the first file it names
// and removed once nothing it names is left.
class Journal
{
public:
    enum class Role {
        Staged,  // a new content, to be renamed over its target
        Backup,  // a target's previous content, while targets are replaced
        Working, // an intermediate file in the folder
    };

    explicit Journal(QString folder);
    // Removes the journal when nothing it names is left; else it stays for
    // the next run to put right.
    ~Journal();
    Journal(const Journal &) = delete;
    Journal &operator=(const Journal &) = delete;

    // Creates a file of the run's anew, named here first, at a name of the
    // run's own beside `near` ("<near>~<tag><suffix>"), given in `*taken`.
    // `target` is what a staged file or a backup stands for, and lends its
    // permissions. The create failure names `shownAs`.
    fs::Handle createOwn(Role role, const QString &near, const QString &suffix, const QString &target,
                         const QString &shownAs, QString *taken);
    // The same at `preferred` when that name is free, else at a name of the
    // run's own beside it. Gives the name it took in `*taken`.
    fs::Handle createPreferring(Role role, const QString &preferred, const QString &shownAs, QString *taken);
    // A second name of `target`'s file as its backup, at a name of the run's
    // own beside it (in `*taken`), where the file system has second names;
    // false, and nothing made, where it has none.
    bool linkBackup(const QString &target, QString *taken);

    // The backup of `target` is complete and on the disk.
    void kept(const QString &backup, const QString &target);
    // `target` had no file to back up.
    void absent(const QString &target);
    // Every staged file is complete: a run killed from here on is finished
    // by the next one, forward.
    void commit();
    // A rename failed: the targets already replaced are being put back.
    void undo();

    // The run is done with a file it made: removed, or renamed to its target.
    bool removeOwn(const QString &path);
    void renamedOwn(const QString &path);
    // Files the run made that are still there.
    bool holdsFiles() const noexcept { return !live_.empty(); }

    // Puts right what the journals of runs killed in `folder` name: staged
    // files renamed over their targets when the run had committed, else the
    // targets' backups put back; then every file they name removed, and the
    // journals with them. A journal that does not read as one of this
    // program's is left alone. A step that fails keeps its journal and is
    // raised (RunError), so the run does not go on over a broken pair.
    static void recover(const QString &folder);

private:
    static QString ownNameBeside(const QString &near, const QString &suffix);
    void open(const QString &shownAs);
    // `create` that tells a name taken meanwhile (false) from a failure (raised).
    bool tryCreate(Role role, const QString &path, const QString &target, const QString &shownAs, fs::Handle *out);
    void append(const QByteArray &record, bool durable);
    void made(const QString &path, const fs::FileId &id);
    void forget(const QString &path);

    QString folder_;
    QString path_;
    fs::Handle file_;
    struct Live
    {
        QString path;
        fs::FileId id;
    };
    std::vector<Live> live_;
};

} // namespace run
