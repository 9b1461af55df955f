#include "Journal.h"

#include "LineFile.h"
#include "RunError.h"

#include <QDir>
#include <QHash>
#include <QRegularExpression>

#include <algorithm>
#include <optional>

namespace run {

namespace {

const QByteArray header = "reindex-journal 1";
const QString journalPrefix = QStringLiteral("reindex~");
const QString journalSuffix = QStringLiteral(".journal");

// Enough to tell a record cut short, or bytes that were never a record.
QByteArray checksum(QByteArrayView payload)
{
    quint64 h = 14695981039346656037ull;
    for (const char c : payload) {
        h ^= uchar(c);
        h *= 1099511628211ull;
    }
    return QByteArray::number(h, 16).rightJustified(16, '0');
}

QByteArray hex(const QString &path)
{
    return path.isEmpty() ? QByteArray("-") : path.toUtf8().toHex();
}

QByteArray identity(const fs::FileId &id)
{
    return QByteArray::number(id.device) + ' ' + QByteArray::number(id.file) + ' ' + QByteArray::number(id.born);
}

QString unhex(QByteArrayView field)
{
    if (field == "-")
        return QString();
    return QString::fromUtf8(QByteArray::fromHex(field.toByteArray()));
}

const char *roleWord(Journal::Role role)
{
    switch (role) {
    case Journal::Role::Staged:
        return "staged";
    case Journal::Role::Backup:
        return "backup";
    case Journal::Role::Working:
        break;
    }
    return "working";
}

std::optional<Journal::Role> roleOf(QByteArrayView word)
{
    for (const Journal::Role r : {Journal::Role::Staged, Journal::Role::Backup, Journal::Role::Working})
        if (word == roleWord(r))
            return r;
    return std::nullopt;
}

bool isJournalName(const QString &name)
{
    static const QRegularExpression re(QStringLiteral("\\Areindex~[0-9a-f]{16}\\.journal\\z"));
    return re.match(name).hasMatch();
}

// What a journal says, once read and found to be one of this program's.
struct Entry
{
    Journal::Role role;
    QString path;
    QString target;
    bool lost = false;
    std::optional<fs::FileId> made;
};

struct Record
{
    std::vector<Entry> entries;
    std::vector<std::pair<QString, QString>> kept; // backup, target
    QStringList absent;
    bool committed = false;
    bool undoing = false;

    // A name is announced again when its first making failed (a backup
    // copied where no link could be made): the records after it are about
    // the latest.
    Entry *entry(const QString &path)
    {
        const auto it = std::find_if(entries.rbegin(), entries.rend(), [&](const Entry &e) { return e.path == path; });
        return it == entries.rend() ? nullptr : &*it;
    }
};

bool isCleanAbsolute(const QString &path)
{
    return !path.isEmpty() && QDir::isAbsolutePath(path) && QDir::cleanPath(path) == path;
}

// A name the run gives its own files: nobody else picks it.
bool isOwnName(const QString &path, const char *suffix)
{
    static const QRegularExpression re(QStringLiteral("~[0-9a-f]{16}(\\.[a-z]+)\\z"));
    const QRegularExpressionMatch m = re.match(fs::nameOf(path));
    return m.hasMatch() && m.capturedStart() > 0 && m.captured(1) == QLatin1String(suffix);
}

bool isWorkingName(const QString &path, const QString &folder)
{
    static const QRegularExpression re(QStringLiteral("\\A[12]\\.txt(~[0-9a-f]{16}\\.tmp)?\\z"));
    return fs::folderOf(path) == folder && re.match(fs::nameOf(path)).hasMatch();
}

// Reads and checks a journal; none when it is not one of this program's, or
// names anything the run would not have made.
std::optional<Record> readJournal(const QString &path, const QString &folder)
{
    fs::Handle file = fs::openOwnForReading(path);
    if (!file.isOpen())
        return std::nullopt;
    QByteArray bytes;
    char buffer[65536];
    for (qint64 n; (n = file.read(buffer, sizeof buffer)) > 0;) {
        bytes.append(buffer, n);
        if (bytes.size() > (1 << 24))
            return std::nullopt; // no run writes that much
    }
    // Killed before its header was whole: a journal that names nothing.
    const QByteArray headerRecord = header + ' ' + checksum(header) + '\n';
    if (bytes.size() < headerRecord.size() && headerRecord.startsWith(bytes))
        return Record();
    QList<QByteArrayView> lines;
    for (qsizetype from = 0, nl; (nl = bytes.indexOf('\n', from)) >= 0; from = nl + 1)
        lines << QByteArrayView(bytes).sliced(from, nl - from);
    Record r;
    bool first = true;
    for (const QByteArrayView line : std::as_const(lines)) {
        const qsizetype space = line.lastIndexOf(' ');
        // A record cut short ends what the journal says: nothing it
        // announced was begun.
        if (space < 0 || checksum(line.first(space)) != line.sliced(space + 1))
            break;
        const QList<QByteArray> f = line.first(space).toByteArray().split(' ');
        if (first) {
            if (line.first(space) != header)
                return std::nullopt;
            first = false;
            continue;
        }
        const QByteArray &word = f.first();
        if (word == "new" && f.size() == 4) {
            const std::optional<Journal::Role> role = roleOf(f[1]);
            if (!role)
                return std::nullopt;
            r.entries.push_back({*role, unhex(f[2]), unhex(f[3]), false, std::nullopt});
        } else if ((word == "made" && f.size() == 5) || (word == "lost" && f.size() == 2)) {
            Entry *e = r.entry(unhex(f[1]));
            if (!e)
                return std::nullopt;
            if (word == "lost")
                e->lost = true;
            else
                e->made = fs::FileId{f[2].toULongLong(), f[3].toULongLong(), f[4].toULongLong()};
        } else if (word == "kept" && f.size() == 3) {
            const Entry *e = r.entry(unhex(f[1]));
            if (!e || e->role != Journal::Role::Backup || e->target != unhex(f[2]))
                return std::nullopt;
            r.kept.emplace_back(e->path, e->target);
        } else if (word == "absent" && f.size() == 2) {
            r.absent << unhex(f[1]);
        } else if (word == "commit" && f.size() == 1) {
            r.committed = true;
        } else if (word == "undo" && f.size() == 1) {
            r.undoing = true;
        } else {
            return std::nullopt;
        }
    }
    if (first)
        return std::nullopt;
    for (const Entry &e : r.entries) {
        const bool named = e.role == Journal::Role::Staged   ? isOwnName(e.path, ".tmp")
                           : e.role == Journal::Role::Backup ? isOwnName(e.path, ".bak")
                                                             : isWorkingName(e.path, folder);
        if (!named || !isCleanAbsolute(e.path)
            || (e.role != Journal::Role::Working && !isCleanAbsolute(e.target)))
            return std::nullopt;
    }
    for (const QString &t : std::as_const(r.absent))
        if (!isCleanAbsolute(t))
            return std::nullopt;
    return r;
}

// The file the journal names is the one the run made: still a plain file,
// and the very file when the journal knows which.
bool isOurs(const Entry &e)
{
    if (e.lost || !fs::isRegularFile(e.path))
        return false;
    return !e.made || fs::ofEntry(e.path) == e.made;
}

void putRight(Record &r, const QString &folder)
{
    QStringList folders{folder};
    const auto touched = [&folders](const QString &path) {
        if (!folders.contains(fs::folderOf(path)))
            folders << fs::folderOf(path);
    };
    if (r.committed && !r.undoing) {
        // Every staged file was complete: finish what the run began.
        for (const Entry &e : r.entries) {
            if (e.role != Journal::Role::Staged || !isOurs(e))
                continue;
            QString reason;
            if (!fs::rename(e.path, e.target, &reason))
                throw RunError(LineFile::createFailure(e.target, reason));
            touched(e.target);
        }
    } else if (r.undoing) {
        // Put back what was replaced before a rename failed.
        for (const auto &[backup, target] : r.kept) {
            const Entry *e = r.entry(backup);
            if (!e || !isOurs(*e))
                continue;
            QString reason;
            if (fs::ofEntry(target) != fs::ofEntry(backup) && !fs::rename(backup, target, &reason))
                throw RunError(LineFile::createFailure(target, reason));
            touched(target);
        }
        for (const QString &target : std::as_const(r.absent)) {
            for (const Entry &e : r.entries)
                if (e.role == Journal::Role::Staged && e.target == target && e.made && fs::ofEntry(target) == e.made)
                    fs::remove(target);
        }
    }
    // Without a commit no target was touched: what the run made just goes.
    for (const Entry &e : r.entries) {
        if (isOurs(e)) {
            fs::remove(e.path);
            touched(e.path);
        }
    }
    for (const QString &f : std::as_const(folders))
        fs::syncFolder(f);
}

} // namespace

Journal::Journal(QString folder) : folder_(QDir::cleanPath(std::move(folder))) {}

Journal::~Journal()
{
    if (!file_.isOpen())
        return;
    file_.close();
    if (live_.empty()) {
        fs::remove(path_);
        fs::syncFolder(folder_);
    }
}

QString Journal::ownNameBeside(const QString &near, const QString &suffix)
{
    return near + u'~' + fs::uniqueTag() + suffix;
}

void Journal::open(const QString &shownAs)
{
    for (int attempt = 0; attempt < 16; ++attempt) {
        const QString path = folder_ + u'/' + journalPrefix + fs::uniqueTag() + journalSuffix;
        bool exists = false;
        fs::Handle h = fs::createNew(path, QString(), &exists);
        if (h.isOpen()) {
            file_ = std::move(h);
            path_ = path;
            append(header, false);
            if (!file_.sync())
                throw RunError(LineFile::writeFailure());
            fs::syncFolder(folder_);
            return;
        }
        if (!exists)
            throw RunError(LineFile::createFailure(shownAs, fs::lastError()));
    }
    throw RunError(LineFile::createFailure(shownAs, fs::lastError()));
}

void Journal::append(const QByteArray &payload, bool durable)
{
    const QByteArray record = payload + ' ' + checksum(payload) + '\n';
    if (!file_.write(record) || (durable && !file_.sync()))
        throw RunError(LineFile::writeFailure());
}

bool Journal::tryCreate(Role role, const QString &path, const QString &target, const QString &shownAs,
                        fs::Handle *out)
{
    if (!file_.isOpen())
        open(shownAs);
    append("new " + QByteArray(roleWord(role)) + ' ' + hex(path) + ' ' + hex(target), false);
    bool exists = false;
    fs::Handle h = fs::createNew(path, target, &exists);
    if (!h.isOpen()) {
        const QString reason = fs::lastError();
        append("lost " + hex(path), false);
        if (exists)
            return false;
        throw RunError(LineFile::createFailure(shownAs, reason));
    }
    made(path, h.id());
    *out = std::move(h);
    return true;
}

// Every path the journal names is in one clean spelling, "/" between its
// parts, on every system: a later run reads it back and compares it so.
fs::Handle Journal::createOwn(Role role, const QString &near, const QString &suffix, const QString &target,
                              const QString &shownAs, QString *taken)
{
    fs::Handle h;
    const QString cleanTarget = target.isEmpty() ? target : QDir::cleanPath(target);
    for (int attempt = 0; attempt < 16; ++attempt) {
        const QString path = ownNameBeside(QDir::cleanPath(near), suffix);
        if (tryCreate(role, path, cleanTarget, shownAs, &h)) {
            *taken = path;
            return h;
        }
    }
    throw RunError(LineFile::createFailure(shownAs, fs::lastError()));
}

fs::Handle Journal::createPreferring(Role role, const QString &given, const QString &shownAs, QString *taken)
{
    const QString preferred = QDir::cleanPath(given);
    // A file of that name that is not the run's own is the user's: it stays.
    fs::Handle h;
    if (!fs::ofEntry(preferred) && tryCreate(role, preferred, QString(), shownAs, &h)) {
        *taken = preferred;
        return h;
    }
    return createOwn(role, preferred, QStringLiteral(".tmp"), QString(), shownAs, taken);
}

bool Journal::linkBackup(const QString &given, QString *taken)
{
    const QString target = QDir::cleanPath(given);
    if (!file_.isOpen())
        open(target);
    for (int attempt = 0; attempt < 16; ++attempt) {
        const QString backup = ownNameBeside(target, QStringLiteral(".bak"));
        append("new backup " + hex(backup) + ' ' + hex(target), false);
        if (!fs::link(target, backup)) {
            const bool taken = fs::lastErrorWasExists();
            append("lost " + hex(backup), false);
            if (taken)
                continue;
            return false;
        }
        made(backup, fs::ofEntry(backup).value_or(fs::FileId{}));
        *taken = backup;
        return true;
    }
    return false;
}

// A file the journal cannot tell as made goes at once: the run would not
// know it to remove it, and a later run would take it for the user's.
void Journal::made(const QString &path, const fs::FileId &id)
{
    try {
        append("made " + hex(path) + ' ' + identity(id), false);
    } catch (const RunError &) {
        if (fs::ofEntry(path) == id)
            fs::remove(path);
        throw;
    }
    live_.push_back({path, id});
}

void Journal::kept(const QString &backup, const QString &target)
{
    append("kept " + hex(QDir::cleanPath(backup)) + ' ' + hex(QDir::cleanPath(target)), true);
}

void Journal::absent(const QString &target)
{
    if (!file_.isOpen())
        open(target);
    append("absent " + hex(QDir::cleanPath(target)), false);
}

void Journal::commit()
{
    append("commit", true);
}

void Journal::undo()
{
    append("undo", true);
}

void Journal::forget(const QString &path)
{
    live_.erase(std::remove_if(live_.begin(), live_.end(), [&](const Live &l) { return l.path == path; }),
                live_.end());
}

bool Journal::removeOwn(const QString &path)
{
    const auto it = std::find_if(live_.begin(), live_.end(), [&](const Live &l) { return l.path == path; });
    if (it == live_.end())
        return false;
    // Only the very file the run made: one put in its place is someone's.
    if (fs::ofEntry(path) != it->id) {
        live_.erase(it);
        return false;
    }
    if (!fs::remove(path))
        return false;
    live_.erase(it);
    return true;
}

void Journal::renamedOwn(const QString &path)
{
    forget(path);
}

void Journal::recover(const QString &folder)
{
    const QString clean = QDir::cleanPath(folder);
    for (const QString &name : fs::namesIn(clean)) {
        if (!isJournalName(name))
            continue;
        const QString path = clean + u'/' + name;
        std::optional<Record> record = readJournal(path, clean);
        if (!record)
            continue;
        putRight(*record, clean);
        fs::remove(path);
        fs::syncFolder(clean);
    }
}

} // namespace run
