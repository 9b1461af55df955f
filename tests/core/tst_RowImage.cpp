#include "PlainConnection.h"
#include "ProgramDir.h"

#include <db/DbError.h>
#include <db/EngineText.h>
#include <db/ResultSet.h>
#include <db/RowImage.h>
#include <db/Session.h>
#include <db/SqliteStatement.h>

#include <QCryptographicHash>
#include <QTest>

#include <sqlite3.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <utility>

using db::DbError;

namespace {

constexpr qint64 int64Min = std::numeric_limits<qint64>::min();
constexpr qint64 int64Max = std::numeric_limits<qint64>::max();

// A text long enough to drown a failure's message stands as its length and
// digest: two of them still differ when their bytes do.
QString shown(const QString &value)
{
    if (value.size() <= 256)
        return value;
    return QStringLiteral("<%1 characters, %2>")
        .arg(value.size())
        .arg(QString::fromLatin1(QCryptographicHash::hash(value.toUtf8(), QCryptographicHash::Sha1).toHex()));
}

// Every row of a result, values joined by "|".
QStringList rowsOf(db::ResultSet &result)
{
    QStringList out;
    for (result.first(); !result.atEnd(); result.next()) {
        QStringList values;
        for (int c = 0; c < result.columnCount(); ++c)
            values << shown(result.text(c));
        out << values.join(u'|');
    }
    return out;
}

// An in-memory database of the test's own, for the image's scans.
class Scratch
{
public:
    Scratch() { sqlite3_open_v2(":memory:", &h_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr); }
    ~Scratch() { sqlite3_close(h_); }
    Scratch(const Scratch &) = delete;
    Scratch &operator=(const Scratch &) = delete;

    // The failures, each after its statement.
    QStringList run(const QStringList &statements)
    {
        QStringList failures;
        for (const QString &sql : statements) {
            if (sqlite3_exec(h_, sql.toUtf8().constData(), nullptr, nullptr, nullptr) != SQLITE_OK)
                failures << sql + QStringLiteral(": ") + QString::fromUtf8(sqlite3_errmsg(h_));
        }
        return failures;
    }

    db::SqliteStatement prepare(const QString &sql)
    {
        sqlite3_stmt *raw = nullptr;
        sqlite3_prepare_v2(h_, sql.toUtf8().constData(), -1, &raw, nullptr);
        return db::SqliteStatement(raw);
    }

    QList<qint64> integers(const QString &sql)
    {
        QList<qint64> out;
        db::SqliteStatement st = prepare(sql);
        while (st && sqlite3_step(st.handle()) == SQLITE_ROW)
            out << sqlite3_column_int64(st.handle(), 0);
        return out;
    }

    // What the engine returns for the read the image stands in for.
    QStringList section(const QString &group, const QString &order, qint64 value)
    {
        db::SqliteStatement st = prepare(QStringLiteral("SELECT * FROM t WHERE %1 = ?1 ORDER BY %2").arg(group, order));
        if (!st)
            return {QStringLiteral("<%1>").arg(QString::fromUtf8(sqlite3_errmsg(h_)))};
        sqlite3_bind_int64(st.handle(), 1, value);
        db::ResultSet result;
        const int rc = result.open(st.handle(), sqlite3_step(st.handle()), nullptr,
                                   std::numeric_limits<qsizetype>::max(), [](sqlite3_stmt *) {});
        if (rc != SQLITE_DONE)
            return {QStringLiteral("<%1>").arg(QString::fromUtf8(sqlite3_errmsg(h_)))};
        return rowsOf(result);
    }

private:
    sqlite3 *h_ = nullptr;
};

struct Built
{
    std::unique_ptr<db::RowImage> image;
    int rc = SQLITE_OK;
    QStringList columns;
};

Built buildFrom(Scratch &scratch, const QString &scan, const QString &group, const QString &order,
                std::size_t budget = std::size_t(1) << 30)
{
    Built built;
    db::SqliteStatement st = scratch.prepare(scan);
    if (!st)
        return built;
    for (int c = 0; c < sqlite3_column_count(st.handle()); ++c)
        built.columns << QString::fromUtf8(sqlite3_column_name(st.handle(), c));
    const QList<qint64> count = scratch.integers(QStringLiteral("SELECT count(*) FROM t"));
    built.image = db::RowImage::build(st.handle(), std::size_t(count.value(0)), int(built.columns.indexOf(group)),
                                      int(built.columns.indexOf(order)), budget, built.rc);
    return built;
}

QStringList imageRows(const Built &built, qint64 value)
{
    db::ResultSet result;
    result.beginRows(built.columns);
    for (std::uint32_t row : built.image->group(value))
        built.image->appendRow(row, result);
    result.endRows();
    return rowsOf(result);
}

// Group values to look up: every whole number the column holds, and some that
// only a mistaken image would find rows for.
QList<qint64> probes(Scratch &scratch, const QString &group)
{
    QList<qint64> values
        = scratch.integers(QStringLiteral("SELECT DISTINCT %1 FROM t WHERE typeof(%1) = 'integer'").arg(group));
    values << 0 << 1 << -1 << 2147483647LL << 2147483648LL << -2147483648LL << -2147483649LL << 4294967296LL << int64Min
           << int64Max;
    return values;
}

// The differences between the image and the engine, one line for each group
// value where they differ.
QStringList mismatches(Scratch &scratch, const Built &built, const QString &group, const QString &order)
{
    QStringList out;
    for (qint64 value : probes(scratch, group)) {
        const QStringList expected = scratch.section(group, order, value);
        const QStringList actual = imageRows(built, value);
        if (actual != expected)
            out << QStringLiteral("%1: image [%2], engine [%3]")
                       .arg(value)
                       .arg(actual.join(QStringLiteral("; ")), expected.join(QStringLiteral("; ")));
    }
    return out;
}

QString sectionRead(qint64 section)
{
    return QStringLiteral("SELECT * FROM Forum_table WHERE podrazdel_id = %1 ORDER BY id").arg(section);
}

QString update(qint64 key, qint64 value)
{
    return QStringLiteral("UPDATE Forum_table SET new_id = %1 WHERE id = %2").arg(value).arg(key);
}

// Forums numbered in the order they are added, each section's scattered over
// the table as a real list's are.
QString forums(int count, int sections)
{
    return QStringLiteral("INSERT INTO Forum_table(old_id,podrazdel_id,new_id,str_value) "
                          "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < %1) "
                          "SELECT 100000 + i, (i * 7) % %2 + 1, 0, 'forum ' || i FROM n")
        .arg(count)
        .arg(sections);
}

QString sectionsOf(int count)
{
    return QStringLiteral("INSERT INTO Razdel_table(old_id,str_value) "
                          "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < %1) "
                          "SELECT i, 'section ' || i FROM n")
        .arg(count);
}

const QString wholeTable = QStringLiteral("SELECT * FROM Forum_table ORDER BY id");

} // namespace

class tst_RowImage : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();

    void answersAsTheEngine_data();
    void answersAsTheEngine();
    void refusesWhatItCannotRepeat_data();
    void refusesWhatItCannotRepeat();
    void patchFollowsKeyedUpdates_data();
    void patchFollowsKeyedUpdates();
    void patchRefusesWhatItCannotFollow_data();
    void patchRefusesWhatItCannotFollow();

    void renumberingReadsAsThePlainConnection();
    void imageFollowsOrGoes_data();
    void imageFollowsOrGoes();
    void noImageOfAView();

private:
    QString databasePath() const { return dir_->path(QStringLiteral("Database.mdb")); }
    // The same database, where the statements run one by one on a plain connection.
    QString referencePath() const { return dir_->path(QStringLiteral("Reference.mdb")); }
    // Both files hold what the statements make before the session opens.
    void setUp(const QStringList &statements);
    db::Connection &connection() { return session_->ADOConnection1; }
    QString runInSession(const QString &sql);
    QStringList readInSession(db::Query &q, const QString &sql, const QString &header);
    // The section as the session and the reference read it; empty when they agree.
    QString sectionDiffers(qint64 section);

    std::unique_ptr<ProgramDir> dir_;
    std::unique_ptr<db::Session> session_;
    std::unique_ptr<PlainConnection> reference_;
};

void tst_RowImage::cleanup()
{
    reference_.reset();
    session_.reset();
    dir_.reset();
}

void tst_RowImage::answersAsTheEngine_data()
{
    QTest::addColumn<QStringList>("setup");
    QTest::addColumn<QString>("group");
    QTest::addColumn<QString>("order");

    const QString plain = QStringLiteral("CREATE TABLE t(id INTEGER PRIMARY KEY, g INTEGER, v TEXT)");
    QTest::newRow("sections of interleaved rows")
        << QStringList{plain,
                       QStringLiteral("INSERT INTO t(g, v) VALUES (2,'a'),(1,'b'),(2,'c'),(3,'d'),(1,'e'),(2,'f')")}
        << QStringLiteral("g") << QStringLiteral("id");
    QTest::newRow("negative sections within 32 bits")
        << QStringList{plain,
                       QStringLiteral("INSERT INTO t(g, v) VALUES (-1,'a'),(5,'b'),(-2147483648,'c'),"
                                      "(2147483647,'d'),(0,'e'),(-1,'f'),(-2147483648,'g')")}
        << QStringLiteral("g") << QStringLiteral("id");
    QTest::newRow("null sections")
        << QStringList{plain,
                       QStringLiteral("INSERT INTO t(g, v) VALUES (NULL,'a'),(1,'b'),(NULL,'c'),(1,'d'),(0,'e')")}
        << QStringLiteral("g") << QStringLiteral("id");
    // 4294967296 and 0 share their low 32 bits, as do -1 and 4294967295.
    QTest::newRow("sections beyond 32 bits")
        << QStringList{plain,
                       QStringLiteral("INSERT INTO t(g, v) VALUES (4294967296,'a'),(0,'b'),(-1,'c'),"
                                      "(4294967295,'d'),(-9223372036854775808,'e'),(9223372036854775807,'f'),"
                                      "(2147483648,'g'),(0,'h'),(4294967296,'i')")}
        << QStringLiteral("g") << QStringLiteral("id");
    QTest::newRow("ordered against the stored order")
        << QStringList{QStringLiteral("CREATE TABLE t(id INTEGER PRIMARY KEY, g INTEGER, o INTEGER, v TEXT)"),
                       QStringLiteral("INSERT INTO t(g, o, v) VALUES (1,50,'a'),(2,40,'b'),(1,-30,'c'),(2,"
                                      "9223372036854775807,'d'),(1,20,'e'),(2,-9223372036854775808,'f'),(1,40,'g')")}
        << QStringLiteral("g") << QStringLiteral("o");
    QTest::newRow("one order value in two sections")
        << QStringList{QStringLiteral("CREATE TABLE t(id INTEGER PRIMARY KEY, g INTEGER, o INTEGER)"),
                       QStringLiteral("INSERT INTO t(g, o) VALUES (1,7),(2,7),(1,3),(2,3)")}
        << QStringLiteral("g") << QStringLiteral("o");
    QTest::newRow("by the row id")
        << QStringList{plain, QStringLiteral("INSERT INTO t(id, g, v) VALUES (3,1,'a'),(9,1,'b'),(-4,2,'c')")}
        << QStringLiteral("id") << QStringLiteral("id");
    // Columns without a type keep whatever they are given.
    QTest::newRow("every kind of value in every column")
        << QStringList{QStringLiteral("CREATE TABLE t(id INTEGER PRIMARY KEY, g INTEGER, a, b, c, d)"),
                       QStringLiteral("INSERT INTO t(g, a, b, c, d) VALUES "
                                      "(1, 5, 'text', 2.5, x'414243'),"
                                      "(2, 1099511627776, NULL, 'x', -7),"
                                      "(1, -0.125, 3, NULL, 'after a blob'),"
                                      "(2, 'late text', x'00ff', 1e300, NULL),"
                                      "(1, NULL, 4.0, -2147483649, x'')")}
        << QStringLiteral("g") << QStringLiteral("id");
    QTest::newRow("texts, then a null")
        << QStringList{plain,
                       QStringLiteral("INSERT INTO t(g, v) VALUES (1,'first'),(2,'second'),(1,'third'),(2,NULL),"
                                      "(1,'fifth')")}
        << QStringLiteral("g") << QStringLiteral("id");
    QTest::newRow("texts, then a number")
        << QStringList{QStringLiteral("CREATE TABLE t(id INTEGER PRIMARY KEY, g INTEGER, v)"),
                       QStringLiteral("INSERT INTO t(g, v) VALUES (1,'first'),(2,'second'),(1,42),(2,'fourth')")}
        << QStringLiteral("g") << QStringLiteral("id");
    QTest::newRow("empty texts and blobs")
        << QStringList{QStringLiteral("CREATE TABLE t(id INTEGER PRIMARY KEY, g INTEGER, v, w)"),
                       QStringLiteral("INSERT INTO t(g, v, w) VALUES (1,'','x'),(1,'y',x''),(2,'',''),(1,x'','z'),"
                                      "(2,'w',zeroblob(0))")}
        << QStringLiteral("g") << QStringLiteral("id");
    // Some fill what is left of a megabyte, one passes it alone.
    QTest::newRow("texts over a megabyte")
        << QStringList{plain,
                       QStringLiteral("INSERT INTO t(g, v) VALUES (1,'short'),(2,hex(randomblob(300000))),"
                                      "(1,hex(randomblob(700000))),(2,'x'),(1,hex(randomblob(524288))),"
                                      "(2,''),(1,'tail')")}
        << QStringLiteral("g") << QStringLiteral("id");
    QTest::newRow("no rows") << QStringList{plain} << QStringLiteral("g") << QStringLiteral("id");
}

// For any section, the rows the image gives are the rows the engine's read
// gives, in its order, value for value.
void tst_RowImage::answersAsTheEngine()
{
    QFETCH(QStringList, setup);
    QFETCH(QString, group);
    QFETCH(QString, order);
    Scratch scratch;
    QCOMPARE(scratch.run(setup), QStringList());
    const Built built = buildFrom(scratch, QStringLiteral("SELECT * FROM t"), group, order);
    QCOMPARE(built.rc, SQLITE_DONE);
    QVERIFY(built.image);
    QCOMPARE(qint64(built.image->rowCount()), scratch.integers(QStringLiteral("SELECT count(*) FROM t")).value(0));
    QCOMPARE(mismatches(scratch, built, group, order), QStringList());
}

void tst_RowImage::refusesWhatItCannotRepeat_data()
{
    QTest::addColumn<QStringList>("setup");
    QTest::addColumn<QString>("scan");
    QTest::addColumn<QString>("order");
    QTest::addColumn<qint64>("budget");
    QTest::addColumn<int>("rc");

    const QString untyped = QStringLiteral("CREATE TABLE t(id INTEGER PRIMARY KEY, g, o, v)");
    const QString all = QStringLiteral("SELECT * FROM t");
    const qint64 plenty = qint64(1) << 30;
    // A text that looks like a number is still not equal to one.
    QTest::newRow("a section named by a text")
        << QStringList{untyped, QStringLiteral("INSERT INTO t(g, o) VALUES (1,1),('1',2),(2,3)")} << all
        << QStringLiteral("id") << plenty << SQLITE_DONE;
    QTest::newRow("a section named by a blob")
        << QStringList{untyped, QStringLiteral("INSERT INTO t(g, o) VALUES (1,1),(x'01',2)")} << all
        << QStringLiteral("id") << plenty << SQLITE_DONE;
    QTest::newRow("a section named by a fraction")
        << QStringList{untyped, QStringLiteral("INSERT INTO t(g, o) VALUES (1,1),(2.5,2)")} << all
        << QStringLiteral("id") << plenty << SQLITE_DONE;
    QTest::newRow("two rows of a section in the same place")
        << QStringList{untyped, QStringLiteral("INSERT INTO t(g, o) VALUES (1,5),(2,5),(1,6),(1,5)")} << all
        << QStringLiteral("o") << plenty << SQLITE_DONE;
    QTest::newRow("a row of a section without a place")
        << QStringList{untyped, QStringLiteral("INSERT INTO t(g, o) VALUES (1,5),(1,NULL)")} << all
        << QStringLiteral("o") << plenty << SQLITE_DONE;
    QTest::newRow("a place that is a text")
        << QStringList{untyped, QStringLiteral("INSERT INTO t(g, o) VALUES (1,5),(1,'6')")} << all
        << QStringLiteral("o") << plenty << SQLITE_DONE;
    QTest::newRow("many rows, little room")
        << QStringList{untyped,
                       QStringLiteral("INSERT INTO t(g, o) WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL "
                                      "SELECT i + 1 FROM n WHERE i < 5000) SELECT i % 7, i FROM n")}
        << all << QStringLiteral("o") << qint64(16384) << SQLITE_DONE;
    QTest::newRow("few rows, more text than room")
        << QStringList{untyped,
                       QStringLiteral("INSERT INTO t(g, o, v) VALUES (1,1,hex(randomblob(600000))),"
                                      "(2,2,hex(randomblob(600000)))")}
        << all << QStringLiteral("o") << qint64(2000000) << SQLITE_DONE;
    QTest::newRow("few rows against the stored order, more text than room")
        << QStringList{untyped,
                       QStringLiteral("INSERT INTO t(g, o, v) VALUES (1,2,hex(randomblob(600000))),"
                                      "(2,1,hex(randomblob(600000)))")}
        << all << QStringLiteral("o") << qint64(2000000) << SQLITE_DONE;
    // abs() of the least number fails in the middle of the scan.
    QTest::newRow("a scan that fails")
        << QStringList{untyped,
                       QStringLiteral("INSERT INTO t(g, o, v) VALUES (1,1,0),(1,2,-9223372036854775808),(2,3,0)")}
        << QStringLiteral("SELECT id, g, o, abs(v) AS v FROM t") << QStringLiteral("o") << plenty << SQLITE_ERROR;
}

// Where the image could not give what the engine gives, it is not made.
void tst_RowImage::refusesWhatItCannotRepeat()
{
    QFETCH(QStringList, setup);
    QFETCH(QString, scan);
    QFETCH(QString, order);
    QFETCH(qint64, budget);
    QFETCH(int, rc);
    Scratch scratch;
    QCOMPARE(scratch.run(setup), QStringList());
    const Built built = buildFrom(scratch, scan, QStringLiteral("g"), order, std::size_t(budget));
    QVERIFY(!built.image);
    QCOMPARE(built.rc, rc);
}

using Patches = QList<std::pair<qint64, qint64>>; // key, value

void tst_RowImage::patchFollowsKeyedUpdates_data()
{
    QTest::addColumn<bool>("gaps"); // the keys skip numbers
    QTest::addColumn<QString>("column");
    QTest::addColumn<Patches>("patches");

    const qint64 wide = qint64(1) << 40;
    for (const bool gaps : {false, true}) {
        const char *keys = gaps ? ", keys with gaps" : ", keys in a run";
        auto row = [&](const char *name) -> QTestData & {
            return QTest::newRow(qPrintable(QLatin1String(name) + QLatin1String(keys))) << gaps;
        };
        row("one row") << QStringLiteral("v") << Patches{{5, 42}};
        row("first and last rows") << QStringLiteral("v") << Patches{{1, -1}, {55, 2147483647}};
        row("keys no row holds") << QStringLiteral("v") << Patches{{0, 9}, {-3, 9}, {4, 9}, {56, 9}, {int64Max, 9}};
        row("values beyond 32 bits") << QStringLiteral("v")
                                     << Patches{{3, wide}, {8, -wide}, {13, int64Min}, {2, int64Max}};
        row("beyond 32 bits, then back") << QStringLiteral("v") << Patches{{3, wide}, {3, 7}, {5, -2147483648LL}};
        row("the same row twice") << QStringLiteral("v") << Patches{{5, 1}, {5, 2}};
        row("a column of texts") << QStringLiteral("s") << Patches{{2, 17}, {21, wide}};
    }
}

// A patch leaves the image as the same update leaves the table.
void tst_RowImage::patchFollowsKeyedUpdates()
{
    QFETCH(bool, gaps);
    QFETCH(QString, column);
    QFETCH(Patches, patches);
    QStringList keys;
    for (int k = 1; k <= 55; ++k) {
        if (!gaps || k <= 3 || k == 5 || k == 8 || k == 13 || k == 21 || k == 34 || k == 55)
            keys << QString::number(k);
    }
    Scratch scratch;
    QCOMPARE(
        scratch.run({QStringLiteral("CREATE TABLE t(id INTEGER PRIMARY KEY, g INTEGER, o INTEGER, v INTEGER, s TEXT)"),
                     QStringLiteral("INSERT INTO t SELECT value, value % 3, 100 - value, value * 10, 's' || value "
                                    "FROM json_each('[%1]')")
                         .arg(keys.join(u','))}),
        QStringList());
    Built built = buildFrom(scratch, QStringLiteral("SELECT * FROM t"), QStringLiteral("g"), QStringLiteral("o"));
    QVERIFY(built.image);
    const int keyColumn = int(built.columns.indexOf(QStringLiteral("id")));
    const int valueColumn = int(built.columns.indexOf(column));
    for (const auto &[key, value] : patches) {
        QVERIFY(built.image->patch(keyColumn, key, valueColumn, value));
        QCOMPARE(scratch.run({QStringLiteral("UPDATE t SET %1 = %2 WHERE id = %3").arg(column).arg(value).arg(key)}),
                 QStringList());
    }
    QCOMPARE(mismatches(scratch, built, QStringLiteral("g"), QStringLiteral("o")), QStringList());
}

void tst_RowImage::patchRefusesWhatItCannotFollow_data()
{
    // Columns of the table: id, g (sections), o (the order), v, s (texts).
    QTest::addColumn<int>("keyColumn");
    QTest::addColumn<int>("valueColumn");
    QTest::newRow("the section") << 0 << 1;
    QTest::newRow("the order") << 0 << 2;
    QTest::newRow("the key itself") << 0 << 0;
    QTest::newRow("by a key that repeats") << 1 << 3;
    QTest::newRow("by a key that descends") << 2 << 3;
    QTest::newRow("by texts") << 4 << 3;
    QTest::newRow("no such key column") << -1 << 3;
    QTest::newRow("no such value column") << 0 << 5;
}

// Refused, the image must be let go; it never claims to follow.
void tst_RowImage::patchRefusesWhatItCannotFollow()
{
    QFETCH(int, keyColumn);
    QFETCH(int, valueColumn);
    Scratch scratch;
    QCOMPARE(
        scratch.run({QStringLiteral("CREATE TABLE t(id INTEGER PRIMARY KEY, g INTEGER, o INTEGER, v INTEGER, s TEXT)"),
                     QStringLiteral("INSERT INTO t VALUES (1,1,9,10,'a'),(2,2,8,20,'b'),(3,1,7,30,'c')")}),
        QStringList());
    Built built = buildFrom(scratch, QStringLiteral("SELECT * FROM t"), QStringLiteral("g"), QStringLiteral("o"));
    QVERIFY(built.image);
    QVERIFY(!built.image->patch(keyColumn, 2, valueColumn, 5));
}

void tst_RowImage::setUp(const QStringList &statements)
{
    reference_.reset();
    session_.reset();
    dir_ = std::make_unique<ProgramDir>();
    QVERIFY(QFile::copy(QStringLiteral(REINDEX_TEST_DATABASE), referencePath()));
    QFile::setPermissions(referencePath(), QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);
    for (const QString &file : {databasePath(), referencePath()}) {
        PlainConnection c(file);
        for (const QString &sql : statements)
            QCOMPARE(c.run(sql), noFailure);
    }
    reference_ = std::make_unique<PlainConnection>(referencePath(), true);
    session_ = std::make_unique<db::Session>();
    session_->open(dir_->dir());
    // Only what the tests do may commit: a commit falling due in the middle
    // would end the group the image lives in.
    connection().setCommitInterval(std::chrono::hours(1));
}

QString tst_RowImage::runInSession(const QString &sql)
{
    db::Query &q = session_->qExec;
    q.close();
    q.setSql(sql);
    return failureOf([&] { q.execSql(); });
}

QStringList tst_RowImage::readInSession(db::Query &q, const QString &sql, const QString &header)
{
    q.close();
    q.setSql(sql);
    const QString failure = failureOf([&] { q.open(); });
    if (failure != noFailure)
        return {failure};
    QStringList out;
    const QString listed = failureOf([&] { out = listing(q, header); });
    return listed == noFailure ? out : QStringList{listed};
}

QString tst_RowImage::sectionDiffers(qint64 section)
{
    const QStringList expected = reference_->read(sectionRead(section));
    const QStringList actual = readInSession(session_->qTempEx, sectionRead(section), expected.first());
    if (actual == expected)
        return QString();
    return QStringLiteral("section %1: session [%2], reference [%3]")
        .arg(section)
        .arg(actual.join(QStringLiteral("; ")), expected.join(QStringLiteral("; ")));
}

// The run's renumbering, twice over: every section read and each of its
// forums given the section's number. Once the reads have cost enough the
// image answers them, and the second time round it answers every one, with
// the numbers of the first either applied to it or still held.
void tst_RowImage::renumberingReadsAsThePlainConnection()
{
    const int sectionCount = 2000;
    setUp({sectionsOf(sectionCount), forums(70000, sectionCount)});
    db::Query &sections = session_->qTemp;
    db::Query &section = session_->qTempEx;
    db::Query &exec = session_->qExec;
    const QString header = reference_->read(sectionRead(1)).first();
    QStringList differences;
    for (int round = 0; round < 2; ++round) {
        sections.close();
        sections.setSql(QStringLiteral("SELECT * FROM Razdel_table ORDER BY id"));
        sections.open();
        for (int number = 1 + round * sectionCount; !sections.eof(); sections.next(), ++number) {
            const QString read = sectionRead(sections.fieldAsString(u"old_id").toLongLong());
            section.close();
            section.setSql(read);
            section.open();
            const QStringList expected = reference_->read(read);
            const QStringList actual = listing(section, header);
            if (actual != expected && differences.size() < 5)
                differences << read + QStringLiteral(": ") + actual.mid(0, 3).join(QStringLiteral("; "));
            for (section.first(); !section.eof(); section.next()) {
                const QString sql = update(section.fieldAsString(u"id").toLongLong(), number);
                exec.close();
                exec.setSql(sql);
                exec.execSql();
                reference_->run(sql);
            }
        }
        QVERIFY(connection().hasImage());
    }
    QVERIFY2(differences.isEmpty(), qPrintable(differences.join(u'\n')));
    connection().commit();
    QCOMPARE(PlainConnection(databasePath()).read(wholeTable), reference_->read(wholeTable));
}

void tst_RowImage::imageFollowsOrGoes_data()
{
    // Steps after the image is made, held updates pending: statements through
    // the session (and on the reference), or "commit", "read N" (section N),
    // "other: <statement>" (another connection, and the reference), "shrink",
    // "fit", "close".
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<bool>("imageAfter");

    // Forum 1 is in section 8, forum 2 in section 15, forum 64 in section 1.
    QTest::newRow("a forum added")
        << QStringList{QStringLiteral(
               "INSERT INTO Forum_table(old_id,podrazdel_id,new_id,str_value) VALUES (7,8,0,'added')")}
        << false;
    QTest::newRow("a forum deleted") << QStringList{QStringLiteral("DELETE FROM Forum_table WHERE id = 1")} << false;
    QTest::newRow("a forum renamed")
        << QStringList{QStringLiteral("UPDATE Forum_table SET str_value = 'renamed' WHERE id = 1")} << false;
    QTest::newRow("a forum moved")
        << QStringList{QStringLiteral("UPDATE Forum_table SET podrazdel_id = 15 WHERE id = 1")} << false;
    QTest::newRow("a held number read in its section")
        << QStringList{update(1, 999), QStringLiteral("read 8"), update(1, 998)} << true;
    QTest::newRow("a held update of another column")
        << QStringList{QStringLiteral("UPDATE Forum_table SET old_id = 5 WHERE id = 1"), QStringLiteral("read 8")}
        << true;
    QTest::newRow("a held update of the other table")
        << QStringList{QStringLiteral("UPDATE Razdel_table SET old_id = 5 WHERE id = 1"), QStringLiteral("read 8")}
        << true;
    QTest::newRow("committed, then held again") << QStringList{QStringLiteral("commit"), update(64, 5)} << true;
    QTest::newRow("another connection reading between groups")
        << QStringList{QStringLiteral("commit"), QStringLiteral("other: SELECT count(*) FROM Forum_table"),
                       update(64, 5)}
        << true;
    // Read before the next group too, when the engine answers.
    QTest::newRow("another connection's change between groups")
        << QStringList{QStringLiteral("commit"),
                       QStringLiteral("other: UPDATE Forum_table SET podrazdel_id = 15, str_value = 'moved' "
                                      "WHERE id = 1"),
                       QStringLiteral("read 8"), QStringLiteral("read 15"), update(64, 5)}
        << false;
    QTest::newRow("another connection's column between groups")
        << QStringList{QStringLiteral("commit"),
                       QStringLiteral("other: ALTER TABLE Forum_table ADD COLUMN note TEXT DEFAULT 'n'"), update(64, 5)}
        << false;
    QTest::newRow("a column added")
        << QStringList{QStringLiteral("ALTER TABLE Forum_table ADD COLUMN note TEXT DEFAULT 'n'")} << false;
    QTest::newRow("an update that fails") << QStringList{update(1, 2147483648LL)} << false;
    QTest::newRow("a read that fails") << QStringList{QStringLiteral("SELECT * FROM Nowhere")} << false;
    QTest::newRow("the cache shrunk") << QStringList{QStringLiteral("shrink")} << false;
    QTest::newRow("the cache fitted") << QStringList{QStringLiteral("fit")} << false;
    QTest::newRow("closed") << QStringList{QStringLiteral("close")} << false;
}

// Once made, the image either follows what happens to the table or is let
// go; reads give what a plain connection gives either way.
// A view's rows follow the tables under it, which the writes that would drop
// or patch an image name instead of the view: it gets no image, however
// often it is read.
void tst_RowImage::noImageOfAView()
{
    const int sectionCount = 64;
    setUp({sectionsOf(sectionCount), forums(4096, sectionCount),
           QStringLiteral("CREATE VIEW fv AS SELECT * FROM Forum_table")});
    QCOMPARE(runInSession(update(2, 1)), noFailure);
    db::Query &section = session_->qTempEx;
    for (int pass = 0; pass < 32; ++pass) {
        for (int s = 1; s <= sectionCount; ++s) {
            section.close();
            section.setSql(QStringLiteral("SELECT * FROM fv WHERE podrazdel_id = %1 ORDER BY id").arg(s));
            section.open();
        }
    }
    QVERIFY(!connection().hasImage());
    section.close();
}

void tst_RowImage::imageFollowsOrGoes()
{
    QFETCH(QStringList, steps);
    QFETCH(bool, imageAfter);
    // 64 sections of 64 forums.
    const int sectionCount = 64;
    setUp({sectionsOf(sectionCount), forums(4096, sectionCount)});
    // A held update opens the group that reads are answered in; then the
    // sections are read over and over until the reads have cost enough.
    QCOMPARE(runInSession(update(2, 1)), noFailure);
    reference_->run(update(2, 1));
    db::Query &section = session_->qTempEx;
    for (int pass = 0; pass < 32 && !connection().hasImage(); ++pass) {
        for (int s = 1; s <= sectionCount; ++s) {
            section.close();
            section.setSql(sectionRead(s));
            section.open();
        }
    }
    QVERIFY(connection().hasImage());
    // The run's renumbering, answered by the image: the numbers stay held.
    QStringList differences;
    for (int s = 1; s <= sectionCount; ++s) {
        const QString difference = sectionDiffers(s);
        if (!difference.isEmpty())
            differences << difference;
        for (section.first(); !section.eof(); section.next()) {
            const QString sql = update(section.fieldAsString(u"id").toLongLong(), s + 100);
            QCOMPARE(runInSession(sql), noFailure);
            reference_->run(sql);
        }
    }
    QVERIFY2(differences.isEmpty(), qPrintable(differences.join(u'\n')));
    QVERIFY(connection().hasImage());

    for (const QString &step : steps) {
        if (step == QLatin1String("commit")) {
            connection().commit();
        } else if (step.startsWith(QLatin1String("read "))) {
            const QString difference = sectionDiffers(step.mid(5).toLongLong());
            QVERIFY2(difference.isEmpty(), qPrintable(difference));
        } else if (step.startsWith(QLatin1String("other: "))) {
            QCOMPARE(PlainConnection(databasePath()).run(step.mid(7)), noFailure);
            reference_->run(step.mid(7));
        } else if (step == QLatin1String("shrink")) {
            connection().shrinkCacheTo(2 << 20);
        } else if (step == QLatin1String("fit")) {
            connection().fitCacheTo(qint64(200) << 20);
        } else if (step == QLatin1String("close")) {
            connection().close();
        } else {
            QCOMPARE(runInSession(step), reference_->run(step));
        }
    }
    const bool imageStood = connection().hasImage();

    // Read inside a group again, where a standing image answers.
    QCOMPARE(runInSession(update(3, 77)), noFailure);
    reference_->run(update(3, 77));
    for (int s = 1; s <= sectionCount; ++s) {
        const QString difference = sectionDiffers(s);
        if (!difference.isEmpty() && differences.size() < 5)
            differences << difference;
    }
    QVERIFY2(differences.isEmpty(), qPrintable(differences.join(u'\n')));
    QCOMPARE(imageStood, imageAfter);
    connection().commit();
    QCOMPARE(PlainConnection(databasePath()).read(wholeTable), reference_->read(wholeTable));
}

QTEST_GUILESS_MAIN(tst_RowImage)
#include "tst_RowImage.moc"
