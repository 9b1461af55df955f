// `cmake --install build --prefix DIR` as a user runs it, into a prefix whose
// name has a space, Cyrillic letters, a dollar and a percent sign: what lands
// where, and the installed twin run through its link from another folder.
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

private:
    QString installed(const QString &relative) const { return prefix_ + QLatin1Char('/') + relative; }

    QTemporaryDir root_;
    QString prefix_;
};

namespace {

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

// The command an entry's Exec key holds, read back by the entry format's own
// rules: the string escapes first, then the quoting of the one argument.
QString execProgram(const QString &value)
{
    QString unescaped;
    for (qsizetype i = 0; i < value.size(); ++i) {
        if (value[i] == QLatin1Char('\\') && i + 1 < value.size()) {
            const QChar next = value[++i];
            unescaped += next == QLatin1Char('s') ? QStringLiteral(" ") : QString(next);
        } else {
            unescaped += value[i];
        }
    }
    if (!unescaped.startsWith(QLatin1Char('"')) || !unescaped.endsWith(QLatin1Char('"')))
        return QStringLiteral("<not one quoted argument: %1>").arg(unescaped);
    const QString quoted = unescaped.mid(1, unescaped.size() - 2);
    QString program;
    for (qsizetype i = 0; i < quoted.size(); ++i) {
        if (quoted[i] == QLatin1Char('\\') && i + 1 < quoted.size())
            program += quoted[++i];
        else if (quoted[i] == QLatin1Char('%') && i + 1 < quoted.size() && quoted[i + 1] == QLatin1Char('%'))
            program += quoted[++i];
        else
            program += quoted[i];
    }
    return program;
}

} // namespace

void tst_Install::initTestCase()
{
    QVERIFY(root_.isValid());
    prefix_ = root_.filePath(QStringLiteral(u"мой софт/reindex $HOME 100%"));
    QProcess install;
    install.setProcessChannelMode(QProcess::MergedChannels);
    install.start(QStringLiteral(REINDEX_CMAKE),
                  {QStringLiteral("--install"), QStringLiteral(REINDEX_BUILD_DIR), QStringLiteral("--prefix"), prefix_});
    QVERIFY(install.waitForFinished(60000));
    QVERIFY2(install.exitStatus() == QProcess::NormalExit && install.exitCode() == 0,
             install.readAll().constData());
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
    sqlite3 *db = nullptr;
    QCOMPARE(sqlite3_open_v2(database.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    const qint64 sections = rowsOf(db, "Razdel_table");
    const qint64 forums = rowsOf(db, "Forum_table");
    sqlite3_close(db);
    QCOMPARE(sections, 0);
    QCOMPARE(forums, 0);
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
    const QString sections = QStringLiteral(REINDEX_SOURCE_DIR "/examples/sections.txt");
    const QString forums = QStringLiteral(REINDEX_SOURCE_DIR "/examples/forums.txt");

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

    QFile file(entry);
    QVERIFY(file.open(QIODevice::ReadOnly | QIODevice::Text));
    QMap<QString, QString> keys;
    for (const QString &line : QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'))) {
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals > 0)
            keys.insert(line.left(equals), line.mid(equals + 1));
    }
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

QTEST_GUILESS_MAIN(tst_Install)
#include "tst_Install.moc"
