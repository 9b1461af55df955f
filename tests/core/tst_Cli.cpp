#include "ProgramDir.h"

#include <TestSystem.h>

#include <db/FolderLock.h>

#include <QProcess>
#include <QTest>

namespace {

QString twin()
{
    return testSystem::programName(QStringLiteral("reindex-cli"));
}

} // namespace

// The headless twin as a script sees it: exit codes, stdout and stderr.
class tst_Cli : public QObject
{
    Q_OBJECT

private slots:
    void answers_data();
    void answers();
    void usesItsOwnFolderWhateverTheCurrentDirectory();
    void aRunStartedWhileAnotherHasTheFolderIsRefused();
    void aTwinIsRefusedWhileAnotherProcessHasTheFolder();
    void twoRunsStartedTogetherInOneFolder();
};

void tst_Cli::answers_data()
{
    QTest::addColumn<QStringList>("arguments"); // %D: the program folder
    QTest::addColumn<bool>("withDatabase");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("out");
    QTest::addColumn<QString>("err");

    QTest::newRow("completed") << QStringList{"%D/s.txt", "%D/f.txt"} << true << 0
                               << QStringLiteral(u"Обработка завершена!\n") << QString();
    QTest::newRow("sections missing") << QStringList{"%D/none.txt", "%D/f.txt"} << true << 3 << QString()
                                      << QStringLiteral(u"Указан несуществующий файл \"fr_fr.txt\"!\n"
                                                         "reindex-cli: sections list: no such file: %D/none.txt\n");
    QTest::newRow("forums missing") << QStringList{"%D/s.txt", "%D"} << true << 3 << QString()
                                    << QStringLiteral(u"Указан несуществующий файл \"forum.txt\"!\n"
                                                       "reindex-cli: forums list: is a folder, not a file: %D\n");
    QTest::newRow("run fails: report text with its full stop")
        << QStringList{"%D/bad.txt", "%D/f.txt"} << true << 1 << QString()
        << QStringLiteral(u"Файл \"%D/bad.txt\", строка 1: идентификатор \"x\" не является целым числом.\n");
    QTest::newRow("no database") << QStringList{"%D/s.txt", "%D/f.txt"} << false << 4 << QString()
                                 << QStringLiteral(u"Ошибка соединения с базой данных!\nunable to open database file\n"
                                                                  "reindex-cli: could not open the database %D/Database.mdb\n");
    QTest::newRow("one file only") << QStringList{"%D/s.txt"} << true << 2 << QString()
                                   << QStringLiteral("reindex-cli: expected two files, SECTIONS and FORUMS\n"
                                                     "Try 'reindex-cli --help'.\n");
    QTest::newRow("unknown option") << QStringList{"--fast", "a", "b"} << true << 2 << QString()
                                    << QStringLiteral("reindex-cli: unknown option '--fast'\nTry 'reindex-cli --help'.\n");
    QTest::newRow("version") << QStringList{"--version"} << false << 0 << QStringLiteral("reindex-cli 1.0.0\n") << QString();
}

void tst_Cli::answers()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, withDatabase);
    QFETCH(int, exitCode);
    QFETCH(QString, out);
    QFETCH(QString, err);
    ProgramDir dir;
    QVERIFY(QFile::copy(QStringLiteral(REINDEX_BIN_DIR "/") + twin(), dir.path(twin())));
    if (!withDatabase)
        QVERIFY(QFile::remove(dir.path("Database.mdb")));
    dir.write("s.txt", "10|News\r\n20|Help\r\n");
    dir.write("f.txt", "5|20|FAQ\r\n6|99|Old\r\n");
    dir.write("bad.txt", "x|y\r\n");
    const QString folder = QDir(dir.dir()).absolutePath();
    for (QString &a : arguments)
        a.replace(QLatin1String("%D"), folder);

    QProcess p;
    p.start(dir.path(twin()), arguments);
    QVERIFY(p.waitForFinished(60000));
    // Paths are shown in the system's own spelling.
    QCOMPARE(QString::fromUtf8(p.readAllStandardError()),
             QDir::toNativeSeparators(QString(err).replace(QLatin1String("%D"), folder)));
    QCOMPARE(QString::fromUtf8(p.readAllStandardOutput()), out);
    QCOMPARE(p.exitCode(), exitCode);
    QCOMPARE(dir.has("forum.txt"), exitCode == 0 && !arguments.contains("--version"));
}

void tst_Cli::usesItsOwnFolderWhateverTheCurrentDirectory()
{
    ProgramDir dir;
    QTemporaryDir elsewhere;
    QVERIFY(QFile::copy(QStringLiteral(REINDEX_BIN_DIR "/") + twin(), dir.path(twin())));
    QFile s(elsewhere.filePath("s.txt"));
    QVERIFY(s.open(QIODevice::WriteOnly));
    s.write("1|a\r\n");
    s.close();
    QFile f(elsewhere.filePath("f.txt"));
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("7|1|b\r\n");
    f.close();
    QProcess p;
    p.setWorkingDirectory(elsewhere.path());
    p.start(dir.path(twin()), {"s.txt", "f.txt"}); // relative names: the current directory
    QVERIFY(p.waitForFinished(60000));
    QCOMPARE(p.exitCode(), 0);
    QCOMPARE(dir.read("fr_fr.txt"), QByteArray("1|a\r\n"));
    QCOMPARE(dir.read("forum.txt"), QByteArray("7|1|b\r\n"));
    QVERIFY(!QFile::exists(elsewhere.filePath("fr_fr.txt")));
}

namespace {

// A run long enough that another starts while it goes on, and a run of one line.
struct TwoRuns
{
    ProgramDir dir;
    QByteArray sections, forums;

    TwoRuns()
    {
        QVERIFY(QFile::copy(QStringLiteral(REINDEX_BIN_DIR "/") + twin(), dir.path(twin())));
        for (int i = 1; i <= 1000; ++i)
            sections += QByteArray::number(i) + "|section " + QByteArray::number(i) + "\r\n";
        for (int i = 1; i <= 300000; ++i)
            forums += QByteArray::number(i) + '|' + QByteArray::number(i % 1000 + 1) + "|forum\r\n";
        dir.write("s.txt", sections);
        dir.write("f.txt", forums);
        dir.write("one-s.txt", "7|a\r\n");
        dir.write("one-f.txt", "8|7|b\r\n");
    }
    void startBig(QProcess &p) const { p.start(dir.path(twin()), {dir.path("s.txt"), dir.path("f.txt")}); }
    void startSmall(QProcess &p) const { p.start(dir.path(twin()), {dir.path("one-s.txt"), dir.path("one-f.txt")}); }
    bool bigOutputs() const
    {
        const QByteArray forumOut = dir.read("forum.txt");
        // Each section's number is its identifier here.
        return dir.read("fr_fr.txt") == sections && forumOut.startsWith("1|2|forum\r\n2|3|forum\r\n")
               && forumOut.count('\n') == 300000;
    }
    bool smallOutputs() const
    {
        return dir.read("fr_fr.txt") == QByteArray("1|a\r\n") && dir.read("forum.txt") == QByteArray("8|1|b\r\n");
    }
    bool noIntermediates() const { return !dir.has("1.txt") && !dir.has("2.txt"); }
};

} // namespace

// A run started while another has the folder is refused at once and changes
// nothing; the other completes with its own outputs.
void tst_Cli::aRunStartedWhileAnotherHasTheFolderIsRefused()
{
    TwoRuns runs;
    QProcess big, small;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("REINDEX_PHASE_TIMES"), QStringLiteral("1"));
    big.setProcessEnvironment(environment);
    big.setReadChannel(QProcess::StandardError); // where the phases are told
    runs.startBig(big);
    // The sections are in: the big run has had the folder since before them,
    // and 300,000 forums are still to come.
    QByteArray bigErr;
    while (!bigErr.contains("phase 1 done")) {
        QVERIFY2(big.waitForReadyRead(60000), "the big run ended before its first phase did");
        bigErr += big.readAllStandardError();
    }
    runs.startSmall(small);
    QVERIFY(small.waitForFinished(60000));
    // Where starting a process takes longer than the whole big run (under
    // Wine), the small one finds the folder free; that proves nothing either
    // way, and aTwinIsRefusedWhileAnotherProcessHasTheFolder holds it instead.
    if (small.exitCode() == 0 && (big.state() == QProcess::NotRunning || big.waitForFinished(0)))
        QSKIP("the first run was over before the second had started");
    QCOMPARE(QString::fromUtf8(small.readAllStandardError()), QStringLiteral("database is locked.\n"));
    QCOMPARE(QString::fromUtf8(small.readAllStandardOutput()), QString());
    QCOMPARE(small.exitCode(), 1);

    QVERIFY(big.waitForFinished(120000));
    QCOMPARE(big.exitCode(), 0);
    QCOMPARE(QString::fromUtf8(big.readAllStandardOutput()), QStringLiteral(u"Обработка завершена!\n"));
    QVERIFY(runs.bigOutputs());
    QVERIFY(runs.noIntermediates());
}

// The folder held by another process, as a run holds it (here the test's
// own): a twin started meanwhile is refused at once and changes nothing;
// once it is let go, the same twin runs.
void tst_Cli::aTwinIsRefusedWhileAnotherProcessHasTheFolder()
{
    TwoRuns runs;
    const QStringList before = runs.dir.entries();
    {
        const db::FolderLock held(runs.dir.dir());
        QProcess small;
        runs.startSmall(small);
        QVERIFY(small.waitForFinished(60000));
        QCOMPARE(QString::fromUtf8(small.readAllStandardError()), QStringLiteral("database is locked.\n"));
        QCOMPARE(QString::fromUtf8(small.readAllStandardOutput()), QString());
        QCOMPARE(small.exitCode(), 1);
        QCOMPARE(runs.dir.entries(), before);
    }
    QProcess again;
    runs.startSmall(again);
    QVERIFY(again.waitForFinished(60000));
    QCOMPARE(again.exitCode(), 0);
    QVERIFY(runs.smallOutputs());
    QVERIFY(runs.noIntermediates());
}

// Started at the same moment, either one has the folder and the other is
// refused, or the small one is over before the big one begins; whichever
// happens, the outputs are one run's whole pair and each completed run said so.
void tst_Cli::twoRunsStartedTogetherInOneFolder()
{
    TwoRuns runs;
    QProcess big, small;
    runs.startBig(big);
    runs.startSmall(small);
    QVERIFY(big.waitForFinished(120000));
    QVERIFY(small.waitForFinished(120000));
    for (QProcess *p : {&big, &small}) {
        const QString err = QString::fromUtf8(p->readAllStandardError());
        if (p->exitCode() == 0)
            QCOMPARE(err, QString());
        else
            QCOMPARE(err, QStringLiteral("database is locked.\n"));
    }
    QVERIFY(big.exitCode() == 0 || small.exitCode() == 0);
    if (big.exitCode() == 0)
        QVERIFY(runs.bigOutputs() || (small.exitCode() == 0 && runs.smallOutputs()));
    else
        QVERIFY(runs.smallOutputs());
    QVERIFY(runs.noIntermediates());
}

QTEST_GUILESS_MAIN(tst_Cli)
#include "tst_Cli.moc"
