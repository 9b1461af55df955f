// `cmake --install build --prefix DIR` as a user runs it, into a prefix whose
// name has a space, Cyrillic letters, a dollar and a percent sign: what lands
// where, and the installed twin run through its link from another folder.
#include "../core/EngineConnection.h"
#include "../core/ProgramDir.h"

#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <sqlite3.h>

class tst_Install : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void programFolderHoldsBothProgramsAndAnEmptyDatabase();
    void installedTwinRunsThroughItsLinkInItsOwnFolder();
    void menuEntryStartsTheInstalledWindow();
    void iconAtEverySize_data();
    void iconAtEverySize();
    void menuEntryNamesTheProgramWhereItRuns_data();
    void menuEntryNamesTheProgramWhereItRuns();
    void installingAgainEmptiesTheDatabaseAndKeepsTheOutputs();
    void installingAgainDropsWhatAKilledRunLeftOfTheOldDatabase_data();
    void installingAgainDropsWhatAKilledRunLeftOfTheOldDatabase();

private:
    QString installed(const QString &relative) const { return prefix_ + QLatin1Char('/') + relative; }

    QTemporaryDir root_;
    QString prefix_;
};

namespace {

const QString sectionsExample = QStringLiteral(REINDEX_SOURCE_DIR "/examples/sections.txt");
const QString forumsExample = QStringLiteral(REINDEX_SOURCE_DIR "/examples/forums.txt");

QString programFolder()
{
#ifdef Q_OS_WIN
    return QStringLiteral(".");
#else
    return QStringLiteral("lib/reindex");
#endif
}

QString exe(const QString &name)
{
#ifdef Q_OS_WIN
    return name + QStringLiteral(".exe");
#else
    return name;
#endif
}

qint64 rowsOf(sqlite3 *db, const char *table)
{
    sqlite3_stmt *statement = nullptr;
    const QByteArray sql = QByteArray("SELECT count(*) FROM ") + table;
    if (sqlite3_prepare_v2(db, sql.constData(), -1, &statement, nullptr) != SQLITE_OK)
        return -1;
    const qint64 n = sqlite3_step(statement) == SQLITE_ROW ? sqlite3_column_int64(statement, 0) : -1;
    sqlite3_finalize(statement);
    return n;
}

// Sections and forums in a database file; -1 for a table it cannot count.
std::pair<qint64, qint64> rowsIn(const QString &database)
{
    sqlite3 *db = nullptr;
    if (sqlite3_open_v2(database.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        return {-1, -1};
    }
    const std::pair<qint64, qint64> rows{rowsOf(db, "Razdel_table"), rowsOf(db, "Forum_table")};
    sqlite3_close(db);
    return rows;
}

// The program an entry's Exec key starts, read back by the entry format's
// own rules, strictly: the string escapes first, then the quoting of its one
// argument. Anything those rules do not allow comes back as "<...>".
QString execProgram(const QString &value)
{
    QString unescaped;
    for (qsizetype i = 0; i < value.size(); ++i) {
        if (value[i] != QLatin1Char('\\')) {
            unescaped += value[i];
            continue;
        }
        const QChar next = i + 1 < value.size() ? value[++i] : QChar();
        static const QMap<QChar, QChar> escapes{{u's', u' '}, {u'n', u'\n'}, {u't', u'\t'}, {u'r', u'\r'}, {u'\\', u'\\'}};
        if (!escapes.contains(next))
            return QStringLiteral("<no such string escape: \\%1>").arg(next);
        unescaped += escapes.value(next);
    }
    if (unescaped.size() < 2 || !unescaped.startsWith(QLatin1Char('"')) || !unescaped.endsWith(QLatin1Char('"')))
        return QStringLiteral("<not one quoted argument: %1>").arg(unescaped);
    const QString quoted = unescaped.mid(1, unescaped.size() - 2);
    QString program;
    for (qsizetype i = 0; i < quoted.size(); ++i) {
        const QChar c = quoted[i];
        const QChar next = i + 1 < quoted.size() ? quoted[i + 1] : QChar();
        if (c == QLatin1Char('\\')) {
            if (!QStringLiteral("\"`$\\").contains(next))
                return QStringLiteral("<no such quoted escape: \\%1>").arg(next);
            program += next;
            ++i;
        } else if (c == QLatin1Char('%')) {
            if (next != QLatin1Char('%'))
                return QStringLiteral("<a field code in the program's name: %%1>").arg(next);
            program += next;
            ++i;
        } else if (QStringLiteral("\"`$").contains(c)) {
            return QStringLiteral("<unescaped %1 inside the quotes>").arg(c);
        } else {
            program += c;
        }
    }
    return program;
}

QMap<QString, QString> entryKeys(const QString &path)
{
    QMap<QString, QString> keys;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return keys;
    for (const QString &line : QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'))) {
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals > 0)
            keys.insert(line.left(equals), line.mid(equals + 1));
    }
    return keys;
}

// Runs `cmake --install` on the build as a user would, from `workingDirectory`,
// with DESTDIR set only when `destdir` is not empty. Returns its output when
// it fails, an empty string when it succeeds.
QString install(const QString &prefix, const QString &workingDirectory, const QString &destdir = QString())
{
    QProcess cmake;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("DESTDIR"));
    if (!destdir.isEmpty())
        environment.insert(QStringLiteral("DESTDIR"), destdir);
    cmake.setProcessEnvironment(environment);
    cmake.setWorkingDirectory(workingDirectory);
    cmake.setProcessChannelMode(QProcess::MergedChannels);
    cmake.start(QStringLiteral(REINDEX_CMAKE),
                {QStringLiteral("--install"), QStringLiteral(REINDEX_BUILD_DIR), QStringLiteral("--prefix"), prefix});
    if (!cmake.waitForFinished(60000))
        return QStringLiteral("cmake --install did not finish");
    if (cmake.exitStatus() != QProcess::NormalExit || cmake.exitCode() != 0)
        return QStringLiteral("cmake --install failed:\n") + QString::fromLocal8Bit(cmake.readAll());
    return QString();
}

} // namespace

void tst_Install::initTestCase()
{
    if (!REINDEX_CMAKE_RUNS_HERE)
        QSKIP("cross-built: the build machine's cmake cannot install from here; scripts/test.sh windows tries the "
              "program folder of the zip a Windows user unzips instead");
    QVERIFY(root_.isValid());
#ifdef Q_OS_WIN
    prefix_ = root_.filePath(QStringLiteral(u"мой софт/reindex $HOME 100%"));
#else
    prefix_ = root_.filePath(QStringLiteral(u"мой софт/\"reindex\" `$HOME` 100%"));
#endif
    const QString failure = install(prefix_, root_.path());
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
}

void tst_Install::programFolderHoldsBothProgramsAndAnEmptyDatabase()
{
    QStringList programs{exe(QStringLiteral("reindex-cli"))};
    if (REINDEX_WITH_WINDOW)
        programs << exe(QStringLiteral("reindex"));
    for (const QString &name : programs) {
        const QFileInfo program(installed(programFolder() + QLatin1Char('/') + name));
        QVERIFY2(program.isFile() && program.isExecutable(), qPrintable(program.filePath()));
    }

    // The build's own database holds whatever was run there; the installed
    // one must start with both tables and no rows.
    const QString database = installed(programFolder() + QStringLiteral("/Database.mdb"));
    QCOMPARE(rowsIn(database), std::make_pair(qint64(0), qint64(0)));
    QVERIFY(QFileInfo(database).isWritable());
}

void tst_Install::installedTwinRunsThroughItsLinkInItsOwnFolder()
{
#ifdef Q_OS_WIN
    const QString command = installed(exe(QStringLiteral("reindex-cli")));
#else
    const QString command = installed(QStringLiteral("bin/reindex-cli"));
    QVERIFY(QFileInfo(command).isSymLink());
#endif
    const QString &sections = sectionsExample;
    const QString &forums = forumsExample;

    // What the build's twin makes of the examples in a folder of its own.
    ProgramDir expected;
    QCOMPARE(QProcess::execute(QStringLiteral(REINDEX_BIN_DIR "/reindex-cli"),
                               {QStringLiteral("--dir"), expected.dir(), sections, forums}),
             0);

    QTemporaryDir elsewhere;
    QProcess twin;
    twin.setWorkingDirectory(elsewhere.path());
    twin.start(command, {sections, forums});
    QVERIFY(twin.waitForFinished(30000));
    QCOMPARE(twin.readAllStandardError(), QByteArray());
    QCOMPARE(QString::fromUtf8(twin.readAllStandardOutput()), QStringLiteral(u"Обработка завершена!\n"));
    QCOMPARE(twin.exitCode(), 0);

    for (const QString &name : {QStringLiteral("fr_fr.txt"), QStringLiteral("forum.txt")}) {
        QFile output(installed(programFolder() + QLatin1Char('/') + name));
        QVERIFY2(output.open(QIODevice::ReadOnly), qPrintable(output.fileName()));
        QCOMPARE(output.readAll(), expected.read(name));
    }
    QVERIFY(QDir(elsewhere.path()).isEmpty());
}

void tst_Install::menuEntryStartsTheInstalledWindow()
{
#ifdef Q_OS_WIN
    QSKIP("a Windows copy has no freedesktop menu entry");
#endif
    if (!REINDEX_WITH_WINDOW)
        QSKIP("built without the window program");
    const QString entry = installed(QStringLiteral("share/applications/reindex.desktop"));
    QVERIFY2(QString(REINDEX_DESKTOP_FILE_VALIDATE).endsWith(QLatin1String("desktop-file-validate")),
             "desktop-file-validate was not found when configuring: install desktop-file-utils");
    QProcess validate;
    validate.setProcessChannelMode(QProcess::MergedChannels);
    validate.start(QStringLiteral(REINDEX_DESKTOP_FILE_VALIDATE), {entry});
    QVERIFY(validate.waitForFinished(30000));
    QVERIFY2(validate.exitCode() == 0, validate.readAll().constData());

    const QMap<QString, QString> keys = entryKeys(entry);
    QCOMPARE(keys.value(QStringLiteral("Name")), QStringLiteral(u"Переиндексация БД"));
    QCOMPARE(keys.value(QStringLiteral("Icon")), QStringLiteral("reindex"));
    QCOMPARE(execProgram(keys.value(QStringLiteral("Exec"))), installed(programFolder() + QStringLiteral("/reindex")));
}

void tst_Install::iconAtEverySize_data()
{
    QTest::addColumn<int>("size");
    for (int size : {16, 24, 32, 48, 128})
        QTest::addRow("%dx%d", size, size) << size;
}

void tst_Install::iconAtEverySize()
{
#ifdef Q_OS_WIN
    QSKIP("a Windows copy carries its icon in the program file");
#endif
    if (!REINDEX_WITH_WINDOW)
        QSKIP("built without the window program");
    QFETCH(int, size);
    const QImage icon(installed(QStringLiteral("share/icons/hicolor/%1x%1/apps/reindex.png").arg(size)));
    QVERIFY(!icon.isNull());
    QCOMPARE(icon.size(), QSize(size, size));
}

void tst_Install::menuEntryNamesTheProgramWhereItRuns_data()
{
    QTest::addColumn<QString>("prefix");      // %R: a temporary folder
    QTest::addColumn<QString>("destdir");     // empty: none
    QTest::addColumn<QString>("entryLandsIn"); // the prefix the files are under
    QTest::addColumn<QString>("programIn");   // the prefix Exec names
    QTest::newRow("relative prefix, from where cmake runs") << "rel" << QString() << "%R/rel" << "%R/rel";
    // A package build stages under DESTDIR; the menu will start the program
    // from the prefix it is unpacked to.
    QTest::newRow("staged under DESTDIR") << "/opt/reindex-test" << "%R/stage" << "%R/stage/opt/reindex-test"
                                          << "/opt/reindex-test";
}

void tst_Install::menuEntryNamesTheProgramWhereItRuns()
{
#ifdef Q_OS_WIN
    QSKIP("a Windows copy has no freedesktop menu entry");
#endif
    if (!REINDEX_WITH_WINDOW)
        QSKIP("built without the window program");
    QFETCH(QString, prefix);
    QFETCH(QString, destdir);
    QFETCH(QString, entryLandsIn);
    QFETCH(QString, programIn);
    QTemporaryDir root;
    QVERIFY(root.isValid());
    const auto expand = [&](QString text) { return text.replace(QLatin1String("%R"), root.path()); };
    const QString failure = install(prefix, root.path(), expand(destdir));
    QVERIFY2(failure.isEmpty(), qPrintable(failure));

    const QString landed = expand(entryLandsIn);
    QVERIFY(QFileInfo(landed + QStringLiteral("/lib/reindex/reindex")).isExecutable());
    const QMap<QString, QString> keys = entryKeys(landed + QStringLiteral("/share/applications/reindex.desktop"));
    QCOMPARE(execProgram(keys.value(QStringLiteral("Exec"))), expand(programIn) + QStringLiteral("/lib/reindex/reindex"));
    QVERIFY(!QFileInfo::exists(QStringLiteral("/opt/reindex-test")));
}

// The README promises it: installing over a copy that has run gives an empty
// database, keeps the outputs and leaves working links.
void tst_Install::installingAgainEmptiesTheDatabaseAndKeepsTheOutputs()
{
    QTemporaryDir root;
    QVERIFY(root.isValid());
    const QString prefix = root.filePath(QStringLiteral("again"));
    QString failure = install(prefix, root.path());
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    const QString folder = prefix + QLatin1Char('/') + programFolder() + QLatin1Char('/');
    QCOMPARE(QProcess::execute(folder + exe(QStringLiteral("reindex-cli")), {sectionsExample, forumsExample}), 0);
    QCOMPARE(rowsIn(folder + QStringLiteral("Database.mdb")), std::make_pair(qint64(3), qint64(5)));
    QFile forums(folder + QStringLiteral("forum.txt"));
    QVERIFY(forums.open(QIODevice::ReadOnly));
    const QByteArray outputs = forums.readAll();
    forums.close();
    QVERIFY(!outputs.isEmpty());

    failure = install(prefix, root.path());
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    QCOMPARE(rowsIn(folder + QStringLiteral("Database.mdb")), std::make_pair(qint64(0), qint64(0)));
    QVERIFY(forums.open(QIODevice::ReadOnly));
    QCOMPARE(forums.readAll(), outputs);
#ifndef Q_OS_WIN
    const QFileInfo link(prefix + QStringLiteral("/bin/reindex-cli"));
    QVERIFY(link.isSymLink());
    QCOMPARE(link.canonicalFilePath(), QFileInfo(folder + QStringLiteral("reindex-cli")).canonicalFilePath());
#endif
}

// A run killed in the folder leaves the engine's journal beside the database
// (an earlier version: its log and the log's index). Installing again must
// not pair those with the new, empty file: the engine would play them into
// it (rows that are not there, or a malformed database on every later run).
void tst_Install::installingAgainDropsWhatAKilledRunLeftOfTheOldDatabase_data()
{
    QTest::addColumn<QByteArray>("making");
    QTest::addColumn<QStringList>("leftovers"); // beside Database.mdb
    // A transaction in the midst of emptying the table, with a cache so
    // small that the engine has already synced its journal and written
    // pages into the file: the journal is hot, as a kill leaves it.
    QTest::newRow("a journal") << QByteArray("PRAGMA cache_size=2; BEGIN; DELETE FROM Forum_table;")
                               << QStringList{QStringLiteral("-journal")};
    // Rows committed to the log only, the log never folded into the file.
    QTest::newRow("an earlier version's log")
        << QByteArray("PRAGMA journal_mode=WAL; PRAGMA wal_autocheckpoint=0;"
                      "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 3000)"
                      " INSERT INTO Forum_table(old_id, podrazdel_id, new_id, str_value)"
                      " SELECT i, 1, 1, 'a forum left in the log' FROM n;")
        << QStringList{QStringLiteral("-wal"), QStringLiteral("-shm")};
}

void tst_Install::installingAgainDropsWhatAKilledRunLeftOfTheOldDatabase()
{
    QFETCH(QByteArray, making);
    QFETCH(QStringList, leftovers);
    QTemporaryDir root;
    QVERIFY(root.isValid());
    const QString prefix = root.filePath(QStringLiteral("again"));
    QString failure = install(prefix, root.path());
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    const QString folder = prefix + QLatin1Char('/') + programFolder() + QLatin1Char('/');
    const QString database = folder + QStringLiteral("Database.mdb");

    EngineConnection db(database);
    QVERIFY(db.isOpen());
    QCOMPARE(db.exec("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 3000)"
                     " INSERT INTO Forum_table(old_id, podrazdel_id, new_id, str_value)"
                     " SELECT i, 1, 1, 'a forum of the old file' FROM n;"),
             SQLITE_OK);
    QCOMPARE(db.exec(making.constData()), SQLITE_OK);
    QVERIFY(db.closeAsKilled(leftovers));

    failure = install(prefix, root.path());
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    for (const QString &suffix : std::as_const(leftovers))
        QVERIFY2(!QFileInfo::exists(database + suffix), qPrintable(suffix));
    QCOMPARE(rowsIn(database), std::make_pair(qint64(0), qint64(0)));
    QCOMPARE(QProcess::execute(folder + exe(QStringLiteral("reindex-cli")), {sectionsExample, forumsExample}), 0);
    QCOMPARE(rowsIn(database), std::make_pair(qint64(3), qint64(5)));
}

QTEST_GUILESS_MAIN(tst_Install)
#include "tst_Install.moc"
