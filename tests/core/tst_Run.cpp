#include "Fifo.h"
#include "ProgramDir.h"
#include "RecordingHost.h"
#include "TableRows.h"

#include <db/DbError.h>
#include <db/Tables.h>
#include <run/CodePage.h>
#include <run/OutputPair.h>
#include <run/ReindexRun.h>
#include <run/RunError.h>

#include <QTest>

#include <filesystem>

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
    void irreplaceableOutputIsCreateFailure_data();
    void irreplaceableOutputIsCreateFailure();
    void replacesTheVeryFileThatWasRead();
    void recoversAPairLeftMidway_data();
    void recoversAPairLeftMidway();
    void replacedOutputKeepsItsPermissions();
    void aSecondRunInTheFolderFailsAtOnce();
    void tablesWithoutTheirRulesGetNoIdentifierBeyond32Bits();
    void longStatementsLetTheWindowIn();
    void aLineChangedAfterItsCheckIsRefused_data();
    void aLineChangedAfterItsCheckIsRefused();
    void aListThatIsNoRegularFileIsRefused_data();
    void aListThatIsNoRegularFileIsRefused();
    void aCompletedRunLeavesNoLog();

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
    // A change to the forum field during the section import takes effect.
    host_.onPump = [&](int pump) {
        if (pump == 0)
            host_.forums = dir_->path("other.txt");
    };
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
        << "forums.txt" << QStringList{"10|News", "20|Help"} << QStringList();
    QTest::newRow("a second signature is part of the identifier")
        << QByteArray("\xEF\xBB\xBF\xEF\xBB\xBF" "1|a\r\n") << forumsExample
        << QStringLiteral(u"Файл \"%1\", строка 1: идентификатор \"\uFEFF1\" не является целым числом")
        << "sections.txt" << QStringList() << QStringList();
    QTest::newRow("an identifier beyond 32 bits") << QByteArray("1|a\r\n2|b\r\n4294967296|c\r\n") << forumsExample
        << QStringLiteral("CHECK constraint failed: old_id BETWEEN -2147483648 AND 2147483647")
        << "" << QStringList{"1|a", "2|b"} << QStringList();
    QTest::newRow("bad UTF-8 after good lines: none of them goes in")
        << sectionsExample << QByteArray("5|10|a\r\n6|20|b\r\n7|x|c\r\n8|10|\xC0\xAF\r\n")
        << QStringLiteral(u"Файл \"%1\" не является текстом в кодировке UTF-8: ошибка в строке 4")
        << "forums.txt" << QStringList{"10|News", "20|Help"} << QStringList();

    // Forums go in several to a statement: one that the table refuses leaves
    // exactly those before it, whichever comes first, the refusal by the
    // table or a line the run refuses itself.
    QByteArray many;
    QStringList before;
    for (int i = 1; i <= 150; ++i) {
        many += QByteArray::number(i) + (i == 100 ? "|99999999999|x\r\n" : i == 120 ? "|y|x\r\n" : "|20|x\r\n");
        if (i < 100)
            before << QStringLiteral("%1|2").arg(i);
    }
    QTest::newRow("the hundredth forum refused by the table, a bad line after it")
        << sectionsExample << many
        << QStringLiteral("CHECK constraint failed: podrazdel_id BETWEEN -2147483648 AND 2147483647") << ""
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
    const QString reason = asFolder ? QStringLiteral("Is a directory") : QStringLiteral("Permission denied");
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

void tst_Run::recoversAPairLeftMidway_data()
{
    // What a run killed while replacing the outputs leaves: which complete
    // new files still carry their temporary name, which outputs are already
    // new, the first output's backup (or the note that it had none), and
    // whether the commit mark was made.
    QTest::addColumn<bool>("firstTemporary");
    QTest::addColumn<bool>("secondTemporary");
    QTest::addColumn<bool>("firstNew");
    QTest::addColumn<bool>("secondNew");
    QTest::addColumn<QString>("backup"); // "bak", "none" or ""
    QTest::addColumn<bool>("mark");
    QTest::addColumn<bool>("forward");
    QTest::newRow("killed while naming") << false << true << false << false << "" << false << false;
    QTest::newRow("killed before the mark") << true << true << false << false << "bak" << false << false;
    QTest::newRow("marked, nothing renamed") << true << true << false << false << "bak" << true << true;
    QTest::newRow("marked, first renamed") << false << true << true << false << "bak" << true << true;
    QTest::newRow("marked, both renamed") << false << false << true << true << "bak" << true << true;
    QTest::newRow("both renamed, backup gone") << false << false << true << true << "" << true << true;
    QTest::newRow("putting back, killed before restoring") << false << true << true << false << "bak" << false << false;
    QTest::newRow("no first output before, putting back") << false << true << true << false << "none" << false << false;
}

void tst_Run::recoversAPairLeftMidway()
{
    QFETCH(bool, firstTemporary);
    QFETCH(bool, secondTemporary);
    QFETCH(bool, firstNew);
    QFETCH(bool, secondNew);
    QFETCH(QString, backup);
    QFETCH(bool, mark);
    QFETCH(bool, forward);
    const QByteArray newSections = "1|News\r\n", newForums = "5|1|FAQ\r\n";
    const bool hadFirst = backup != QLatin1String("none");
    if (firstNew || hadFirst)
        dir_->write("fr_fr.txt", firstNew ? newSections : oldSections);
    dir_->write("forum.txt", secondNew ? newForums : oldForums);
    if (firstTemporary)
        dir_->write("fr_fr.txt.tmp", newSections);
    if (secondTemporary)
        dir_->write("forum.txt.tmp", newForums);
    if (backup == QLatin1String("bak")) {
        // The run's backup is a second name of the first output's own file,
        // until the first output is replaced.
        if (firstNew) {
            dir_->write("fr_fr.txt.bak", oldSections);
        } else {
            std::error_code ec;
            std::filesystem::create_hard_link(QFile::encodeName(dir_->path("fr_fr.txt")).toStdString(),
                                              QFile::encodeName(dir_->path("fr_fr.txt.bak")).toStdString(), ec);
            QVERIFY(!ec);
        }
    }
    if (backup == QLatin1String("none"))
        dir_->write("fr_fr.txt.none", QByteArray());
    if (mark)
        dir_->write("fr_fr.txt.commit", QByteArray());
    dir_->write("sections.txt", "1|News\r\n");
    dir_->write("forums.txt", "5|1|FAQ\r\n");

    run::OutputPair::recover(dir_->path("fr_fr.txt"), dir_->path("forum.txt"));
    QCOMPARE(dir_->read("fr_fr.txt"), forward ? newSections : hadFirst ? oldSections : QByteArray("<missing>"));
    QCOMPARE(dir_->read("forum.txt"), forward ? newForums : oldForums);
    QStringList entries = dir_->entries();
    entries.removeIf([](const QString &e) { return e.startsWith(QLatin1String("Database.mdb")); });
    QStringList expected{"forum.txt", "forums.txt", "fr_fr.txt", "sections.txt"};
    if (!forward && !hadFirst)
        expected.removeAll("fr_fr.txt");
    QCOMPARE(entries, expected);
}

void tst_Run::replacedOutputKeepsItsPermissions()
{
    dir_->write("sections.txt", sectionsExample);
    dir_->write("forums.txt", forumsExample);
    dir_->write("fr_fr.txt", oldSections);
    const auto mode = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup;
    QVERIFY(QFile::setPermissions(dir_->path("fr_fr.txt"), mode));
    ReindexRun(host_, *tables_).run();
    QCOMPARE(dir_->read("fr_fr.txt"), QByteArray("1|News\r\n2|Help\r\n"));
    QCOMPARE(QFile::permissions(dir_->path("fr_fr.txt")) & ~(QFile::ReadUser | QFile::WriteUser | QFile::ExeUser), mode);
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
    sqlite3 *lax = nullptr;
    QCOMPARE(sqlite3_open(dir_->path("Database.mdb").toUtf8().constData(), &lax), SQLITE_OK);
    QCOMPARE(sqlite3_exec(lax,
                          "CREATE TABLE Razdel_table(id INTEGER PRIMARY KEY, old_id INTEGER, str_value TEXT);"
                          "CREATE TABLE Forum_table(id INTEGER PRIMARY KEY, old_id INTEGER, podrazdel_id INTEGER,"
                          " new_id INTEGER, str_value TEXT);",
                          nullptr, nullptr, nullptr),
             SQLITE_OK);
    sqlite3_close(lax);
    tables_ = std::make_unique<db::Tables>(dir_->dir());

    dir_->write("sections.txt", "7|Seven\r\n3000000000|Big\r\n");
    dir_->write("forums.txt", "1|3000000000|f1\r\n2|7|f2\r\n");
    dir_->write("fr_fr.txt", oldSections);
    dir_->write("forum.txt", oldForums);
    QCOMPARE(runExpectingFailure(), QStringLiteral("CHECK constraint failed: old_id BETWEEN -2147483648 AND 2147483647"));
    QCOMPARE(dir_->read("fr_fr.txt"), oldSections);
    QCOMPARE(dir_->read("forum.txt"), oldForums);
    QCOMPARE(rows("Forum_table", "old_id"), QStringList());
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

// A run killed after its work leaves the engine's log beside the database;
// one who then copies a fresh Database.mdb into the folder pairs it with that
// log. After a completed run there is no log to pair, even while the
// database stays open.
void tst_Run::aCompletedRunLeavesNoLog()
{
    QByteArray forums;
    for (int i = 1; i <= 5000; ++i)
        forums += QByteArray::number(i) + "|10|x\r\n";
    dir_->write("sections.txt", sectionsExample);
    dir_->write("forums.txt", forums);
    QCOMPARE(ReindexRun(host_, *tables_).run(), ReindexRun::Outcome::Completed);
    const QFileInfo log(dir_->path("Database.mdb-wal"));
    QVERIFY2(!log.exists() || log.size() == 0, qPrintable(QString::number(log.size())));
    QCOMPARE(rows("Forum_table", "count(*)"), QStringList{"5000"});
}

QTEST_GUILESS_MAIN(tst_Run)
#include "tst_Run.moc"
