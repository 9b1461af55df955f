// The headless twin under injected faults. strace (Debian package strace)
// makes them, so the program under test is the shipped one. An undisturbed
// run is traced first; the table of faults then fails, in turn, every write,
// sync, create and rename it made in its folder, and kills it at each of
// those calls and at every link, unlink and truncate besides. The same run
// with hard links refused (its backup is then a copy) is killed at every
// call from its first staged output on. A third table makes the last output
// rename fail and kills the run at each call it makes while it undoes the
// first one.
//
// What must hold after each fault:
// - a failure reaches the user as the run's message with exit code 1, and
//   leaves both previous outputs byte for byte, or (once both renames are
//   done) both new ones; of the run's own files only the intermediates may
//   stay, and only with the journal that names them;
// - after a kill, each output is whole (its previous or its new bytes), and
//   the next start of the program, even one that refuses its input at once,
//   leaves the pair the journal calls for (the new one once the run had
//   committed and was not undoing, else the previous one) and no file of
//   the run's: no staged output, backup, journal or intermediate;
// - the user's files in the folder, under names a staging scheme might
//   pick, are never touched;
// - the database passes PRAGMA integrity_check;
// - a rerun gives exactly the outputs and table rows of an undisturbed run,
//   and leaves nothing beside them.
//
// The run's own names carry a random tag that differs from run to run: a
// call is matched by its syscall, its ordinal and the name of its file with
// the tag taken out.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <TestSystem.h>

#include <sqlite3.h>

#include <iterator>
#include <memory>
#include <optional>
#include <utility>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

// Built as the twin is: with the sanitizers, whose runtime reads /proc.
#if defined(__SANITIZE_ADDRESS__)
#define REINDEX_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define REINDEX_SANITIZED 1
#endif
#endif

namespace {

const QByteArray oldSections = "1|Старый раздел\r\n2|Old 'quoted'\r\n";
const QByteArray oldForums = "11|1|Старый форум\r\n12|2|x\r\n";
const QByteArray newSections = "10|Новости\r\n20|Помощь: вопросы\r\n30|It's | more\r\n";
const QByteArray newForums = "101|10|Объявления\r\n102|20|FAQ: как\r\n103|20|\"q\" `b`\r\n104|99|Orphan\r\n";
// Refused at its first line: the next start after a kill, cut short.
const QByteArray refusedSections = "1|\xCD\xEE\xE2\xEE\xF1\xF2\xE8\r\n";

const QString unnamed = QStringLiteral("<unnamed>");
const QString completedMessage = QStringLiteral(u"Обработка завершена!\n");
const QString connectionFailure = QStringLiteral(u"Ошибка соединения с базой данных!\n");
const QString lockedMessage = QStringLiteral("database is locked.\n");

// A person's files beside the program, under the names a scheme that picks
// names by convention would stage, back up or mark its outputs with.
const std::pair<const char *, QByteArray> userFiles[] = {
    {"fr_fr.txt.bak", "the user's own fr_fr.txt.bak\n"},
    {"fr_fr.txt.tmp", "the user's own fr_fr.txt.tmp\n"},
    {"forum.txt.tmp", "the user's own forum.txt.tmp\n"},
    {"fr_fr.txt.none", "the user's own fr_fr.txt.none\n"},
    {"fr_fr.txt.commit", "the user's own fr_fr.txt.commit\n"},
    {"notes.txt", "1|not a list, a note\r\n"},
};

// What a file in the program folder is to the run.
enum class Role {
    Database,
    Intermediate, // 1.txt, 2.txt, or a name of the run's own beside them
    Output,
    Staged,       // an output's new content before its rename
    Backup,
    Journal,
    User,
    Input,        // the lists, the program, the map
    Folder,
    Unknown,
};

// The run's random part of a name, taken out.
QString withoutTag(const QString &name)
{
    static const QRegularExpression tag(QStringLiteral("~[0-9a-f]{16}(?=\\.[a-z]+\\z)"));
    return QString(name).replace(tag, QStringLiteral("~<tag>"));
}

Role roleOfName(const QString &name)
{
    if (name.isEmpty() || name == QLatin1String("."))
        return Role::Folder;
    const QString n = withoutTag(name);
    if (n == QLatin1String("Database.mdb") || n.startsWith(QLatin1String("Database.mdb-")))
        return Role::Database;
    static const QStringList intermediates = {"1.txt", "2.txt", "1.txt~<tag>.tmp", "2.txt~<tag>.tmp"};
    if (intermediates.contains(n))
        return Role::Intermediate;
    if (n == QLatin1String("fr_fr.txt") || n == QLatin1String("forum.txt"))
        return Role::Output;
    static const QStringList staged = {"fr_fr.txt~<tag>.tmp", "forum.txt~<tag>.tmp", "map.txt~<tag>.tmp"};
    if (staged.contains(n) || n == unnamed)
        return Role::Staged;
    if (n == QLatin1String("fr_fr.txt~<tag>.bak") || n == QLatin1String("forum.txt~<tag>.bak"))
        return Role::Backup;
    if (n == QLatin1String("reindex~<tag>.journal"))
        return Role::Journal;
    for (const auto &[user, bytes] : userFiles)
        if (name == QLatin1String(user))
            return Role::User;
    static const QStringList inputs = {"sections.txt", "forums.txt", "bad.txt", "reindex-cli", "map.txt"};
    if (inputs.contains(name))
        return Role::Input;
    return Role::Unknown;
}

// A file the run makes for itself, which must not outlive it.
bool isRunsOwn(Role r)
{
    return r == Role::Intermediate || r == Role::Staged || r == Role::Backup || r == Role::Journal
        || r == Role::Unknown;
}

struct Call
{
    int line = 0;       // position in the trace
    QString syscall;
    int ordinal = 0;    // 1 for the first call of this syscall by this process
    QString path;       // the file acted on: the target of a rename or link
    QString name;       // the same, relative to the folder, its tag taken out
    Role role = Role::Unknown;
    bool creates = false;
    QString record;     // a journal record's first word, for a write to it
    bool injected = false;
};

struct Trace
{
    QList<Call> calls; // calls on files in the folder, in order
    int inputOpened = -1;
    int messageWritten = -1;
    int lastOutputRename = -1;
    int firstStagedCreate = -1;
    int commitWritten = -1; // the journal's commit record of the output pair
    int undoWritten = -1;
    int failedRename = -1; // a rename made to fail
    QStringList processes;

    // Whether the next start finishes the replacement rather than undoes
    // it, for a run killed at the call on `line`: its commit record was
    // written, and no undo record yet.
    bool forwardAt(int line) const
    {
        return commitWritten >= 0 && commitWritten < line && !(undoWritten >= 0 && undoWritten < line);
    }
    const Call *at(int line) const
    {
        for (const Call &c : calls)
            if (c.line == line)
                return &c;
        return nullptr;
    }
};

// The faults, one row per kind; each applies at every matching call of the
// undisturbed run.
struct FaultKind
{
    const char *name;
    QStringList syscalls;
    const char *action;
    bool createsOnly;
};

const QStringList killable = {"write", "pwrite64", "writev", "pwritev", "pwritev2", "fsync", "fdatasync",
                              "sync_file_range", "openat", "open", "creat", "rename", "renameat", "renameat2",
                              "link", "linkat", "unlink", "unlinkat", "ftruncate"};
// Where a copy reads and writes besides: a backup copied instead of linked.
const QStringList copying = {"read", "pread64", "sendfile", "copy_file_range"};
const QStringList links = {"link", "linkat"};

const FaultKind faultKinds[] = {
    {"no space on write", {"write", "pwrite64", "writev", "pwritev", "pwritev2"}, "error=ENOSPC", false},
    {"sync fails", {"fsync", "fdatasync", "sync_file_range"}, "error=EIO", false},
    {"no space to create", {"openat", "open", "creat"}, "error=ENOSPC", true},
    {"rename fails", {"rename", "renameat", "renameat2"}, "error=EIO", false},
    {"killed", killable, "signal=KILL", false},
};

const QByteArray missingFile = "<missing>";

QByteArray readFile(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return missingFile;
    return f.readAll();
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

QStringList entriesOf(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                                  QDir::Name);
}

// Every file of the folder with its bytes.
QMap<QString, QByteArray> folderState(const QString &folder)
{
    QMap<QString, QByteArray> state;
    for (const QString &e : entriesOf(folder))
        state.insert(e, readFile(folder + u'/' + e));
    return state;
}

struct Sqlite
{
    sqlite3 *db = nullptr;
    ~Sqlite() { sqlite3_close_v2(db); }
};

// PRAGMA integrity_check, then every row of both tables as text; an engine
// failure comes back as the one line "error: ...".
QStringList databaseState(const QString &path)
{
    Sqlite s;
    if (sqlite3_open_v2(QFile::encodeName(path).constData(), &s.db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK)
        return {QStringLiteral("error: cannot open")};
    QStringList out;
    for (const char *sql : {"PRAGMA integrity_check",
                            "SELECT 'section', old_id, str_value FROM Razdel_table ORDER BY id",
                            "SELECT 'forum', old_id, podrazdel_id, new_id, str_value FROM Forum_table ORDER BY id"}) {
        sqlite3_stmt *stmt = nullptr;
        if (sqlite3_prepare_v2(s.db, sql, -1, &stmt, nullptr) != SQLITE_OK)
            return {QStringLiteral("error: ") + QString::fromUtf8(sqlite3_errmsg(s.db))};
        std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt *)> owned(stmt, sqlite3_finalize);
        int rc;
        while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
            QStringList cells;
            for (int c = 0; c < sqlite3_column_count(stmt); ++c)
                cells << QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(stmt, c)));
            out << cells.join(u'|');
        }
        if (rc != SQLITE_DONE)
            return {QStringLiteral("error: ") + QString::fromUtf8(sqlite3_errmsg(s.db))};
    }
    return out;
}

struct Outcome
{
    int exitCode = -1;
    bool crashed = false;
    QString out;
    QString err;
};

Outcome finished(QProcess &p)
{
    Outcome o;
    // A guard against a hang, not a measure: a run takes well under a second.
    if (!p.waitForFinished(120000)) {
        p.kill();
        p.waitForFinished();
        o.err = QStringLiteral("<timed out>");
        return o;
    }
    o.crashed = p.exitStatus() == QProcess::CrashExit;
    o.exitCode = p.exitCode();
    o.out = QString::fromUtf8(p.readAllStandardOutput());
    o.err = QString::fromUtf8(p.readAllStandardError());
    return o;
}

// The process whose parent is `parent`: the program strace started.
qint64 childOf(qint64 parent)
{
    for (const QString &pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool number = false;
        const qint64 id = pid.toLongLong(&number);
        if (!number)
            continue;
        const QByteArray stat = readFile(QStringLiteral("/proc/%1/stat").arg(pid));
        // "pid (name) state ppid ...": the name may hold anything but the last ')'.
        const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 1 && fields[1].toLongLong() == parent)
            return id;
    }
    return -1;
}

} // namespace

class tst_FaultInjection : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void faults_data();
    void faults();
    void killedWithoutLinks_data();
    void killedWithoutLinks();
    void killedWhileUndoing_data();
    void killedWhileUndoing();
    void restoringRenameFails_data();
    void restoringRenameFails();
    void undoNotRecorded_data();
    void undoNotRecorded();
    void lockHeldThroughReportAndMap();
    void runsWithoutProc();

private:
    // A fresh copy of the folder as the previous run left it, with the
    // user's files beside it.
    std::unique_ptr<QTemporaryDir> freshFolder() const;
    void startTwin(QProcess &p, const QString &folder, const QStringList &straceArguments,
                   const QStringList &twinArguments) const;
    Outcome runTwin(const QString &folder, const QStringList &straceArguments, const QString &sections) const;
    Trace traceOf(const QString &folder, const QString &log) const;
    Trace traced(bool withPrevious, const QStringList &extra, bool linksRefused, int expectedExit) const;
    QString shownName(const QString &folder, const Call &c) const;
    QStringList runsOwnFiles(const QString &folder) const;
    QStringList changedUserFiles(const QString &folder) const;
    void checkLeftAfterFailure(const QString &folder) const;
    void checkAfterKill(const QString &folder, const QString &injected, bool forward, bool withPrevious = true) const;
    void checkNextStart(const QString &folder, const QByteArray &sections, const QByteArray &forums) const;
    void checkRerun(const QString &folder) const;
    QStringList straceArguments(const QString &log, QStringList traced, bool linksRefused = false) const;

    QString strace_;
    QTemporaryDir logs_;
    QTemporaryDir template_;
    QString templateFolder_;
    QByteArray newSectionsOut_;
    QByteArray newForumsOut_;
    QByteArray oldSectionsOut_;
    QByteArray oldForumsOut_;
    QStringList undisturbedRows_;
    Trace trace_;
    Trace withoutLinks_; // the same run with hard links refused
    // The last rename onto an output, made to fail.
    Call lastRename_;
    // The calls around it: without previous outputs; with them; with them
    // and hard links refused.
    struct Undoing
    {
        const char *name;
        bool withPrevious;
        bool linksRefused;
        Trace trace;
    };
    Undoing undoing_[3] = {{"no previous outputs", false, false, {}},
                           {"previous outputs", true, false, {}},
                           {"previous outputs, links refused", true, true, {}}};
};

std::unique_ptr<QTemporaryDir> tst_FaultInjection::freshFolder() const
{
    auto dir = std::make_unique<QTemporaryDir>();
    if (!dir->isValid())
        return dir;
    for (const QString &name : QDir(templateFolder_).entryList(QDir::Files)) {
        const QString from = templateFolder_ + u'/' + name;
        const QString to = dir->filePath(name);
        // A hard link keeps the program's own folder its folder, without a copy per row.
        if (name == QLatin1String("reindex-cli")
            && testSystem::hardLink(from, to))
            continue;
        QFile::copy(from, to);
    }
    for (const auto &[name, bytes] : userFiles)
        writeFile(dir->filePath(QLatin1String(name)), bytes);
    return dir;
}

void tst_FaultInjection::startTwin(QProcess &p, const QString &folder, const QStringList &straceArguments,
                                   const QStringList &twinArguments) const
{
    p.setWorkingDirectory(folder);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (!straceArguments.isEmpty()) {
        // LeakSanitizer cannot work under ptrace; leaks are the plain runs' business.
        const QString asan = env.value(QStringLiteral("ASAN_OPTIONS"));
        env.insert(QStringLiteral("ASAN_OPTIONS"), asan + (asan.isEmpty() ? "" : ":") + "detect_leaks=0");
    }
    p.setProcessEnvironment(env);
    const QString twin = folder + QStringLiteral("/reindex-cli");
    if (straceArguments.isEmpty())
        p.start(twin, twinArguments);
    else
        p.start(strace_, straceArguments + QStringList{QStringLiteral("--"), twin} + twinArguments);
}

Outcome tst_FaultInjection::runTwin(const QString &folder, const QStringList &straceArguments,
                                    const QString &sections) const
{
    QProcess p;
    startTwin(p, folder, straceArguments, {sections, QStringLiteral("forums.txt")});
    return finished(p);
}

// Parses `strace -f -y -s 6` output. Calls are counted per process and
// syscall, as strace counts them for `when=`; only calls on files in the
// folder are kept.
Trace tst_FaultInjection::traceOf(const QString &folder, const QString &log) const
{
    static const QRegularExpression lineRe(QStringLiteral("^(\\d+)\\s+(\\w+)\\((.*)$"));
    static const QRegularExpression fdPath(QStringLiteral("^-?\\d+<([^>]*)>"));
    static const QRegularExpression quotedRe(QStringLiteral("\"((?:[^\"\\\\]|\\\\.)*)\""));
    static const QRegularExpression resultPath(QStringLiteral("=\\s+\\d+<([^>]*)>"));
    static const QRegularExpression recordRe(QStringLiteral("^-?\\d+<[^>]*>,\\s*\"([a-z]+)"));
    Trace t;
    QHash<QString, int> counts;
    const QStringList lines = log.split(u'\n');
    for (int i = 0; i < lines.size(); ++i) {
        const QRegularExpressionMatch m = lineRe.match(lines[i]);
        if (!m.hasMatch() || lines[i].contains(QLatin1String("resumed>")))
            continue;
        const QString pid = m.captured(1);
        const QString syscall = m.captured(2);
        const QString args = m.captured(3);
        if (!t.processes.contains(pid))
            t.processes << pid;
        Call c;
        c.line = i;
        c.syscall = syscall;
        c.ordinal = ++counts[pid + u' ' + syscall];
        QStringList quoted;
        for (auto it = quotedRe.globalMatch(args); it.hasNext();)
            quoted << it.next().captured(1);
        const auto absolute = [&](const QString &p) { return QDir::cleanPath(QDir(folder).absoluteFilePath(p)); };
        if (syscall.startsWith(QLatin1String("rename")) || syscall.startsWith(QLatin1String("link"))) {
            if (quoted.size() >= 2)
                c.path = absolute(quoted.last());
        } else if (syscall == QLatin1String("openat") || syscall == QLatin1String("open")
                   || syscall == QLatin1String("creat")) {
            c.creates = syscall == QLatin1String("creat") || args.contains(QLatin1String("O_CREAT"))
                || args.contains(QLatin1String("O_TMPFILE"));
            const QRegularExpressionMatch r = resultPath.match(args);
            c.path = r.hasMatch() ? r.captured(1) : (quoted.isEmpty() ? QString() : absolute(quoted.first()));
            if (args.contains(QLatin1String("O_TMPFILE")))
                c.path = absolute(quoted.value(0)) + u'/' + unnamed;
        } else if (syscall.startsWith(QLatin1String("unlink"))) {
            if (!quoted.isEmpty())
                c.path = absolute(quoted.last());
        } else {
            const QRegularExpressionMatch fd = fdPath.match(args);
            if (fd.hasMatch())
                c.path = fd.captured(1);
            if (syscall == QLatin1String("write") && args.startsWith(QLatin1String("1<")) && t.messageWritten < 0
                && t.inputOpened >= 0)
                t.messageWritten = i;
        }
        if (syscall.startsWith(QLatin1String("open")) && t.inputOpened < 0
            && QFileInfo(c.path).fileName() == QLatin1String("sections.txt"))
            t.inputOpened = i;
        // A file without a name (O_TMPFILE, or one already removed) shows as
        // "#inode", perhaps with " (deleted)"; the inode differs from run to run.
        if (c.path.endsWith(QLatin1String(" (deleted)")) || QFileInfo(c.path).fileName().startsWith(u'#'))
            c.path = QFileInfo(c.path).absolutePath() + u'/' + unnamed;
        if (c.path != folder && QFileInfo(c.path).absolutePath() != folder)
            continue;
        const QString name = c.path == folder ? QString() : QFileInfo(c.path).fileName();
        c.role = roleOfName(name);
        if (c.role == Role::Input)
            continue;
        c.name = withoutTag(name);
        c.injected = lines[i].contains(QLatin1String("(INJECTED)"));
        if (c.injected && syscall.startsWith(QLatin1String("rename")) && t.failedRename < 0)
            t.failedRename = i;
        if (c.role == Role::Journal && syscall == QLatin1String("write")) {
            const QRegularExpressionMatch r = recordRe.match(args);
            c.record = r.hasMatch() ? r.captured(1) : QString();
            if (c.record == QLatin1String("commit") && t.commitWritten < 0)
                t.commitWritten = i;
            if (c.record == QLatin1String("undo") && t.undoWritten < 0)
                t.undoWritten = i;
        }
        if (syscall.startsWith(QLatin1String("rename")) && c.role == Role::Output)
            t.lastOutputRename = i;
        if (c.creates && c.role == Role::Staged && t.firstStagedCreate < 0)
            t.firstStagedCreate = i;
        t.calls << c;
    }
    return t;
}

// The file a failure about `c` names: an output for its staged file or
// backup, the intermediate for a name of the run's own beside it.
QString tst_FaultInjection::shownName(const QString &folder, const Call &c) const
{
    if (c.role == Role::Staged || c.role == Role::Backup || c.role == Role::Intermediate)
        return folder + u'/' + c.name.section(u'~', 0, 0);
    return folder + u'/' + c.name;
}

QStringList tst_FaultInjection::runsOwnFiles(const QString &folder) const
{
    QStringList own;
    for (const QString &e : entriesOf(folder))
        if (isRunsOwn(roleOfName(e)))
            own << e;
    return own;
}

QStringList tst_FaultInjection::changedUserFiles(const QString &folder) const
{
    QStringList changed;
    for (const auto &[name, bytes] : userFiles)
        if (readFile(folder + u'/' + QLatin1String(name)) != bytes)
            changed << QLatin1String(name);
    return changed;
}

// After a failed run: of the run's own files only the intermediates, and
// then with one journal beside them.
void tst_FaultInjection::checkLeftAfterFailure(const QString &folder) const
{
    QStringList intermediates, journals, others;
    for (const QString &e : runsOwnFiles(folder)) {
        const Role r = roleOfName(e);
        (r == Role::Intermediate ? intermediates : r == Role::Journal ? journals : others) << e;
    }
    QCOMPARE(others, QStringList());
    QCOMPARE(journals.size(), intermediates.isEmpty() ? 0 : 1);
}

void tst_FaultInjection::initTestCase()
{
    strace_ = QStandardPaths::findExecutable(QStringLiteral("strace"));
    if (strace_.isEmpty())
        QSKIP("strace is not installed (Debian package strace); the fault injection tests need it");
    if (::geteuid() != 0)
        QSKIP("not root: the fault injection tests run as root (as CI runs them)");
    QVERIFY(template_.isValid() && logs_.isValid());
    templateFolder_ = QFileInfo(template_.path()).canonicalFilePath();
    QVERIFY(QFile::copy(QStringLiteral(REINDEX_BIN_DIR "/reindex-cli"), templateFolder_ + "/reindex-cli"));
    QVERIFY(QFile::copy(QStringLiteral(REINDEX_BIN_DIR "/Database.mdb"), templateFolder_ + "/Database.mdb"));
    QFile::setPermissions(templateFolder_ + "/Database.mdb", QFile::ReadOwner | QFile::WriteOwner);

    // The previous run: its outputs and its rows are what a fault must not harm.
    QVERIFY(writeFile(templateFolder_ + "/sections.txt", oldSections));
    QVERIFY(writeFile(templateFolder_ + "/forums.txt", oldForums));
    const Outcome previous = runTwin(templateFolder_, {}, QStringLiteral("sections.txt"));
    QCOMPARE(previous.err, QString());
    QCOMPARE(previous.exitCode, 0);
    oldSectionsOut_ = readFile(templateFolder_ + "/fr_fr.txt");
    oldForumsOut_ = readFile(templateFolder_ + "/forum.txt");
    QVERIFY(writeFile(templateFolder_ + "/sections.txt", newSections));
    QVERIFY(writeFile(templateFolder_ + "/forums.txt", newForums));
    QVERIFY(writeFile(templateFolder_ + "/bad.txt", refusedSections));

    // The undisturbed run.
    const auto reference = freshFolder();
    QVERIFY(reference->isValid());
    const QString referenceFolder = QFileInfo(reference->path()).canonicalFilePath();
    const Outcome undisturbed = runTwin(referenceFolder, {}, QStringLiteral("sections.txt"));
    QCOMPARE(undisturbed.err, QString());
    QCOMPARE(undisturbed.out, completedMessage);
    newSectionsOut_ = readFile(referenceFolder + "/fr_fr.txt");
    newForumsOut_ = readFile(referenceFolder + "/forum.txt");
    QCOMPARE(newSectionsOut_, QByteArray("1|Новости\r\n2|Помощь: вопросы\r\n3|It's | more\r\n"));
    QCOMPARE(newForumsOut_, QByteArray("101|1|Объявления\r\n102|2|FAQ: как\r\n103|2|\"q\" `b`\r\n104|0|Orphan\r\n"));
    undisturbedRows_ = databaseState(referenceFolder + "/Database.mdb");
    QCOMPARE(undisturbedRows_.value(0), QStringLiteral("ok"));
    QCOMPARE(runsOwnFiles(referenceFolder), QStringList());
    QCOMPARE(changedUserFiles(referenceFolder), QStringList());

    // The same run traced: every call that a fault can hit; and once more
    // with hard links refused, where the backup is a copy.
    trace_ = traced(true, {}, false, 0);
    QVERIFY(!QTest::currentTestFailed());
    withoutLinks_ = traced(true, {}, true, 0);
    QVERIFY(!QTest::currentTestFailed());
    for (const Trace *t : {&trace_, &withoutLinks_}) {
        QVERIFY(t->inputOpened >= 0);
        QVERIFY(t->messageWritten > t->inputOpened);
        QVERIFY(t->firstStagedCreate > t->inputOpened);
        QVERIFY(t->commitWritten > t->firstStagedCreate);
        QVERIFY(t->lastOutputRename > t->commitWritten);
        for (const Call &c : t->calls)
            QVERIFY2(c.role != Role::Unknown && c.role != Role::User, qPrintable(c.syscall + u' ' + c.path));
    }
    const auto copiedBackup = std::find_if(withoutLinks_.calls.cbegin(), withoutLinks_.calls.cend(),
                                           [](const Call &c) { return c.creates && c.role == Role::Backup; });
    QVERIFY2(copiedBackup != withoutLinks_.calls.cend(), "with links refused, the backup is no copy");

    // The run whose last output rename fails, traced: what it does to undo.
    lastRename_ = *trace_.at(trace_.lastOutputRename);
    for (Undoing &u : undoing_) {
        u.trace = traced(u.withPrevious,
                         {"-e", QStringLiteral("inject=%1:error=EIO:when=%2").arg(lastRename_.syscall).arg(lastRename_.ordinal)},
                         u.linksRefused, 1);
        QVERIFY(!QTest::currentTestFailed());
        QVERIFY2(u.trace.failedRename > u.trace.commitWritten, u.name);
        QCOMPARE(u.trace.at(u.trace.failedRename)->name, lastRename_.name);
        QVERIFY2(u.trace.undoWritten > u.trace.failedRename, u.name);
    }
}

// A traced run of the twin in a fresh folder, with `extra` faults.
Trace tst_FaultInjection::traced(bool withPrevious, const QStringList &extra, bool linksRefused,
                                 int expectedExit) const
{
    const auto dir = freshFolder();
    [&] { QVERIFY(dir->isValid()); }();
    const QString folder = QFileInfo(dir->path()).canonicalFilePath();
    if (!withPrevious) {
        QFile::remove(folder + "/fr_fr.txt");
        QFile::remove(folder + "/forum.txt");
    }
    const QString log = logs_.filePath(QStringLiteral("traced.trace"));
    const Outcome o = runTwin(folder, straceArguments(log, killable + copying, linksRefused) + extra,
                              QStringLiteral("sections.txt"));
    const QString text = QString::fromUtf8(readFile(log));
    QFile::remove(log);
    [&] {
        QVERIFY2(o.exitCode == expectedExit, qPrintable(o.err));
        QVERIFY2(!linksRefused || text.contains(QLatin1String("EPERM (Operation not permitted) (INJECTED)")),
                 qPrintable(text));
    }();
    const Trace t = traceOf(folder, text);
    // strace counts `when=` per thread: with one process the count names one call.
    [&] { QVERIFY2(t.processes.size() == 1, qPrintable(t.processes.join(u' '))); }();
    return t;
}

QStringList tst_FaultInjection::straceArguments(const QString &log, QStringList traced, bool linksRefused) const
{
    QStringList args = {"-f", "-qq", "-y", "-s", "6", "-o", log};
    if (linksRefused) {
        // Every link refused, as a file system without them does: the
        // backup is then a copy. strace injects one fault per syscall, so
        // these are never killed at in the same run.
        for (const QString &l : links)
            if (!traced.contains(l))
                traced << l;
        args << "-e" << QStringLiteral("inject=%1:error=EPERM").arg(links.join(u','));
    }
    return args + QStringList{"-e", "trace=" + traced.join(u',')};
}

void tst_FaultInjection::faults_data()
{
    QTest::addColumn<QString>("syscall");
    QTest::addColumn<int>("ordinal");
    QTest::addColumn<QString>("action");
    QTest::addColumn<int>("callIndex");
    for (const FaultKind &kind : faultKinds) {
        for (int i = 0; i < trace_.calls.size(); ++i) {
            const Call &c = trace_.calls[i];
            if (!kind.syscalls.contains(c.syscall) || (kind.createsOnly && !c.creates))
                continue;
            // The run cannot tell a failed sync of the folder from a good
            // one; the step it makes durable is killed at instead.
            if (c.role == Role::Folder && !QByteArray(kind.action).startsWith("signal="))
                continue;
            QTest::addRow("%s: %s #%d %s", kind.name, qPrintable(c.syscall), c.ordinal,
                          qPrintable(c.role == Role::Folder ? QStringLiteral("(folder)") : c.name))
                << c.syscall << c.ordinal << QString::fromLatin1(kind.action) << i;
        }
    }
}

void tst_FaultInjection::faults()
{
    QFETCH(QString, syscall);
    QFETCH(int, ordinal);
    QFETCH(QString, action);
    QFETCH(int, callIndex);
    const Call &call = trace_.calls[callIndex];
    const bool kill = action.startsWith(QLatin1String("signal="));

    const auto dir = freshFolder();
    QVERIFY(dir->isValid());
    const QString folder = QFileInfo(dir->path()).canonicalFilePath();
    const QString log = logs_.filePath(QStringLiteral("injected.trace"));
    const Outcome o = runTwin(folder,
                              straceArguments(log, {syscall})
                                  + QStringList{"-e", QStringLiteral("inject=%1:%2:when=%3").arg(syscall, action).arg(ordinal)},
                              QStringLiteral("sections.txt"));
    const QString injected = QString::fromUtf8(readFile(log));
    QFile::remove(log);

    // The fault hit the call it was meant for.
    const Trace hit = traceOf(folder, injected);
    const auto landed = std::find_if(hit.calls.cbegin(), hit.calls.cend(), [&](const Call &c) {
        return c.syscall == syscall && c.ordinal == ordinal;
    });
    QVERIFY2(landed != hit.calls.cend(), qPrintable(injected));
    QCOMPARE(landed->name, call.name);
    if (kill) {
        QVERIFY(o.crashed || o.exitCode == 128 + 9);
    } else {
        QVERIFY2(injected.split(u'\n').value(landed->line).contains(QLatin1String("(INJECTED)")), qPrintable(injected));
    }

    const QByteArray sectionsNow = readFile(folder + "/fr_fr.txt");
    const QByteArray forumsNow = readFile(folder + "/forum.txt");
    const bool previousPair = sectionsNow == oldSectionsOut_ && forumsNow == oldForumsOut_;
    const bool newPair = sectionsNow == newSectionsOut_ && forumsNow == newForumsOut_;
    QCOMPARE(databaseState(folder + "/Database.mdb").value(0), QStringLiteral("ok"));
    QCOMPARE(changedUserFiles(folder), QStringList());

    if (kill) {
        checkAfterKill(folder, injected, trace_.forwardAt(call.line));
        if (QTest::currentTestFailed())
            return;
    } else {
        // Where the fault hits decides the answer: while the session opens,
        // during the run, or after the completion message while it closes.
        int exitCode = 1;
        QString out;
        if (call.line < trace_.inputOpened) {
            exitCode = 4;
        } else if (trace_.messageWritten >= 0 && call.line > trace_.messageWritten) {
            exitCode = 0;
            out = completedMessage;
        }
        QCOMPARE(o.out, out);
        QCOMPARE(o.exitCode, exitCode);
        if (exitCode == 4) {
            QVERIFY2(o.err.startsWith(connectionFailure), qPrintable(o.err));
        } else if (exitCode == 1) {
            const QString reason = action == QLatin1String("error=ENOSPC") ? QStringLiteral("No space left on device")
                                                                         : QStringLiteral("Input/output error");
            QString expected;
            if (call.role == Role::Database) {
                static const QStringList engineTexts = {"database or disk is full.\n", "disk I/O error.\n",
                                                        "unable to open database file.\n"};
                QVERIFY2(engineTexts.contains(o.err), qPrintable(o.err));
                expected = o.err;
            } else if (call.syscall.startsWith(QLatin1String("rename")) || call.creates) {
                // The journal is made with the first file the run names in
                // it, and its failure names that file.
                const Call *named = &call;
                for (int i = callIndex + 1; named->role == Role::Journal && i < trace_.calls.size(); ++i)
                    if (trace_.calls[i].creates)
                        named = &trace_.calls[i];
                QVERIFY2(named->role != Role::Journal, "a journal made for no file");
                expected = QStringLiteral("Cannot create file \"%1\". %2.\n").arg(shownName(folder, *named), reason);
            } else {
                expected = QStringLiteral("Stream write error.\n");
            }
            QCOMPARE(o.err, expected);
        } else {
            QCOMPARE(o.err, QString());
        }
        // A failure replaces neither output; only a fault after both
        // renames, when nothing is left to fail, finds the new pair.
        if (exitCode == 0 || (exitCode == 1 && call.line > trace_.lastOutputRename))
            QVERIFY2(newPair, (sectionsNow + "\n--\n" + forumsNow).constData());
        else
            QVERIFY2(previousPair, (sectionsNow + "\n--\n" + forumsNow).constData());
        if (exitCode == 0)
            QCOMPARE(runsOwnFiles(folder), QStringList());
        else
            checkLeftAfterFailure(folder);
        if (QTest::currentTestFailed())
            return;
        // What the failed run left is its journal's to put right.
        checkNextStart(folder, sectionsNow, forumsNow);
        if (QTest::currentTestFailed())
            return;
    }

    checkRerun(folder);
}

// The run with hard links refused, killed at every call from its first
// staged output on: the backup is copied, and a kill while it is half made
// must not let the next start put it back.
void tst_FaultInjection::killedWithoutLinks_data()
{
    QTest::addColumn<QString>("syscall");
    QTest::addColumn<int>("ordinal");
    QTest::addColumn<int>("callIndex");
    for (int i = 0; i < withoutLinks_.calls.size(); ++i) {
        const Call &c = withoutLinks_.calls[i];
        if (c.line < withoutLinks_.firstStagedCreate || links.contains(c.syscall)
            || !(killable.contains(c.syscall) || copying.contains(c.syscall)))
            continue;
        QTest::addRow("links refused, killed: %s #%d %s", qPrintable(c.syscall), c.ordinal,
                      qPrintable(c.role == Role::Folder ? QStringLiteral("(folder)") : c.name))
            << c.syscall << c.ordinal << i;
    }
}

void tst_FaultInjection::killedWithoutLinks()
{
    QFETCH(QString, syscall);
    QFETCH(int, ordinal);
    QFETCH(int, callIndex);
    const Call &call = withoutLinks_.calls[callIndex];
    const auto dir = freshFolder();
    QVERIFY(dir->isValid());
    const QString folder = QFileInfo(dir->path()).canonicalFilePath();
    const QString log = logs_.filePath(QStringLiteral("nolinks.trace"));
    const Outcome o = runTwin(folder,
                              straceArguments(log, {syscall}, true)
                                  + QStringList{"-e", QStringLiteral("inject=%1:signal=KILL:when=%2").arg(syscall).arg(ordinal)},
                              QStringLiteral("sections.txt"));
    const QString injected = QString::fromUtf8(readFile(log));
    QFile::remove(log);
    const Trace hit = traceOf(folder, injected);
    const auto landed = std::find_if(hit.calls.cbegin(), hit.calls.cend(), [&](const Call &c) {
        return c.syscall == syscall && c.ordinal == ordinal;
    });
    QVERIFY2(landed != hit.calls.cend(), qPrintable(injected));
    QCOMPARE(landed->name, call.name);
    QVERIFY(o.crashed || o.exitCode == 128 + 9);
    QCOMPARE(changedUserFiles(folder), QStringList());
    checkAfterKill(folder, injected, withoutLinks_.forwardAt(call.line));
    if (QTest::currentTestFailed())
        return;
    checkRerun(folder);
}

// After a kill each output is whole, whatever the moment; the next start,
// though its input is refused at once, leaves the pair the journal calls
// for with nothing of the run's beside it; the database is intact.
void tst_FaultInjection::checkAfterKill(const QString &folder, const QString &injected, bool forward,
                                        bool withPrevious) const
{
    const QByteArray oldSectionsOut = withPrevious ? oldSectionsOut_ : missingFile;
    const QByteArray oldForumsOut = withPrevious ? oldForumsOut_ : missingFile;
    QVERIFY2(injected.contains(QLatin1String("+++ killed by SIGKILL +++")), qPrintable(injected));
    const QByteArray sectionsNow = readFile(folder + "/fr_fr.txt");
    const QByteArray forumsNow = readFile(folder + "/forum.txt");
    QVERIFY2(sectionsNow == oldSectionsOut || sectionsNow == newSectionsOut_, sectionsNow.constData());
    QVERIFY2(forumsNow == oldForumsOut || forumsNow == newForumsOut_, forumsNow.constData());
    QCOMPARE(databaseState(folder + "/Database.mdb").value(0), QStringLiteral("ok"));
    if (forward)
        checkNextStart(folder, newSectionsOut_, newForumsOut_);
    else
        checkNextStart(folder, oldSectionsOut, oldForumsOut);
}

// The next start, refused at its first line, puts right what the last run
// left and leaves exactly this pair, nothing of the run's, and the user's
// files as they were.
void tst_FaultInjection::checkNextStart(const QString &folder, const QByteArray &sections,
                                        const QByteArray &forums) const
{
    const Outcome next = runTwin(folder, {}, QStringLiteral("bad.txt"));
    QCOMPARE(next.exitCode, 1);
    QVERIFY2(next.err.contains(QStringLiteral(u"ошибка в строке 1")), qPrintable(next.err));
    const QByteArray sectionsAfter = readFile(folder + "/fr_fr.txt");
    const QByteArray forumsAfter = readFile(folder + "/forum.txt");
    QVERIFY2(sectionsAfter == sections && forumsAfter == forums, (sectionsAfter + "\n--\n" + forumsAfter).constData());
    QCOMPARE(runsOwnFiles(folder), QStringList());
    QCOMPARE(changedUserFiles(folder), QStringList());
}

// The last output rename fails, and the run is killed at each call it makes
// while it undoes the first one. strace injects one fault per syscall, so a
// later call of the failing syscall itself is left out.
void tst_FaultInjection::killedWhileUndoing_data()
{
    QTest::addColumn<int>("variant");
    QTest::addColumn<QString>("syscall");
    QTest::addColumn<int>("ordinal");
    QTest::addColumn<int>("callIndex");
    for (int v = 0; v < int(std::size(undoing_)); ++v) {
        const Undoing &u = undoing_[v];
        for (int i = 0; i < u.trace.calls.size(); ++i) {
            const Call &c = u.trace.calls[i];
            if (c.line <= u.trace.failedRename || c.syscall == lastRename_.syscall || !killable.contains(c.syscall)
                || (u.linksRefused && links.contains(c.syscall)) || c.role == Role::Database)
                continue;
            QTest::addRow("%s: %s #%d %s", u.name, qPrintable(c.syscall), c.ordinal,
                          qPrintable(c.role == Role::Folder ? QStringLiteral("(folder)") : c.name))
                << v << c.syscall << c.ordinal << i;
        }
    }
}

void tst_FaultInjection::killedWhileUndoing()
{
    QFETCH(int, variant);
    QFETCH(QString, syscall);
    QFETCH(int, ordinal);
    QFETCH(int, callIndex);
    const Undoing &u = undoing_[variant];
    const Call &call = u.trace.calls[callIndex];
    const auto dir = freshFolder();
    QVERIFY(dir->isValid());
    const QString folder = QFileInfo(dir->path()).canonicalFilePath();
    if (!u.withPrevious)
        QVERIFY(QFile::remove(folder + "/fr_fr.txt") && QFile::remove(folder + "/forum.txt"));
    const QString log = logs_.filePath(QStringLiteral("undoing.trace"));
    const Outcome o = runTwin(
        folder,
        straceArguments(log, {lastRename_.syscall, syscall}, u.linksRefused)
            + QStringList{"-e", QStringLiteral("inject=%1:error=EIO:when=%2").arg(lastRename_.syscall).arg(lastRename_.ordinal),
                          "-e", QStringLiteral("inject=%1:signal=KILL:when=%2").arg(syscall).arg(ordinal)},
        QStringLiteral("sections.txt"));
    const QString injected = QString::fromUtf8(readFile(log));
    QFile::remove(log);
    const Trace hit = traceOf(folder, injected);
    const auto landed = std::find_if(hit.calls.cbegin(), hit.calls.cend(), [&](const Call &c) {
        return c.syscall == syscall && c.ordinal == ordinal;
    });
    QVERIFY2(landed != hit.calls.cend(), qPrintable(injected));
    QCOMPARE(landed->name, call.name);
    QVERIFY2(injected.contains(QLatin1String("(INJECTED)")), qPrintable(injected));
    QVERIFY(o.crashed || o.exitCode == 128 + 9);
    QCOMPARE(changedUserFiles(folder), QStringList());
    checkAfterKill(folder, injected, u.trace.forwardAt(call.line), u.withPrevious);
    if (QTest::currentTestFailed())
        return;
    checkRerun(folder);
}

// The last output rename fails, and so does every rename after it: the
// first output cannot be put back. Nothing of the pair may then be thrown
// away: the user is told where the previous fr_fr.txt is, and the next
// start puts the previous pair back.
void tst_FaultInjection::restoringRenameFails_data()
{
    QTest::addColumn<bool>("linksRefused");
    QTest::newRow("backup linked") << false;
    QTest::newRow("backup copied") << true;
}

void tst_FaultInjection::restoringRenameFails()
{
    QFETCH(bool, linksRefused);
    const auto dir = freshFolder();
    QVERIFY(dir->isValid());
    const QString folder = QFileInfo(dir->path()).canonicalFilePath();
    const QString log = logs_.filePath(QStringLiteral("restoring.trace"));
    const Outcome o = runTwin(folder,
                              straceArguments(log, {lastRename_.syscall}, linksRefused)
                                  + QStringList{"-e", QStringLiteral("inject=%1:error=EIO:when=%2+")
                                                          .arg(lastRename_.syscall)
                                                          .arg(lastRename_.ordinal)},
                              QStringLiteral("sections.txt"));
    const QString injected = QString::fromUtf8(readFile(log));
    QFile::remove(log);
    QVERIFY2(injected.count(QLatin1String("EIO (Input/output error) (INJECTED)")) >= 2, qPrintable(injected));
    QCOMPARE(o.exitCode, 1);
    QCOMPARE(o.out, QString());

    // The failure, then where the previous first output is kept.
    const QStringList lines = o.err.split(u'\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 2);
    QCOMPARE(lines[0], QStringLiteral("Cannot create file \"%1/forum.txt\". Input/output error.").arg(folder));
    static const QRegularExpression keptAs(QStringLiteral("\"([^\"]*/fr_fr\\.txt~[0-9a-f]{16}\\.bak)\""));
    const QRegularExpressionMatch kept = keptAs.match(lines[1]);
    QVERIFY2(kept.hasMatch() && lines[1].contains(u'"' + folder + QStringLiteral("/fr_fr.txt\"")), qPrintable(lines[1]));
    QCOMPARE(readFile(kept.captured(1)), oldSectionsOut_);

    // Everything the next start needs is there: the journal, the backup and
    // the staged file whose rename failed.
    QStringList journals, backups, staged, others;
    for (const QString &e : runsOwnFiles(folder)) {
        const Role r = roleOfName(e);
        if (r != Role::Intermediate) // kept after any failure
            (r == Role::Journal ? journals : r == Role::Backup ? backups : r == Role::Staged ? staged : others) << e;
    }
    QCOMPARE(others, QStringList());
    QCOMPARE(journals.size(), 1);
    QCOMPARE(backups, QStringList{QFileInfo(kept.captured(1)).fileName()});
    QCOMPARE(staged.size(), 1);
    QCOMPARE(withoutTag(staged.first()), QStringLiteral("forum.txt~<tag>.tmp"));
    QCOMPARE(readFile(folder + u'/' + staged.first()), newForumsOut_);
    QCOMPARE(changedUserFiles(folder), QStringList());

    checkNextStart(folder, oldSectionsOut_, oldForumsOut_);
    if (QTest::currentTestFailed())
        return;
    checkRerun(folder);
}

// The last output rename fails, and so does the journal's undo record:
// without it on the disk the run may not put the first output back (a later
// start would finish the replacement over it), nor throw away what finishes
// it. Everything stays, and the next start makes the pair whole the way the
// journal says: forward when the record never got into it, back when it did.
void tst_FaultInjection::undoNotRecorded_data()
{
    QTest::addColumn<QString>("syscall");
    QTest::addColumn<int>("ordinal");
    QTest::addColumn<QString>("action");
    QTest::addColumn<bool>("forward");
    const Trace &t = undoing_[1].trace;
    const Call *undo = t.at(t.undoWritten);
    const Call *sync = nullptr;
    for (const Call &c : t.calls)
        if (!sync && c.line > t.undoWritten && c.role == Role::Journal && c.syscall.contains(QLatin1String("sync")))
            sync = &c;
    if (!undo || !sync) {
        QTest::newRow("no undo record traced") << QString() << 0 << QString() << false;
        return;
    }
    QTest::newRow("no room for the record") << undo->syscall << undo->ordinal << "error=ENOSPC" << true;
    QTest::newRow("record not synced") << sync->syscall << sync->ordinal << "error=EIO" << false;
}

void tst_FaultInjection::undoNotRecorded()
{
    QFETCH(QString, syscall);
    QFETCH(int, ordinal);
    QFETCH(QString, action);
    QFETCH(bool, forward);
    if (syscall.isEmpty())
        QFAIL("the run whose last output rename fails wrote no undo record and no sync after it");
    const auto dir = freshFolder();
    QVERIFY(dir->isValid());
    const QString folder = QFileInfo(dir->path()).canonicalFilePath();
    const QString log = logs_.filePath(QStringLiteral("unrecorded.trace"));
    const Outcome o = runTwin(
        folder,
        straceArguments(log, {lastRename_.syscall, syscall})
            + QStringList{"-e", QStringLiteral("inject=%1:error=EIO:when=%2").arg(lastRename_.syscall).arg(lastRename_.ordinal),
                          "-e", QStringLiteral("inject=%1:%2:when=%3").arg(syscall, action).arg(ordinal)},
        QStringLiteral("sections.txt"));
    const QString injected = QString::fromUtf8(readFile(log));
    QFile::remove(log);
    QCOMPARE(injected.count(QLatin1String("(INJECTED)")), 2);
    QCOMPARE(o.exitCode, 1);
    QCOMPARE(o.out, QString());
    const QStringList lines = o.err.split(u'\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.value(0), QStringLiteral("Cannot create file \"%1/forum.txt\". Input/output error.").arg(folder));
    QCOMPARE(lines.size(), 2); // and what the next start will do

    // Nothing that finishes or undoes the replacement was thrown away.
    QStringList backups, staged;
    for (const QString &e : runsOwnFiles(folder)) {
        const Role r = roleOfName(e);
        if (r == Role::Backup)
            backups << e;
        else if (r == Role::Staged)
            staged << e;
    }
    QCOMPARE(backups.size(), 1);
    QCOMPARE(readFile(folder + u'/' + backups.first()), oldSectionsOut_);
    QCOMPARE(staged.size(), 1);
    QCOMPARE(readFile(folder + u'/' + staged.first()), newForumsOut_);
    QCOMPARE(changedUserFiles(folder), QStringList());

    if (forward)
        checkNextStart(folder, newSectionsOut_, newForumsOut_);
    else
        checkNextStart(folder, oldSectionsOut_, oldForumsOut_);
    if (QTest::currentTestFailed())
        return;
    checkRerun(folder);
}

// --report and --map read the tables of this run: no other run may have
// the folder until the map is made. The twin is stopped just after it
// creates the map's staged file; meanwhile the folder's lock, taken as the
// program takes it, is refused, and so is a second twin, which changes
// nothing.
void tst_FaultInjection::lockHeldThroughReportAndMap()
{
    const QStringList mapRun = {"--report", "--map", "map.txt", "sections.txt", "forums.txt"};
    const QByteArray previousMap = "1|1\r\n2|2\r\n";
    const auto isStagedMap = [](const QString &name) {
        return name.startsWith(QLatin1String("map.txt")) && name != QLatin1String("map.txt");
    };

    // Where the map's staged file is made, and the map an undisturbed run makes.
    const auto reference = freshFolder();
    QVERIFY(reference->isValid());
    const QString referenceFolder = QFileInfo(reference->path()).canonicalFilePath();
    QVERIFY(writeFile(referenceFolder + "/map.txt", previousMap));
    const QString log = logs_.filePath(QStringLiteral("map.trace"));
    QProcess tracing;
    startTwin(tracing, referenceFolder, straceArguments(log, killable), mapRun);
    const Outcome undisturbed = finished(tracing);
    QCOMPARE(undisturbed.exitCode, 0);
    QVERIFY2(undisturbed.out.startsWith(completedMessage + QStringLiteral("sections: 3\n")), qPrintable(undisturbed.out));
    const QByteArray expectedMap = readFile(referenceFolder + "/map.txt");
    QCOMPARE(expectedMap, QByteArray("10|1\r\n20|2\r\n30|3\r\n"));
    const Trace t = traceOf(referenceFolder, QString::fromUtf8(readFile(log)));
    QFile::remove(log);
    QVERIFY2(t.processes.size() == 1, qPrintable(t.processes.join(u' ')));
    std::optional<Call> stagedMap;
    for (const Call &c : t.calls)
        if (c.creates && isStagedMap(QFileInfo(c.path).fileName()))
            stagedMap = c;
    QVERIFY(stagedMap);

    const auto dir = freshFolder();
    QVERIFY(dir->isValid());
    const QString folder = QFileInfo(dir->path()).canonicalFilePath();
    QVERIFY(writeFile(folder + "/map.txt", previousMap));
    QProcess stopped;
    startTwin(stopped, folder,
              straceArguments(log, {stagedMap->syscall})
                  + QStringList{"-e", QStringLiteral("inject=%1:signal=STOP:when=%2").arg(stagedMap->syscall).arg(stagedMap->ordinal)},
              mapRun);
    // The stop comes as the call returns: once the file is there, the twin
    // goes no further until it is let go.
    const auto stagedMapExists = [&] {
        const QStringList names = entriesOf(folder);
        return std::any_of(names.cbegin(), names.cend(), isStagedMap);
    };
    while (!stagedMapExists() && !stopped.waitForFinished(10)) {
    }
    QVERIFY2(stopped.state() == QProcess::Running, qPrintable(QString::fromUtf8(readFile(log))));
    const qint64 twin = childOf(stopped.processId());
    QVERIFY(twin > 0);
    // However the checks end, the twin is let go and runs to its end.
    auto resume = qScopeGuard([&] {
        ::kill(pid_t(twin), SIGCONT);
        finished(stopped);
    });
    const QMap<QString, QByteArray> before = folderState(folder);

    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    QVERIFY(fd >= 0);
    const int locked = ::flock(fd, LOCK_EX | LOCK_NB);
    const int lockError = errno;
    ::close(fd); // lets the lock go if it was taken
    QVERIFY2(locked != 0 && lockError == EWOULDBLOCK, "the folder's lock was free while the map was made");

    const Outcome second = runTwin(folder, {}, QStringLiteral("sections.txt"));
    QCOMPARE(second.err, lockedMessage);
    QCOMPARE(second.out, QString());
    QCOMPARE(second.exitCode, 1);
    QCOMPARE(folderState(folder), before);

    // Let go, the twin completes as if alone.
    resume.dismiss();
    ::kill(pid_t(twin), SIGCONT);
    const Outcome first = finished(stopped);
    QFile::remove(log);
    QCOMPARE(first.exitCode, 0);
    QCOMPARE(first.err, QString());
    QVERIFY2(first.out.startsWith(completedMessage + QStringLiteral("sections: 3\n")), qPrintable(first.out));
    QCOMPARE(readFile(folder + "/map.txt"), expectedMap);
    QCOMPARE(readFile(folder + "/fr_fr.txt"), newSectionsOut_);
    QCOMPARE(readFile(folder + "/forum.txt"), newForumsOut_);
    QCOMPARE(runsOwnFiles(folder), QStringList());
    QCOMPARE(changedUserFiles(folder), QStringList());
    QCOMPARE(databaseState(folder + "/Database.mdb"), undisturbedRows_);
}

// A system without /proc (a container, a chroot) runs the twin as any
// other: nothing of the run needs it. The twin finds its own folder from
// /proc/self/exe, so the folder is named here.
void tst_FaultInjection::runsWithoutProc()
{
#ifdef REINDEX_SANITIZED
    QSKIP("the sanitizers' runtime in the twin cannot start without /proc: the plain build runs this test");
#endif
    const QString unshare = QStandardPaths::findExecutable(QStringLiteral("unshare"));
    if (unshare.isEmpty())
        QSKIP("unshare (util-linux) is not installed: /proc cannot be hidden from one process");
    const QStringList hidden = {"--mount", "--propagation", "private", "sh", "-c",
                                "mount -t tmpfs none /proc && exec \"$@\"", "sh"};
    QProcess probe;
    probe.start(unshare, hidden + QStringList{"sh", "-c", "test ! -e /proc/self/exe"});
    const Outcome probed = finished(probe);
    if (probed.exitCode != 0 || probed.crashed)
        QSKIP(qPrintable(QStringLiteral("unshare may not hide /proc in a private mount namespace here: ")
                         + probed.err.trimmed()));

    const auto dir = freshFolder();
    QVERIFY(dir->isValid());
    const QString folder = QFileInfo(dir->path()).canonicalFilePath();
    QProcess p;
    p.setWorkingDirectory(folder);
    p.start(unshare, hidden + QStringList{folder + "/reindex-cli", "--dir", folder, "sections.txt", "forums.txt"});
    const Outcome o = finished(p);
    QCOMPARE(o.err, QString());
    QCOMPARE(o.out, completedMessage);
    QCOMPARE(o.exitCode, 0);
    QCOMPARE(readFile(folder + "/fr_fr.txt"), newSectionsOut_);
    QCOMPARE(readFile(folder + "/forum.txt"), newForumsOut_);
    QCOMPARE(runsOwnFiles(folder), QStringList());
    QCOMPARE(changedUserFiles(folder), QStringList());
    QCOMPARE(databaseState(folder + "/Database.mdb"), undisturbedRows_);
}

void tst_FaultInjection::checkRerun(const QString &folder) const
{
    const Outcome rerun = runTwin(folder, {}, QStringLiteral("sections.txt"));
    QCOMPARE(rerun.err, QString());
    QCOMPARE(rerun.out, completedMessage);
    QCOMPARE(rerun.exitCode, 0);
    QCOMPARE(readFile(folder + "/fr_fr.txt"), newSectionsOut_);
    QCOMPARE(readFile(folder + "/forum.txt"), newForumsOut_);
    QCOMPARE(runsOwnFiles(folder), QStringList());
    QCOMPARE(changedUserFiles(folder), QStringList());
    QCOMPARE(databaseState(folder + "/Database.mdb"), undisturbedRows_);
}

QTEST_GUILESS_MAIN(tst_FaultInjection)
#include "tst_FaultInjection.moc"
