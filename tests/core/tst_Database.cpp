#include "ProgramDir.h"

#include <db/DbError.h>
#include <db/EngineText.h>
#include <db/ParamMarkerScan.h>
#include <db/Session.h>
#include <db/StatementShape.h>

#include <QFileInfo>
#include <QTest>

#include <sqlite3.h>

using db::DbError;

namespace {

// Counts rows through a second, independent connection: what anyone reading
// the database file from outside would see.
int rowsSeenFromOutside(const QString &file, const char *table)
{
    sqlite3 *h = nullptr;
    sqlite3_open_v2(file.toUtf8().constData(), &h, SQLITE_OPEN_READONLY, nullptr);
    const QByteArray sql = QByteArray("SELECT count(*) FROM ") + table;
    sqlite3_stmt *st = nullptr;
    int count = -1;
    if (sqlite3_prepare_v2(h, sql.constData(), -1, &st, nullptr) == SQLITE_OK && sqlite3_step(st) == SQLITE_ROW)
        count = sqlite3_column_int(st, 0);
    sqlite3_finalize(st);
    sqlite3_close(h);
    return count;
}

QString failureOf(const std::function<void()> &action)
{
    try {
        action();
    } catch (const DbError &e) {
        return e.message();
    }
    return QStringLiteral("<no failure>");
}

} // namespace

class tst_Database : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void scansParameterMarkers_data();
    void scansParameterMarkers();
    void shapesStatements_data();
    void shapesStatements();
    void shapesAfterAnotherText_data();
    void shapesAfterAnotherText();
    void shapedStatementsGiveTheSameResults();
    void keepsStatementAsLines_data();
    void keepsStatementAsLines();
    void settingTextNeverFails();
    void runsStatementTextsOfTheRun();
    void translatesOnlyTheDeleteStarForm_data();
    void translatesOnlyTheDeleteStarForm();
    void refusesMoreThanOneStatement_data();
    void refusesMoreThanOneStatement();
    void refusesValuesTheColumnsDoNotTake_data();
    void refusesValuesTheColumnsDoNotTake();
    void givesValuesAsText();
    void findsFieldsIgnoringCase();
    void reportsSessionFailures();
    void emptyResultIsAtEndAtOnce();
    void resultIsFixedWhenOpened_data();
    void resultIsFixedWhenOpened();
    void logStartsOverWhileAResultIsRead();
    void executingTwiceRunsTwice();
    void keepsWhatRanBeforeAFailure();
    void commitsGroupedWritesOnClose();
    void openFailures_data();
    void openFailures();
    void connectionStringKeepsTheDirectory_data();
    void connectionStringKeepsTheDirectory();
    void trimsEngineText_data();
    void trimsEngineText();

private:
    std::unique_ptr<ProgramDir> dir_;
    std::unique_ptr<db::Session> session_;
};

void tst_Database::init()
{
    dir_ = std::make_unique<ProgramDir>();
    session_ = std::make_unique<db::Session>();
    session_->open(dir_->dir());
}

void tst_Database::cleanup()
{
    session_.reset();
    dir_.reset();
}

void tst_Database::scansParameterMarkers_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("command");
    QTest::addColumn<QStringList>("names");
    QTest::newRow("no marker") << "SELECT * FROM t\r\n" << "SELECT * FROM t\r\n" << QStringList();
    QTest::newRow("colon inside a text")
        << QString::fromUtf16(u"VALUES(1,'Тема: вопросы')") << QString::fromUtf16(u"VALUES(1,'Тема: вопросы')")
        << QStringList();
    QTest::newRow("double quote and backquote inside a text")
        << "VALUES(1,'a \" b ` c :x')" << "VALUES(1,'a \" b ` c :x')" << QStringList();
    QTest::newRow("doubled single quote") << "VALUES(1,'It''s :x')" << "VALUES(1,'It''s :x')" << QStringList();
    QTest::newRow("double colon outside") << "SELECT a::b" << "SELECT a::b" << QStringList();
    QTest::newRow("marker to a comma") << "VALUES(:id,2)" << "VALUES(?,2)" << QStringList{"id"};
    QTest::newRow("marker to a blank and a paren") << "WHERE a = :x AND (b = :y)" << "WHERE a = ? AND (b = ?)"
                                                    << QStringList{"x", "y"};
    QTest::newRow("marker to CR LF") << "WHERE a = :x\r\n" << "WHERE a = ?\r\n" << QStringList{"x"};
    QTest::newRow("marker to the end") << "WHERE a = :x" << "WHERE a = ?" << QStringList{"x"};
    QTest::newRow("quoted marker name") << "VALUES(:\"a b\",1)" << "VALUES(?,1)" << QStringList{"a b"};
    QTest::newRow("double-quoted identifier") << "SELECT \"a:b\" FROM t" << "SELECT \"a:b\" FROM t" << QStringList();
    QTest::newRow("unclosed quote runs to the end") << "VALUES('a :b" << "VALUES('a :b" << QStringList();
}

void tst_Database::scansParameterMarkers()
{
    QFETCH(QString, text);
    QFETCH(QString, command);
    QFETCH(QStringList, names);
    const db::ScannedCommand scanned = db::scanParameterMarkers(text);
    QCOMPARE(scanned.commandText, command);
    QCOMPARE(scanned.parameterNames, names);
}

void tst_Database::shapesStatements_data()
{
    QTest::addColumn<QByteArray>("sql");
    QTest::addColumn<QByteArray>("shape"); // empty: taken as it stands
    QTest::addColumn<QStringList>("literals");
    QTest::newRow("section insert")
        << QByteArray("INSERT INTO Razdel_table(old_id,str_value) VALUES(7,\r\n'It''s new')\r\n")
        << QByteArray("INSERT INTO Razdel_table(old_id,str_value) VALUES(?,\r\n?)\r\n") << QStringList{"7", "'It's new'"};
    QTest::newRow("sign stays in the shape") << QByteArray("VALUES(-5, +007,'')") << QByteArray("VALUES(-?, +?,?)")
                                             << QStringList{"5", "7", "''"};
    QTest::newRow("names with digits") << QByteArray("SELECT t1.c2 FROM t1 WHERE x = 3") << QByteArray("SELECT t1.c2 FROM t1 WHERE x = ?")
                                       << QStringList{"3"};
    QTest::newRow("fractions, exponents, hex stay") << QByteArray("SELECT 1.5, .5, 1e3, 0x1F, 2")
                                                    << QByteArray("SELECT 1.5, .5, 1e3, 0x1F, ?") << QStringList{"2"};
    QTest::newRow("numbers after ORDER BY name columns") << QByteArray("SELECT a FROM t WHERE b = 4 ORDER BY 1 LIMIT 5")
                                                         << QByteArray("SELECT a FROM t WHERE b = ? ORDER BY 1 LIMIT 5")
                                                         << QStringList{"4"};
    QTest::newRow("GROUP BY too") << QByteArray("SELECT a FROM t GROUP\r\nBY 2") << QByteArray("SELECT a FROM t GROUP\r\nBY 2")
                                  << QStringList();
    QTest::newRow("long numbers stay") << QByteArray("VALUES(1234567890123456789)")
                                       << QByteArray("VALUES(1234567890123456789)") << QStringList();
    QTest::newRow("quoted names and comments stay")
        << QByteArray("SELECT \"a'1\", `b 2`, [c'3] -- it's 4\n/* 'x' 5 */ FROM t")
        << QByteArray("SELECT \"a'1\", `b 2`, [c'3] -- it's 4\n/* 'x' 5 */ FROM t") << QStringList();
    QTest::newRow("other scripts in names and texts")
        << QByteArray("INSERT INTO t(имя) VALUES('Тема: «ёлочки» 😀', 5)") << QByteArray("INSERT INTO t(имя) VALUES(?, ?)")
        << QStringList{"'Тема: «ёлочки» 😀'", "5"};
    QTest::newRow("blob literal: as it stands") << QByteArray("VALUES(x'00')") << QByteArray() << QStringList();
    QTest::newRow("own parameter: as it stands") << QByteArray("VALUES(?, 1)") << QByteArray() << QStringList();
    QTest::newRow("named parameter: as it stands") << QByteArray("VALUES(:a, 1)") << QByteArray() << QStringList();
    QTest::newRow("unterminated text: as it stands") << QByteArray("VALUES('abc") << QByteArray() << QStringList();
    QTest::newRow("semicolon inside a text") << QByteArray("VALUES('a;DROP')") << QByteArray("VALUES(?)")
                                             << QStringList{"'a;DROP'"};
}

void tst_Database::shapesStatements()
{
    QFETCH(QByteArray, sql);
    QFETCH(QByteArray, shape);
    QFETCH(QStringList, literals);
    db::StatementShape parsed;
    const bool ok = parsed.parse(sql);
    QCOMPARE(ok, !shape.isEmpty());
    if (!ok)
        return;
    QCOMPARE(parsed.shape(), shape);
    QStringList seen;
    for (const auto &l : parsed.literals()) {
        if (l.kind == db::StatementShape::Literal::Kind::Integer)
            seen << QString::number(l.integer);
        else
            seen << u'\'' + QString::fromUtf8(parsed.text(l), l.length) + u'\'';
    }
    QCOMPARE(seen, literals);

    // Taken apart from UTF-16, the same text gives the same shape and texts.
    db::StatementShape fromUtf16;
    QVERIFY(fromUtf16.parse(QStringView(QString::fromUtf8(sql))));
    QCOMPARE(fromUtf16.shape(), parsed.shape());
    QCOMPARE(fromUtf16.literals().size(), parsed.literals().size());
    for (std::size_t i = 0; i < parsed.literals().size(); ++i) {
        const auto &a = parsed.literals()[i];
        const auto &b = fromUtf16.literals()[i];
        QCOMPARE(b.kind, a.kind);
        QCOMPARE(b.integer, a.integer);
        QCOMPARE(QByteArray(fromUtf16.text(b), b.length), QByteArray(parsed.text(a), a.length));
    }
}

namespace {

QString shapeOutcome(db::StatementShape &shape, const QString &sql)
{
    if (!shape.parse(QStringView(sql)))
        return QStringLiteral("<as it stands>");
    QString out = QString::fromUtf8(shape.shape());
    for (const auto &l : shape.literals()) {
        out += u" | ";
        out += l.kind == db::StatementShape::Literal::Kind::Integer ? QString::number(l.integer)
                                                                     : QString::fromUtf8(shape.text(l), l.length);
    }
    return out;
}

} // namespace

void tst_Database::shapesAfterAnotherText_data()
{
    // Texts taken apart one after the other on the same shape object: the
    // later ones start as the earlier ones did, up to their first literal.
    QTest::addColumn<QStringList>("texts");
    QTest::newRow("same head, other literals")
        << QStringList{"INSERT INTO t(a,b) VALUES(1,'x')", "INSERT INTO t(a,b) VALUES(22,'y''z')",
                       "INSERT INTO t(a,b) VALUES(3,\r\n'Тема')"};
    QTest::newRow("a number that grows a fraction") << QStringList{"SELECT a FROM t WHERE b = 1", "SELECT a FROM t WHERE b = 1.5"};
    QTest::newRow("ORDER BY after the head") << QStringList{"SELECT a FROM t WHERE b = 5", "SELECT a FROM t WHERE b = 5 ORDER BY 2"};
    QTest::newRow("a comment starting just before the literal")
        << QStringList{"VALUES(-'a', 1)", "VALUES(--'a'\n5)", "VALUES(/'a')", "VALUES(/*'a'*/5)"};
    QTest::newRow("a fraction just before the literal") << QStringList{"VALUES(.'a')", "VALUES(.5)"};
    QTest::newRow("the head alone, then shorter") << QStringList{"VALUES(1)", "VALUES(", "VALUES", "VALUES(2)"};
    QTest::newRow("a failing text in between")
        << QStringList{"UPDATE t SET a = 1 WHERE b = 2", "UPDATE u SET a = 'unterminated", "UPDATE t SET a = 3 WHERE b = 4"};
    QTest::newRow("other head, then the first again")
        << QStringList{"SELECT * FROM t WHERE a = 1", "DELETE FROM t WHERE a = 2", "SELECT * FROM t WHERE a = 3"};
}

void tst_Database::shapesAfterAnotherText()
{
    QFETCH(QStringList, texts);
    db::StatementShape reused;
    for (const QString &text : texts) {
        db::StatementShape fresh;
        QCOMPARE(shapeOutcome(reused, text), shapeOutcome(fresh, text));
    }
}

// Statements that share a compiled shape give exactly what each would give
// by itself: values, failures and result column names.
void tst_Database::shapedStatementsGiveTheSameResults()
{
    db::Query &q = session_->qTemp;
    for (const char *values : {"1,'a'", "-2,'b''c'", "+3,''"}) {
        q.setSql(QStringLiteral("INSERT INTO Razdel_table(old_id,str_value) VALUES(%1)").arg(QLatin1String(values)));
        q.execSql();
    }
    q.setSql(QStringLiteral("INSERT INTO Razdel_table(old_id,str_value) VALUES(2147483648,'x')"));
    QCOMPARE(failureOf([&] { q.execSql(); }),
             QStringLiteral("CHECK constraint failed: old_id BETWEEN -2147483648 AND 2147483647"));
    q.setSql(QStringLiteral("INSERT INTO Razdel_table(old_id,str_value) VALUES(5 6,'x')"));
    QCOMPARE(failureOf([&] { q.execSql(); }), QStringLiteral("near \"6\": syntax error"));
    q.setSql(QStringLiteral("SELECT old_id, str_value, 7 FROM Razdel_table WHERE old_id = -2 ORDER BY 2"));
    q.open();
    QCOMPARE(q.recordCount(), 1);
    QCOMPARE(q.fieldAsString(u"str_value"), QStringLiteral("b'c"));
    QCOMPARE(q.fieldAsString(u"7"), QStringLiteral("7")); // a literal's column keeps its own name
    q.setSql(QStringLiteral("SELECT * FROM Razdel_table ORDER BY 2 DESC"));
    q.open();
    QCOMPARE(q.fieldAsString(u"old_id"), QStringLiteral("3")); // ORDER BY 2 is the second column
}

void tst_Database::keepsStatementAsLines_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("readBack");
    QTest::newRow("empty") << "" << "";
    QTest::newRow("one line gets CR LF") << "SELECT 1" << "SELECT 1\r\n";
    QTest::newRow("lone LF and lone CR") << "a\nb\rc" << "a\r\nb\r\nc\r\n";
    QTest::newRow("final break kept once") << "a\r\n" << "a\r\n";
    QTest::newRow("empty line kept") << "a\r\n\r\n" << "a\r\n\r\n";
    QTest::newRow("only a break") << "\n" << "\r\n";
}

void tst_Database::keepsStatementAsLines()
{
    QFETCH(QString, text);
    QFETCH(QString, readBack);
    db::Query &q = session_->qTemp;
    q.setSql(text);
    QCOMPARE(q.sql(), readBack);
}

void tst_Database::settingTextNeverFails()
{
    db::Query &q = session_->qTemp;
    q.setSql(QStringLiteral("INSERT INTO Razdel_table(old_id,str_value) VALUES(7,"));
    QCOMPARE(q.sql(), QStringLiteral("INSERT INTO Razdel_table(old_id,str_value) VALUES(7,\r\n"));
    QVERIFY(failureOf([&] { q.execSql(); }) != QLatin1String("<no failure>"));
    QVERIFY(!q.isActive());
    QCOMPARE(q.sql(), QStringLiteral("INSERT INTO Razdel_table(old_id,str_value) VALUES(7,\r\n")); // keeps its text
}

// The run's inserts are built by reading the text back and appending: a
// section's is held as two lines and a forum's as three.
void tst_Database::runsStatementTextsOfTheRun()
{
    db::Query &q = session_->qTemp;
    q.setSql(QStringLiteral("INSERT INTO Razdel_table(old_id,str_value) VALUES(7,"));
    q.setSql(q.sql() + QStringLiteral("'It''s: \"new\" `x`')"));
    QCOMPARE(q.sql(), QStringLiteral("INSERT INTO Razdel_table(old_id,str_value) VALUES(7,\r\n'It''s: \"new\" `x`')\r\n"));
    QCOMPARE(q.commandText(), q.sql());
    q.execSql();
    q.setSql(QStringLiteral("INSERT INTO Forum_table(old_id,podrazdel_id,new_id,str_value) VALUES(15,"));
    q.setSql(q.sql() + QStringLiteral("7,0,"));
    q.setSql(q.sql() + QStringLiteral("'Rules')"));
    QCOMPARE(q.sql().count(QStringLiteral("\r\n")), 3);
    q.execSql();

    q.setSql(QStringLiteral("SELECT * FROM Razdel_table ORDER BY id"));
    q.open();
    QCOMPARE(q.recordCount(), 1);
    QCOMPARE(q.fieldAsString(u"old_id"), QStringLiteral("7"));
    QCOMPARE(q.fieldAsString(u"str_value"), QStringLiteral("It's: \"new\" `x`"));
    session_->qTempEx.setSql(QStringLiteral("SELECT * FROM Forum_table WHERE podrazdel_id = 7 ORDER BY id"));
    session_->qTempEx.open();
    QCOMPARE(session_->qTempEx.fieldAsString(u"str_value"), QStringLiteral("Rules"));
    QCOMPARE(session_->qTempEx.fieldAsString(u"new_id"), QStringLiteral("0"));
    session_->qExec.setSql(QStringLiteral("UPDATE Forum_table SET new_id = 3 WHERE id = ")
                           + session_->qTempEx.fieldAsString(u"id"));
    session_->qExec.execSql();
    session_->qTempEx.open();
    QCOMPARE(session_->qTempEx.fieldAsString(u"new_id"), QStringLiteral("3"));
}

void tst_Database::translatesOnlyTheDeleteStarForm_data()
{
    QTest::addColumn<QString>("statement");
    QTest::addColumn<bool>("runs");
    QTest::newRow("the run's form") << "DELETE * FROM Razdel_table" << true;
    QTest::newRow("lower case and CR LF") << "delete\r\n*\r\nfrom Razdel_table\r\n" << true;
    QTest::newRow("the engine's own form") << "DELETE FROM Razdel_table" << true;
    QTest::newRow("star glued to FROM stays as it is") << "DELETE *FROM Razdel_table" << false;
    QTest::newRow("select star untouched") << "SELECT * FROM Razdel_table" << true;
    QTest::newRow("not at the start") << "WITH x AS (SELECT 1) DELETE * FROM Razdel_table" << false;
}

void tst_Database::translatesOnlyTheDeleteStarForm()
{
    QFETCH(QString, statement);
    QFETCH(bool, runs);
    db::Query &q = session_->qExec;
    q.setSql(QStringLiteral("INSERT INTO Razdel_table(old_id,str_value) VALUES(1,'a')"));
    q.execSql();
    q.setSql(statement);
    const QString failure = failureOf([&] { q.execSql(); });
    QCOMPARE(failure == QLatin1String("<no failure>"), runs);
    session_->qTemp.setSql(QStringLiteral("SELECT * FROM Razdel_table"));
    session_->qTemp.open();
    const bool emptied = statement.contains(QLatin1String("DELETE"), Qt::CaseInsensitive) && runs;
    QCOMPARE(session_->qTemp.recordCount(), emptied ? 0 : 1);
}

void tst_Database::refusesMoreThanOneStatement_data()
{
    QTest::addColumn<QString>("statement");
    QTest::addColumn<bool>("runs");
    QTest::newRow("one statement") << "INSERT INTO Razdel_table(old_id,str_value) VALUES(1,'a')" << true;
    QTest::newRow("semicolon and blanks after") << "INSERT INTO Razdel_table(old_id,str_value) VALUES(1,'a'); \r\n" << true;
    QTest::newRow("a second statement")
        << "INSERT INTO Razdel_table(old_id,str_value) VALUES(1,'a');DELETE FROM Razdel_table" << false;
    QTest::newRow("a comment after") << "INSERT INTO Razdel_table(old_id,str_value) VALUES(1,'a');--x" << false;
    QTest::newRow("nothing but blanks") << " \r\n" << false;
    QTest::newRow("a marker without a value") << "INSERT INTO Razdel_table(old_id,str_value) VALUES(:id,'a')" << false;
}

void tst_Database::refusesMoreThanOneStatement()
{
    QFETCH(QString, statement);
    QFETCH(bool, runs);
    db::Query &q = session_->qExec;
    q.setSql(statement);
    const QString failure = failureOf([&] { q.execSql(); });
    QCOMPARE(failure == QLatin1String("<no failure>"), runs);
    session_->qTemp.setSql(QStringLiteral("SELECT * FROM Razdel_table"));
    session_->qTemp.open();
    QCOMPARE(session_->qTemp.recordCount(), runs ? 1 : 0); // nothing of a refused text ran
}

void tst_Database::refusesValuesTheColumnsDoNotTake_data()
{
    QTest::addColumn<QString>("values");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("largest 32-bit") << "2147483647,'a'" << true;
    QTest::newRow("smallest 32-bit") << "-2147483648,'a'" << true;
    QTest::newRow("plus and zeros") << "+007,'a'" << true;
    QTest::newRow("above 32 bits") << "2147483648,'a'" << false;
    QTest::newRow("below 32 bits") << "-2147483649,'a'" << false;
    QTest::newRow("huge") << "99999999999999999999999,'a'" << false;
    QTest::newRow("a text") << "'x','a'" << false;
    QTest::newRow("a fraction") << "1.5,'a'" << false;
    QTest::newRow("empty value") << ",'a'" << false;
    QTest::newRow("empty text") << "1,''" << true;
}

void tst_Database::refusesValuesTheColumnsDoNotTake()
{
    QFETCH(QString, values);
    QFETCH(bool, accepted);
    db::Query &q = session_->qTemp;
    q.setSql(QStringLiteral("INSERT INTO Razdel_table(old_id,str_value) VALUES(") + values + u')');
    QCOMPARE(failureOf([&] { q.execSql(); }) == QLatin1String("<no failure>"), accepted);
}

void tst_Database::givesValuesAsText()
{
    db::Query &q = session_->qTemp;
    const QString longText(1 << 20, u'ж');
    q.setSql(QStringLiteral("INSERT INTO Forum_table(old_id,podrazdel_id,new_id,str_value) VALUES(-12,NULL,2147483647,'")
             + longText + QStringLiteral("')"));
    q.execSql();
    q.setSql(QStringLiteral("INSERT INTO Forum_table(old_id,podrazdel_id,new_id,str_value) VALUES(+0012,5,0,'')"));
    q.execSql();
    q.setSql(QStringLiteral("INSERT INTO Forum_table(old_id,podrazdel_id,new_id,str_value) VALUES(1,5,0,'")
             + QChar(0xFEFF) + QStringLiteral("x')"));
    q.execSql();
    q.setSql(QStringLiteral("SELECT * FROM Forum_table ORDER BY id"));
    q.open();
    QCOMPARE(q.fieldAsString(u"old_id"), QStringLiteral("-12"));
    QCOMPARE(q.fieldAsString(u"podrazdel_id"), QString()); // null
    QCOMPARE(q.fieldAsString(u"new_id"), QStringLiteral("2147483647")); // no grouping
    QCOMPARE(q.fieldAsString(u"str_value"), longText);
    q.next();
    QCOMPARE(q.fieldAsString(u"old_id"), QStringLiteral("12"));
    QCOMPARE(q.fieldAsString(u"str_value"), QString());
    q.next();
    QCOMPARE(q.fieldAsString(u"str_value"), QChar(0xFEFF) + QStringLiteral("x"));
    q.setSql(QStringLiteral("SELECT 2.5 AS r, 100000000.0 AS big"));
    q.open();
    QCOMPARE(q.fieldAsString(u"r"), QLocale::system().toString(2.5, 'g', 15));
    QVERIFY(!q.fieldAsString(u"big").contains(QLocale::system().groupSeparator()));
}

void tst_Database::findsFieldsIgnoringCase()
{
    db::Query &q = session_->qTemp;
    q.setSql(QStringLiteral("SELECT 4 AS id, 5 AS Id"));
    q.open();
    QCOMPARE(q.fieldAsString(u"ID"), QStringLiteral("4")); // the first that matches
}

void tst_Database::reportsSessionFailures()
{
    db::Query &q = session_->qTemp;
    QCOMPARE(failureOf([&] { q.execSql(); }), QStringLiteral("qTemp: Missing SQL property"));
    QCOMPARE(failureOf([&] { session_->qTempEx.open(); }), QStringLiteral("qTempEx: Missing SQL property"));
    QCOMPARE(failureOf([&] { (void)q.recordCount(); }),
             QStringLiteral("qTemp: Cannot perform this operation on a closed dataset"));
    q.setSql(QStringLiteral("SELECT id FROM Razdel_table"));
    q.open();
    QCOMPARE(failureOf([&] { (void)q.fieldAsString(u"old_id"); }), QStringLiteral("qTemp: Field 'old_id' not found"));
    session_->qExec.setSql(QStringLiteral("DELETE * FROM Razdel_table"));
    QCOMPARE(failureOf([&] { session_->qExec.open(); }),
             QStringLiteral("qExec: CommandText does not return a result set"));
    QVERIFY(!session_->qExec.isActive());
    q.setSql(QStringLiteral("SELECT * FROM No_table"));
    QCOMPARE(failureOf([&] { q.open(); }), QStringLiteral("no such table: No_table"));
    QVERIFY(!q.isActive());
}

void tst_Database::emptyResultIsAtEndAtOnce()
{
    db::Query &q = session_->qTemp;
    q.setSql(QStringLiteral("SELECT * FROM Razdel_table ORDER BY id"));
    q.open();
    QVERIFY(q.eof());
    QCOMPARE(q.recordCount(), 0);
    q.first();
    QVERIFY(q.eof());
    q.next();
    QVERIFY(q.eof());
}

void tst_Database::resultIsFixedWhenOpened_data()
{
    QTest::addColumn<int>("rows");
    QTest::addColumn<QString>("filter"); // more of the WHERE, true for every row
    QTest::newRow("small, fetched whole") << 3 << QString();
    QTest::newRow("large, read as it goes") << 6000 << QString();
    // A text in the statement must still be what it was when the result is
    // read again, whatever statements came in between.
    QTest::newRow("small, with a text") << 3 << QStringLiteral(" AND str_value >= 'f'");
    QTest::newRow("large, with a text") << 6000 << QStringLiteral(" AND str_value >= 'f'");
}

// Whatever runs through the other query objects meanwhile, an open result
// keeps the rows, values and order it had when it opened, also when it is
// read again from the first row or shares its statement's shape.
void tst_Database::resultIsFixedWhenOpened()
{
    QFETCH(int, rows);
    QFETCH(QString, filter);
    db::Query &ins = session_->qExec;
    ins.setSql(QStringLiteral("INSERT INTO Forum_table(old_id,podrazdel_id,new_id,str_value) "
                              "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < %1) "
                              "SELECT i, 1, 0, 'f' || i FROM n").arg(rows));
    ins.execSql();
    db::Query &q = session_->qTemp;
    q.setSql(QStringLiteral("SELECT * FROM Forum_table WHERE podrazdel_id = 1%1 ORDER BY id").arg(filter));
    q.open();
    QCOMPARE(q.recordCount(), rows);
    q.next(); // somewhere in the middle when the others strike
    ins.setSql(QStringLiteral("INSERT INTO Forum_table(old_id,podrazdel_id,new_id,str_value) VALUES(0,1,0,'new')"));
    ins.execSql();
    ins.setSql(QStringLiteral("UPDATE Forum_table SET podrazdel_id = 2, new_id = 9 WHERE old_id = 1"));
    ins.execSql();
    ins.setSql(QStringLiteral("DELETE FROM Forum_table WHERE old_id = %1").arg(rows));
    ins.execSql();
    // The same shape with another literal, through another query.
    db::Query &other = session_->qTempEx;
    other.setSql(QStringLiteral("SELECT * FROM Forum_table WHERE podrazdel_id = 2 ORDER BY id"));
    other.open();
    QCOMPARE(other.recordCount(), 1);
    QCOMPARE(q.fieldAsString(u"old_id"), QStringLiteral("2"));
    QCOMPARE(q.recordCount(), rows);
    for (int pass = 0; pass < 2; ++pass) {
        q.first();
        int seen = 0;
        bool valuesKept = true;
        for (; !q.eof(); q.next()) {
            ++seen;
            valuesKept = valuesKept && q.fieldAsString(u"old_id") == QString::number(seen)
                && q.fieldAsString(u"podrazdel_id") == QLatin1String("1") && q.fieldAsString(u"new_id") == QLatin1String("0");
        }
        QCOMPARE(seen, rows);
        QVERIFY(valuesKept);
        QCOMPARE(q.fieldAsString(u"old_id"), QString::number(rows)); // the last row stays current
    }
}

// A result still reading from its statement across commits kept the engine's
// log from ever starting over: it grew by every page written for as long as
// the result lived. Several commits of some 16 MB each, with a result open all
// the while, must leave the log about one commit long, and the result whole.
void tst_Database::logStartsOverWhileAResultIsRead()
{
    db::Query &ins = session_->qExec;
    ins.setSql(QStringLiteral("INSERT INTO Razdel_table(old_id,str_value) "
                              "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 6000) "
                              "SELECT i, 's' || i FROM n"));
    ins.execSql();
    // Forums of some 2 KB each: updating all of them writes some 40 MB.
    constexpr int forums = 20000;
    ins.setSql(QStringLiteral("INSERT INTO Forum_table(old_id,podrazdel_id,new_id,str_value) "
                              "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < %1) "
                              "SELECT i, 1, 0, hex(zeroblob(1000)) FROM n")
                      .arg(forums));
    ins.execSql();
    session_->ADOConnection1.commit();
    // The sections read as the renumbering reads them, while the forums'
    // numbers are updated and committed again and again.
    db::Query &q = session_->qTemp;
    q.setSql(QStringLiteral("SELECT * FROM Razdel_table ORDER BY id"));
    q.open();
    q.next();
    for (int round = 1; round <= 4; ++round) {
        for (int id = 1; id <= forums; ++id) {
            ins.setSql(QStringLiteral("UPDATE Forum_table SET new_id = %1 WHERE id = %2").arg(round).arg(id));
            ins.execSql();
        }
        session_->ADOConnection1.commit();
    }
    const qint64 logSize = QFileInfo(dir_->path(QStringLiteral("Database.mdb-wal"))).size();
    QVERIFY2(logSize < 80 * 1024 * 1024, qPrintable(QString::number(logSize)));
    int rows = 0;
    for (q.first(); !q.eof(); q.next())
        ++rows;
    QCOMPARE(rows, 6000);
}

void tst_Database::executingTwiceRunsTwice()
{
    db::Query &q = session_->qExec;
    q.setSql(QStringLiteral("INSERT INTO Razdel_table(old_id,str_value) VALUES(1,'a')"));
    const QString command = q.commandText();
    q.setSql(QStringLiteral("INSERT INTO Razdel_table(old_id,str_value) VALUES(1,'a')"));
    QCOMPARE(q.commandText(), command);
    q.execSql();
    q.execSql();
    session_->qTemp.setSql(QStringLiteral("SELECT * FROM Razdel_table"));
    session_->qTemp.open();
    QCOMPARE(session_->qTemp.recordCount(), 2);
}

// Writes are grouped underneath, but a failure must never take back what ran
// before it: anyone reading the file afterwards sees every earlier row.
void tst_Database::keepsWhatRanBeforeAFailure()
{
    session_->ADOConnection1.setCommitInterval(std::chrono::hours(1));
    db::Query &q = session_->qTemp;
    for (int i = 1; i <= 3; ++i) {
        q.setSql(QStringLiteral("INSERT INTO Razdel_table(old_id,str_value) VALUES(%1,'a')").arg(i));
        q.execSql();
    }
    QCOMPARE(rowsSeenFromOutside(dir_->path("Database.mdb"), "Razdel_table"), 0); // still grouped
    q.setSql(QStringLiteral("INSERT INTO Razdel_table(old_id,str_value) VALUES(4294967296,'a')"));
    QVERIFY(failureOf([&] { q.execSql(); }).contains(QLatin1String("CHECK constraint failed")));
    QCOMPARE(rowsSeenFromOutside(dir_->path("Database.mdb"), "Razdel_table"), 3);
    q.setSql(QStringLiteral("INSERT INTO Razdel_table(old_id,str_value) VALUES(5,'a')"));
    q.execSql(); // the session goes on after a failure
    q.setSql(QStringLiteral("INSERT INTO Razdel_table(old_id str_value) VALUES(6,'a')"));
    QVERIFY(failureOf([&] { q.execSql(); }).contains(QLatin1String("syntax error")));
    QCOMPARE(rowsSeenFromOutside(dir_->path("Database.mdb"), "Razdel_table"), 4);
}

void tst_Database::commitsGroupedWritesOnClose()
{
    session_->ADOConnection1.setCommitInterval(std::chrono::hours(1));
    db::Query &q = session_->qTemp;
    q.setSql(QStringLiteral("INSERT INTO Razdel_table(old_id,str_value) VALUES(1,'a')"));
    q.execSql();
    session_.reset();
    QCOMPARE(rowsSeenFromOutside(dir_->path("Database.mdb"), "Razdel_table"), 1);
}

void tst_Database::openFailures_data()
{
    QTest::addColumn<QByteArray>("fileBytes"); // "<none>": no file; "<schema:...>": run that SQL
    QTest::addColumn<QString>("provider");
    QTest::addColumn<QString>("reason");
    QTest::newRow("missing file") << QByteArray("<none>") << "SQLite" << "unable to open database file";
    QTest::newRow("not a database") << QByteArray(4096, 'x') << "SQLite" << "file is not a database";
    QTest::newRow("no tables") << QByteArray("<schema:CREATE TABLE other(x)>") << "SQLite" << "no such table: Razdel_table";
    QTest::newRow("forum table missing")
        << QByteArray("<schema:CREATE TABLE Razdel_table(id INTEGER PRIMARY KEY, old_id, str_value)>") << "SQLite"
        << "no such table: Forum_table";
    QTest::newRow("a column missing")
        << QByteArray("<schema:CREATE TABLE Razdel_table(id INTEGER PRIMARY KEY, str_value)>") << "SQLite"
        << "no such column: old_id";
    QTest::newRow("another provider") << QByteArray("<built>") << "Other.Engine" << "Provider cannot be found. It may not be properly installed";
}

void tst_Database::openFailures()
{
    QFETCH(QByteArray, fileBytes);
    QFETCH(QString, provider);
    QFETCH(QString, reason);
    session_.reset();
    QTemporaryDir tmp;
    const QString file = tmp.filePath("Database.mdb");
    if (fileBytes == "<built>") {
        QVERIFY(QFile::copy(dir_->path("Database.mdb"), file));
    } else if (fileBytes.startsWith("<schema:")) {
        sqlite3 *h = nullptr;
        sqlite3_open(file.toUtf8().constData(), &h);
        QCOMPARE(sqlite3_exec(h, fileBytes.mid(8).chopped(1).constData(), nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(h);
    } else if (fileBytes != "<none>") {
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(fileBytes);
    }
    db::Connection connection;
    connection.setConnectionString(QStringLiteral("Provider=%1;Data Source=%2;Persist Security Info=False").arg(provider, file));
    QCOMPARE(failureOf([&] { connection.open(); }), reason);
    QVERIFY(!connection.isOpen());
    if (fileBytes == "<none>")
        QVERIFY(!QFile::exists(file)); // never creates a database
}

void tst_Database::connectionStringKeepsTheDirectory_data()
{
    QTest::addColumn<QString>("folder");
    QTest::newRow("Cyrillic and blanks") << QString::fromUtf16(u"Мои файлы/форум 2");
    QTest::newRow("semicolon and equals") << "a;b=c;Provider=x";
}

void tst_Database::connectionStringKeepsTheDirectory()
{
    QFETCH(QString, folder);
    QVERIFY(QDir(dir_->dir()).mkpath(folder));
    const QString programDir = dir_->dir() + folder + u'/';
    QVERIFY(QFile::copy(dir_->path("Database.mdb"), programDir + QStringLiteral("Database.mdb")));
    db::Session session;
    session.open(programDir);
    QCOMPARE(session.ADOConnection1.connectionString(),
             QStringLiteral("Provider=SQLite;Data Source=") + programDir + QStringLiteral("Database.mdb;Persist Security Info=False"));
    QCOMPARE(session.ADOConnection1.dataSource(), programDir + QStringLiteral("Database.mdb"));
    QVERIFY(session.ADOConnection1.isOpen());
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
