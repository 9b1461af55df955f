#include "EngineConnection.h"
#include "Fifo.h"
#include "ProgramDir.h"
#include "RecordingHost.h"
#include "TableRows.h"

#include <db/DbError.h>
#include <db/FolderLock.h>
#include <db/Tables.h>
#include <run/CodePage.h>
#include <run/Journal.h>
#include <run/Replacement.h>
#include <run/ReindexRun.h>
#include <run/RunError.h>

#include <TestSystem.h>

#include <db/EngineText.h>
#include <run/FileSystem.h>

#include <QProcess>
#include <QRegularExpression>
#include <QTest>

#include <algorithm>
#include <cstdlib>
#include <cstring>

using run::ReindexRun;

namespace {

const QByteArray sectionsExample = "10|News\r\n20|Help\r\n";
const QByteArray forumsExample = "5|20|FAQ\r\n6|99|Old\r\n";
const QByteArray oldSections = "old sections\r\n";
const QByteArray oldForums = "old forums\r\n";

QString completedMessage()
{
    return QStringLiteral(u"message Обработка завершена! | Внимание! | information");
}

} // namespace

class tst_Run : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void renumbersTheWorkedExample();
    void reportsProgressAndPumpsWhereTheStepsSay();
    void readsEachFileNameWhenItIsUsed();
    void edgeCases_data();
    void edgeCases();
    void missingInputChangesNothing_data();
    void missingInputChangesNothing();
    void failureLeavesOutputsWhole_data();
    void failureLeavesOutputsWhole();
    void messagesEscapeControlCharacters_data();
    void messagesEscapeControlCharacters();
    void irreplaceableOutputIsCreateFailure_data();
    void irreplaceableOutputIsCreateFailure();
    void replacesTheVeryFileThatWasRead();
    void aListRefusedForItsBytesChangesNothing_data();
    void aListRefusedForItsBytesChangesNothing();
    void aListThatIsTheFoldersOwnFileIsRefused_data();
    void aListThatIsTheFoldersOwnFileIsRefused();
    void theUsersFilesBesideTheProgramSurviveEveryRun_data();
    void theUsersFilesBesideTheProgramSurviveEveryRun();
    void aRunKilledWhileStagingIsUndoneByTheNext();
    void aJournalIsHonouredOnlyForTheFilesItMade();
    void anOutputReachedThroughLinksIsReplacedAtTheirEnd();
    void plantedIntermediatesAreNeitherFollowedNorOpened();
    void theFolderIsFreeWhileABoxWaits_data();
    void theFolderIsFreeWhileABoxWaits();
    void replacedOutputKeepsItsPermissions();
    void aSecondRunInTheFolderFailsAtOnce();
    void tablesWithoutTheirRulesGetNoIdentifierBeyond32Bits();
    void longStatementsLetTheWindowIn();
    void aLineChangedAfterItsCheckIsRefused_data();
    void aLineChangedAfterItsCheckIsRefused();
    void aListThatIsNoRegularFileIsRefused_data();
    void aListThatIsNoRegularFileIsRefused();
    void aCompletedRunLeavesNoJournal();

private:
    QStringList rows(const char *table, const char *columns);
    QString runExpectingFailure();

    std::unique_ptr<ProgramDir> dir_;
    std::unique_ptr<db::Tables> tables_;
    RecordingHost host_;
};

void tst_Run::init()
{
    dir_ = std::make_unique<ProgramDir>();
    tables_ = std::make_unique<db::Tables>(dir_->dir());
    host_ = RecordingHost();
    host_.directory = dir_->dir();
    host_.sections = dir_->path("sections.txt");
    host_.forums = dir_->path("forums.txt");
}

void tst_Run::cleanup()
{
    tables_.reset();
    dir_.reset();
}

QStringList tst_Run::rows(const char *table, const char *columns)
{
    return tableRows(dir_->path("Database.mdb"), table, columns);
}

QString tst_Run::runExpectingFailure()
{
    try {
        ReindexRun(host_, *tables_).run();
    } catch (const run::RunError &e) {
        return e.message();
    } catch (const db::DbError &e) {
        return e.message();
    }
    return QStringLiteral("<completed>");
}

void tst_Run::renumbersTheWorkedExample()
{
    dir_->write("sections.txt", sectionsExample);
    dir_->write("forums.txt", forumsExample);
    QCOMPARE(ReindexRun(host_, *tables_).run(), ReindexRun::Outcome::Completed);
    QCOMPARE(dir_->read("fr_fr.txt"), QByteArray("1|News\r\n2|Help\r\n"));
    QCOMPARE(dir_->read("forum.txt"), QByteArray("5|2|FAQ\r\n6|0|Old\r\n"));
    QCOMPARE(rows("Razdel_table", "old_id,str_value"), (QStringList{"10|News", "20|Help"}));
    QCOMPARE(rows("Forum_table", "old_id,podrazdel_id,new_id,str_value"), (QStringList{"5|20|2|FAQ", "6|99|0|Old"}));
    // Intermediates deleted, and nothing temporary left behind.
    QStringList entries = dir_->entries();
    entries.removeIf([](const QString &e) { return e.startsWith(QLatin1String("Database.mdb")); });
    QCOMPARE(entries, (QStringList{"forum.txt", "forums.txt", "fr_fr.txt", "sections.txt"}));
    QCOMPARE(host_.events.mid(host_.events.size() - 3),
             (QStringList{completedMessage(), "enable 1", "overall 0"}));
}

void tst_Run::reportsProgressAndPumpsWhereTheStepsSay()
{
    dir_->write("sections.txt", sectionsExample);
    dir_->write("forums.txt", forumsExample);
    ReindexRun(host_, *tables_).run();
    const QStringList expected = {
        "enable 0", "pos 0", "overall 0", "busy 1",
        // section import
        "max 2", "step", "pump", "step", "pump", "overall+", "pos 0", "pump",
        // forum import
        "max 2", "step", "pump", "step", "pump", "overall+", "pos 0", "pump",
        // renumbering: the forums were stamped as they went in, so a step per section
        "max 2", "step", "pump", "step", "pump", "overall+", "pos 0", "pump",
        // forum export
        "max 2", "step", "pump", "step", "pump", "overall+", "pos 0", "pump", "max 4", "pump",
        // before the final commit
        "pump",
        // final copy
        "step", "pump", "step", "pump", "step", "pump", "step", "pump", "overall+", "pos 0", "pump",
        "busy 0", completedMessage(), "enable 1", "overall 0"};
    QCOMPARE(host_.events, expected);
}

void tst_Run::readsEachFileNameWhenItIsUsed()
{
    dir_->write("sections.txt", sectionsExample);
    dir_->write("forums.txt", forumsExample);
    dir_->write("other.txt", "8|10|Swapped\r\n");
    // Both lists are judged before anything changes, so the run reads the
    // forum field once, at its start: a change during the import is for the
    // next run.
    QStringList asked;
    host_.onPump = [&](int pump) {
        if (pump == 0)
            host_.forums = dir_->path("other.txt");
    };
    ReindexRun(host_, *tables_).run();
    QCOMPARE(dir_->read("forum.txt"), QByteArray("5|2|FAQ\r\n6|0|Old\r\n"));
    ReindexRun(host_, *tables_).run();
    QCOMPARE(dir_->read("forum.txt"), QByteArray("8|1|Swapped\r\n"));
}

void tst_Run::edgeCases_data()
{
    QTest::addColumn<QByteArray>("sections");
    QTest::addColumn<QByteArray>("forums");
    QTest::addColumn<QByteArray>("sectionsOut");
    QTest::addColumn<QByteArray>("forumsOut");
    QTest::newRow("text keeps further separators") << QByteArray("30|A|B\r\n") << QByteArray("1|30|x|y|z\r\n")
                                                   << QByteArray("1|A|B\r\n") << QByteArray("1|1|x|y|z\r\n");
    QTest::newRow("quotes, colons and markers stay text")
        << QByteArray("1|O'Hara\r\n2|\xD0\xA2\xD0\xB5\xD0\xBC\xD0\xB0: :id \"q\" `b` a::b ''\r\n")
        << QByteArray("7|2|it's :x\r\n")
        << QByteArray("1|O'Hara\r\n2|\xD0\xA2\xD0\xB5\xD0\xBC\xD0\xB0: :id \"q\" `b` a::b ''\r\n")
        << QByteArray("7|2|it's :x\r\n");
    QTest::newRow("repeated section identifier: the later number")
        << QByteArray("5|A\r\n6|B\r\n5|C\r\n") << QByteArray("1|5|f\r\n2|6|g\r\n")
        << QByteArray("1|A\r\n2|B\r\n3|C\r\n") << QByteArray("1|3|f\r\n2|2|g\r\n");
    QTest::newRow("empty section list") << QByteArray() << QByteArray("1|5|f\r\n") << QByteArray()
                                        << QByteArray("1|0|f\r\n");
    QTest::newRow("both lists empty") << QByteArray("\xEF\xBB\xBF") << QByteArray() << QByteArray() << QByteArray();
    QTest::newRow("identifiers come back as plain integers")
        << QByteArray(" +007 |x\r\n") << QByteArray("-0012\t|\t7|y\r\n0|-0|z\r\n") << QByteArray("1|x\r\n")
        << QByteArray("-12|1|y\r\n0|0|z\r\n");
    QTest::newRow("empty texts, lone CR and LF breaks") << QByteArray("1|\r2|\n") << QByteArray("3|2|")
                                                        << QByteArray("1|\r\n2|\r\n") << QByteArray("3|2|\r\n");
    QTest::newRow("a second signature is part of the text")
        << QByteArray("1|\xEF\xBB\xBFx\r\n") << QByteArray() << QByteArray("1|\xEF\xBB\xBFx\r\n") << QByteArray();
}

void tst_Run::edgeCases()
{
    QFETCH(QByteArray, sections);
    QFETCH(QByteArray, forums);
    QFETCH(QByteArray, sectionsOut);
    QFETCH(QByteArray, forumsOut);
    dir_->write("sections.txt", sections);
    dir_->write("forums.txt", forums);
    QCOMPARE(ReindexRun(host_, *tables_).run(), ReindexRun::Outcome::Completed);
    QCOMPARE(dir_->read("fr_fr.txt"), sectionsOut);
    QCOMPARE(dir_->read("forum.txt"), forumsOut);
    QCOMPARE(host_.overallPosition, 0);
    QCOMPARE(host_.events.count("overall+"), 5);
}

void tst_Run::missingInputChangesNothing_data()
{
    QTest::addColumn<QString>("sectionsName");
    QTest::addColumn<QString>("forumsName");
    QTest::addColumn<QString>("message");
    const QString sectionsMessage = QStringLiteral(u"Указан несуществующий файл \"fr_fr.txt\"!");
    const QString forumsMessage = QStringLiteral(u"Указан несуществующий файл \"forum.txt\"!");
    QTest::newRow("empty sections name") << "" << "forums.txt" << sectionsMessage;
    QTest::newRow("sections name is a folder") << "folder" << "forums.txt" << sectionsMessage;
    QTest::newRow("both missing: the first is told") << "none.txt" << "none.txt" << sectionsMessage;
    QTest::newRow("forums missing") << "sections.txt" << "none.txt" << forumsMessage;
    QTest::newRow("forums name empty") << "sections.txt" << "" << forumsMessage;
}

void tst_Run::missingInputChangesNothing()
{
    QFETCH(QString, sectionsName);
    QFETCH(QString, forumsName);
    QFETCH(QString, message);
    dir_->write("sections.txt", sectionsExample);
    dir_->write("forums.txt", forumsExample);
    ReindexRun(host_, *tables_).run(); // a previous run's rows and outputs
    QVERIFY(QDir(dir_->dir()).mkdir("folder"));
    const QStringList tables = rows("Forum_table", "old_id,new_id");
    const QByteArray outputs = dir_->read("fr_fr.txt") + dir_->read("forum.txt");

    RecordingHost host;
    host.directory = dir_->dir();
    host.sections = sectionsName.isEmpty() ? sectionsName : dir_->path(sectionsName);
    host.forums = forumsName.isEmpty() ? forumsName : dir_->path(forumsName);
    const auto outcome = ReindexRun(host, *tables_).run();
    QVERIFY(outcome != ReindexRun::Outcome::Completed);
    QCOMPARE(host.events, QStringList{QStringLiteral(u"message %1 | Внимание! | warning").arg(message)});
    QCOMPARE(rows("Forum_table", "old_id,new_id"), tables);
    QCOMPARE(dir_->read("fr_fr.txt") + dir_->read("forum.txt"), outputs);
}

void tst_Run::failureLeavesOutputsWhole_data()
{
    QTest::addColumn<QByteArray>("sections");
    QTest::addColumn<QByteArray>("forums");
    QTest::addColumn<QString>("message"); // %1 is the full path of the input named in it
    QTest::addColumn<QString>("input");
    QTest::addColumn<QStringList>("sectionRows");
    QTest::addColumn<QStringList>("forumRows"); // old_id|new_id: the forums before the failing line, stamped

    QTest::newRow("a value list smuggled into a section line")
        << QByteArray("1|a\r\n2,'x'),(3|B\r\n") << forumsExample
        << QStringLiteral(u"Файл \"%1\", строка 2: идентификатор \"2,'x'),(3\" не является целым числом")
        << "sections.txt" << QStringList{"1|a"} << QStringList();
    QTest::newRow("an empty line in the sections") << QByteArray("1|a\r\n2|b\r\n\r\n3|c\r\n") << forumsExample
        << QStringLiteral(u"Файл \"%1\", строка 3: идентификатор \"\" не является целым числом")
        << "sections.txt" << QStringList{"1|a", "2|b"} << QStringList();
    QTest::newRow("a forum line with one separator") << QByteArray("1|a\r\n") << QByteArray("5|1|ok\r\n6|only\r\n")
        << QStringLiteral(u"Файл \"%1\", строка 2: идентификатор раздела \"\" не является целым числом")
        << "forums.txt" << QStringList{"1|a"} << QStringList{"5|1"};
    QTest::newRow("a statement in a forum's section field")
        << QByteArray("1|a\r\n") << QByteArray("5|1);DELETE FROM Razdel_table;--|x\r\n")
        << QStringLiteral(u"Файл \"%1\", строка 1: идентификатор раздела \"1);DELETE FROM Razdel_table;--\" не является целым числом")
        << "forums.txt" << QStringList{"1|a"} << QStringList();
    QTest::newRow("sections not UTF-8") << QByteArray("1|\xCD\xEE\xE2\xEE\xF1\xF2\xE8\r\n") << forumsExample
        << QStringLiteral(u"Файл \"%1\" не является текстом в кодировке UTF-8: ошибка в строке 1")
        << "sections.txt" << QStringList() << QStringList();
    QTest::newRow("forums in UTF-16") << sectionsExample << QByteArray("\xFF\xFE" "5\0|\0", 6)
        << QStringLiteral(u"Файл \"%1\" не является текстом в кодировке UTF-8: ошибка в строке 1")
        << "forums.txt" << QStringList() << QStringList();
    QTest::newRow("a second signature is part of the identifier")
        << QByteArray("\xEF\xBB\xBF\xEF\xBB\xBF" "1|a\r\n") << forumsExample
        << QStringLiteral(u"Файл \"%1\", строка 1: идентификатор \"\uFEFF1\" не является целым числом")
        << "sections.txt" << QStringList() << QStringList();
    QTest::newRow("an identifier beyond 32 bits") << QByteArray("1|a\r\n2|b\r\n4294967296|c\r\n") << forumsExample
        << QStringLiteral(u"Файл \"%1\", строка 3: идентификатор \"4294967296\" выходит за пределы "
                          u"от -2147483648 до 2147483647")
        << "sections.txt" << QStringList{"1|a", "2|b"} << QStringList();
    QTest::newRow("bad UTF-8 after good lines: none of them goes in")
        << sectionsExample << QByteArray("5|10|a\r\n6|20|b\r\n7|x|c\r\n8|10|\xC0\xAF\r\n")
        << QStringLiteral(u"Файл \"%1\" не является текстом в кодировке UTF-8: ошибка в строке 4")
        << "forums.txt" << QStringList() << QStringList();

    // Forums go in several to a statement: a line refused leaves exactly
    // those before it, whichever comes first in the batch.
    QByteArray many;
    QStringList before;
    for (int i = 1; i <= 150; ++i) {
        many += QByteArray::number(i) + (i == 100 ? "|99999999999|x\r\n" : i == 120 ? "|y|x\r\n" : "|20|x\r\n");
        if (i < 100)
            before << QStringLiteral("%1|2").arg(i);
    }
    QTest::newRow("the hundredth forum's section beyond 32 bits, a bad line after it")
        << sectionsExample << many
        << QStringLiteral(u"Файл \"%1\", строка 100: идентификатор раздела \"99999999999\" выходит за пределы "
                          u"от -2147483648 до 2147483647")
        << "forums.txt"
        << QStringList{"10|News", "20|Help"} << before;

    // Past the rows that one commit takes, the rows of the commits before
    // and those since stay all the same.
    QByteArray longer;
    QStringList kept;
    constexpr int failing = 140000;
    for (int i = 1; i <= failing; ++i) {
        longer += QByteArray::number(i) + (i == failing ? "||x\r\n" : "|10|x\r\n");
        if (i < failing)
            kept << QStringLiteral("%1|1").arg(i);
    }
    QTest::newRow("a bad line after more rows than one commit takes")
        << sectionsExample << longer
        << QStringLiteral(u"Файл \"%1\", строка 140000: идентификатор раздела \"\" не является целым числом")
        << "forums.txt" << QStringList{"10|News", "20|Help"} << kept;
}

// Whatever fails, the previous fr_fr.txt and forum.txt stay byte for byte,
// the lines before the failing one are in the tables, and nothing temporary
// is left behind.
void tst_Run::failureLeavesOutputsWhole()
{
    QFETCH(QByteArray, sections);
    QFETCH(QByteArray, forums);
    QFETCH(QString, message);
    QFETCH(QString, input);
    QFETCH(QStringList, sectionRows);
    QFETCH(QStringList, forumRows);
    dir_->write("sections.txt", sections);
    dir_->write("forums.txt", forums);
    dir_->write("fr_fr.txt", oldSections);
    dir_->write("forum.txt", oldForums);
    const QString expected = input.isEmpty() ? message : message.arg(QDir::toNativeSeparators(dir_->path(input)));
    QCOMPARE(runExpectingFailure(), expected);
    QCOMPARE(dir_->read("fr_fr.txt"), oldSections);
    QCOMPARE(dir_->read("forum.txt"), oldForums);
    QCOMPARE(rows("Razdel_table", "old_id,str_value"), sectionRows);
    QCOMPARE(rows("Forum_table", "old_id,new_id"), forumRows);
    QVERIFY(!host_.events.contains(QStringLiteral("enable 1")));
    for (const QString &e : dir_->entries())
        QVERIFY2(!e.endsWith(QLatin1String(".tmp")), qPrintable(e));
}

void tst_Run::messagesEscapeControlCharacters_data()
{
    QTest::addColumn<QString>("name"); // of the list the message names, the other being plain
    QTest::addColumn<bool>("forumList");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("message"); // %1 is the full path of the list as the message must show it
    QTest::addColumn<QString>("shownName");

    const QString identifier = QStringLiteral(u"Файл \"%1\", строка 1: идентификатор \"%2\" не является целым числом");
    const QString plain = QStringLiteral("list.txt");
    QTest::newRow("a title-setting sequence: ESC and BEL")
        << plain << false << QByteArray("\x1B]0;pwned\x07|a\r\n") << identifier.arg(u"%1", u"\\x1B]0;pwned\\x07")
        << plain;
    QTest::newRow("TAB between digits, DEL") << plain << false << QByteArray("1\t2\x7F|a\r\n")
                                             << identifier.arg(u"%1", u"1\\x092\\x7F") << plain;
    QTest::newRow("C1: NEL and CSI") << plain << false << QByteArray("7\xC2\x85\xC2\x9B" "2J|a\r\n")
                                     << identifier.arg(u"%1", u"7\\x85\\x9B2J") << plain;
    QTest::newRow("beside C1 and ASCII, nothing else changes")
        << plain << false << QByteArray("\xC2\xA0\xE2\x84\x96 \\x|a\r\n") << identifier.arg(u"%1", u"\u00A0№ \\x")
        << plain;
    QTest::newRow("a section identifier in a forum line")
        << plain << true << QByteArray("1|\x1B[31m|x\r\n")
        << QStringLiteral(u"Файл \"%1\", строка 1: идентификатор раздела \"\\x1B[31m\" не является целым числом")
        << plain;
    QTest::newRow("CR and ESC in the list's name")
        << QStringLiteral("s\r\x1B[2J.txt") << false << QByteArray("x|a\r\n") << identifier.arg(u"%1", u"x")
        << QStringLiteral("s\\x0D\\x1B[2J.txt");
    QTest::newRow("a list not UTF-8, BEL in its name")
        << QStringLiteral("f\x07.txt") << true << QByteArray("1|1|\xFF\r\n")
        << QStringLiteral(u"Файл \"%1\" не является текстом в кодировке UTF-8: ошибка в строке 1")
        << QStringLiteral("f\\x07.txt");
}

// Whatever a list or its name holds, a message shows its control characters
// escaped: it reaches a terminal or a box, and must neither steer the one nor
// break the lines of either.
void tst_Run::messagesEscapeControlCharacters()
{
    QFETCH(QString, name);
    QFETCH(bool, forumList);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, message);
    QFETCH(QString, shownName);
    if (name.contains(QRegularExpression(QStringLiteral("[\\x01-\\x1F]")))
        && !testSystem::namesMayHoldControlCharacters())
        QSKIP("this system refuses control characters in a file's name: no such list can be there");
    dir_->write("sections.txt", sectionsExample);
    dir_->write("forums.txt", forumsExample);
    dir_->write(name, bytes);
    if (forumList)
        host_.forums = dir_->path(name);
    else
        host_.sections = dir_->path(name);
    QCOMPARE(runExpectingFailure(), message.arg(QDir::toNativeSeparators(dir_->path(shownName))));
}

void tst_Run::irreplaceableOutputIsCreateFailure_data()
{
    QTest::addColumn<QString>("blocked");
    QTest::addColumn<bool>("asFolder");
    QTest::newRow("read-only fr_fr.txt") << "fr_fr.txt" << false;
    QTest::newRow("read-only forum.txt") << "forum.txt" << false;
    QTest::newRow("a folder named forum.txt") << "forum.txt" << true;
}

// An output that cannot be replaced ends the run with the create failure
// naming it; the intermediates stay, and neither output changes, not even the
// one that could have been replaced.
void tst_Run::irreplaceableOutputIsCreateFailure()
{
    QFETCH(QString, blocked);
    QFETCH(bool, asFolder);
    dir_->write("sections.txt", sectionsExample);
    dir_->write("forums.txt", forumsExample);
    dir_->write("fr_fr.txt", oldSections);
    dir_->write("forum.txt", oldForums);
    if (asFolder) {
        QVERIFY(QFile::remove(dir_->path(blocked)));
        QVERIFY(QDir(dir_->dir()).mkdir(blocked));
    } else {
        QVERIFY(QFile::setPermissions(dir_->path(blocked), QFile::ReadOwner | QFile::ReadUser | QFile::ReadGroup));
    }
    const QString message = runExpectingFailure();
    // The system's own words: "Is a directory" and "Permission denied" on
    // Linux; Windows says a folder, like a read-only file, is denied.
    const QString reason = db::trimEngineText(asFolder ? run::fs::isFolderText() : run::fs::deniedText());
    QCOMPARE(message, QStringLiteral("Cannot create file \"%1\". %2").arg(QDir::toNativeSeparators(dir_->path(blocked)), reason));
    QCOMPARE(dir_->read("fr_fr.txt"), oldSections);
    if (!asFolder)
        QCOMPARE(dir_->read("forum.txt"), oldForums);
    QCOMPARE(dir_->read("1.txt"), QByteArray("\xEF\xBB\xBF" "1|News\r\n2|Help\r\n"));
    QCOMPARE(dir_->read("2.txt"), QByteArray("\xEF\xBB\xBF" "5|2|FAQ\r\n6|0|Old\r\n"));
    for (const QString &e : dir_->entries())
        QVERIFY2(!e.endsWith(QLatin1String(".tmp")), qPrintable(e));
    QFile::setPermissions(dir_->path(blocked), QFile::ReadOwner | QFile::WriteOwner);
}

void tst_Run::replacesTheVeryFileThatWasRead()
{
    dir_->write("fr_fr.txt", sectionsExample);
    dir_->write("forum.txt", forumsExample);
    host_.sections = dir_->path("fr_fr.txt");
    host_.forums = dir_->path("forum.txt");
    ReindexRun(host_, *tables_).run();
    QCOMPARE(dir_->read("fr_fr.txt"), QByteArray("1|News\r\n2|Help\r\n"));
    QCOMPARE(dir_->read("forum.txt"), QByteArray("5|2|FAQ\r\n6|0|Old\r\n"));
}

// What a killed run leaves: a child process (this test program, started
// anew with killedRunArgument) runs the run and ends without a word at the
// host's pump `killAt`, counted from the pump after the operation bar's
// maximum 4 (the last phase's start) as 0, as a run killed there would. So
// the point does not move with how many pumps the emptying of full tables
// takes.
const char killedRunArgument[] = "--killed-run";

static void runKilledAtPump(const QString &dir, const QString &sections, const QString &forums, int killAt)
{
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedChannels);
    child.start(QCoreApplication::applicationFilePath(),
                {QLatin1String(killedRunArgument), dir, sections, forums, QString::number(killAt)});
    QVERIFY(child.waitForFinished(60000));
    QCOMPARE(child.exitStatus(), QProcess::NormalExit);
    QCOMPARE(child.exitCode(), 9);
}

// The child's side: the run up to the pump it is killed at.
static int killedRun(const QString &dir, const QString &sections, const QString &forums, int killAt)
{
    RecordingHost host;
    host.directory = dir;
    host.sections = sections;
    host.forums = forums;
    int lastPhaseStart = -1;
    host.onPump = [&host, &lastPhaseStart, killAt](int pump) {
        if (lastPhaseStart < 0 && host.events.contains(QLatin1String("max 4")))
            lastPhaseStart = pump;
        if (lastPhaseStart >= 0 && pump - lastPhaseStart == killAt)
            std::_Exit(9); // no destructor, no clean-up: as killed
    };
    try {
        db::Tables tables(dir);
        ReindexRun(host, tables).run();
    } catch (...) {
    }
    return 0;
}

void tst_Run::aListRefusedForItsBytesChangesNothing_data()
{
    QTest::addColumn<QByteArray>("sections");
    QTest::addColumn<QByteArray>("forums");
    QTest::addColumn<QString>("message"); // %1 is the full path of the list named in it
    QTest::addColumn<QString>("list");
    QByteArray late;
    for (int i = 1; i < 3000; ++i)
        late += QByteArray::number(i) + "|10|x\r\n";
    late += "3000|10|\xED\xA0\x80\r\n"; // an encoded surrogate
    QTest::newRow("sections ill-formed") << QByteArray("1|a\r\n2|\xC3\x28\r\n") << forumsExample
        << QStringLiteral(u"Файл \"%1\" не является текстом в кодировке UTF-8: ошибка в строке 2") << "sections.txt";
    QTest::newRow("forums ill-formed on their last line") << sectionsExample << late
        << QStringLiteral(u"Файл \"%1\" не является текстом в кодировке UTF-8: ошибка в строке 3000") << "forums.txt";
    QTest::newRow("forums in UTF-16") << sectionsExample << QByteArray("\xFF\xFE" "5\0|\0", 6)
        << QStringLiteral(u"Файл \"%1\" не является текстом в кодировке UTF-8: ошибка в строке 1") << "forums.txt";
}

// A list refused for its bytes is refused before the tables are emptied:
// the previous run's rows, its outputs and the folder stay as they were.
void tst_Run::aListRefusedForItsBytesChangesNothing()
{
    QFETCH(QByteArray, sections);
    QFETCH(QByteArray, forums);
    QFETCH(QString, message);
    QFETCH(QString, list);
    dir_->write("sections.txt", "7|Before\r\n");
    dir_->write("forums.txt", "70|7|Kept\r\n");
    QCOMPARE(ReindexRun(host_, *tables_).run(), ReindexRun::Outcome::Completed);
    const QStringList sectionRows = rows("Razdel_table", "id,old_id,str_value");
    const QStringList forumRows = rows("Forum_table", "id,old_id,podrazdel_id,new_id,str_value");
    const QByteArray outputs = dir_->read("fr_fr.txt") + dir_->read("forum.txt");
    const QStringList entries = dir_->entries();

    dir_->write("sections.txt", sections);
    dir_->write("forums.txt", forums);
    QCOMPARE(runExpectingFailure(), message.arg(QDir::toNativeSeparators(dir_->path(list))));
    QCOMPARE(rows("Razdel_table", "id,old_id,str_value"), sectionRows);
    QCOMPARE(rows("Forum_table", "id,old_id,podrazdel_id,new_id,str_value"), forumRows);
    QCOMPARE(dir_->read("fr_fr.txt") + dir_->read("forum.txt"), outputs);
    QCOMPARE(dir_->entries(), entries);
}

void tst_Run::aListThatIsTheFoldersOwnFileIsRefused_data()
{
    QTest::addColumn<QString>("which");   // "sections" or "forums"
    QTest::addColumn<QString>("how");     // the list is the file itself, a link to it, or a second name of it
    QTest::addColumn<QString>("working"); // the folder's file it is
    QTest::newRow("sections are 1.txt") << "sections" << "itself" << "1.txt";
    QTest::newRow("forums are 2.txt through a link elsewhere") << "forums" << "link" << "2.txt";
    QTest::newRow("sections are the database") << "sections" << "itself" << "Database.mdb";
    QTest::newRow("forums are a second name of the database") << "forums" << "hard link" << "Database.mdb";
}

// Compared as files, not as names: a list that is one of the files the run
// writes while it reads the lists is refused before anything changes.
void tst_Run::aListThatIsTheFoldersOwnFileIsRefused()
{
    QFETCH(QString, which);
    QFETCH(QString, how);
    QFETCH(QString, working);
    dir_->write("sections.txt", sectionsExample);
    dir_->write("forums.txt", forumsExample);
    QCOMPARE(ReindexRun(host_, *tables_).run(), ReindexRun::Outcome::Completed);
    const QByteArray outputs = dir_->read("fr_fr.txt") + dir_->read("forum.txt");
    const QStringList forumRows = rows("Forum_table", "old_id,new_id");
    if (!dir_->has(working))
        dir_->write(working, "1|a\r\n");
    const QByteArray workingBytes = dir_->read(working);

    QTemporaryDir elsewhere;
    QString list = dir_->path(working);
    if (how == QLatin1String("link")) {
        list = elsewhere.filePath("list.txt");
        if (!testSystem::symlink(dir_->path(working), list))
            QSKIP("this system makes no symbolic link for this user");
    } else if (how == QLatin1String("hard link")) {
        list = dir_->path("list.txt");
        QVERIFY(testSystem::hardLink(dir_->path(working), list));
    }
    (which == QLatin1String("sections") ? host_.sections : host_.forums) = list;
    QCOMPARE(runExpectingFailure(),
             QStringLiteral(u"Файл \"%1\" нельзя взять списком: это рабочий файл программы \"%2\".")
                 .arg(QDir::toNativeSeparators(list), working));
    QCOMPARE(dir_->read(working), workingBytes);
    QCOMPARE(dir_->read("fr_fr.txt") + dir_->read("forum.txt"), outputs);
    QCOMPARE(rows("Forum_table", "old_id,new_id"), forumRows);
}

void tst_Run::theUsersFilesBesideTheProgramSurviveEveryRun_data()
{
    QTest::addColumn<QByteArray>("sections");
    QTest::addColumn<QByteArray>("forums");
    QTest::addColumn<bool>("completes");
    QTest::newRow("a good run") << sectionsExample << forumsExample << true;
    QTest::newRow("a list refused for its bytes") << QByteArray("1|\xFF\r\n") << forumsExample << false;
    QTest::newRow("a missing list") << QByteArray("<none>") << forumsExample << false;
    QTest::newRow("a line refused after the import began") << sectionsExample << QByteArray("1|10|a\r\n2|x|b\r\n")
                                                           << false;
}

// Names that a scheme for staging, backups or marks might pick, and lists
// of the user's named like the intermediates, all beside the program: no
// run, good or refused, changes any of them.
void tst_Run::theUsersFilesBesideTheProgramSurviveEveryRun()
{
    QFETCH(QByteArray, sections);
    QFETCH(QByteArray, forums);
    QFETCH(bool, completes);
    dir_->write("fr_fr.txt", oldSections);
    dir_->write("forum.txt", oldForums);
    const QStringList seeded = {
        "1.txt", "2.txt", "fr_fr.txt.bak", "fr_fr.txt.tmp", "forum.txt.tmp", "forum.txt.bak", "fr_fr.txt.none",
        "fr_fr.txt.commit", "fr_fr.txt.old", "fr_fr.txt~", "fr_fr.txt~0123456789abcdef.tmp",
        "fr_fr.txt~0123456789abcdef.bak", "forum.txt~fedcba9876543210.tmp", "1.txt~0123456789abcdef.tmp",
        "reindex~0123456789abcdef.journal", "Database.mdb.bak", ".fr_fr.txt.swp", "map.txt"};
    for (const QString &name : seeded)
        dir_->write(name, "the user's own " + name.toUtf8() + "\r\n");
    // A journal-like file of someone else's that names an output.
    dir_->write("reindex~fedcba9876543210.journal", "reindex-journal 1\nnew staged 2f746d70 2f746d70\n");
    QVERIFY(QDir(dir_->dir()).mkdir("forum.txt~1111111111111111.tmp"));
    QMap<QString, QByteArray> before;
    for (const QString &name : dir_->entries())
        if (QFileInfo(dir_->path(name)).isFile() && !name.startsWith(QLatin1String("Database.mdb")))
            before[name] = dir_->read(name);

    if (sections != "<none>")
        dir_->write("sections.txt", sections);
    dir_->write("forums.txt", forums);
    before["forums.txt"] = forums;
    if (sections != "<none>")
        before["sections.txt"] = sections;
    ReindexRun::Outcome outcome = ReindexRun::Outcome::SectionsMissing;
    try {
        outcome = ReindexRun(host_, *tables_).run();
    } catch (const run::RunError &) {
    }
    QCOMPARE(outcome == ReindexRun::Outcome::Completed, completes);
    if (completes) {
        before["fr_fr.txt"] = "1|News\r\n2|Help\r\n";
        before["forum.txt"] = "5|2|FAQ\r\n6|0|Old\r\n";
    }
    for (auto it = before.cbegin(); it != before.cend(); ++it)
        QVERIFY2(dir_->read(it.key()) == it.value(), qPrintable(it.key()));
    QVERIFY(QFileInfo(dir_->path("forum.txt~1111111111111111.tmp")).isDir());
    // Beside them, only what a run keeps: after a failure late enough, its
    // intermediates (under names of its own, the user's holding theirs) and
    // the journal that names them for the next run to remove.
    for (const QString &name : dir_->entries()) {
        if (before.contains(name) || name.startsWith(QLatin1String("Database.mdb"))
            || name == QLatin1String("forum.txt~1111111111111111.tmp"))
            continue;
        const bool kept = name.startsWith(QLatin1String("1.txt~")) || name.startsWith(QLatin1String("2.txt~"))
            || (name.startsWith(QLatin1String("reindex~")) && name.endsWith(QLatin1String(".journal")));
        QVERIFY2(!completes && kept, qPrintable(name));
    }
    // The next good run takes away what this one kept, and nothing else.
    dir_->write("sections.txt", sectionsExample);
    dir_->write("forums.txt", forumsExample);
    host_ = RecordingHost();
    host_.directory = dir_->dir();
    host_.sections = dir_->path("sections.txt");
    host_.forums = dir_->path("forums.txt");
    QCOMPARE(ReindexRun(host_, *tables_).run(), ReindexRun::Outcome::Completed);
    before["sections.txt"] = sectionsExample;
    before["forums.txt"] = forumsExample;
    before["fr_fr.txt"] = "1|News\r\n2|Help\r\n";
    before["forum.txt"] = "5|2|FAQ\r\n6|0|Old\r\n";
    QStringList expected = before.keys();
    expected << "forum.txt~1111111111111111.tmp";
    QStringList now = dir_->entries();
    now.removeIf([](const QString &e) { return e.startsWith(QLatin1String("Database.mdb")); });
    expected.sort();
    QCOMPARE(now, expected);
    for (auto it = before.cbegin(); it != before.cend(); ++it)
        QVERIFY2(dir_->read(it.key()) == it.value(), qPrintable(it.key()));
}

void tst_Run::aRunKilledWhileStagingIsUndoneByTheNext()
{
    dir_->write("sections.txt", sectionsExample);
    dir_->write("forums.txt", forumsExample);
    dir_->write("fr_fr.txt", oldSections);
    dir_->write("forum.txt", oldForums);
    // Pump 0 follows the bar's maximum 4, 1 comes before the final commit;
    // 2 to 5 the reading and writing of each output's new content; 6 comes
    // once both are in place.
    for (const int killAt : {0, 2, 5, 6}) {
        runKilledAtPump(dir_->dir(), dir_->path("sections.txt"), dir_->path("forums.txt"), killAt);
        if (QTest::currentTestFailed())
            return;
        const bool replaced = killAt == 6;
        QCOMPARE(dir_->read("fr_fr.txt"), replaced ? QByteArray("1|News\r\n2|Help\r\n") : oldSections);
        QCOMPARE(dir_->read("forum.txt"), replaced ? QByteArray("5|2|FAQ\r\n6|0|Old\r\n") : oldForums);
        // What the killed run left: its journal at least.
        const QStringList left = dir_->entries();
        QVERIFY2(std::any_of(left.cbegin(), left.cend(), [](const QString &e) { return e.endsWith(QLatin1String(".journal")); }),
                 qPrintable(left.join(u' ')));

        // The next start puts it right though it refuses its lists at once.
        RecordingHost next;
        next.directory = dir_->dir();
        next.sections = dir_->path("none.txt");
        QCOMPARE(ReindexRun(next, *tables_).run(), ReindexRun::Outcome::SectionsMissing);
        QStringList entries = dir_->entries();
        entries.removeIf([](const QString &e) { return e.startsWith(QLatin1String("Database.mdb")); });
        QCOMPARE(entries, (QStringList{"forum.txt", "forums.txt", "fr_fr.txt", "sections.txt"}));
        QCOMPARE(dir_->read("fr_fr.txt"), replaced ? QByteArray("1|News\r\n2|Help\r\n") : oldSections);
        dir_->write("fr_fr.txt", oldSections);
        dir_->write("forum.txt", oldForums);
    }
}

// A killed run's journal names the files it made; a file put in the place
// of one of them since is someone else's, and stays. A record cut short by
// the kill ends what the journal says.
void tst_Run::aJournalIsHonouredOnlyForTheFilesItMade()
{
    dir_->write("sections.txt", sectionsExample);
    dir_->write("forums.txt", forumsExample);
    runKilledAtPump(dir_->dir(), dir_->path("sections.txt"), dir_->path("forums.txt"), 5);
    QVERIFY(dir_->has("1.txt") && dir_->has("2.txt"));
    const std::optional<run::fs::FileId> made = run::fs::ofEntry(dir_->path("1.txt"));
    QVERIFY(QFile::remove(dir_->path("1.txt")));
    dir_->write("1.txt", "1|the user's list\r\n");
    if (run::fs::ofEntry(dir_->path("1.txt")) == made)
        QSKIP("this file system gives a new file the very identity of one just removed (Wine on a Linux file "
              "system: the inode, and no birth); NTFS and Linux's own tell them apart");
    QString journal;
    for (const QString &e : dir_->entries())
        if (e.endsWith(QLatin1String(".journal")))
            journal = dir_->path(e);
    QFile cut(journal);
    QVERIFY(cut.open(QIODevice::Append));
    cut.write("new working 2f");
    cut.close();

    RecordingHost next;
    next.directory = dir_->dir();
    QCOMPARE(ReindexRun(next, *tables_).run(), ReindexRun::Outcome::SectionsMissing);
    QStringList entries = dir_->entries();
    entries.removeIf([](const QString &e) { return e.startsWith(QLatin1String("Database.mdb")); });
    QCOMPARE(entries, (QStringList{"1.txt", "forums.txt", "sections.txt"}));
    QCOMPARE(dir_->read("1.txt"), QByteArray("1|the user's list\r\n"));
}

// A chain of links to an output: the file at its end gets the new content,
// and every link stays a link.
void tst_Run::anOutputReachedThroughLinksIsReplacedAtTheirEnd()
{
    QTemporaryDir elsewhere;
    const QString target = elsewhere.filePath("sections-out.txt");
    QFile::remove(target);
    {
        QFile f(target);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(oldSections);
    }
    if (!testSystem::symlink(target, elsewhere.filePath("middle")))
        QSKIP("this system makes no symbolic link for this user");
    QVERIFY(testSystem::symlink(QStringLiteral("middle"), elsewhere.filePath("first"))); // relative to its folder
    QVERIFY(testSystem::symlink(elsewhere.filePath("first"), dir_->path("fr_fr.txt")));
    dir_->write("sections.txt", sectionsExample);
    dir_->write("forums.txt", forumsExample);
    QCOMPARE(ReindexRun(host_, *tables_).run(), ReindexRun::Outcome::Completed);
    QVERIFY(QFileInfo(dir_->path("fr_fr.txt")).isSymLink());
    QVERIFY(QFileInfo(elsewhere.filePath("first")).isSymLink());
    QVERIFY(QFileInfo(elsewhere.filePath("middle")).isSymLink());
    QFile f(target);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), QByteArray("1|News\r\n2|Help\r\n"));
    QCOMPARE(QDir(elsewhere.path()).entryList(QDir::Files | QDir::System | QDir::Hidden).size(), 3);
}

void tst_Run::replacedOutputKeepsItsPermissions()
{
    dir_->write("sections.txt", sectionsExample);
    dir_->write("forums.txt", forumsExample);
    dir_->write("fr_fr.txt", oldSections);
    QVERIFY(testSystem::restrictToOwner(dir_->path("fr_fr.txt"), testSystem::GroupMayRead));
    if (!testSystem::isRestrictedToOwner(dir_->path("fr_fr.txt"), testSystem::GroupMayRead))
        QSKIP("the file system here keeps no access list as it is set (Wine's does not)");
    ReindexRun(host_, *tables_).run();
    QCOMPARE(dir_->read("fr_fr.txt"), QByteArray("1|News\r\n2|Help\r\n"));
    QVERIFY(testSystem::isRestrictedToOwner(dir_->path("fr_fr.txt"), testSystem::GroupMayRead));
}

// Runs of one folder share its tables, intermediates and outputs: while one
// runs, another (here from within its pump, as a second window would) is
// refused before it changes anything, and the first completes as if alone.
void tst_Run::aSecondRunInTheFolderFailsAtOnce()
{
    dir_->write("sections.txt", sectionsExample);
    dir_->write("forums.txt", forumsExample);
    dir_->write("other.txt", "7|a\r\n");
    QString secondFailure;
    RecordingHost second;
    host_.onPump = [&](int pump) {
        if (pump != 3)
            return;
        second.directory = dir_->dir();
        second.sections = dir_->path("other.txt");
        second.forums = dir_->path("other.txt");
        try {
            db::Tables tables(dir_->dir());
            ReindexRun(second, tables).run();
            secondFailure = QStringLiteral("<completed>");
        } catch (const db::DbError &e) {
            secondFailure = e.message();
        }
    };
    QCOMPARE(ReindexRun(host_, *tables_).run(), ReindexRun::Outcome::Completed);
    QCOMPARE(secondFailure, QStringLiteral("database is locked"));
    QVERIFY(second.events.isEmpty());
    QCOMPARE(dir_->read("fr_fr.txt"), QByteArray("1|News\r\n2|Help\r\n"));
    QCOMPARE(dir_->read("forum.txt"), QByteArray("5|2|FAQ\r\n6|0|Old\r\n"));
    QCOMPARE(rows("Razdel_table", "old_id"), (QStringList{"10", "20"}));

    // Once the first has returned, the folder is free again.
    host_ = RecordingHost();
    host_.directory = dir_->dir();
    host_.sections = dir_->path("other.txt");
    host_.forums = dir_->path("forums.txt");
    QCOMPARE(ReindexRun(host_, *tables_).run(), ReindexRun::Outcome::Completed);
    QCOMPARE(dir_->read("fr_fr.txt"), QByteArray("1|a\r\n"));
}

// Emptying a table of many rows is one statement of the engine: the host is
// pumped while it goes on, before the run reaches its first line.
// A database whose tables were made by hand, without the 32-bit rules: the
// run refuses a section identifier beyond them as the shipped tables do,
// rather than number its forums wrongly or worse.
void tst_Run::tablesWithoutTheirRulesGetNoIdentifierBeyond32Bits()
{
    tables_.reset();
    QVERIFY(QFile::remove(dir_->path("Database.mdb")));
    {
        EngineConnection lax(dir_->path("Database.mdb"));
        QCOMPARE(lax.exec("CREATE TABLE Razdel_table(id INTEGER PRIMARY KEY, old_id INTEGER, str_value TEXT);"
                          "CREATE TABLE Forum_table(id INTEGER PRIMARY KEY, old_id INTEGER, podrazdel_id INTEGER,"
                          " new_id INTEGER, str_value TEXT);"),
                 SQLITE_OK);
    }
    tables_ = std::make_unique<db::Tables>(dir_->dir());

    dir_->write("sections.txt", "7|Seven\r\n3000000000|Big\r\n");
    dir_->write("forums.txt", "1|3000000000|f1\r\n2|7|f2\r\n");
    dir_->write("fr_fr.txt", oldSections);
    dir_->write("forum.txt", oldForums);
    QCOMPARE(runExpectingFailure(),
             QStringLiteral(u"Файл \"%1\", строка 2: идентификатор \"3000000000\" выходит за пределы "
                            u"от -2147483648 до 2147483647")
                 .arg(QDir::toNativeSeparators(dir_->path("sections.txt"))));
    QCOMPARE(dir_->read("fr_fr.txt"), oldSections);
    QCOMPARE(dir_->read("forum.txt"), oldForums);
    QCOMPARE(rows("Forum_table", "old_id"), QStringList());
}

// What stands at an intermediate's name is not the run's: a link to a file
// elsewhere is not written through, and a FIFO is not opened (the run would
// wait on it for ever, holding its folder). Windows keeps no FIFO in a
// folder: there only the link is planted.
void tst_Run::plantedIntermediatesAreNeitherFollowedNorOpened()
{
    QTemporaryDir elsewhere;
    const QString outside = elsewhere.filePath("precious.txt");
    {
        QFile f(outside);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("precious\r\n");
    }
    if (!testSystem::symlink(outside, dir_->path("1.txt")))
        QSKIP("this system makes no symbolic link for this user");
    const bool fifo = testSystem::makeFifo(dir_->path("2.txt"));
    dir_->write("sections.txt", sectionsExample);
    dir_->write("forums.txt", forumsExample);
    QCOMPARE(ReindexRun(host_, *tables_).run(), ReindexRun::Outcome::Completed);
    QCOMPARE(dir_->read("fr_fr.txt"), QByteArray("1|News\r\n2|Help\r\n"));
    QCOMPARE(dir_->read("forum.txt"), QByteArray("5|2|FAQ\r\n6|0|Old\r\n"));
    QFile f(outside);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), QByteArray("precious\r\n"));
    QVERIFY(QFileInfo(dir_->path("1.txt")).isSymLink());
    QStringList entries = dir_->entries();
    entries.removeIf([](const QString &e) { return e.startsWith(QLatin1String("Database.mdb")); });
    QCOMPARE(entries, (QStringList{"1.txt", "forum.txt", "forums.txt", "fr_fr.txt", "sections.txt"}));
    if (fifo)
        QVERIFY(testSystem::isFifo(dir_->path("2.txt")));
}

void tst_Run::theFolderIsFreeWhileABoxWaits_data()
{
    QTest::addColumn<QString>("sectionsName");
    QTest::addColumn<QString>("message");
    QTest::newRow("the completion box") << "sections.txt" << completedMessage();
    QTest::newRow("a missing-file box") << "none.txt"
                                        << QStringLiteral(u"message Указан несуществующий файл \"fr_fr.txt\"! | "
                                                          u"Внимание! | warning");
}

// The folder is let go before a box waits for the user: a run started
// meanwhile, from the twin or another window, is not refused for a run
// whose work is over.
void tst_Run::theFolderIsFreeWhileABoxWaits()
{
    QFETCH(QString, sectionsName);
    QFETCH(QString, message);
    dir_->write("sections.txt", sectionsExample);
    dir_->write("forums.txt", forumsExample);
    host_.sections = dir_->path(sectionsName);
    QString taken = QStringLiteral("<no box>");
    host_.onMessage = [&] {
        try {
            db::FolderLock lock(dir_->dir());
            taken = QStringLiteral("free");
        } catch (const db::DbError &e) {
            taken = e.message();
        }
    };
    ReindexRun(host_, *tables_).run();
    QVERIFY(host_.events.contains(message));
    QCOMPARE(taken, QStringLiteral("free"));
}

void tst_Run::longStatementsLetTheWindowIn()
{
    QByteArray forums;
    for (int i = 1; i <= 200000; ++i)
        forums += QByteArray::number(i) + "|10|x\r\n";
    dir_->write("sections.txt", sectionsExample);
    dir_->write("forums.txt", forums);
    QCOMPARE(ReindexRun(host_, *tables_).run(), ReindexRun::Outcome::Completed);

    host_ = RecordingHost();
    host_.directory = dir_->dir();
    host_.sections = dir_->path("sections.txt");
    host_.forums = dir_->path("forums.txt");
    dir_->write("forums.txt", forumsExample);
    QCOMPARE(ReindexRun(host_, *tables_).run(), ReindexRun::Outcome::Completed);
    const qsizetype busy = host_.events.indexOf("busy 1");
    QVERIFY(busy > 0);
    QCOMPARE(host_.events.first(3), (QStringList{"enable 0", "pos 0", "overall 0"}));
    QVERIFY2(host_.events.mid(3, busy - 3).count("pump") >= 2, qPrintable(host_.events.mid(0, 8).join(u',')));
    QCOMPARE(rows("Forum_table", "old_id"), (QStringList{"5", "6"}));
}

void tst_Run::aLineChangedAfterItsCheckIsRefused_data()
{
    QTest::addColumn<QString>("list");
    QTest::addColumn<QByteArray>("bytes"); // put over the title of the changed line
    QTest::addColumn<QString>("codePage"); // empty: UTF-8
    QTest::addColumn<QString>("refusal");  // %1 the list's full path, %2 the line
    const QString notUtf8 = QStringLiteral(u"Файл \"%1\" не является текстом в кодировке UTF-8: ошибка в строке %2");
    const QString nul = QStringLiteral(u"Файл \"%1\" не является текстом: нулевой байт в строке %2");
    QTest::newRow("sections, ill-formed") << "sections.txt" << QByteArray("\xC0\xAF") << "" << notUtf8;
    QTest::newRow("forums, ill-formed") << "forums.txt" << QByteArray("\xED\xA0") << "" << notUtf8;
    QTest::newRow("forums, a NUL") << "forums.txt" << QByteArray("x\0", 2) << "" << nul;
    QTest::newRow("sections, undefined in the code page")
        << "sections.txt" << QByteArray("\x98x") << "cp1251"
        << QStringLiteral(u"Файл \"%1\" не является текстом в кодировке windows-1251: ошибка в строке %2");
}

// The run reads each list twice, the checking pass and then the import; the
// list may change in between (here from within the first pump of its
// import, when only the start of the file has been read again). A changed line
// is refused as the checking pass would have refused it, and the outputs stay.
void tst_Run::aLineChangedAfterItsCheckIsRefused()
{
    QFETCH(QString, list);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, codePage);
    QFETCH(QString, refusal);
    // More than the reader's buffer takes at once, lines of one length.
    constexpr int lines = 150000, changed = 140000;
    QByteArray sections, forums;
    for (int i = 1; i <= lines; ++i) {
        const QByteArray id = QByteArray::number(i).rightJustified(6, '0');
        sections += id + "|sec" + id.right(2) + "\r\n";
        forums += id + '|' + id + "|for" + id.right(2) + "\r\n";
    }
    dir_->write("sections.txt", sections);
    dir_->write("forums.txt", forums);
    dir_->write("fr_fr.txt", oldSections);
    dir_->write("forum.txt", oldForums);
    const std::optional<run::CodePage> page =
        codePage.isEmpty() ? std::nullopt : run::CodePage::byName(codePage);
    const bool inSections = list == QLatin1String("sections.txt");
    const QByteArray &bytesBefore = inSections ? sections : forums;
    const qsizetype lineLength = bytesBefore.indexOf('\n') + 1;
    QVERIFY(bytesBefore.size() / lineLength == lines && lineLength * (changed - 1) > 1 << 20);
    bool rewritten = false;
    qsizetype seen = 0, checked = 0;
    host_.onPump = [&](int) {
        // The operation bar is set once a list has passed its check.
        for (; seen < host_.events.size(); ++seen)
            checked += host_.events.at(seen).startsWith(QLatin1String("max "));
        if (rewritten || checked != (inSections ? 1 : 2))
            return;
        rewritten = true;
        QFile f(dir_->path(list));
        QVERIFY(f.open(QIODevice::ReadWrite));
        // The last bytes of the title, before its CR LF.
        QVERIFY(f.seek(lineLength * changed - 2 - bytes.size()));
        QCOMPARE(f.write(bytes), bytes.size());
    };
    ReindexRun run(host_, *tables_);
    run.setInputCodePage(page ? &*page : nullptr);
    QString failure = QStringLiteral("<completed>");
    try {
        run.run();
    } catch (const run::RunError &e) {
        failure = e.message();
    }
    QVERIFY(rewritten);
    QCOMPARE(failure, refusal.arg(QDir::toNativeSeparators(dir_->path(list)), QString::number(changed)));
    QCOMPARE(dir_->read("fr_fr.txt"), oldSections);
    QCOMPARE(dir_->read("forum.txt"), oldForums);
}

void tst_Run::aListThatIsNoRegularFileIsRefused_data()
{
    QTest::addColumn<QString>("sectionsName");
    QTest::addColumn<QString>("forumsName");
    QTest::addColumn<QString>("refused");
    QTest::newRow("sections a named pipe") << "pipe" << "forums.txt" << "pipe";
    QTest::newRow("forums a named pipe") << "sections.txt" << "pipe" << "pipe";
    QTest::newRow("forums a link to a named pipe") << "sections.txt" << "link" << "link";
    QTest::newRow("forums a device") << "sections.txt" << "/dev/null" << "/dev/null";
}

// Opening a pipe for reading waits for a writer, maybe for ever, while the run
// holds its folder; and the run reads each list twice. Such a list is refused
// at once, before anything changes.
void tst_Run::aListThatIsNoRegularFileIsRefused()
{
#ifdef Q_OS_WIN
    QSKIP("no named pipes in the file system here");
#endif
    QFETCH(QString, sectionsName);
    QFETCH(QString, forumsName);
    QFETCH(QString, refused);
    dir_->write("sections.txt", sectionsExample);
    dir_->write("forums.txt", forumsExample);
    dir_->write("fr_fr.txt", oldSections);
    dir_->write("forum.txt", oldForums);
    const Fifo pipe(dir_->path("pipe"));
    QVERIFY(pipe.made());
    QVERIFY(QFile::link(dir_->path("pipe"), dir_->path("link")));
    auto named = [&](const QString &name) { return name.startsWith(u'/') ? name : dir_->path(name); };
    host_.sections = named(sectionsName);
    host_.forums = named(forumsName);
    QCOMPARE(runExpectingFailure(),
             QStringLiteral("Cannot open file \"%1\". Not a regular file").arg(QDir::toNativeSeparators(named(refused))));
    QCOMPARE(dir_->read("fr_fr.txt"), oldSections);
    QCOMPARE(dir_->read("forum.txt"), oldForums);
}

// A run killed on the way leaves the engine's journal beside the database;
// one who then copies a fresh Database.mdb into the folder pairs it with that
// journal. After a completed run there is none to pair, even while the
// database stays open.
void tst_Run::aCompletedRunLeavesNoJournal()
{
    QByteArray forums;
    for (int i = 1; i <= 5000; ++i)
        forums += QByteArray::number(i) + "|10|x\r\n";
    dir_->write("sections.txt", sectionsExample);
    dir_->write("forums.txt", forums);
    QCOMPARE(ReindexRun(host_, *tables_).run(), ReindexRun::Outcome::Completed);
    for (const char *name : {"Database.mdb-journal", "Database.mdb-wal"})
        QVERIFY2(!dir_->has(name), name);
    QCOMPARE(rows("Forum_table", "count(*)"), QStringList{"5000"});
}

int main(int argc, char **argv)
{
    if (argc == 6 && std::strcmp(argv[1], killedRunArgument) == 0) {
        QCoreApplication app(argc, argv);
        const QStringList a = QCoreApplication::arguments();
        return killedRun(a.at(2), a.at(3), a.at(4), a.at(5).toInt());
    }
    QCoreApplication app(argc, argv);
    app.setAttribute(Qt::AA_Use96Dpi, true);
    tst_Run test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_Run.moc"
