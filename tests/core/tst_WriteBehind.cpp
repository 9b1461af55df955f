#include "PlainConnection.h"
#include "ProgramDir.h"

#include <db/DbError.h>
#include <db/DeferrableColumn.h>
#include <db/EngineText.h>
#include <db/KeyedRead.h>
#include <db/KeyedUpdate.h>
#include <db/Session.h>
#include <db/StatementShape.h>
#include <db/WriteBehind.h>

#include <QTest>

#include <sqlite3.h>

#include <chrono>
#include <map>
#include <functional>
#include <tuple>
#include <utility>

using db::DbError;

namespace {

QString update(qint64 key, qint64 value)
{
    return QStringLiteral("UPDATE Forum_table SET new_id = %1 WHERE id = %2").arg(value).arg(key);
}

// Two sections, their forums' ids interleaved.
const QStringList seed = {
    QStringLiteral("INSERT INTO Forum_table(old_id,podrazdel_id,new_id,str_value) VALUES(11,1,0,'a')"),
    QStringLiteral("INSERT INTO Forum_table(old_id,podrazdel_id,new_id,str_value) VALUES(12,2,0,'b')"),
    QStringLiteral("INSERT INTO Forum_table(old_id,podrazdel_id,new_id,str_value) VALUES(13,1,0,'c')"),
    QStringLiteral("INSERT INTO Forum_table(old_id,podrazdel_id,new_id,str_value) VALUES(14,1,0,'d')"),
    QStringLiteral("INSERT INTO Forum_table(old_id,podrazdel_id,new_id,str_value) VALUES(15,2,0,'e')"),
};

// Keys out of order, one of them set twice (the later value must win, and
// the earlier one must not linger in a read) and one that no row has.
const QStringList updates = {update(4, 7), update(2, 3), update(1, 7), update(99, 9), update(4, 5)};

const QString sectionRead = QStringLiteral("SELECT * FROM Forum_table WHERE podrazdel_id = 1 ORDER BY id");

QByteArray shippedForumTable()
{
    sqlite3 *h = nullptr;
    sqlite3_open_v2(REINDEX_TEST_DATABASE, &h, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt *st = nullptr;
    QByteArray sql;
    if (sqlite3_prepare_v2(h, "SELECT sql FROM sqlite_schema WHERE name = 'Forum_table'", -1, &st, nullptr) == SQLITE_OK
        && sqlite3_step(st) == SQLITE_ROW)
        sql = reinterpret_cast<const char *>(sqlite3_column_text(st, 0));
    sqlite3_finalize(st);
    sqlite3_close(h);
    return sql;
}

} // namespace

class tst_WriteBehind : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void holdsNumbersOfAnyWidth_data();
    void holdsNumbersOfAnyWidth();

    void recognisesKeyedUpdates_data();
    void recognisesKeyedUpdates();
    void recognisesKeyedReads_data();
    void recognisesKeyedReads();
    void judgesColumnDefinitions_data();
    void judgesColumnDefinitions();

    void statementsSeeEveryUpdate_data();
    void statementsSeeEveryUpdate();
    void failsAtTheFailingStatement_data();
    void failsAtTheFailingStatement();
    void heldUpdatesAreDurable_data();
    void heldUpdatesAreDurable();
    void openResultKeepsItsValues_data();
    void openResultKeepsItsValues();
    void triggersSeeEachUpdateAsItRuns_data();
    void triggersSeeEachUpdateAsItRuns();
    void reopenedConnectionHoldsItsOwnForm();

private:
    QString databasePath() const { return dir_->path(QStringLiteral("Database.mdb")); }
    // The same database, where the statements run one by one on a plain connection.
    QString referencePath() const { return dir_->path(QStringLiteral("Reference.mdb")); }
    void openSession();
    // Runs on both files before the session opens (again): what the session
    // finds when it first looks at the tables.
    QStringList setUpFromOutside(const QStringList &statements);
    // Each statement's outcome through the session, as the run executes its
    // statements, and on the reference copy.
    std::pair<QStringList, QStringList> runOnBoth(const QStringList &statements);
    QStringList readInSession(db::Query &q, const QString &sql, const QString &header);

    std::unique_ptr<ProgramDir> dir_;
    std::unique_ptr<db::Session> session_;
};

void tst_WriteBehind::init()
{
    dir_ = std::make_unique<ProgramDir>();
    QVERIFY(QFile::copy(QStringLiteral(REINDEX_TEST_DATABASE), referencePath()));
    QFile::setPermissions(referencePath(), QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);
    openSession();
}

void tst_WriteBehind::cleanup()
{
    session_.reset();
    dir_.reset();
}

void tst_WriteBehind::openSession()
{
    session_ = std::make_unique<db::Session>();
    session_->open(dir_->dir());
    // Only what the tests do may apply or commit: a commit falling due in the
    // middle would apply the held updates and hide what is under test.
    session_->ADOConnection1.setCommitInterval(std::chrono::hours(1));
}

QStringList tst_WriteBehind::setUpFromOutside(const QStringList &statements)
{
    session_.reset();
    QStringList failures;
    for (const QString &file : {databasePath(), referencePath()}) {
        PlainConnection c(file);
        for (const QString &sql : statements) {
            const QString failure = c.run(sql);
            if (failure != noFailure)
                failures << sql + QStringLiteral(": ") + failure;
        }
    }
    openSession();
    return failures;
}

std::pair<QStringList, QStringList> tst_WriteBehind::runOnBoth(const QStringList &statements)
{
    QStringList inSession;
    QStringList onReference;
    PlainConnection reference(referencePath());
    db::Query &q = session_->qExec;
    for (const QString &sql : statements) {
        q.close();
        q.setSql(sql);
        inSession << failureOf([&] { q.execSql(); });
        onReference << reference.run(sql);
    }
    return {inSession, onReference};
}

QStringList tst_WriteBehind::readInSession(db::Query &q, const QString &sql, const QString &header)
{
    q.close();
    q.setSql(sql);
    const QString failure = failureOf([&] { q.open(); });
    if (failure != noFailure)
        return {failure};
    return listing(q, header);
}

void tst_WriteBehind::recognisesKeyedUpdates_data()
{
    QTest::addColumn<QByteArray>("sql");
    QTest::addColumn<QByteArray>("table"); // empty: not the form
    QTest::addColumn<QByteArray>("column");
    QTest::addColumn<QByteArray>("key");
    QTest::newRow("the run's update") << QByteArray("UPDATE Forum_table SET new_id = 3 WHERE id = 17")
                                      << QByteArray("Forum_table") << QByteArray("new_id") << QByteArray("id");
    QTest::newRow("lower case, odd spacing, CR LF, semicolon")
        << QByteArray("update  forum_table\r\n\tset NEW_ID=3\r\nwhere id =17 ;\r\n") << QByteArray("forum_table")
        << QByteArray("NEW_ID") << QByteArray("id");
    QTest::newRow("quoted names are names") << QByteArray("UPDATE \"Forum_table\" SET [new_id] = 3 WHERE `id` = 17")
                                            << QByteArray("Forum_table") << QByteArray("new_id") << QByteArray("id");
    QTest::newRow("sets the key itself") << QByteArray("UPDATE Forum_table SET ID = 3 WHERE id = 17") << QByteArray()
                                         << QByteArray() << QByteArray();
    QTest::newRow("a second condition") << QByteArray("UPDATE Forum_table SET new_id = 3 WHERE id = 17 AND old_id = 2")
                                        << QByteArray() << QByteArray() << QByteArray();
    QTest::newRow("a clause after") << QByteArray("UPDATE Forum_table SET new_id = 3 WHERE id = 17 RETURNING id")
                                    << QByteArray() << QByteArray() << QByteArray();
    QTest::newRow("a conflict clause") << QByteArray("UPDATE OR REPLACE Forum_table SET new_id = 3 WHERE id = 17")
                                       << QByteArray() << QByteArray() << QByteArray();
    QTest::newRow("qualified table") << QByteArray("UPDATE main.Forum_table SET new_id = 3 WHERE id = 17") << QByteArray()
                                     << QByteArray() << QByteArray();
    QTest::newRow("qualified key") << QByteArray("UPDATE Forum_table SET new_id = 3 WHERE Forum_table.id = 17")
                                   << QByteArray() << QByteArray() << QByteArray();
    QTest::newRow("two columns") << QByteArray("UPDATE Forum_table SET new_id = 3, old_id = 4 WHERE id = 17")
                                 << QByteArray() << QByteArray() << QByteArray();
    QTest::newRow("a value computed from the row") << QByteArray("UPDATE Forum_table SET new_id = old_id WHERE id = 17")
                                                   << QByteArray() << QByteArray() << QByteArray();
    QTest::newRow("a fraction left in the shape") << QByteArray("UPDATE Forum_table SET new_id = 1.5 WHERE id = 17")
                                                  << QByteArray() << QByteArray() << QByteArray();
    QTest::newRow("a 19-digit key left in the shape")
        << QByteArray("UPDATE Forum_table SET new_id = 3 WHERE id = 1234567890123456789") << QByteArray() << QByteArray()
        << QByteArray();
    QTest::newRow("another comparison") << QByteArray("UPDATE Forum_table SET new_id = 3 WHERE id > 17") << QByteArray()
                                        << QByteArray() << QByteArray();
}

// The recognisers see statements only as the connection hands them over:
// shaped, with the literals that can be bound taken out.
void tst_WriteBehind::recognisesKeyedUpdates()
{
    QFETCH(QByteArray, sql);
    QFETCH(QByteArray, table);
    QFETCH(QByteArray, column);
    QFETCH(QByteArray, key);
    db::StatementShape shape;
    QVERIFY(shape.parse(sql));
    const std::optional<db::KeyedUpdate> form = db::KeyedUpdate::match(shape.shape());
    QCOMPARE(form.has_value(), !table.isEmpty());
    if (!form)
        return;
    QCOMPARE(form->table, table);
    QCOMPARE(form->column, column);
    QCOMPARE(form->key, key);
}

void tst_WriteBehind::recognisesKeyedReads_data()
{
    QTest::addColumn<QByteArray>("sql");
    QTest::addColumn<QByteArray>("table"); // empty: not the form
    QTest::addColumn<QByteArray>("where");
    QTest::addColumn<QByteArray>("order");
    QTest::newRow("the run's read of a section")
        << QByteArray("SELECT * FROM Forum_table WHERE podrazdel_id = 7 ORDER BY id") << QByteArray("Forum_table")
        << QByteArray("podrazdel_id") << QByteArray("id");
    QTest::newRow("without an order") << QByteArray("SELECT * FROM Forum_table WHERE podrazdel_id = 7")
                                      << QByteArray("Forum_table") << QByteArray("podrazdel_id") << QByteArray();
    QTest::newRow("ascending, lower case, CR LF")
        << QByteArray("select *\r\nfrom Forum_table\r\nwhere str_value = 'x'\r\norder by old_id asc\r\n")
        << QByteArray("Forum_table") << QByteArray("str_value") << QByteArray("old_id");
    QTest::newRow("descending, semicolon") << QByteArray("SELECT * FROM Forum_table WHERE id = 7 ORDER BY id DESC;")
                                           << QByteArray("Forum_table") << QByteArray("id") << QByteArray("id");
    QTest::newRow("ordered by a column's number")
        << QByteArray("SELECT * FROM Forum_table WHERE podrazdel_id = 7 ORDER BY 4") << QByteArray() << QByteArray()
        << QByteArray();
    QTest::newRow("ordered by two columns")
        << QByteArray("SELECT * FROM Forum_table WHERE podrazdel_id = 7 ORDER BY id, new_id") << QByteArray()
        << QByteArray() << QByteArray();
    QTest::newRow("ordered with a collation")
        << QByteArray("SELECT * FROM Forum_table WHERE podrazdel_id = 7 ORDER BY str_value COLLATE NOCASE") << QByteArray()
        << QByteArray() << QByteArray();
    QTest::newRow("a limit") << QByteArray("SELECT * FROM Forum_table WHERE podrazdel_id = 7 ORDER BY id LIMIT 5")
                             << QByteArray() << QByteArray() << QByteArray();
    QTest::newRow("a second condition")
        << QByteArray("SELECT * FROM Forum_table WHERE podrazdel_id = 7 AND new_id = 0 ORDER BY id") << QByteArray()
        << QByteArray() << QByteArray();
    QTest::newRow("a join") << QByteArray("SELECT * FROM Forum_table JOIN Razdel_table USING (old_id) WHERE id = 7")
                            << QByteArray() << QByteArray() << QByteArray();
    QTest::newRow("two tables") << QByteArray("SELECT * FROM Forum_table, Razdel_table WHERE old_id = 7") << QByteArray()
                                << QByteArray() << QByteArray();
    QTest::newRow("a column list") << QByteArray("SELECT id, new_id FROM Forum_table WHERE podrazdel_id = 7")
                                   << QByteArray() << QByteArray() << QByteArray();
    QTest::newRow("no condition") << QByteArray("SELECT * FROM Forum_table LIMIT 7") << QByteArray() << QByteArray()
                                  << QByteArray();
    QTest::newRow("a condition on an expression")
        << QByteArray("SELECT * FROM Forum_table WHERE abs(podrazdel_id) = 7") << QByteArray() << QByteArray()
        << QByteArray();
}

void tst_WriteBehind::recognisesKeyedReads()
{
    QFETCH(QByteArray, sql);
    QFETCH(QByteArray, table);
    QFETCH(QByteArray, where);
    QFETCH(QByteArray, order);
    db::StatementShape shape;
    QVERIFY(shape.parse(sql));
    const std::optional<db::KeyedRead> form = db::KeyedRead::match(shape.shape());
    QCOMPARE(form.has_value(), !table.isEmpty());
    if (!form)
        return;
    QCOMPARE(form->table, table);
    QCOMPARE(form->where, where);
    QCOMPARE(form->order, order);
}

void tst_WriteBehind::judgesColumnDefinitions_data()
{
    QTest::addColumn<QByteArray>("createTable");
    QTest::addColumn<QByteArray>("column");
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<bool>("deferrable");
    QTest::addColumn<qint64>("lowest");
    QTest::addColumn<qint64>("highest");

    // The text the connection finds in the shipped database, and variants of
    // it that differ in one column's definition or in one added item.
    const QByteArray shipped = shippedForumTable();
    const QByteArray newIdLine("new_id       INTEGER CHECK (new_id BETWEEN -2147483648 AND 2147483647)");
    const QByteArray idLine("id           INTEGER PRIMARY KEY CHECK");
    QVERIFY(shipped.contains(newIdLine));
    QVERIFY(shipped.contains(idLine));
    QVERIFY(shipped.endsWith(") STRICT"));
    const auto newIdAs = [&](const char *definition) { return QByteArray(shipped).replace(newIdLine, definition); };
    const auto adding = [&](const char *item) {
        QByteArray text = shipped;
        return text.insert(text.lastIndexOf(')'), QByteArray(",\n    ") + item + '\n');
    };
    const qint64 int32Min = -2147483648LL;
    const qint64 int32Max = 2147483647LL;

    QTest::newRow("as shipped") << shipped << QByteArray("new_id") << QByteArray("id") << true << int32Min << int32Max;
    QTest::newRow("names in other cases") << shipped << QByteArray("NEW_ID") << QByteArray("Id") << true << int32Min
                                          << int32Max;
    QTest::newRow("quoted names, a constraint name, signs")
        << newIdAs("\"new_id\" INTEGER CONSTRAINT \"in range\" CHECK ([new_id] BETWEEN -1 AND +9)") << QByteArray("new_id")
        << QByteArray("id") << true << qint64(-1) << qint64(9);
    QTest::newRow("two checks intersect")
        << newIdAs("new_id INTEGER CHECK (new_id BETWEEN 0 AND 100) CHECK (new_id BETWEEN -5 AND 10)")
        << QByteArray("new_id") << QByteArray("id") << true << qint64(0) << qint64(10);
    QTest::newRow("no such column") << shipped << QByteArray("section") << QByteArray("id") << false << qint64(0)
                                    << qint64(0);
    QTest::newRow("key not the row id") << shipped << QByteArray("new_id") << QByteArray("old_id") << false << qint64(0)
                                        << qint64(0);
    QTest::newRow("key without PRIMARY KEY")
        << QByteArray(shipped).replace(idLine, "id           INTEGER CHECK") << QByteArray("new_id") << QByteArray("id")
        << false << qint64(0) << qint64(0);
    QTest::newRow("a table check naming it") << adding("CHECK (new_id <> old_id)") << QByteArray("new_id")
                                             << QByteArray("id") << false << qint64(0) << qint64(0);
    QTest::newRow("a foreign key from it") << adding("FOREIGN KEY (new_id) REFERENCES Razdel_table(id)")
                                           << QByteArray("new_id") << QByteArray("id") << false << qint64(0) << qint64(0);
    QTest::newRow("a generated column of it") << adding("twice INTEGER AS (new_id * 2)") << QByteArray("new_id")
                                              << QByteArray("id") << false << qint64(0) << qint64(0);
    QTest::newRow("NOT NULL") << newIdAs("new_id INTEGER NOT NULL CHECK (new_id BETWEEN 0 AND 9)") << QByteArray("new_id")
                              << QByteArray("id") << false << qint64(0) << qint64(0);
    QTest::newRow("DEFAULT") << newIdAs("new_id INTEGER DEFAULT 0 CHECK (new_id BETWEEN 0 AND 9)") << QByteArray("new_id")
                             << QByteArray("id") << false << qint64(0) << qint64(0);
    QTest::newRow("UNIQUE") << newIdAs("new_id INTEGER CHECK (new_id BETWEEN 0 AND 9) UNIQUE") << QByteArray("new_id")
                            << QByteArray("id") << false << qint64(0) << qint64(0);
    QTest::newRow("TEXT") << newIdAs("new_id TEXT CHECK (new_id BETWEEN 0 AND 9)") << QByteArray("new_id")
                          << QByteArray("id") << false << qint64(0) << qint64(0);
    QTest::newRow("a check that lets more through")
        << newIdAs("new_id INTEGER CHECK (new_id BETWEEN 0 AND 9 OR new_id = 99)") << QByteArray("new_id")
        << QByteArray("id") << false << qint64(0) << qint64(0);
    QTest::newRow("a check on another column in its place")
        << newIdAs("new_id INTEGER CHECK (old_id BETWEEN 0 AND 9)") << QByteArray("new_id") << QByteArray("id") << false
        << qint64(0) << qint64(0);
}

void tst_WriteBehind::judgesColumnDefinitions()
{
    QFETCH(QByteArray, createTable);
    QFETCH(QByteArray, column);
    QFETCH(QByteArray, key);
    QFETCH(bool, deferrable);
    QFETCH(qint64, lowest);
    QFETCH(qint64, highest);
    const std::optional<db::DeferrableColumn> rule = db::DeferrableColumn::inspect(createTable, column, key);
    QCOMPARE(rule.has_value(), deferrable);
    if (!rule)
        return;
    QCOMPARE(qint64(rule->lowest), lowest);
    QCOMPARE(qint64(rule->highest), highest);
}

void tst_WriteBehind::statementsSeeEveryUpdate_data()
{
    QTest::addColumn<QStringList>("before"); // through the session, before the updates
    QTest::addColumn<QStringList>("after"); // and after them
    QTest::addColumn<QString>("read");
    const QString wholeTable = QStringLiteral("SELECT * FROM Forum_table ORDER BY id");
    QTest::newRow("the run's read of a section") << QStringList() << QStringList() << sectionRead;
    QTest::newRow("by the key") << QStringList() << QStringList() << QStringLiteral("SELECT * FROM Forum_table WHERE id = 4");
    QTest::newRow("the whole table") << QStringList() << QStringList() << wholeTable;
    QTest::newRow("one column by the key")
        << QStringList() << QStringList() << QStringLiteral("SELECT new_id FROM Forum_table WHERE id = 2");
    QTest::newRow("by the updated column")
        << QStringList() << QStringList() << QStringLiteral("SELECT * FROM Forum_table WHERE new_id = 7");
    QTest::newRow("ordered by the updated column")
        << QStringList() << QStringList() << QStringLiteral("SELECT * FROM Forum_table WHERE podrazdel_id = 1 ORDER BY new_id");
    QTest::newRow("counting by the updated column")
        << QStringList() << QStringList() << QStringLiteral("SELECT count(*) FROM Forum_table WHERE new_id = 0");
    QTest::newRow("another table with the same columns")
        << QStringList{QStringLiteral("CREATE TABLE Forum_copy AS SELECT * FROM Forum_table")} << QStringList()
        << QStringLiteral("SELECT * FROM Forum_copy WHERE podrazdel_id = 1 ORDER BY id");
    // The engine walks the section through the index, in the order of the
    // values being updated.
    QTest::newRow("no order, an index holding the updated column")
        << QStringList{QStringLiteral("DROP INDEX Forum_table_podrazdel_id"),
                       QStringLiteral("CREATE INDEX Forum_table_numbered ON Forum_table(podrazdel_id, new_id)")}
        << QStringList() << QStringLiteral("SELECT * FROM Forum_table WHERE podrazdel_id = 1");
    // Writes that are not held themselves must find the held ones in place.
    QTest::newRow("then an update computed from the column")
        << QStringList() << QStringList{QStringLiteral("UPDATE Forum_table SET new_id = new_id + 10 WHERE podrazdel_id = 1")}
        << wholeTable;
    QTest::newRow("then the same update with its value as text")
        << QStringList() << QStringList{QStringLiteral("UPDATE Forum_table SET new_id = '8' WHERE id = 4")} << wholeTable;
    QTest::newRow("then a delete by the column")
        << QStringList() << QStringList{QStringLiteral("DELETE FROM Forum_table WHERE new_id = 7")} << wholeTable;
    QTest::newRow("then a table made from it")
        << QStringList() << QStringList{QStringLiteral("CREATE TABLE Forum_copy AS SELECT * FROM Forum_table")}
        << QStringLiteral("SELECT * FROM Forum_copy ORDER BY id");
}

// Whatever comes after the updates gives what it gives where each update ran
// at once; and once committed, the file holds just that for anyone reading it.
void tst_WriteBehind::statementsSeeEveryUpdate()
{
    QFETCH(QStringList, before);
    QFETCH(QStringList, after);
    QFETCH(QString, read);
    const auto [inSession, onReference] = runOnBoth(seed + before + updates + after);
    QCOMPARE(inSession, onReference);
    const QStringList expected = PlainConnection(referencePath()).read(read);
    QCOMPARE(readInSession(session_->qTempEx, read, expected.first()), expected);
    session_->ADOConnection1.commit();
    QCOMPARE(PlainConnection(databasePath()).read(read), expected);
}

void tst_WriteBehind::failsAtTheFailingStatement_data()
{
    QTest::addColumn<QStringList>("outsideSetup");
    QTest::addColumn<QStringList>("statements");
    QTest::addColumn<int>("commitAfter"); // the session commits after this many statements; -1: never
    QTest::addColumn<QString>("table");
    const QStringList scores = {
        QStringLiteral("CREATE TABLE Scores(id INTEGER PRIMARY KEY, points INTEGER CHECK (points BETWEEN 0 AND 9))"),
        QStringLiteral("INSERT INTO Scores(points) VALUES (1), (2), (3)"),
    };
    QTest::newRow("above the column's range")
        << QStringList() << seed + QStringList{update(3, 5), update(1, 6), update(2, 2147483648LL)} << -1
        << QStringLiteral("Forum_table");
    QTest::newRow("a text the column does not take")
        << QStringList()
        << seed + QStringList{update(3, 5), update(1, 6), QStringLiteral("UPDATE Forum_table SET new_id = 'x' WHERE id = 2")}
        << -1 << QStringLiteral("Forum_table");
    QTest::newRow("above a narrower range")
        << scores
        << QStringList{QStringLiteral("UPDATE Scores SET points = 4 WHERE id = 3"),
                       QStringLiteral("UPDATE Scores SET points = 8 WHERE id = 1"),
                       QStringLiteral("UPDATE Scores SET points = 10 WHERE id = 2")}
        << -1 << QStringLiteral("Scores");
    QTest::newRow("a value a unique index already has")
        << scores + QStringList{QStringLiteral("CREATE UNIQUE INDEX Scores_points ON Scores(points)")}
        << QStringList{QStringLiteral("UPDATE Scores SET points = 8 WHERE id = 3"),
                       QStringLiteral("UPDATE Scores SET points = 8 WHERE id = 1")}
        << -1 << QStringLiteral("Scores");
    // Switching on checked references does nothing inside a transaction, so
    // the session gets them only after a commit, long after it first looked
    // at the table. A referenced column that is not unique cannot be changed
    // while they are checked.
    QTest::newRow("references checked from a commit on")
        << QStringList{QStringLiteral("CREATE TABLE Numbered(forum_number INTEGER REFERENCES Forum_table(new_id))")}
        << seed + QStringList{update(1, 3), QStringLiteral("PRAGMA foreign_keys = ON"), update(2, 4)}
        << int(seed.size()) + 1 << QStringLiteral("Forum_table");
}

// A failing update fails there and then, with the engine's own message, and
// everything before it is in the file by the time the failure is raised.
void tst_WriteBehind::failsAtTheFailingStatement()
{
    QFETCH(QStringList, outsideSetup);
    QFETCH(QStringList, statements);
    QFETCH(int, commitAfter);
    QFETCH(QString, table);
    QCOMPARE(setUpFromOutside(outsideSetup), QStringList());
    auto [inSession, onReference] = runOnBoth(statements.mid(0, commitAfter));
    if (commitAfter >= 0) {
        session_->ADOConnection1.commit();
        const auto [laterInSession, laterOnReference] = runOnBoth(statements.mid(commitAfter));
        inSession += laterInSession;
        onReference += laterOnReference;
    }
    QVERIFY(onReference.last() != noFailure); // the fixture's own premise
    QCOMPARE(inSession, onReference);
    const QString read = QStringLiteral("SELECT * FROM %1 ORDER BY id").arg(table);
    QCOMPARE(PlainConnection(databasePath()).read(read), PlainConnection(referencePath()).read(read));
}

void tst_WriteBehind::heldUpdatesAreDurable_data()
{
    QTest::addColumn<bool>("closing"); // or committing
    QTest::newRow("on close") << true;
    QTest::newRow("on commit") << false;
}

void tst_WriteBehind::heldUpdatesAreDurable()
{
    QFETCH(bool, closing);
    const auto [inSession, onReference] = runOnBoth(seed + updates);
    QCOMPARE(inSession, onReference);
    if (closing)
        session_.reset();
    else
        session_->ADOConnection1.commit();
    const QString read = QStringLiteral("SELECT * FROM Forum_table ORDER BY id");
    QCOMPARE(PlainConnection(databasePath()).read(read), PlainConnection(referencePath()).read(read));
}

void tst_WriteBehind::openResultKeepsItsValues_data()
{
    QTest::addColumn<int>("rows");
    QTest::addColumn<bool>("readFirst"); // a read that applies the held updates comes before the next update
    QTest::newRow("small, updated next") << 3 << false;
    QTest::newRow("small, read next") << 3 << true;
    QTest::newRow("large, updated next") << 6000 << false;
    QTest::newRow("large, read next") << 6000 << true;
}

// The run reads a section while it updates the section's forums. What the
// read shows is what was there when it opened, held updates included, even
// when the rows are still being read from the engine as the table changes.
void tst_WriteBehind::openResultKeepsItsValues()
{
    QFETCH(int, rows);
    QFETCH(bool, readFirst);
    db::Query &exec = session_->qExec;
    const auto run = [&](const QString &sql) {
        exec.close();
        exec.setSql(sql);
        exec.execSql();
    };
    run(QStringLiteral("INSERT INTO Forum_table(old_id,podrazdel_id,new_id,str_value) "
                       "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < %1) "
                       "SELECT i, 1, 0, 'f' || i FROM n").arg(rows));
    run(update(2, 1));
    run(update(rows, 1));

    db::Query &section = session_->qTemp;
    section.close();
    section.setSql(sectionRead);
    section.open();
    QCOMPARE(section.recordCount(), rows);
    section.next();

    db::Query &other = session_->qTempEx;
    const auto countOf = [&](int value) {
        other.close();
        other.setSql(QStringLiteral("SELECT count(*) AS n FROM Forum_table WHERE new_id = %1").arg(value));
        other.open();
        return other.fieldAsString(u"n").toInt();
    };
    if (readFirst)
        QCOMPARE(countOf(1), 2);
    run(update(2, 2));
    run(update(1, 2));
    QCOMPARE(countOf(2), 2);
    run(update(rows, 3));
    // The same read opened now shows the later values.
    other.close();
    other.setSql(sectionRead);
    other.open();
    QCOMPARE(other.fieldAsString(u"new_id"), QStringLiteral("2"));
    other.next();
    QCOMPARE(other.fieldAsString(u"new_id"), QStringLiteral("2"));

    QCOMPARE(section.fieldAsString(u"id"), QStringLiteral("2")); // still where it was
    QCOMPARE(section.recordCount(), rows);
    int seen = 0;
    QStringList wrong;
    for (section.first(); !section.eof(); section.next()) {
        ++seen;
        const QString expected = seen == 2 || seen == rows ? QStringLiteral("1") : QStringLiteral("0");
        if (section.fieldAsString(u"id") != QString::number(seen) || section.fieldAsString(u"new_id") != expected)
            wrong << section.fieldAsString(u"id") + u'=' + section.fieldAsString(u"new_id");
    }
    QCOMPARE(seen, rows);
    QCOMPARE(wrong, QStringList());
}

void tst_WriteBehind::triggersSeeEachUpdateAsItRuns_data()
{
    QTest::addColumn<QStringList>("outsideSetup");
    QTest::addColumn<QStringList>("sessionSetup"); // after the forums are in, before the updates
    const QString log = QStringLiteral(
        "CREATE TABLE Update_log(n INTEGER PRIMARY KEY, forum INTEGER, before INTEGER, after INTEGER)");
    const QString logging = QStringLiteral(
        " AFTER UPDATE OF new_id ON Forum_table BEGIN "
        "INSERT INTO Update_log(forum, before, after) VALUES (OLD.id, OLD.new_id, NEW.new_id); END");
    QTest::newRow("made before the session opens")
        << QStringList{log, QStringLiteral("CREATE TRIGGER Forum_table_logged") + logging} << QStringList();
    // By then the session has already looked at the table and found nothing
    // that stops it from holding updates back.
    QTest::newRow("made by the session once it holds updates")
        << QStringList{log} << QStringList{update(3, 1), QStringLiteral("CREATE TEMP TRIGGER Forum_table_logged") + logging};
}

void tst_WriteBehind::triggersSeeEachUpdateAsItRuns()
{
    QFETCH(QStringList, outsideSetup);
    QFETCH(QStringList, sessionSetup);
    QCOMPARE(setUpFromOutside(outsideSetup), QStringList());
    const auto [inSession, onReference] = runOnBoth(seed + sessionSetup + updates);
    QCOMPARE(inSession, onReference);
    const QString read = QStringLiteral("SELECT * FROM Update_log ORDER BY n");
    const QStringList expected = PlainConnection(referencePath()).read(read);
    QCOMPARE(expected.size(), 5); // the names and four updates: that of no row logs nothing
    QCOMPARE(readInSession(session_->qTemp, read, expected.first()), expected);
}

// Reopening compiles the statements afresh; an update form held on the
// closed connection must not be taken for the one held now, wherever the
// engine happens to put the new statement.
void tst_WriteBehind::reopenedConnectionHoldsItsOwnForm()
{
    const QStringList before = {seed.at(0), seed.at(2), QStringLiteral("UPDATE Forum_table SET old_id = 21 WHERE id = 1")};
    auto [inSession, onReference] = runOnBoth(before);
    QCOMPARE(inSession, onReference);
    session_->ADOConnection1.close();
    // The same steps as on the first connection, so that the new form's
    // statement is compiled where the old one was.
    const QStringList after = {seed.at(3), update(1, 5)};
    std::tie(inSession, onReference) = runOnBoth(after);
    QCOMPARE(inSession, onReference);
    const QStringList expected = PlainConnection(referencePath()).read(sectionRead);
    QCOMPARE(readInSession(session_->qTempEx, sectionRead, expected.first()), expected);
}

using Holds = QList<std::pair<qint64, qint64>>;

void tst_WriteBehind::holdsNumbersOfAnyWidth_data()
{
    // Pairs of key and value, held in this order.
    QTest::addColumn<Holds>("holds");
    constexpr qint64 low = -2147483648LL, high = 2147483647LL;
    QTest::newRow("within 32 bits, ends included")
        << Holds{{5, 1}, {high, low}, {low, high}, {-1, -1}, {0, 0}, {5, 2}};
    QTest::newRow("a wide value for a key already held")
        << Holds{{3, 1}, {1, 7}, {3, high + 1}, {2, low - 1}};
    QTest::newRow("a wide key after narrow ones")
        << Holds{{2, 2}, {-3, 3}, {high + 1, 4}, {low - 1, 5}, {2, 6}};
    QTest::newRow("small keys out of order, then one far beyond them")
        << Holds{{9, 1}, {3, 2}, {0, 8}, {9, 3}, {50000000, 4}, {3, 5}, {50000000, 6}};
    Holds many;
    for (qint64 k = 3000; k > 0; --k)
        many.push_back({k * 7 % 3001, k});
    many.push_back({-5, 1});
    many.push_back({700, 2});
    QTest::newRow("thousands of small keys, then a negative one") << many;
    QTest::newRow("the ends of 64 bits") << Holds{
        {std::numeric_limits<qint64>::max(), std::numeric_limits<qint64>::min()},
        {std::numeric_limits<qint64>::min(), std::numeric_limits<qint64>::max()}, {7, 7}};
}

// Held updates are looked up and applied with the numbers they were given,
// whichever way they are kept; the last value given to a key wins.
void tst_WriteBehind::holdsNumbersOfAnyWidth()
{
    QFETCH(Holds, holds);
    sqlite3 *h = nullptr;
    QCOMPARE(sqlite3_open(":memory:", &h), SQLITE_OK);
    const auto closeIt = qScopeGuard([h] { sqlite3_close(h); });
    QCOMPARE(sqlite3_exec(h, "CREATE TABLE t(k INTEGER PRIMARY KEY, v INTEGER)", nullptr, nullptr, nullptr), SQLITE_OK);
    std::map<std::int64_t, std::int64_t> expected;
    for (const auto &[key, value] : holds) {
        const QByteArray row = "INSERT OR IGNORE INTO t VALUES(" + QByteArray::number(key) + ", NULL)";
        QCOMPARE(sqlite3_exec(h, row.constData(), nullptr, nullptr, nullptr), SQLITE_OK);
        expected[key] = value;
    }
    sqlite3_stmt *st = nullptr;
    QCOMPARE(sqlite3_prepare_v2(h, "UPDATE t SET v = ?1 WHERE k = ?2", -1, &st, nullptr), SQLITE_OK);
    const auto finalize = qScopeGuard([st] { sqlite3_finalize(st); });

    db::WriteBehind held;
    held.retarget(*db::KeyedUpdate::match("UPDATE t SET v = ? WHERE k = ?"), st);
    for (const auto &[key, value] : holds)
        held.hold(key, value);
    for (const auto &[key, value] : expected) {
        std::int64_t seen = 0;
        QVERIFY2(held.lookup(key, seen), qPrintable(QString::number(key)));
        QCOMPARE(seen, value);
    }
    std::int64_t unused = 0;
    QVERIFY(!held.lookup(123456789, unused));

    QCOMPARE(held.apply(), SQLITE_OK);
    QVERIFY(held.empty());
    std::map<std::int64_t, std::int64_t> stored;
    sqlite3_stmt *read = nullptr;
    QCOMPARE(sqlite3_prepare_v2(h, "SELECT k, v FROM t", -1, &read, nullptr), SQLITE_OK);
    while (sqlite3_step(read) == SQLITE_ROW)
        stored[sqlite3_column_int64(read, 0)] = sqlite3_column_int64(read, 1);
    sqlite3_finalize(read);
    QCOMPARE(stored, expected);
}

QTEST_GUILESS_MAIN(tst_WriteBehind)
#include "tst_WriteBehind.moc"
