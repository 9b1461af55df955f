#include "ProgramDir.h"

#include <TestSystem.h>

#include <QDirIterator>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <memory>

#include <unistd.h>
#ifndef Q_OS_WIN
#include <sys/stat.h>
#endif

// The twin's migration options as a script sees them: a copy of reindex-cli in
// a temporary folder with its own Database.mdb, run with real files.

namespace {

const QByteArray sectionsExample = "10|News\r\n20|Help\r\n";
const QByteArray forumsExample = "5|20|FAQ\r\n6|99|Old\r\n";
const QString completed = QStringLiteral(u"Обработка завершена!\n");

QString twinName()
{
    return testSystem::programName(QStringLiteral("reindex-cli"));
}

struct Outcome
{
    int exitCode = -1;
    QString out;
    QString err;
};

// A program folder holding a copy of the twin; %D in arguments and expected
// texts stands for that folder, %E for a second, empty folder beside it. A
// path in braces is one the twin shows in the system's own spelling
// ("{%D/s.txt}" is C:\...\s.txt on Windows); elsewhere it shows paths as
// they were given.
class Twin
{
public:
    Twin()
    {
        QVERIFY(QFile::copy(QStringLiteral(REINDEX_BIN_DIR "/") + twinName(), dir.path(twinName())));
        QVERIFY(other.isValid());
    }

    QString folder() const { return QDir(dir.dir()).absolutePath(); }
    QString otherFolder() const { return other.path(); }

    QString expand(QString text) const
    {
        text.replace(QLatin1String("%D"), folder()).replace(QLatin1String("%E"), otherFolder());
        static const QRegularExpression shown(QStringLiteral("\\{([^}]*)\\}"));
        for (QRegularExpressionMatch m = shown.match(text); m.hasMatch(); m = shown.match(text, m.capturedStart()))
            text.replace(m.capturedStart(), m.capturedLength(), QDir::toNativeSeparators(m.captured(1)));
        return text;
    }

    // Runs in the program folder unless told otherwise.
    Outcome run(QStringList arguments, const QString &workingDirectory = QString()) const
    {
        for (QString &a : arguments)
            a = expand(a);
        QProcess p;
        p.setWorkingDirectory(workingDirectory.isEmpty() ? folder() : workingDirectory);
        if (!standardOutputFile.isEmpty())
            p.setStandardOutputFile(standardOutputFile);
        p.start(dir.path(twinName()), arguments);
        return finish(p);
    }

    // The same with the program and its arguments as the bytes the system
    // passes: a name that is not UTF-8 would not survive a QString, so the
    // shell makes each one from printf's octal escapes. Empty `program`: the
    // twin in the program folder.
    Outcome runBytes(QByteArray program, QList<QByteArray> arguments) const
    {
        if (program.isEmpty())
            program = QFile::encodeName(dir.path("reindex-cli"));
        QByteArray script = "exec";
        for (QByteArray a : QList<QByteArray>{program} + arguments) {
            a.replace("%D", QFile::encodeName(folder())).replace("%E", QFile::encodeName(otherFolder()));
            QByteArray escaped;
            for (const char c : a) {
                if (std::isalnum(uchar(c)))
                    escaped += c;
                else
                    escaped += '\\' + QByteArray::number(uchar(c), 8).rightJustified(3, '0');
            }
            script += " \"$(printf '" + escaped + "')\"";
        }
        QProcess p;
        p.setWorkingDirectory(folder());
        p.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), QString::fromLatin1(script)});
        return finish(p);
    }

    // Every file under the folder with its bytes: what "touches nothing" compares.
    QMap<QString, QByteArray> snapshot() const
    {
        QMap<QString, QByteArray> out;
        QDirIterator it(folder(), QDir::Files | QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            QFile f(path);
            out.insert(QDir(folder()).relativeFilePath(path), f.open(QIODevice::ReadOnly) ? f.readAll() : "<dir>");
        }
        return out;
    }

    ProgramDir dir;
    QTemporaryDir other;
    QString standardOutputFile; // none: read by the test

private:
    static Outcome finish(QProcess &p)
    {
        Outcome o;
        if (!p.waitForFinished(60000))
            return o;
        o.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        o.out = QString::fromUtf8(p.readAllStandardOutput());
        o.err = QString::fromUtf8(p.readAllStandardError());
        return o;
    }
};

// Files and folders whose names are bytes that are not UTF-8: the toolkit's
// own file functions can neither make nor remove them, so they are made
// through the system's and all removed again when this goes.
class ByteNames
{
public:
    explicit ByteNames(const Twin &twin) : twin_(twin) {}
    ~ByteNames()
    {
        std::error_code ec;
        for (const QByteArray &path : made_)
            std::filesystem::remove_all(path.toStdString(), ec);
    }

    QByteArray path(QByteArray name) const
    {
        return name.replace("%D", QFile::encodeName(twin_.folder()))
            .replace("%E", QFile::encodeName(twin_.otherFolder()));
    }
    void write(const QByteArray &name, const QByteArray &bytes)
    {
        made_ << path(name);
        std::FILE *f = std::fopen(path(name).constData(), "wb");
        QVERIFY(f);
        QCOMPARE(std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), f), std::size_t(bytes.size()));
        std::fclose(f);
    }
    void makeFolder(const QByteArray &name)
    {
        made_ << path(name);
        QVERIFY(std::filesystem::create_directory(path(name).toStdString()));
    }
    void copy(const QString &from, const QByteArray &to)
    {
        std::error_code ec;
        std::filesystem::copy_file(QFile::encodeName(from).toStdString(), path(to).toStdString(), ec);
        QVERIFY2(!ec, ec.message().c_str());
        const std::string source = QFile::encodeName(from).toStdString();
        std::filesystem::permissions(path(to).toStdString(), std::filesystem::status(source).permissions());
    }
    QStringList entries(const QByteArray &folder) const
    {
        QStringList out;
        for (const auto &entry : std::filesystem::directory_iterator(path(folder).toStdString()))
            out << QString::fromStdString(entry.path().filename().string());
        out.sort();
        return out;
    }

private:
    const Twin &twin_;
    QList<QByteArray> made_;
};

} // namespace

class tst_CliOptions : public QObject
{
    Q_OBJECT

private slots:
    void check_data();
    void check();
    void report_data();
    void report();
    void map_data();
    void map();
    void mapKeepsWhoMayReadIt();
    void mapThatIsAFileOfTheRunIsRefused_data();
    void mapThatIsAFileOfTheRunIsRefused();
    void listsNamedLikeTheIntermediatesAreRefusedAndKept();
    void encodingGivesTheUtf8TwinsOutputs_data();
    void encodingGivesTheUtf8TwinsOutputs();
    void encodingRefusesUndecodableBytes_data();
    void encodingRefusesUndecodableBytes();
    void dir_data();
    void dir();
    void usageErrors_data();
    void usageErrors();
    void helpDocumentsEveryOption();
    void reportThatStdoutRefusesIsExit5_data();
    void reportThatStdoutRefusesIsExit5();
    void namesThatAreNotUtf8AreRefused_data();
    void namesThatAreNotUtf8AreRefused();
    void programFolderNotUtf8IsNoDatabase_data();
    void programFolderNotUtf8IsNoDatabase();
    void percentSignsInNamesStayAsTheyAre_data();
    void percentSignsInNamesStayAsTheyAre();
    void controlCharactersNeverReachTheTerminal_data();
    void controlCharactersNeverReachTheTerminal();
    void listsThatAreNoRegularFilesAreRefused_data();
    void listsThatAreNoRegularFilesAreRefused();
};

void tst_CliOptions::check_data()
{
    QTest::addColumn<QByteArray>("sections");
    QTest::addColumn<QByteArray>("forums");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("out");
    QTest::addColumn<QString>("err");

    const QStringList plain{"--check", "s.txt", "f.txt"};
    QTest::newRow("clean lists") << sectionsExample << QByteArray("5|20|FAQ\r\n") << plain << 0
                                 << "0 problems, 0 warnings\n" << QString();

    QTest::newRow("several problems, every one of them, names as given")
        << QByteArray("10|News\r\n"
                      "\r\n"
                      "x|Bad\r\n"
                      "010|Again\r\n"
                      "no separator\r\n"
                      "\xC3\x28|ill\r\n"
                      "2147483648|Big\r\n"
                      "\xFF|x\r\n")
        << QByteArray("5|10|FAQ\r\n"
                      "6|99|Orphan\r\n"
                      "7|\r\n"
                      "8\r\n"
                      "|10|No id\r\n"
                      " 9 |+ 010 |Spaces\r\n"
                      "y|z|Both\r\n"
                      "1|2|a\xE2\x82|b\r\n")
        << plain << 1 << "12 problems, 2 warnings\n"
        << "s.txt:1: warning: section identifier 10 is on lines 1, 4; its forums would get the number of the last, 4\n"
           "s.txt:2: empty line\n"
           "s.txt:3: identifier \"x\" is not a whole number\n"
           "s.txt:5: missing \"|\": a section line is ID|title\n"
           "s.txt:6: ill-formed UTF-8: byte 0xC3 at column 1\n"
           "s.txt:7: identifier \"2147483648\" is out of range (-2147483648 to 2147483647)\n"
           "s.txt:8: ill-formed UTF-8: byte 0xFF at column 1\n"
           "f.txt:2: warning: section identifier 99 names no section; the forum would get 0\n"
           "f.txt:3: missing the second \"|\": a forum line is ID|section ID|title\n"
           "f.txt:4: missing \"|\": a forum line is ID|section ID|title\n"
           "f.txt:5: empty identifier\n"
           "f.txt:7: identifier \"y\" is not a whole number\n"
           "f.txt:7: section identifier \"z\" is not a whole number\n"
           "f.txt:8: ill-formed UTF-8: byte 0xE2 at column 6\n";

    QTest::newRow("warnings alone pass; identifiers compare as numbers")
        << QByteArray("7|A\r\n-0|B\r\n+ 007|C\r\n") << QByteArray("1|0|x\r\n2|7|y\r\n3|-7|z\r\n")
        << QStringList{"--check", "%D/s.txt", "%D/f.txt"} << 0 << "0 problems, 2 warnings\n"
        << "%D/s.txt:1: warning: section identifier 7 is on lines 1, 3; its forums would get the number of the last, 3\n"
           "%D/f.txt:3: warning: section identifier -7 names no section; the forum would get 0\n";

    QTest::newRow("line numbers by the run's rule: signature, lone CR, LF")
        << QByteArray("\xEF\xBB\xBF" "1|a\r2|b\n\n3|c") << QByteArray("1|1|x\n\r2|2|y") << plain << 1
        << "2 problems, 0 warnings\n"
        << "s.txt:3: empty line\n"
           "f.txt:2: empty line\n";

    QTest::newRow("a second signature is part of the identifier")
        << QByteArray("\xEF\xBB\xBF\xEF\xBB\xBF" "1|a\r\n") << QByteArray() << plain << 1 << "1 problem, 0 warnings\n"
        << QString::fromUtf8("s.txt:1: identifier \"\xEF\xBB\xBF" "1\" is not a whole number\n");

    QTest::newRow("in a code page, each line that does not decode")
        << QByteArray("1|\xCD\xEE\xE2\xEE\xF1\xF2\xE8\r\n2|a\x98\r\n3|\x98\r\n") << QByteArray("1|1|x\r\n")
        << QStringList{"--check", "--encoding", "CP1251", "s.txt", "f.txt"} << 1 << "2 problems, 0 warnings\n"
        << "s.txt:2: undecodable in windows-1251: byte 0x98 at column 4\n"
           "s.txt:3: undecodable in windows-1251: byte 0x98 at column 3\n";

    QTest::newRow("a NUL byte is a problem, as it stops a run")
        << QByteArray("10|News\r\n20|He\0lp\r\n30|More\r\n", 28) << QByteArray("5|30|FAQ\r\n") << plain << 1
        << "1 problem, 0 warnings\n"
        << "s.txt:2: NUL byte at column 6\n";

    QTest::newRow("missing sections: the run's message, before anything is read")
        << sectionsExample << forumsExample << QStringList{"--check", "none.txt", "also-none.txt"} << 3 << QString()
        << QStringLiteral(u"Указан несуществующий файл \"fr_fr.txt\"!\n"
                          "reindex-cli: sections list: no such file: {%D/none.txt}\n");
    QTest::newRow("missing forums") << sectionsExample << forumsExample << QStringList{"--check", "s.txt", "%D"} << 3
                                    << QString()
                                    << QStringLiteral(u"Указан несуществующий файл \"forum.txt\"!\n"
                                                      "reindex-cli: forums list: is a folder, not a file: {%D}\n");
}

void tst_CliOptions::check()
{
    QFETCH(QByteArray, sections);
    QFETCH(QByteArray, forums);
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, out);
    QFETCH(QString, err);
    Twin twin;
    twin.dir.write("s.txt", sections);
    twin.dir.write("f.txt", forums);

    // Without a database: the check must not need one.
    QVERIFY(QFile::rename(twin.dir.path("Database.mdb"), twin.other.filePath("Database.mdb")));
    const QMap<QString, QByteArray> before = twin.snapshot();
    const Outcome checked = twin.run(arguments);
    QCOMPARE(checked.err, twin.expand(err));
    QCOMPARE(checked.out, twin.expand(out));
    QCOMPARE(checked.exitCode, exitCode);
    QCOMPARE(twin.snapshot(), before);

    // The verdict must be the run's own: the same lists run clean exactly when
    // the check passes them.
    QVERIFY(QFile::rename(twin.other.filePath("Database.mdb"), twin.dir.path("Database.mdb")));
    arguments.removeAll(QStringLiteral("--check"));
    const Outcome ran = twin.run(arguments);
    QCOMPARE(ran.exitCode, exitCode);
}

void tst_CliOptions::report_data()
{
    QTest::addColumn<QByteArray>("sections");
    QTest::addColumn<QByteArray>("forums");
    QTest::addColumn<QStringList>("counts"); // the lines before the timing, empty when no report
    QTest::addColumn<int>("exitCode");

    QTest::newRow("worked example") << sectionsExample << forumsExample
                                    << QStringList{"sections: 2", "forums: 2", "forums without a section: 1",
                                                   "repeated section identifiers: 0"}
                                    << 0;
    QTest::newRow("repeated identifiers by value, in order of first section")
        << QByteArray("30|A\r\n10|B\r\n010|C\r\n20|D\r\n+30|E\r\n") << QByteArray("1|10|x\r\n2|10|y\r\n3|5|z\r\n")
        << QStringList{"sections: 5", "forums: 3", "forums without a section: 1",
                       "repeated section identifiers: 2 (30, 10)"}
        << 0;
    QByteArray twelveTwice;
    for (int round = 0; round < 2; ++round) {
        for (int id = 1; id <= 12; ++id)
            twelveTwice += QByteArray::number(id) + "|t\r\n";
    }
    QTest::newRow("past ten repeated identifiers, the first ten")
        << twelveTwice << QByteArray()
        << QStringList{"sections: 24", "forums: 0", "forums without a section: 0",
                       "repeated section identifiers: 12 (1, 2, 3, 4, 5, 6, 7, 8, 9, 10, ...)"}
        << 0;
    QTest::newRow("empty lists") << QByteArray() << QByteArray()
                                 << QStringList{"sections: 0", "forums: 0", "forums without a section: 0",
                                                "repeated section identifiers: 0"}
                                 << 0;
    QTest::newRow("failed run: no report") << QByteArray("x|y\r\n") << forumsExample << QStringList() << 1;
}

void tst_CliOptions::report()
{
    QFETCH(QByteArray, sections);
    QFETCH(QByteArray, forums);
    QFETCH(QStringList, counts);
    QFETCH(int, exitCode);
    Twin twin;
    twin.dir.write("s.txt", sections);
    twin.dir.write("f.txt", forums);

    const Outcome o = twin.run({"--report", "s.txt", "f.txt"});
    QCOMPARE(o.exitCode, exitCode);
    if (counts.isEmpty()) {
        QCOMPARE(o.out, QString());
        return;
    }
    QVERIFY(o.out.endsWith(u'\n'));
    const QStringList lines = o.out.chopped(1).split(u'\n');
    QCOMPARE(lines.size(), 1 + counts.size() + 2);
    QCOMPARE(lines.first() + u'\n', completed);
    QCOMPARE(lines.mid(1, counts.size()), counts);

    // The timing cannot be known; it must at least be a time and a rate that agree.
    const QRegularExpressionMatch time =
        QRegularExpression(QStringLiteral("^wall time: (\\d+\\.\\d{3}) s$")).match(lines.at(counts.size() + 1));
    QVERIFY2(time.hasMatch(), qPrintable(lines.at(counts.size() + 1)));
    const QRegularExpressionMatch rate =
        QRegularExpression(QStringLiteral("^rows per second: (\\d+)$")).match(lines.at(counts.size() + 2));
    QVERIFY2(rate.hasMatch(), qPrintable(lines.at(counts.size() + 2)));
    const double seconds = time.captured(1).toDouble();
    const double perSecond = rate.captured(1).toDouble();
    const double rows = counts.at(0).section(u' ', 1).toDouble() + counts.at(1).section(u' ', 1).toDouble();
    // The time is shown rounded to a millisecond, the rate is worked from the exact one.
    QVERIFY2(qAbs(perSecond * seconds - rows) <= perSecond * 0.0005 + 1,
             qPrintable(QStringLiteral("%1 rows, %2 s, %3 per second").arg(rows).arg(seconds).arg(perSecond)));
}

void tst_CliOptions::map_data()
{
    QTest::addColumn<QByteArray>("sections");
    QTest::addColumn<QString>("mapArgument");
    QTest::addColumn<QString>("mapPath");     // where it should land; %C: the working directory
    QTest::addColumn<QByteArray>("previous"); // the map file before the run; empty: none
    QTest::addColumn<bool>("readOnly");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("map"); // afterwards
    QTest::addColumn<QString>("err");

    QTest::newRow("worked example") << sectionsExample << "%D/map.txt" << "%D/map.txt" << QByteArray() << false << 0
                                    << QByteArray("10|1\r\n20|2\r\n") << QString();
    QTest::newRow("every section, repeated ones too, as the database reads them")
        << QByteArray("007|A\r\n 7 |B\r\n-0|C\r\n+ 5|D\r\n") << "%D/map.txt" << "%D/map.txt" << QByteArray() << false
        << 0 << QByteArray("7|1\r\n7|2\r\n0|3\r\n5|4\r\n") << QString();
    QTest::newRow("no sections: an empty map") << QByteArray() << "%D/map.txt" << "%D/map.txt" << QByteArray()
                                               << false << 0 << QByteArray() << QString();
    QTest::newRow("replaces the previous map") << sectionsExample << "%D/map.txt" << "%D/map.txt"
                                               << QByteArray("1|1\r\n2|2\r\n3|3\r\n") << false << 0
                                               << QByteArray("10|1\r\n20|2\r\n") << QString();
    QTest::newRow("relative name: against the current directory")
        << sectionsExample << "--map=map.txt" << "%E/map.txt" << QByteArray() << false << 0
        << QByteArray("10|1\r\n20|2\r\n") << QString();
    QTest::newRow("read-only map: kept, outputs replaced")
        << sectionsExample << "%D/map.txt" << "%D/map.txt" << QByteArray("old\r\n") << true << 5
        << QByteArray("old\r\n") << "Cannot create file \"{%D/map.txt}\". " + testSystem::deniedText() + ".\n";
    QTest::newRow("folder missing") << sectionsExample << "%D/none/map.txt" << "%D/none/map.txt" << QByteArray()
                                    << false << 5 << QByteArray("<missing>")
                                    << "Cannot create file \"{%D/none/map.txt}\". " + testSystem::noSuchFolderText()
                                           + ".\n";
    QTest::newRow("failed run: no map") << QByteArray("x|y\r\n") << "%D/map.txt" << "%D/map.txt"
                                        << QByteArray("old\r\n") << false << 1 << QByteArray("old\r\n")
                                        << QStringLiteral(u"Файл \"{%D/s.txt}\", строка 1: идентификатор \"x\" не "
                                                          u"является целым числом.\n");
}

void tst_CliOptions::map()
{
    QFETCH(QByteArray, sections);
    QFETCH(QString, mapArgument);
    QFETCH(QString, mapPath);
    QFETCH(QByteArray, previous);
    QFETCH(bool, readOnly);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, map);
    QFETCH(QString, err);
    Twin twin;
    twin.dir.write("s.txt", sections);
    twin.dir.write("f.txt", forumsExample);
    mapPath = twin.expand(mapPath);
    if (!previous.isEmpty()) {
        QFile f(mapPath);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(previous);
        f.close();
        if (readOnly)
            QVERIFY(f.setPermissions(QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
    }

    const QStringList arguments =
        (mapArgument.startsWith(QLatin1String("--")) ? QStringList{mapArgument} : QStringList{"--map", mapArgument})
        + QStringList{"%D/s.txt", "%D/f.txt"};
    const Outcome o = twin.run(arguments, twin.otherFolder());
    QCOMPARE(o.err, twin.expand(err));
    QCOMPARE(o.exitCode, exitCode);
    QCOMPARE(o.out, exitCode == 1 ? QString() : completed);

    QFile f(mapPath);
    QCOMPARE(f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>"), map);
    QVERIFY(!QFile::exists(mapPath + ".tmp"));
    // A map that fails after the run leaves the run's outputs in place.
    QCOMPARE(twin.dir.has("forum.txt"), exitCode != 1);
    if (exitCode == 5)
        QCOMPARE(twin.dir.read("forum.txt"), QByteArray("5|2|FAQ\r\n6|0|Old\r\n"));
}

// A map kept from others' eyes stays so when it is replaced, as the outputs do.
void tst_CliOptions::mapKeepsWhoMayReadIt()
{
    Twin twin;
    twin.dir.write("s.txt", sectionsExample);
    twin.dir.write("f.txt", forumsExample);
    twin.dir.write("map.txt", "old\r\n");
    QVERIFY(testSystem::restrictToOwner(twin.dir.path("map.txt")));
    if (!testSystem::isRestrictedToOwner(twin.dir.path("map.txt")))
        QSKIP("the file system here keeps no access list as it is set (Wine's does not)");
    const Outcome o = twin.run({"--map", "%D/map.txt", "%D/s.txt", "%D/f.txt"});
    QCOMPARE(o.exitCode, 0);
    QCOMPARE(twin.dir.read("map.txt"), QByteArray("10|1\r\n20|2\r\n"));
    QVERIFY(testSystem::isRestrictedToOwner(twin.dir.path("map.txt")));
}

void tst_CliOptions::mapThatIsAFileOfTheRunIsRefused_data()
{
    QTest::addColumn<QString>("map");   // %D the program folder, %E another; "@" before a name makes it a link to %D's file
    QTest::addColumn<QString>("what");
    QTest::addColumn<bool>("firstRun"); // no outputs yet
    QTest::newRow("the output fr_fr.txt") << "%D/fr_fr.txt" << "the output fr_fr.txt" << false;
    QTest::newRow("forum.txt before it exists") << "%D/forum.txt" << "the output forum.txt" << true;
    QTest::newRow("the output by another way there") << "%E/../" + QStringLiteral("%1") + "/forum.txt"
                                                     << "the output forum.txt" << false;
    QTest::newRow("a link to the output") << "@fr_fr.txt" << "the output fr_fr.txt" << false;
    QTest::newRow("the database") << "%D/Database.mdb" << "the database file Database.mdb" << false;
    QTest::newRow("a second name of the database") << "=Database.mdb" << "the database file Database.mdb" << false;
    QTest::newRow("the engine's journal") << "%D/Database.mdb-journal" << "the database file Database.mdb-journal"
                                          << true;
    QTest::newRow("an earlier version's log") << "%D/Database.mdb-wal" << "the database file Database.mdb-wal" << true;
    QTest::newRow("an intermediate") << "%D/2.txt" << "the intermediate file 2.txt" << false;
    QTest::newRow("the section list") << "%D/s.txt" << "the section list" << false;
    QTest::newRow("the forum list by a relative name") << "f.txt" << "the forum list" << false;
}

// --map is judged as a file, before anything changes: one of the run's own
// files, or a list, is refused as a usage error.
void tst_CliOptions::mapThatIsAFileOfTheRunIsRefused()
{
    QFETCH(QString, map);
    QFETCH(QString, what);
    QFETCH(bool, firstRun);
    Twin twin;
    twin.dir.write("s.txt", sectionsExample);
    twin.dir.write("f.txt", forumsExample);
    if (!firstRun)
        QCOMPARE(twin.run({"%D/s.txt", "%D/f.txt"}).exitCode, 0);
    map = map.arg(QFileInfo(twin.folder()).fileName());
    if (map.startsWith(u'@')) {
        if (!testSystem::symlink(twin.dir.path(map.mid(1)), twin.expand("%E/link.txt")))
            QSKIP("this system makes no symbolic link for this user");
        map = QStringLiteral("%E/link.txt");
    } else if (map.startsWith(u'=')) {
        QVERIFY(testSystem::hardLink(twin.dir.path(map.mid(1)), twin.expand("%E/db.txt")));
        map = QStringLiteral("%E/db.txt");
    }
    const QMap<QString, QByteArray> before = twin.snapshot();
    const Outcome o = twin.run({"--map", map, "%D/s.txt", "%D/f.txt"});
    QCOMPARE(o.err, twin.expand(QStringLiteral("reindex-cli: --map '{%1}' is %2; name another file for the map\n")
                                    .arg(map, what)));
    QCOMPARE(o.exitCode, 2);
    QCOMPARE(o.out, QString());
    QCOMPARE(twin.snapshot(), before);
}

// Lists of the user's that have the intermediates' names, in the program
// folder: refused before anything changes, and kept as they are.
void tst_CliOptions::listsNamedLikeTheIntermediatesAreRefusedAndKept()
{
    Twin twin;
    twin.dir.write("1.txt", sectionsExample);
    twin.dir.write("2.txt", forumsExample);
    const QMap<QString, QByteArray> before = twin.snapshot();
    const Outcome o = twin.run({"1.txt", "2.txt"});
    QCOMPARE(o.err, twin.expand(QStringLiteral(u"Файл \"{%D/1.txt}\" нельзя взять списком: это рабочий файл "
                                               u"программы \"1.txt\".\n")));
    QCOMPARE(o.exitCode, 1);
    QCOMPARE(twin.snapshot(), before);
}

void tst_CliOptions::encodingGivesTheUtf8TwinsOutputs_data()
{
    QTest::addColumn<QString>("encoding");
    QTest::addColumn<QByteArray>("sections");
    QTest::addColumn<QByteArray>("forums");
    QTest::addColumn<QByteArray>("sectionsUtf8");
    QTest::addColumn<QByteArray>("forumsUtf8");

    // "Новости «Ёлка» №1 — ёж" and "Форум" as the code page charts give them.
    const QByteArray cp1251Sections = "10|\xCD\xEE\xE2\xEE\xF1\xF2\xE8 \xAB\xA8\xEB\xEA\xE0\xBB \xB9" "1 \x97 \xB8\xE6\r\n"
                                      "20|\x93quoted\x94 \x85\r\n";
    const QByteArray cp1251Forums = "5|20|\xD4\xEE\xF0\xF3\xEC\r\n6|99|x\r\n";
    const QByteArray utf8Sections = "10|Новости «Ёлка» №1 — ёж\r\n20|“quoted” …\r\n";
    const QByteArray utf8Forums = "5|20|Форум\r\n6|99|x\r\n";
    QTest::newRow("windows-1251") << "windows-1251" << cp1251Sections << cp1251Forums << utf8Sections << utf8Forums;
    QTest::newRow("cp1251, letter case ignored") << "CP1251" << cp1251Sections << cp1251Forums << utf8Sections
                                                 << utf8Forums;

    // "Привет ёЁ" and "Форум".
    const QByteArray koiSections = "1|\xF0\xD2\xC9\xD7\xC5\xD4 \xA3\xB3\r\n";
    const QByteArray koiForums = "2|1|\xE6\xCF\xD2\xD5\xCD\r\n";
    QTest::newRow("koi8-r") << "KOI8-R" << koiSections << koiForums << QByteArray("1|Привет ёЁ\r\n")
                            << QByteArray("2|1|Форум\r\n");

    // "Привет ёЁ №" and "Форум ║".
    const QByteArray dosSections = "1|\x8F\xE0\xA8\xA2\xA5\xE2 \xF1\xF0 \xFC\r\n";
    const QByteArray dosForums = "2|1|\x94\xAE\xE0\xE3\xAC \xBA\r\n";
    QTest::newRow("cp866") << "cp866" << dosSections << dosForums << QByteArray("1|Привет ёЁ №\r\n")
                           << QByteArray("2|1|Форум ║\r\n");
    QTest::newRow("ibm866") << "IBM866" << dosSections << dosForums << QByteArray("1|Привет ёЁ №\r\n")
                            << QByteArray("2|1|Форум ║\r\n");

    QTest::newRow("utf-8 named") << "UTF-8" << utf8Sections << utf8Forums << utf8Sections << utf8Forums;
}

void tst_CliOptions::encodingGivesTheUtf8TwinsOutputs()
{
    QFETCH(QString, encoding);
    QFETCH(QByteArray, sections);
    QFETCH(QByteArray, forums);
    QFETCH(QByteArray, sectionsUtf8);
    QFETCH(QByteArray, forumsUtf8);

    Twin twin;
    twin.dir.write("s.txt", sectionsUtf8);
    twin.dir.write("f.txt", forumsUtf8);
    const Outcome plain = twin.run({"s.txt", "f.txt"});
    QCOMPARE(plain.exitCode, 0);
    const QByteArray expectedSections = twin.dir.read("fr_fr.txt");
    const QByteArray expectedForums = twin.dir.read("forum.txt");
    QVERIFY(expectedSections.startsWith("1|"));

    Twin encoded;
    encoded.dir.write("s.txt", sections);
    encoded.dir.write("f.txt", forums);
    const Outcome o = encoded.run({"--encoding", encoding, "s.txt", "f.txt"});
    QCOMPARE(o.err, QString());
    QCOMPARE(o.exitCode, 0);
    QCOMPARE(encoded.dir.read("fr_fr.txt"), expectedSections);
    QCOMPARE(encoded.dir.read("forum.txt"), expectedForums);
}

void tst_CliOptions::encodingRefusesUndecodableBytes_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("sections");
    QTest::addColumn<QByteArray>("forums");
    QTest::addColumn<QString>("err");

    QTest::newRow("windows-1251 has no 0x98")
        << QStringList{"--encoding", "cp1251"} << QByteArray("1|\xC0\r\n2|a\x98\r\n") << QByteArray("1|1|x\r\n")
        << QStringLiteral(u"Файл \"{%D/s.txt}\" не является текстом в кодировке windows-1251: ошибка в строке 2.\n");
    QTest::newRow("forum list, after a lone CR")
        << QStringList{"--encoding=windows-1251"} << QByteArray("1|a\r\n") << QByteArray("1|1|x\r2|1|\x98\r\n")
        << QStringLiteral(u"Файл \"{%D/f.txt}\" не является текстом в кодировке windows-1251: ошибка в строке 2.\n");
    QTest::newRow("code page bytes under utf-8 stay refused")
        << QStringList{"--encoding", "utf8"} << QByteArray("1|\xCD\xEE\r\n") << QByteArray("1|1|x\r\n")
        << QStringLiteral(u"Файл \"{%D/s.txt}\" не является текстом в кодировке UTF-8: ошибка в строке 1.\n");
}

void tst_CliOptions::encodingRefusesUndecodableBytes()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, sections);
    QFETCH(QByteArray, forums);
    QFETCH(QString, err);
    Twin twin;
    twin.dir.write("s.txt", sections);
    twin.dir.write("f.txt", forums);
    twin.dir.write("fr_fr.txt", "old sections\r\n");
    twin.dir.write("forum.txt", "old forums\r\n");
    const Outcome o = twin.run(arguments + QStringList{"s.txt", "f.txt"});
    QCOMPARE(o.err, twin.expand(err));
    QCOMPARE(o.exitCode, 1);
    QCOMPARE(twin.dir.read("fr_fr.txt"), QByteArray("old sections\r\n"));
    QCOMPARE(twin.dir.read("forum.txt"), QByteArray("old forums\r\n"));
}

void tst_CliOptions::dir_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("workingDirectory"); // %E or %D
    QTest::addColumn<bool>("databaseInOther");     // else the pristine one stays in the program folder
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("err");
    QTest::addColumn<QString>("outputsIn"); // %D, %E or empty: nowhere

    QTest::newRow("DIR in place of the program folder")
        << QStringList{"--dir", "%E", "%D/s.txt", "%D/f.txt"} << "%D" << true << 0 << QString() << "%E";
    QTest::newRow("--dir=DIR/ with its separator") << QStringList{"--dir=%E/", "%D/s.txt", "%D/f.txt"} << "%D" << true
                                                   << 0 << QString() << "%E";
    QTest::newRow("relative DIR against the current directory")
        << QStringList{"--dir", ".", "%D/s.txt", "%D/f.txt"} << "%E" << true << 0 << QString() << "%E";
    QTest::newRow("DIR without a database: not the program's own")
        << QStringList{"--dir", "%E", "%D/s.txt", "%D/f.txt"} << "%D" << false << 4
        << QStringLiteral(u"Ошибка соединения с базой данных!\nunable to open database file\n"
                          "reindex-cli: could not open the database {%E/Database.mdb}\n")
        << QString();
    QTest::newRow("DIR that does not exist") << QStringList{"--dir", "%E/none", "%D/s.txt", "%D/f.txt"} << "%D"
                                             << true << 2
                                             << "reindex-cli: --dir '%E/none' is not a directory\n"
                                                "Try 'reindex-cli --help'.\n"
                                             << QString();
    QTest::newRow("without --dir, nothing changes")
        << QStringList{"%D/s.txt", "%D/f.txt"} << "%E" << false << 0 << QString() << "%D";
}

void tst_CliOptions::dir()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, workingDirectory);
    QFETCH(bool, databaseInOther);
    QFETCH(int, exitCode);
    QFETCH(QString, err);
    QFETCH(QString, outputsIn);
    Twin twin;
    twin.dir.write("s.txt", sectionsExample);
    twin.dir.write("f.txt", forumsExample);
    // The program folder keeps no database when DIR has one, so a run that
    // used the wrong folder could not complete.
    if (databaseInOther)
        QVERIFY(QFile::rename(twin.dir.path("Database.mdb"), twin.other.filePath("Database.mdb")));
    const QStringList programFolderBefore = twin.dir.entries();
    const QStringList otherBefore = QDir(twin.otherFolder()).entryList(QDir::Files);

    const Outcome o = twin.run(arguments, twin.expand(workingDirectory));
    QCOMPARE(o.err, twin.expand(err));
    QCOMPARE(o.exitCode, exitCode);
    QCOMPARE(o.out, exitCode == 0 ? completed : QString());

    const QStringList outputs{"forum.txt", "fr_fr.txt"};
    QStringList programFolderAfter = programFolderBefore;
    QStringList otherAfter = otherBefore;
    if (outputsIn == QLatin1String("%D"))
        programFolderAfter = QStringList(programFolderBefore + outputs);
    if (outputsIn == QLatin1String("%E"))
        otherAfter = QStringList(otherBefore + outputs);
    programFolderAfter.sort();
    otherAfter.sort();
    // Intermediates gone, nothing else written anywhere.
    QCOMPARE(twin.dir.entries(), programFolderAfter);
    QCOMPARE(QDir(twin.otherFolder()).entryList(QDir::Files, QDir::Name), otherAfter);
    if (!outputsIn.isEmpty()) {
        const QString folder = twin.expand(outputsIn);
        QFile sections(folder + "/fr_fr.txt");
        QVERIFY(sections.open(QIODevice::ReadOnly));
        QCOMPARE(sections.readAll(), QByteArray("1|News\r\n2|Help\r\n"));
        QFile forums(folder + "/forum.txt");
        QVERIFY(forums.open(QIODevice::ReadOnly));
        QCOMPARE(forums.readAll(), QByteArray("5|2|FAQ\r\n6|0|Old\r\n"));
    }
}

void tst_CliOptions::usageErrors_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("reason");

    QTest::newRow("map without its file") << QStringList{"a", "b", "--map"} << "option '--map' needs a value";
    QTest::newRow("empty value") << QStringList{"--encoding=", "a", "b"} << "option '--encoding' needs a value";
    QTest::newRow("unknown encoding") << QStringList{"--encoding", "latin1", "a", "b"}
                                      << "unknown encoding 'latin1'; known: utf-8, windows-1251, koi8-r, cp866";
    QTest::newRow("check with report") << QStringList{"--check", "--report", "a", "b"}
                                       << "--check runs nothing, so it takes neither --report nor --map";
    QTest::newRow("check with map") << QStringList{"--map", "m.txt", "--check", "a", "b"}
                                    << "--check runs nothing, so it takes neither --report nor --map";
    QTest::newRow("a value is not a file") << QStringList{"--map", "m.txt", "a"}
                                           << "expected two files, SECTIONS and FORUMS";
    QTest::newRow("after --, an option is a file")
        << QStringList{"--", "--check", "a", "b"} << "expected two files, SECTIONS and FORUMS";
}

void tst_CliOptions::usageErrors()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, reason);
    Twin twin;
    const QMap<QString, QByteArray> before = twin.snapshot();
    const Outcome o = twin.run(arguments);
    QCOMPARE(o.err, "reindex-cli: " + reason + "\nTry 'reindex-cli --help'.\n");
    QCOMPARE(o.exitCode, 2);
    QCOMPARE(o.out, QString());
    QCOMPARE(twin.snapshot(), before);
}

void tst_CliOptions::helpDocumentsEveryOption()
{
    Twin twin;
    const Outcome o = twin.run({"--help"});
    QCOMPARE(o.exitCode, 0);
    QCOMPARE(o.err, QString());
    for (const char *word : {"--check", "--report", "--map FILE", "--encoding NAME", "--dir DIR", "--help", "--version",
                             "windows-1251", "koi8-r", "cp866", "FILE:LINE: message", "Exit codes", "Examples:",
                             "reindex-cli --check --encoding cp1251"})
        QVERIFY2(o.out.contains(QLatin1String(word)), word);
}

void tst_CliOptions::reportThatStdoutRefusesIsExit5_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QByteArray>("map"); // afterwards

    QTest::newRow("--report alone") << QStringList{"--report"} << QByteArray("<missing>");
    QTest::newRow("the map is written all the same")
        << QStringList{"--report", "--map", "%D/map.txt"} << QByteArray("10|1\r\n20|2\r\n");
}

// A report that never reached its reader is a failed --report: a script must
// not take a full disk for an empty board.
void tst_CliOptions::reportThatStdoutRefusesIsExit5()
{
    QFETCH(QStringList, options);
    QFETCH(QByteArray, map);
    if (!QFileInfo::exists(QStringLiteral("/dev/full")))
        QSKIP("no /dev/full to write the report to");
    Twin twin;
    twin.dir.write("s.txt", sectionsExample);
    twin.dir.write("f.txt", forumsExample);
    twin.standardOutputFile = QStringLiteral("/dev/full");
    const Outcome o = twin.run(options + QStringList{"s.txt", "f.txt"});
    QCOMPARE(o.err,
             QStringLiteral("reindex-cli: could not write the report to standard output: No space left on device.\n"));
    QCOMPARE(o.exitCode, 5);
    QCOMPARE(twin.dir.read("forum.txt"), QByteArray("5|2|FAQ\r\n6|0|Old\r\n"));
    QCOMPARE(twin.dir.read("map.txt"), map);
}

void tst_CliOptions::namesThatAreNotUtf8AreRefused_data()
{
    QTest::addColumn<QList<QByteArray>>("arguments");
    QTest::addColumn<QString>("shown"); // the argument named in the refusal; empty: none

    // "Список" in windows-1251, as an old board's export names its files.
    const QByteArray cp1251 = "\xD1\xEF\xE8\xF1\xEE\xEA";
    const QString shown = QStringLiteral("\\xD1\\xEF\\xE8\\xF1\\xEE\\xEA");
    QTest::newRow("an existing list") << QList<QByteArray>{"%D/" + cp1251 + ".txt", "f.txt"}
                                      << "%D/" + shown + ".txt";
    QTest::newRow("relative, to --check") << QList<QByteArray>{"--check", "s.txt", cp1251 + ".txt"} << shown + ".txt";
    QTest::newRow("--map FILE") << QList<QByteArray>{"--map", "%D/" + cp1251 + ".map", "s.txt", "f.txt"}
                                << "%D/" + shown + ".map";
    QTest::newRow("--map=FILE: the whole argument")
        << QList<QByteArray>{"--map=%D/" + cp1251 + ".map", "s.txt", "f.txt"} << "--map=%D/" + shown + ".map";
    QTest::newRow("--dir, an existing folder") << QList<QByteArray>{"--dir", "%D/" + cp1251, "s.txt", "f.txt"}
                                               << "%D/" + shown;
    QTest::newRow("UTF-8 around a sequence cut short")
        << QList<QByteArray>{"s.txt", "\xD0\xA4\xD0.txt"} << QString::fromUtf8("\xD0\xA4") + "\\xD0.txt";
    QTest::newRow("a UTF-8 name is taken") << QList<QByteArray>{"%D/\xD0\xA4.txt", "f.txt"} << QString();
}

// A name the twin cannot decode is refused as such, before anything is read
// or written: decoded anyway it would be another name, so an existing list
// would be reported missing and the map written under a name nobody gave.
void tst_CliOptions::namesThatAreNotUtf8AreRefused()
{
    QFETCH(QList<QByteArray>, arguments);
    QFETCH(QString, shown);
    if (!testSystem::namesAreBytes())
        QSKIP("names here are UTF-16, and so are the twin's arguments: no name can fail to be UTF-8");
    Twin twin;
    twin.dir.write("s.txt", sectionsExample);
    twin.dir.write("f.txt", forumsExample);
    twin.dir.write(QString::fromUtf8("\xD0\xA4.txt"), sectionsExample);
    ByteNames names(twin);
    names.write("%D/\xD1\xEF\xE8\xF1\xEE\xEA.txt", sectionsExample);
    names.makeFolder("%D/\xD1\xEF\xE8\xF1\xEE\xEA");
    names.copy(twin.dir.path("Database.mdb"), "%D/\xD1\xEF\xE8\xF1\xEE\xEA/Database.mdb");
    const QMap<QString, QByteArray> before = twin.snapshot();

    const Outcome o = twin.runBytes(QByteArray(), arguments);
    if (shown.isEmpty()) {
        QCOMPARE(o.err, QString());
        QCOMPARE(o.exitCode, 0);
        QCOMPARE(twin.dir.read("fr_fr.txt"), QByteArray("1|News\r\n2|Help\r\n"));
        return;
    }
    QCOMPARE(o.err, twin.expand(QStringLiteral("reindex-cli: argument '%1' is not UTF-8 (bytes shown as \\xHH); "
                                               "give the file or folder a UTF-8 name\n"
                                               "Try 'reindex-cli --help'.\n")
                                    .arg(shown)));
    QCOMPARE(o.exitCode, 2);
    QCOMPARE(o.out, QString());
    QCOMPARE(twin.snapshot(), before);
}

void tst_CliOptions::programFolderNotUtf8IsNoDatabase_data()
{
    QTest::addColumn<QList<QByteArray>>("options");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("err");

    QTest::newRow("its own folder")
        << QList<QByteArray>() << 4
        << QStringLiteral(u"Ошибка соединения с базой данных!\n"
                          "reindex-cli: could not open the database: the name of the program's folder "
                          "%E/\\xD1\\xEF\\xE8\\xF1\\xEE\\xEA/ is not UTF-8\n");
    QTest::newRow("--dir names another") << QList<QByteArray>{"--dir", "%D"} << 0 << QString();
}

// The twin in a folder named in a legacy code page cannot name the database
// beside it: that is no database, not one looked for somewhere else.
void tst_CliOptions::programFolderNotUtf8IsNoDatabase()
{
    QFETCH(QList<QByteArray>, options);
    QFETCH(int, exitCode);
    QFETCH(QString, err);
    if (!testSystem::namesAreBytes())
        QSKIP("names here are UTF-16: no folder's name can fail to be UTF-8");
    Twin twin;
    twin.dir.write("s.txt", sectionsExample);
    twin.dir.write("f.txt", forumsExample);
    ByteNames names(twin);
    const QByteArray folder = "%E/\xD1\xEF\xE8\xF1\xEE\xEA";
    names.makeFolder(folder);
    names.copy(twin.dir.path("reindex-cli"), folder + "/reindex-cli");
    names.copy(twin.dir.path("Database.mdb"), folder + "/Database.mdb");

    const Outcome o =
        twin.runBytes(names.path(folder + "/reindex-cli"), options + QList<QByteArray>{"%D/s.txt", "%D/f.txt"});
    QCOMPARE(o.err, twin.expand(err));
    QCOMPARE(o.exitCode, exitCode);
    QCOMPARE(o.out, exitCode == 0 ? completed : QString());
    QCOMPARE(names.entries(folder), (QStringList{"Database.mdb", "reindex-cli"}));
    QCOMPARE(twin.dir.has("forum.txt"), exitCode == 0);
}

void tst_CliOptions::percentSignsInNamesStayAsTheyAre_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("err");

    QTest::newRow("an identifier that is no number")
        << "bad%1.txt" << QByteArray("x|y\r\n") << QStringList{"%D/bad%1.txt", "f.txt"} << 1
        << QStringLiteral(u"Файл \"{%D/bad%1.txt}\", строка 1: идентификатор \"x\" не является целым числом.\n");
    QTest::newRow("a section identifier, itself with a percent sign")
        << "f%2.txt" << QByteArray("1|10|a\r\n2|%1|b\r\n") << QStringList{"s.txt", "f%2.txt"} << 1
        << QStringLiteral(u"Файл \"{%D/f%2.txt}\", строка 2: идентификатор раздела \"%1\" не является целым числом.\n");
    QTest::newRow("not UTF-8") << "%2%1.txt" << QByteArray("1|a\r\n2|\xC3\x28\r\n")
                               << QStringList{"%2%1.txt", "f.txt"} << 1
                               << QStringLiteral(u"Файл \"{%D/%2%1.txt}\" не является текстом в кодировке UTF-8: "
                                                 u"ошибка в строке 2.\n");
    QTest::newRow("not windows-1251") << "%L1.txt" << QByteArray("1|a\r\n2|\x98\r\n")
                                      << QStringList{"--encoding", "cp1251", "%L1.txt", "f.txt"} << 1
                                      << QStringLiteral(u"Файл \"{%D/%L1.txt}\" не является текстом в кодировке "
                                                        u"windows-1251: ошибка в строке 2.\n");
    QTest::newRow("--check: the finding's file and line")
        << "s%1.txt" << QByteArray("10|a\r\nx|b\r\n") << QStringList{"--check", "s%1.txt", "f.txt"} << 1
        << "s%1.txt:2: identifier \"x\" is not a whole number\n";
    QTest::newRow("a missing list") << "s.txt" << sectionsExample << QStringList{"%D/none%1%2.txt", "f.txt"} << 3
                                    << QStringLiteral(u"Указан несуществующий файл \"fr_fr.txt\"!\n"
                                                      "reindex-cli: sections list: no such file: {%D/none%1%2.txt}\n");
}

// A "%1" in a name is no placeholder: the message names the file and the
// line as they are.
void tst_CliOptions::percentSignsInNamesStayAsTheyAre()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, err);
    Twin twin;
    twin.dir.write("s.txt", "10|News\r\n");
    twin.dir.write("f.txt", "5|10|FAQ\r\n");
    twin.dir.write(name, bytes);
    const Outcome o = twin.run(arguments);
    QCOMPARE(o.err, twin.expand(err));
    QCOMPARE(o.exitCode, exitCode);
}

void tst_CliOptions::controlCharactersNeverReachTheTerminal_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("err");

    const QByteArray titleSetter = "\x1B]0;pwned\x07|a\r\n10|b\r\n";
    QTest::newRow("the run refuses the identifier")
        << "s.txt" << titleSetter << QStringList{"s.txt", "f.txt"} << 1
        << QStringLiteral(u"Файл \"{%D/s.txt}\", строка 1: идентификатор \"\\x1B]0;pwned\\x07\" не является целым "
                          u"числом.\n");
    QTest::newRow("--check finds it, in a list whose name clears the screen")
        << "s\x1B[2J.txt" << titleSetter << QStringList{"--check", "s\x1B[2J.txt", "f.txt"} << 1
        << "s\\x1B[2J.txt:1: identifier \"\\x1B]0;pwned\\x07\" is not a whole number\n";
    QTest::newRow("a missing list's name")
        << "s.txt" << titleSetter << QStringList{"\x1B[2J\xC2\x9B" "2J.txt", "f.txt"} << 3
        << QStringLiteral(u"Указан несуществующий файл \"fr_fr.txt\"!\n"
                          u"reindex-cli: sections list: no such file: {%D/\\x1B[2J\\x9B2J.txt}\n");
    QTest::newRow("an unknown option") << "s.txt" << titleSetter << QStringList{"--\x1B[2J", "s.txt", "f.txt"} << 2
                                       << "reindex-cli: unknown option '--\\x1B[2J'\nTry 'reindex-cli --help'.\n";
    QTest::newRow("a --dir that is not one")
        << "s.txt" << titleSetter << QStringList{"--dir", "%E/\r\x1B[1A", "s.txt", "f.txt"} << 2
        << "reindex-cli: --dir '%E/\\x0D\\x1B[1A' is not a directory\nTry 'reindex-cli --help'.\n";
    QTest::newRow("an unknown encoding") << "s.txt" << titleSetter
                                         << QStringList{"--encoding", "\x1B[5m", "s.txt", "f.txt"} << 2
                                         << "reindex-cli: unknown encoding '\\x1B[5m'; known: utf-8, windows-1251, "
                                            "koi8-r, cp866\nTry 'reindex-cli --help'.\n";
}

// What a list or a name holds reaches the terminal escaped: a list must not be
// able to retitle the window, clear the screen or forge a line of the log.
void tst_CliOptions::controlCharactersNeverReachTheTerminal()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, err);
    if (name.contains(QRegularExpression(QStringLiteral("[\\x01-\\x1F]")))
        && !testSystem::namesMayHoldControlCharacters())
        QSKIP("this system refuses control characters in a file's name: no such list can be there");
    Twin twin;
    twin.dir.write("s.txt", "10|News\r\n");
    twin.dir.write("f.txt", "5|10|FAQ\r\n");
    twin.dir.write(name, bytes);
    const Outcome o = twin.run(arguments);
    for (const QChar c : o.err + o.out)
        QVERIFY2(c == u'\n' || !(c.unicode() < 0x20 || (c.unicode() >= 0x7F && c.unicode() <= 0x9F)),
                 qPrintable(QStringLiteral("U+%1 in %2").arg(QString::number(c.unicode(), 16), o.err)));
    QCOMPARE(o.err, twin.expand(err));
    QCOMPARE(o.exitCode, exitCode);
}

void tst_CliOptions::listsThatAreNoRegularFilesAreRefused_data()
{
    QTest::addColumn<QStringList>("arguments"); // p: a named pipe in the program folder
    QTest::addColumn<QString>("refused");
    QTest::newRow("run, sections a pipe") << QStringList{"%D/p", "%D/f.txt"} << "%D/p";
    QTest::newRow("run, forums a pipe") << QStringList{"%D/s.txt", "%D/p"} << "%D/p";
    QTest::newRow("--check, forums a pipe") << QStringList{"--check", "%D/s.txt", "%D/p"} << "%D/p";
    QTest::newRow("--check, sections a device") << QStringList{"--check", "/dev/null", "%D/f.txt"} << "/dev/null";
}

// A pipe would hold the twin in its open until someone writes, and a run
// reads each list twice; --check must not pass what the run refuses.
void tst_CliOptions::listsThatAreNoRegularFilesAreRefused()
{
#ifdef Q_OS_WIN
    QSKIP("no named pipes in the file system here");
#else
    QFETCH(QStringList, arguments);
    QFETCH(QString, refused);
    Twin twin;
    twin.dir.write("s.txt", sectionsExample);
    twin.dir.write("f.txt", forumsExample);
    QCOMPARE(::mkfifo(QFile::encodeName(twin.dir.path("p")).constData(), 0600), 0);
    QMap<QString, QByteArray> before = twin.snapshot();
    for (QString &a : arguments)
        a = twin.expand(a);
    QProcess p;
    p.setWorkingDirectory(twin.folder());
    p.start(twin.dir.path("reindex-cli"), arguments);
    QVERIFY2(p.waitForFinished(10000), "the twin hangs on a pipe");
    QCOMPARE(QString::fromUtf8(p.readAllStandardError()),
             QStringLiteral("Cannot open file \"%1\". Not a regular file.\n").arg(twin.expand(refused)));
    QCOMPARE(p.exitCode(), 1);
    // The sections before a refused forum list are in the tables; no file
    // besides changes, and no output is made.
    QMap<QString, QByteArray> after = twin.snapshot();
    after.remove(QStringLiteral("Database.mdb"));
    before.remove(QStringLiteral("Database.mdb"));
    QCOMPARE(after, before);
#endif
}

QTEST_GUILESS_MAIN(tst_CliOptions)
#include "tst_CliOptions.moc"
