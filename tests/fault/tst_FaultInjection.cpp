// The headless twin under injected faults. strace (Debian package strace)
// makes them, so the program under test is the shipped one. An undisturbed
// run is traced first; the table faultKinds then fails, in turn, every write,
// sync, create and rename it made in its folder, and kills it at each of
// those calls and at every link, unlink and truncate besides. A second table
// makes the last output rename fail and kills the run at each call it makes
// while it undoes the first one, with and without previous outputs.
//
// What must hold after each fault:
// - a failure reaches the user as the run's message with exit code 1, and
//   leaves both previous outputs byte for byte, or (once both renames are
//   done) both new ones, with no temporary file beside them;
// - after a kill, each output is whole (its previous or its new bytes), and
//   the next start of the program, even one that refuses its input at once,
//   leaves the pair whole and no temporary file;
// - the database passes PRAGMA integrity_check;
// - a rerun gives exactly the outputs and table rows of an undisturbed run.
//
// Intermediates 1.txt and 2.txt may stay after a failure: the run keeps them
// on purpose, and the next run replaces and deletes them.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <TestSystem.h>

#include <sqlite3.h>

#include <iterator>
#include <memory>
#include <utility>

#ifdef Q_OS_LINUX
#include <unistd.h>
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

// What a file in the program folder is to the run.
enum class Role { Database, Intermediate, Output, Temporary, Input, Folder };

struct Call
{
    int line = 0;       // position in the trace
    QString syscall;
    int ordinal = 0;    // 1 for the first call of this syscall by this process
    QString path;       // the file acted on: the target of a rename
    QString name;       // the same, relative to the folder
    Role role = Role::Temporary;
    bool creates = false;
};

struct Trace
{
    QList<Call> calls; // calls on files in the folder, in order
    int inputOpened = -1;
    int messageWritten = -1;
    int lastOutputRename = -1;
    QStringList processes;
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

const FaultKind faultKinds[] = {
    {"no space on write", {"write", "pwrite64", "writev", "pwritev", "pwritev2"}, "error=ENOSPC", false},
    {"sync fails", {"fsync", "fdatasync", "sync_file_range"}, "error=EIO", false},
    {"no space to create", {"openat", "open", "creat"}, "error=ENOSPC", true},
    {"rename fails", {"rename", "renameat", "renameat2"}, "error=EIO", false},
    {"killed",
     {"write", "pwrite64", "writev", "pwritev", "pwritev2", "fsync", "fdatasync", "sync_file_range", "openat", "open",
      "creat", "rename", "renameat", "renameat2", "link", "linkat", "unlink", "unlinkat", "ftruncate"},
     "signal=KILL", false},
};

QStringList allTracedSyscalls()
{
    QStringList all;
    for (const FaultKind &k : faultKinds)
        for (const QString &s : k.syscalls)
            if (!all.contains(s))
                all << s;
    return all;
}

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

} // namespace

class tst_FaultInjection : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void faults_data();
    void faults();
    void killedWhileUndoing_data();
    void killedWhileUndoing();

private:
    // A fresh copy of the folder as the previous run left it.
    std::unique_ptr<QTemporaryDir> freshFolder() const;
    Outcome runTwin(const QString &folder, const QStringList &straceArguments, const QString &sections) const;
    Trace traceOf(const QString &folder, const QString &log) const;
    Role roleOf(const QString &path) const;
    QString ownerOutput(const QString &temporary) const;
    QStringList strayFiles(const QString &folder, bool allowIntermediates) const;
    void checkRerun(const QString &folder) const;
    void checkAfterKill(const QString &folder, const QString &injected, bool withPrevious = true) const;
    QStringList straceArguments(const QString &log, const QStringList &traced) const;

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
    // The last rename onto an output, made to fail, and the calls around it,
    // without and with previous outputs in the folder.
    Call lastRename_;
    Trace undoing_[2];
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
    return dir;
}

Outcome tst_FaultInjection::runTwin(const QString &folder, const QStringList &straceArguments,
                                    const QString &sections) const
{
    QProcess p;
    p.setWorkingDirectory(folder);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (!straceArguments.isEmpty()) {
        // LeakSanitizer cannot work under ptrace; leaks are the plain runs' business.
        const QString asan = env.value(QStringLiteral("ASAN_OPTIONS"));
        env.insert(QStringLiteral("ASAN_OPTIONS"), asan + (asan.isEmpty() ? "" : ":") + "detect_leaks=0");
    }
    p.setProcessEnvironment(env);
    const QStringList twin = {folder + QStringLiteral("/reindex-cli"), sections, QStringLiteral("forums.txt")};
    if (straceArguments.isEmpty())
        p.start(twin.first(), twin.mid(1));
    else
        p.start(strace_, straceArguments + QStringList{QStringLiteral("--")} + twin);
    Outcome o;
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

Role tst_FaultInjection::roleOf(const QString &path) const
{
    if (QFileInfo(path).isDir())
        return Role::Folder;
    const QString name = QFileInfo(path).fileName();
    if (name == QLatin1String("Database.mdb") || name.startsWith(QLatin1String("Database.mdb-")))
        return Role::Database;
    if (name == QLatin1String("1.txt") || name == QLatin1String("2.txt"))
        return Role::Intermediate;
    if (name == QLatin1String("fr_fr.txt") || name == QLatin1String("forum.txt"))
        return Role::Output;
    if (name == QLatin1String("sections.txt") || name == QLatin1String("forums.txt")
        || name == QLatin1String("reindex-cli"))
        return Role::Input;
    return Role::Temporary; // whatever the run stages its outputs in
}

QString tst_FaultInjection::ownerOutput(const QString &temporary) const
{
    const QString name = QFileInfo(temporary).fileName();
    for (const char *output : {"fr_fr.txt", "forum.txt"})
        if (name.startsWith(QLatin1String(output)))
            return QFileInfo(temporary).absolutePath() + u'/' + QLatin1String(output);
    return QString();
}

// Parses `strace -f -y` output. Calls are counted per process and syscall,
// as strace counts them for `when=`; only calls on files in the folder are kept.
Trace tst_FaultInjection::traceOf(const QString &folder, const QString &log) const
{
    static const QRegularExpression lineRe(QStringLiteral("^(\\d+)\\s+(\\w+)\\((.*)$"));
    static const QRegularExpression fdPath(QStringLiteral("^-?\\d+<([^>]*)>"));
    static const QRegularExpression quotedRe(QStringLiteral("\"((?:[^\"\\\\]|\\\\.)*)\""));
    static const QRegularExpression resultPath(QStringLiteral("=\\s+\\d+<([^>]*)>"));
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
        if ((c.path != folder && QFileInfo(c.path).absolutePath() != folder) || roleOf(c.path) == Role::Input)
            continue;
        c.name = QDir(folder).relativeFilePath(c.path);
        c.role = roleOf(c.path);
        if (syscall.startsWith(QLatin1String("rename")) && roleOf(c.path) == Role::Output)
            t.lastOutputRename = i;
        t.calls << c;
    }
    return t;
}

QStringList tst_FaultInjection::strayFiles(const QString &folder, bool allowIntermediates) const
{
    QStringList stray;
    const QStringList entries =
        QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QString &e : entries) {
        const Role r = roleOf(folder + u'/' + e);
        if (r == Role::Temporary || (r == Role::Intermediate && !allowIntermediates))
            if (e != QLatin1String("bad.txt"))
                stray << e;
    }
    return stray;
}

void tst_FaultInjection::initTestCase()
{
#ifndef Q_OS_LINUX
    QSKIP("fault injection uses strace, which is Linux only; under Wine the windows stage kills the twin mid-run instead");
#endif
    strace_ = QStandardPaths::findExecutable(QStringLiteral("strace"));
    if (strace_.isEmpty())
        QSKIP("strace is not installed (Debian package strace); the fault injection tests need it");
#ifdef Q_OS_LINUX
    if (::geteuid() != 0)
        QSKIP("not root: the fault injection tests run as root (as CI runs them)");
#endif
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

    // The same run traced: every call that a fault can hit.
    const auto traced = freshFolder();
    const QString tracedFolder = QFileInfo(traced->path()).canonicalFilePath();
    const QString log = logs_.filePath(QStringLiteral("undisturbed.trace"));
    const Outcome enumerated = runTwin(tracedFolder, straceArguments(log, allTracedSyscalls()), QStringLiteral("sections.txt"));
    QCOMPARE(enumerated.err, QString());
    QCOMPARE(enumerated.exitCode, 0);
    trace_ = traceOf(tracedFolder, QString::fromUtf8(readFile(log)));
    QFile::remove(log);
    // strace counts `when=` per thread: with one process the count names one call.
    QVERIFY2(trace_.processes.size() == 1, qPrintable(trace_.processes.join(u' ')));
    QVERIFY(trace_.inputOpened >= 0);
    QVERIFY(trace_.messageWritten > trace_.inputOpened);
    QVERIFY(trace_.lastOutputRename > trace_.inputOpened);

    // The run whose last output rename fails, traced: what it does to undo.
    for (const Call &c : std::as_const(trace_.calls))
        if (c.line == trace_.lastOutputRename)
            lastRename_ = c;
    for (const bool withPrevious : {false, true}) {
        const auto failing = freshFolder();
        const QString failingFolder = QFileInfo(failing->path()).canonicalFilePath();
        if (!withPrevious)
            QVERIFY(QFile::remove(failingFolder + "/fr_fr.txt") && QFile::remove(failingFolder + "/forum.txt"));
        const Outcome failed = runTwin(failingFolder,
                                       straceArguments(log, allTracedSyscalls())
                                           + QStringList{"-e", QStringLiteral("inject=%1:error=EIO:when=%2")
                                                                   .arg(lastRename_.syscall)
                                                                   .arg(lastRename_.ordinal)},
                                       QStringLiteral("sections.txt"));
        QCOMPARE(failed.exitCode, 1);
        undoing_[withPrevious] = traceOf(failingFolder, QString::fromUtf8(readFile(log)));
        QFile::remove(log);
    }
}

QStringList tst_FaultInjection::straceArguments(const QString &log, const QStringList &traced) const
{
    return {"-f", "-qq", "-y", "-s", "0", "-o", log, "-e", "trace=" + traced.join(u',')};
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
            // Syncing the folder after the renames makes them durable; when
            // it fails there is nothing left to undo, so it is only killed at.
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

    if (kill) {
        checkAfterKill(folder, injected);
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
            const QString here = folder + u'/' + call.name; // the same file in this run's folder
            const Role role = call.role;
            QString expected;
            if (role == Role::Database) {
                static const QStringList engineTexts = {"database or disk is full.\n", "disk I/O error.\n",
                                                        "unable to open database file.\n"};
                QVERIFY2(engineTexts.contains(o.err), qPrintable(o.err));
                expected = o.err;
            } else if ((call.syscall.startsWith(QLatin1String("rename")) || call.creates)
                       && role == Role::Temporary && ownerOutput(here).isEmpty()) {
                // A file without a name names no output: either may be told.
                const QRegularExpression either(QStringLiteral("\\ACannot create file \"%1/(fr_fr|forum)\\.txt\". %2\\.\n\\z")
                                                    .arg(QRegularExpression::escape(folder), reason));
                QVERIFY2(either.match(o.err).hasMatch(), qPrintable(o.err));
                expected = o.err;
            } else if (call.syscall.startsWith(QLatin1String("rename")) || call.creates) {
                const QString named = role == Role::Temporary ? ownerOutput(here) : here;
                expected = QStringLiteral("Cannot create file \"%1\". %2.\n").arg(named, reason);
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
        QCOMPARE(strayFiles(folder, exitCode != 0), QStringList());
    }

    checkRerun(folder);
}

// After a kill each output is whole, whatever the moment; the next start,
// though its input is refused at once, leaves the pair whole with nothing
// temporary beside it; the database is intact.
void tst_FaultInjection::checkAfterKill(const QString &folder, const QString &injected, bool withPrevious) const
{
    const QByteArray oldSectionsOut = withPrevious ? oldSectionsOut_ : missingFile;
    const QByteArray oldForumsOut = withPrevious ? oldForumsOut_ : missingFile;
    QVERIFY2(injected.contains(QLatin1String("+++ killed by SIGKILL +++")), qPrintable(injected));
    const QByteArray sectionsNow = readFile(folder + "/fr_fr.txt");
    const QByteArray forumsNow = readFile(folder + "/forum.txt");
    QVERIFY2(sectionsNow == oldSectionsOut || sectionsNow == newSectionsOut_, sectionsNow.constData());
    QVERIFY2(forumsNow == oldForumsOut || forumsNow == newForumsOut_, forumsNow.constData());
    QCOMPARE(databaseState(folder + "/Database.mdb").value(0), QStringLiteral("ok"));

    const Outcome next = runTwin(folder, {}, QStringLiteral("bad.txt"));
    QCOMPARE(next.exitCode, 1);
    QVERIFY2(next.err.contains(QStringLiteral(u"ошибка в строке 1")), qPrintable(next.err));
    const QByteArray sectionsAfter = readFile(folder + "/fr_fr.txt");
    const QByteArray forumsAfter = readFile(folder + "/forum.txt");
    QVERIFY2((sectionsAfter == oldSectionsOut && forumsAfter == oldForumsOut)
                 || (sectionsAfter == newSectionsOut_ && forumsAfter == newForumsOut_),
             (sectionsAfter + "\n--\n" + forumsAfter).constData());
    QCOMPARE(strayFiles(folder, true), QStringList());
}

// The last output rename fails, and the run is killed at each call it makes
// while it undoes the first one. strace injects one fault per syscall, so a
// later call of the failing syscall itself is left out.
void tst_FaultInjection::killedWhileUndoing_data()
{
    QTest::addColumn<bool>("withPrevious");
    QTest::addColumn<QString>("syscall");
    QTest::addColumn<int>("ordinal");
    const QStringList killable = faultKinds[std::size(faultKinds) - 1].syscalls;
    for (const bool withPrevious : {false, true}) {
        bool afterFailure = false;
        for (const Call &c : std::as_const(undoing_[withPrevious].calls)) {
            if (c.syscall == lastRename_.syscall && c.ordinal == lastRename_.ordinal) {
                afterFailure = true;
                continue;
            }
            if (!afterFailure || c.syscall == lastRename_.syscall || !killable.contains(c.syscall)
                || c.role == Role::Database)
                continue;
            QTest::addRow("%s: %s #%d %s", withPrevious ? "previous outputs" : "no previous outputs",
                          qPrintable(c.syscall), c.ordinal,
                          qPrintable(c.role == Role::Folder ? QStringLiteral("(folder)") : c.name))
                << withPrevious << c.syscall << c.ordinal;
        }
    }
}

void tst_FaultInjection::killedWhileUndoing()
{
    QFETCH(bool, withPrevious);
    QFETCH(QString, syscall);
    QFETCH(int, ordinal);
    const auto dir = freshFolder();
    QVERIFY(dir->isValid());
    const QString folder = QFileInfo(dir->path()).canonicalFilePath();
    if (!withPrevious)
        QVERIFY(QFile::remove(folder + "/fr_fr.txt") && QFile::remove(folder + "/forum.txt"));
    const QString log = logs_.filePath(QStringLiteral("undoing.trace"));
    const Outcome o = runTwin(
        folder,
        straceArguments(log, {lastRename_.syscall, syscall})
            + QStringList{"-e", QStringLiteral("inject=%1:error=EIO:when=%2").arg(lastRename_.syscall).arg(lastRename_.ordinal),
                          "-e", QStringLiteral("inject=%1:signal=KILL:when=%2").arg(syscall).arg(ordinal)},
        QStringLiteral("sections.txt"));
    const QString injected = QString::fromUtf8(readFile(log));
    QFile::remove(log);
    QVERIFY2(injected.contains(QLatin1String("(INJECTED)")), qPrintable(injected));
    QVERIFY(o.crashed || o.exitCode == 128 + 9);
    checkAfterKill(folder, injected, withPrevious);
    if (QTest::currentTestFailed())
        return;
    checkRerun(folder);
}

void tst_FaultInjection::checkRerun(const QString &folder) const
{
    const Outcome rerun = runTwin(folder, {}, QStringLiteral("sections.txt"));
    QCOMPARE(rerun.err, QString());
    QCOMPARE(rerun.out, completedMessage);
    QCOMPARE(rerun.exitCode, 0);
    QCOMPARE(readFile(folder + "/fr_fr.txt"), newSectionsOut_);
    QCOMPARE(readFile(folder + "/forum.txt"), newForumsOut_);
    QCOMPARE(strayFiles(folder, false), QStringList());
    QCOMPARE(databaseState(folder + "/Database.mdb"), undisturbedRows_);
}

QTEST_GUILESS_MAIN(tst_FaultInjection)
#include "tst_FaultInjection.moc"
