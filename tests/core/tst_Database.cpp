#include "EngineConnection.h"
#include "ProgramDir.h"
#include "TableRows.h"

#include <db/Database.h>
#include <db/DbError.h>
#include <db/EngineText.h>
#include <db/FolderLock.h>
#include <db/Statement.h>
#include <db/Tables.h>
#include <db/Transaction.h>

#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTest>

#include <sqlite3.h>

#include <chrono>
#include <functional>
#include <memory>
#include <thread>

#ifdef Q_OS_LINUX
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>
#endif

namespace {

QString failureOf(const std::function<void()> &f)
{
    try {
        f();
    } catch (const db::DbError &e) {
        return e.message();
    }
    return QStringLiteral("<no failure>");
}

db::Number integer(qint64 v)
{
    return db::Number{v, 0, false};
}

QStringList schemaOf(const QString &file)
{
    return tableRows(file, "sqlite_master", "type, name, sql");
}

bool writable(const QString &file)
{
    QFile f(file);
    return f.open(QIODevice::ReadWrite);
}

// Makes a file read-only for whoever runs the test: by its mode, and where
// the mode does not bind (the superuser) by the file system's immutable flag;
// undone when it goes.
class ReadOnlyFile
{
public:
    explicit ReadOnlyFile(const QString &path) : path_(path)
    {
        QFile::setPermissions(path_, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther);
#ifdef Q_OS_LINUX
        if (writable(path_))
            immutable_ = setImmutable(true);
#endif
    }
    ~ReadOnlyFile()
    {
#ifdef Q_OS_LINUX
        if (immutable_)
            setImmutable(false);
#endif
        QFile::setPermissions(path_, QFile::ReadOwner | QFile::WriteOwner);
    }
    ReadOnlyFile(const ReadOnlyFile &) = delete;
    ReadOnlyFile &operator=(const ReadOnlyFile &) = delete;

private:
#ifdef Q_OS_LINUX
    bool setImmutable(bool on) const
    {
        const int fd = ::open(QFile::encodeName(path_).constData(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            return false;
        int flags = 0;
        bool done = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
        if (done) {
            flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
            done = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
        }
        ::close(fd);
        return done;
    }
    bool immutable_ = false;
#endif
    QString path_;
};

} // namespace

// The typed store over the database file, checked against what a plain
// connection of the engine finds in the file.
class tst_Database : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void readsBackWhatWentIn();
    void refusesValuesTheColumnsDoNotTake_data();
    void refusesValuesTheColumnsDoNotTake();
    void aRefusedForumInABatchKeepsThoseBeforeIt_data();
    void aRefusedForumInABatchKeepsThoseBeforeIt();
    void aFailureThatEndsTheTransactionIsNotReplayed();
    void emptiesBothTables();
    void countsWhatARunLeft();
    void emptyingGoesASliceAtATime();
    void createsNothingInTheFile();
    void anotherWriterMakesTheTransactionFailAtOnce();
    void aFolderIsLockedForOneAtATime();
    void theShellsFlockIsKeptOut();
    void openingWaitsForAnotherConnectionsExclusiveLock();
    void closingWithAStatementOpenFails();
    void progressHandlerTicksDuringALongStatement();
    void openFailures_data();
    void openFailures();
    void aFileThatCannotBeWrittenIsNoDatabase();
    void aFileInLogModeIsFoldedBackWithItsLog();
    void aCommitWaitsForAnotherConnectionsReader_data();
    void aCommitWaitsForAnotherConnectionsReader();
    void trimsEngineText_data();
    void trimsEngineText();

private:
    QString file() const { return dir_->path("Database.mdb"); }
    // Another connection holds a write transaction: the store's transaction
    // is refused with the engine's text, sooner than `limitMs`.
    void refusedAtOnceBesideAnotherWriter(qint64 limitMs);
    std::unique_ptr<ProgramDir> dir_;
    std::unique_ptr<db::Tables> tables_;
};

void tst_Database::init()
{
    dir_ = std::make_unique<ProgramDir>();
    tables_ = std::make_unique<db::Tables>(dir_->dir());
}

void tst_Database::cleanup()
{
    tables_.reset();
    dir_.reset();
}

void tst_Database::readsBackWhatWentIn()
{
    const QByteArray titles[] = {"Новости: форум", "It's \"q\" `b` :id ::x ?1", "", "a|b|c"};
    for (int i = 0; i < 4; ++i)
        tables_->addSection(i + 1, integer(100 - i), titles[i]);
    for (int i = 0; i < 100; ++i)
        tables_->addForum(integer(-i), integer(7), i % 5, titles[i % 4]);
    QStringList sections, forums;
    for (db::Tables::Sections s = tables_->sections(); s.next();)
        sections << QString::number(s.oldId()) + u'|' + QString::fromUtf8(s.title());
    for (db::Tables::Forums f = tables_->forums(); f.next();)
        forums << QStringLiteral("%1|%2|").arg(f.oldId()).arg(f.sectionNumber()) + QString::fromUtf8(f.title());
    QStringList expectedSections, expectedForums;
    for (int i = 0; i < 4; ++i)
        expectedSections << QString::number(100 - i) + u'|' + QString::fromUtf8(titles[i]);
    for (int i = 0; i < 100; ++i)
        expectedForums << QStringLiteral("%1|%2|").arg(-i).arg(i % 5) + QString::fromUtf8(titles[i % 4]);
    QCOMPARE(sections, expectedSections);
    QCOMPARE(forums, expectedForums);
    // The same rows as any connection sees them: a section's id is its number.
    QCOMPARE(tableRows(file(), "Razdel_table", "id, old_id").first(2), (QStringList{"1|100", "2|99"}));
    QCOMPARE(tableRows(file(), "Forum_table", "podrazdel_id, new_id, str_value").at(1),
             QStringLiteral("7|1|") + QString::fromUtf8(titles[1]));
}

void tst_Database::refusesValuesTheColumnsDoNotTake_data()
{
    QTest::addColumn<qint64>("value");
    QTest::addColumn<bool>("real");
    QTest::addColumn<QString>("failure");
    const QString range = QStringLiteral("CHECK constraint failed: old_id BETWEEN -2147483648 AND 2147483647");
    QTest::newRow("largest 32-bit") << qint64(2147483647) << false << "<no failure>";
    QTest::newRow("smallest 32-bit") << qint64(-2147483648LL) << false << "<no failure>";
    QTest::newRow("above 32 bits") << qint64(2147483648LL) << false << range;
    QTest::newRow("below 32 bits") << qint64(-2147483649LL) << false << range;
    QTest::newRow("beyond 64 bits: a real") << qint64(0) << true
                                           << "cannot store REAL value in INTEGER column Razdel_table.old_id";
}

void tst_Database::refusesValuesTheColumnsDoNotTake()
{
    QFETCH(qint64, value);
    QFETCH(bool, real);
    QFETCH(QString, failure);
    const db::Number number{value, real ? 1e20 : 0, real};
    QCOMPARE(failureOf([&] { tables_->addSection(1, number, "a"); }), failure);
    QCOMPARE(tableRows(file(), "Razdel_table", "old_id").size(), failure == QLatin1String("<no failure>") ? 1 : 0);
}

void tst_Database::aRefusedForumInABatchKeepsThoseBeforeIt_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("refused"); // 1-based; 0: none
    QTest::newRow("first of a batch") << 100 << 65;
    QTest::newRow("middle of the second batch") << 200 << 100;
    QTest::newRow("last of a full batch") << 64 << 64;
    QTest::newRow("in the part left over") << 70 << 70;
    QTest::newRow("none") << 130 << 0;
}

void tst_Database::aRefusedForumInABatchKeepsThoseBeforeIt()
{
    QFETCH(int, count);
    QFETCH(int, refused);
    const QString failure = failureOf([&] {
        for (int i = 1; i <= count; ++i)
            tables_->addForum(integer(i == refused ? 4294967296LL : i), integer(1), 0, "t");
        tables_->flush();
    });
    QCOMPARE(failure, refused ? QStringLiteral("CHECK constraint failed: old_id BETWEEN -2147483648 AND 2147483647")
                              : QStringLiteral("<no failure>"));
    const int kept = refused ? refused - 1 : count;
    QStringList expected;
    for (int i = 1; i <= kept; ++i)
        expected << QString::number(i);
    QCOMPARE(tableRows(file(), "Forum_table", "old_id"), expected);
    // Nothing of the refused batch is left waiting to go in later.
    tables_->addForum(integer(-1), integer(1), 0, "after");
    QCOMPARE(tables_->forumCount(), qint64(kept + 1));
}

// A failure that takes the whole transaction with it (a full disk, an I/O
// error, here a trigger's ROLLBACK) must not be answered by putting the batch
// in again row by row, each committed on its own after the transaction that
// emptied the tables was undone.
void tst_Database::aFailureThatEndsTheTransactionIsNotReplayed()
{
    {
        db::Transaction t(tables_->database());
        tables_->addForum(integer(900), integer(1), 0, "an earlier run's");
        tables_->flush();
        t.commit();
    }
    QCOMPARE(EngineConnection(file()).exec("CREATE TRIGGER undo BEFORE INSERT ON Forum_table WHEN NEW.old_id = 30 "
                                           "BEGIN SELECT RAISE(ROLLBACK, 'the disk gave up'); END"),
             SQLITE_OK);

    const QString failure = failureOf([&] {
        db::Transaction t(tables_->database());
        while (tables_->emptySome(1000)) {
        }
        for (int i = 1; i <= 64; ++i)
            tables_->addForum(integer(i), integer(1), 0, "t");
        t.commit();
    });
    QCOMPARE(failure, QStringLiteral("the disk gave up"));
    QCOMPARE(tableRows(file(), "Forum_table", "old_id"), QStringList{"900"});
}

void tst_Database::emptiesBothTables()
{
    tables_->addSection(1, integer(5), "s");
    tables_->addForum(integer(1), integer(5), 1, "f");
    tables_->flush();
    tables_->addForum(integer(2), integer(5), 1, "waiting");
    while (tables_->emptySome(1000)) {
    }
    QCOMPARE(tables_->sectionCount(), qint64(0));
    QCOMPARE(tables_->forumCount(), qint64(0));
    QCOMPARE(tableRows(file(), "Forum_table", "old_id"), QStringList());
}

void tst_Database::countsWhatARunLeft()
{
    const qint64 ids[] = {5, 6, 5, 7, 6, 5};
    for (int i = 0; i < 6; ++i)
        tables_->addSection(i + 1, integer(ids[i]), "s");
    tables_->addForum(integer(1), integer(5), 6, "a");
    tables_->addForum(integer(2), integer(9), 0, "b");
    tables_->addForum(integer(3), integer(8), 0, "c");
    QCOMPARE(tables_->sectionCount(), qint64(6));
    QCOMPARE(tables_->forumCount(), qint64(3));
    QCOMPARE(tables_->forumsWithoutSection(), qint64(2));
    QCOMPARE(tables_->repeatedSectionIds(), (std::vector<qint64>{5, 6}));
}

// The tables are emptied a slice at a time, the sections first, so that the
// commits between the slices each write what one slice freed.
void tst_Database::emptyingGoesASliceAtATime()
{
    db::Transaction t(tables_->database());
    for (int i = 1; i <= 5; ++i)
        tables_->addSection(i, integer(i), "s");
    for (int i = 1; i <= 7; ++i)
        tables_->addForum(integer(i), integer(1), 1, "f");
    tables_->flush();
    QList<qint64> left;
    while (tables_->emptySome(3))
        left << tables_->sectionCount() * 100 + tables_->forumCount();
    QCOMPARE(left, (QList<qint64>{207, 7, 4, 1, 0}));
    t.commit();
}

void tst_Database::createsNothingInTheFile()
{
    tables_.reset();
    const QStringList before = schemaOf(file());
    {
        db::Tables tables(dir_->dir());
        db::Transaction t(tables.database());
        while (tables.emptySome(100)) {
        }
        tables.addSection(1, integer(1), "x");
        tables.addForum(integer(1), integer(1), 1, "y");
        tables.flush();
        t.commit();
    }
    QCOMPARE(schemaOf(file()), before);
}

void tst_Database::refusedAtOnceBesideAnotherWriter(qint64 limitMs)
{
    EngineConnection other(file());
    QCOMPARE(other.exec("BEGIN IMMEDIATE"), SQLITE_OK);
    QElapsedTimer waited;
    waited.start();
    QCOMPARE(failureOf([&] { db::Transaction t(tables_->database()); }), QStringLiteral("database is locked"));
    QVERIFY2(waited.elapsed() < limitMs, qPrintable(QString::number(waited.elapsed())));
    QCOMPARE(other.exec("ROLLBACK"), SQLITE_OK);
}

void tst_Database::anotherWriterMakesTheTransactionFailAtOnce()
{
    refusedAtOnceBesideAnotherWriter(5000); // at once, not after a wait
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(failureOf([&] { db::Transaction(tables_->database()).commit(); }), QStringLiteral("<no failure>"));
}

void tst_Database::aFolderIsLockedForOneAtATime()
{
    {
        const db::FolderLock first(dir_->dir());
        QCOMPARE(failureOf([&] { db::FolderLock second(dir_->dir()); }), QStringLiteral("database is locked"));
    }
    QCOMPARE(failureOf([&] { db::FolderLock again(dir_->dir()); }), QStringLiteral("<no failure>"));
}

// Another process is kept out as well: flock, as the shell's tool takes it.
void tst_Database::theShellsFlockIsKeptOut()
{
#ifdef Q_OS_WIN
    QSKIP("flock is the Linux shell's tool; tst_Cli keeps a second twin out of a folder on every system");
#endif
    const db::FolderLock first(dir_->dir());
    QProcess p;
    p.start(QStringLiteral("flock"), {QStringLiteral("-n"), dir_->dir(), QStringLiteral("true")});
    QVERIFY(p.waitForFinished(10000));
    QCOMPARE(p.exitCode(), 1);
}

// As another connection holds the file while it commits.
void tst_Database::openingWaitsForAnotherConnectionsExclusiveLock()
{
    tables_.reset();
    EngineConnection other(file());
    QCOMPARE(other.exec("BEGIN EXCLUSIVE;"), SQLITE_OK);
    // Shows that the lock is one a plain opening would fail on.
    QCOMPARE(EngineConnection(file()).exec("SELECT count(*) FROM Razdel_table"), SQLITE_BUSY);

    std::thread closer([&other] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        other.close();
    });
    QCOMPARE(failureOf([&] { tables_ = std::make_unique<db::Tables>(dir_->dir()); }), QStringLiteral("<no failure>"));
    closer.join();
    // Open, a lock of another's fails at once again.
    refusedAtOnceBesideAnotherWriter(2500);
}

void tst_Database::closingWithAStatementOpenFails()
{
    db::Database database(file());
    {
        db::Statement open(database, "SELECT 1");
        QVERIFY(failureOf([&] { database.close(); }).startsWith(QLatin1String("unable to close")));
    }
    QCOMPARE(failureOf([&] { database.close(); }), QStringLiteral("<no failure>"));
}

void tst_Database::progressHandlerTicksDuringALongStatement()
{
    int ticks = 0;
    tables_->database().setProgressHandler([&] { ++ticks; });
    db::Statement count(tables_->database(),
                        "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 1000000) "
                        "SELECT count(*) FROM n");
    QVERIFY(count.step());
    QCOMPARE(count.integer(0), qint64(1000000));
    QVERIFY(ticks > 10);
    tables_->database().setProgressHandler({});
    const int before = ticks;
    count.reset();
    QVERIFY(count.step());
    QCOMPARE(ticks, before);
}

void tst_Database::openFailures_data()
{
    QTest::addColumn<QByteArray>("fileBytes"); // "<none>": no file; "<schema:...>": run that SQL
    QTest::addColumn<QString>("reason");
    QTest::newRow("missing file") << QByteArray("<none>") << "unable to open database file";
    QTest::newRow("not a database") << QByteArray(4096, 'x') << "file is not a database";
    QTest::newRow("no tables") << QByteArray("<schema:CREATE TABLE other(x)>") << "no such table: Razdel_table";
    QTest::newRow("forum table missing")
        << QByteArray("<schema:CREATE TABLE Razdel_table(id INTEGER PRIMARY KEY, old_id, str_value)>")
        << "no such table: Forum_table";
    QTest::newRow("a column missing")
        << QByteArray("<schema:CREATE TABLE Razdel_table(id INTEGER PRIMARY KEY, str_value)>")
        << "no such column: old_id";
}

void tst_Database::openFailures()
{
    QFETCH(QByteArray, fileBytes);
    QFETCH(QString, reason);
    QTemporaryDir tmp;
    const QString folder = tmp.path() + u'/';
    const QString path = folder + QStringLiteral("Database.mdb");
    if (fileBytes.startsWith("<schema:")) {
        QCOMPARE(EngineConnection(path).exec(fileBytes.mid(8).chopped(1).constData()), SQLITE_OK);
    } else if (fileBytes != "<none>") {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(fileBytes);
    }
    QCOMPARE(failureOf([&] { db::Tables tables(folder); }), reason);
    if (fileBytes == "<none>")
        QVERIFY(!QFile::exists(path)); // never creates a database
}

// The engine opens a file it may not write read-only without a word; a run
// would then fail at its first change, long after the window said nothing
// of it. Such a file is a failure to open, told when the program starts.
void tst_Database::aFileThatCannotBeWrittenIsNoDatabase()
{
    tables_.reset();
    {
        const ReadOnlyFile readOnly(file());
        if (writable(file()))
            QSKIP("the file stays writable for this user: neither its mode nor the immutable flag binds here");
        QCOMPARE(failureOf([&] { db::Database database(file()); }), QStringLiteral("attempt to write a readonly database"));
        QCOMPARE(failureOf([&] { db::Tables tables(dir_->dir()); }), QStringLiteral("attempt to write a readonly database"));
        try {
            db::Tables tables(dir_->dir());
        } catch (const db::DbError &e) {
            QCOMPARE(e.code(), SQLITE_READONLY);
        }
    }
    QCOMPARE(failureOf([&] { db::Tables tables(dir_->dir()); }), QStringLiteral("<no failure>"));
}

// A database an earlier version left in log mode, killed with committed
// rows still in its log: opening it keeps those rows and leaves one file in
// the rollback mode the run now writes in.
void tst_Database::aFileInLogModeIsFoldedBackWithItsLog()
{
    tables_.reset();
    EngineConnection old(file());
    QCOMPARE(old.exec("PRAGMA journal_mode=WAL; PRAGMA wal_autocheckpoint=0;"
                      "INSERT INTO Razdel_table(id, old_id, str_value) VALUES(1, 70, 'in the log');"),
             SQLITE_OK);
    QVERIFY(old.closeAsKilled({QStringLiteral("-wal")}));

    tables_ = std::make_unique<db::Tables>(dir_->dir());
    QCOMPARE(tableRows(file(), "Razdel_table", "old_id, str_value"), QStringList{"70|in the log"});
    QVERIFY(!QFileInfo::exists(file() + QStringLiteral("-wal")));
    {
        db::Transaction t(tables_->database());
        tables_->addSection(2, integer(71), "after");
        t.commit();
    }
    tables_.reset();
    QFile header(file());
    QVERIFY(header.open(QIODevice::ReadOnly));
    // Bytes 18 and 19: 1 for a rollback journal, 2 for a log.
    QCOMPARE(header.read(20).mid(18), QByteArray("\x01\x01", 2));
    QVERIFY(!QFileInfo::exists(file() + QStringLiteral("-wal")));
    QVERIFY(!QFileInfo::exists(file() + QStringLiteral("-journal")));
    QCOMPARE(tableRows(file(), "Razdel_table", "old_id"), (QStringList{"70", "71"}));
}

void tst_Database::aCommitWaitsForAnotherConnectionsReader_data()
{
    QTest::addColumn<int>("readForMs");
    QTest::addColumn<QString>("failure");
    QTest::newRow("a reader that ends") << 300 << QStringLiteral("<no failure>");
    QTest::newRow("a reader that outlasts the wait")
        << db::Database::commitWaitMs + 3000 << QStringLiteral("database is locked");
}

// Another program reading the file holds it for its reading: the commit
// waits for it, with the run's tick going on, and fails only after a bound.
void tst_Database::aCommitWaitsForAnotherConnectionsReader()
{
    QFETCH(int, readForMs);
    QFETCH(QString, failure);
    EngineConnection reader(file());
    QVERIFY(reader.isOpen());
    int ticks = 0;
    tables_->database().setProgressHandler([&ticks] { ++ticks; });
    QElapsedTimer waited;
    {
        db::Transaction t(tables_->database());
        tables_->addSection(1, integer(5), "x");
        QCOMPARE(reader.exec("BEGIN; SELECT count(*) FROM Razdel_table;"), SQLITE_OK);
        std::thread ends([&reader, readForMs] {
            std::this_thread::sleep_for(std::chrono::milliseconds(readForMs));
            reader.exec("COMMIT");
        });
        waited.start();
        const QString got = failureOf([&] { t.commit(); });
        const qint64 ms = waited.elapsed();
        ends.join();
        QCOMPARE(got, failure);
        QVERIFY2(ms >= qMin(readForMs, db::Database::commitWaitMs) - 50, qPrintable(QString::number(ms)));
        QVERIFY(ticks > 0);
    }
    tables_->database().setProgressHandler({});
    reader.close();
    QCOMPARE(tableRows(file(), "Razdel_table", "old_id"), failure == QStringLiteral("<no failure>") ? QStringList{"5"} : QStringList{});
    // Afterwards a transaction another writer holds is refused at once again.
    refusedAtOnceBesideAnotherWriter(1000);
}

void tst_Database::trimsEngineText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("trimmed");
    QTest::newRow("full stop and break") << "Disk full.\r\n" << "Disk full";
    QTest::newRow("several stops and blanks") << "Bad thing. . \t" << "Bad thing";
    QTest::newRow("inner stops stay") << "a.b" << "a.b";
    QTest::newRow("nothing to trim") << "no such table: x" << "no such table: x";
    QTest::newRow("all trimmed") << " .\n" << "";
}

void tst_Database::trimsEngineText()
{
    QFETCH(QString, text);
    QFETCH(QString, trimmed);
    QCOMPARE(db::trimEngineText(text), trimmed);
}

QTEST_GUILESS_MAIN(tst_Database)
#include "tst_Database.moc"
