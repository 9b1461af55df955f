// Any line, as a section line and as a forum line: an identifier is accepted
// only when it is a sign, digits and blanks, and every statement built from
// accepted identifiers and any text, the way the run builds it, compiles to
// exactly one insert with no tail and no parameter, which stores exactly the
// line's values or is refused by a constraint. The session, which may take a
// statement apart to reuse its compiled form, must give the same result as
// the engine given the text as it stands.
#include "FuzzCheck.h"

#include <db/Connection.h>
#include <db/DbError.h>
#include <db/EngineText.h>
#include <db/Query.h>
#include <db/Session.h>
#include <run/Identifier.h>
#include <run/LineFile.h>

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <sqlite3.h>

#include <run/StatementText.h>

#include <cstdint>
#include <optional>

#include <unistd.h>

namespace {

struct SqliteCloser
{
    void operator()(sqlite3 *db) const { sqlite3_close_v2(db); }
};
struct StatementFinalizer
{
    void operator()(sqlite3_stmt *stmt) const { sqlite3_finalize(stmt); }
};
using Database = std::unique_ptr<sqlite3, SqliteCloser>;
using Statement = std::unique_ptr<sqlite3_stmt, StatementFinalizer>;

QByteArray schemaText()
{
    QFile schema(QStringLiteral(REINDEX_SCHEMA));
    FUZZ_CHECK_MSG(schema.open(QIODevice::ReadOnly), schema.fileName());
    return schema.readAll();
}

// The shipped schema in a database that lives in memory.
sqlite3 *schemaDatabase()
{
    static const Database db = [] {
        sqlite3 *raw = nullptr;
        FUZZ_CHECK(sqlite3_open(":memory:", &raw) == SQLITE_OK);
        Database owned(raw);
        FUZZ_CHECK(sqlite3_exec(raw, schemaText().constData(), nullptr, nullptr, nullptr) == SQLITE_OK);
        return owned;
    }();
    return db.get();
}

// A program folder in shared memory with a database made as the build makes
// it, and the session open on it.
class SessionFolder
{
public:
    SessionFolder()
    {
        const QString base = QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm") : QDir::tempPath();
        dir_ = QStringLiteral("%1/reindex-fuzz-session-%2/").arg(base).arg(::getpid());
        QDir().mkpath(dir_);
        QFile::remove(dir_ + QStringLiteral("Database.mdb"));
        {
            sqlite3 *raw = nullptr;
            FUZZ_CHECK(sqlite3_open(QFile::encodeName(dir_ + QStringLiteral("Database.mdb")).constData(), &raw)
                       == SQLITE_OK);
            Database made(raw);
            FUZZ_CHECK(sqlite3_exec(raw, ("PRAGMA journal_mode=WAL;" + schemaText()).constData(), nullptr, nullptr, nullptr)
                       == SQLITE_OK);
        }
        session.open(dir_);
    }
    ~SessionFolder()
    {
        session.ADOConnection1.close();
        QDir(dir_).removeRecursively();
    }
    SessionFolder(const SessionFolder &) = delete;
    SessionFolder &operator=(const SessionFolder &) = delete;

    db::Session session;

private:
    QString dir_;
};

SessionFolder &sessionFolder()
{
    static SessionFolder folder;
    return folder;
}

void exec(const char *sql)
{
    FUZZ_CHECK_MSG(sqlite3_exec(schemaDatabase(), sql, nullptr, nullptr, nullptr) == SQLITE_OK,
                   QString::fromUtf8(sqlite3_errmsg(schemaDatabase())));
}

// The run's own literal for a text.
QString quoted(QStringView text)
{
    return run::StatementText::quoted(text);
}

// The value an accepted identifier stands for, when it fits the columns.
std::optional<qint32> valueOf(QStringView field)
{
    QString compact = field.toString();
    compact.remove(u' ').remove(u'\t');
    bool ok = false;
    const qlonglong v = compact.toLongLong(&ok);
    if (!ok || v < INT32_MIN || v > INT32_MAX)
        return std::nullopt;
    return qint32(v);
}

void checkIdentifierRule(QStringView field)
{
    static const QRegularExpression plain(QStringLiteral("\\A[ \\t]*[+-]?[ \\t]*[0-9]+[ \\t]*\\z"));
    const bool accepted = run::isPlainInteger(field);
    FUZZ_CHECK_MSG(accepted == plain.match(field).hasMatch(), escapedForMessage(field));
    if (accepted) {
        for (const QChar c : field)
            FUZZ_CHECK_MSG(c == u' ' || c == u'\t' || c == u'+' || c == u'-' || (c >= u'0' && c <= u'9'),
                           escapedForMessage(field));
    }
}

bool onlyWhiteSpace(const char *tail)
{
    for (; *tail; ++tail) {
        if (!(*tail == ' ' || *tail == '\t' || *tail == '\r' || *tail == '\n' || *tail == '\f'))
            return false;
    }
    return true;
}

// Compiles and runs the query's command text in a transaction that is rolled
// back; `values` are what the one new row must hold, or nothing when the
// statement must be refused by a constraint.
void checkStatement(const db::Query &query, const char *table, const std::optional<QStringList> &values,
                    const char *columns)
{
    FUZZ_CHECK(query.parameterNames().isEmpty());
    FUZZ_CHECK_MSG(query.commandText() == query.sql(), escapedForMessage(query.sql()));
    sqlite3 *db = schemaDatabase();
    const QByteArray sql = query.commandText().toUtf8();
    FUZZ_CHECK(!sql.contains('\0')); // the engine would stop reading there
    sqlite3_stmt *raw = nullptr;
    const char *tail = nullptr;
    const int rc = sqlite3_prepare_v2(db, sql.constData(), int(sql.size()) + 1, &raw, &tail);
    Statement stmt(raw);
    FUZZ_CHECK_MSG(rc == SQLITE_OK, QString::fromUtf8(sqlite3_errmsg(db)) + QStringLiteral(": ") + escapedForMessage(query.sql()));
    FUZZ_CHECK(stmt);
    FUZZ_CHECK_MSG(onlyWhiteSpace(tail), escapedForMessage(query.sql()));
    FUZZ_CHECK(sqlite3_bind_parameter_count(stmt.get()) == 0);
    FUZZ_CHECK(!sqlite3_stmt_readonly(stmt.get()));

    exec("BEGIN");
    const int step = sqlite3_step(stmt.get());
    QString engineError;
    if (!values) {
        FUZZ_CHECK_MSG((step & 0xff) == SQLITE_CONSTRAINT, escapedForMessage(query.sql()));
        engineError = db::trimEngineText(QString::fromUtf8(sqlite3_errmsg(db)));
    } else {
        FUZZ_CHECK_MSG(step == SQLITE_DONE,
                       QString::fromUtf8(sqlite3_errmsg(db)) + QStringLiteral(": ") + escapedForMessage(query.sql()));
        FUZZ_CHECK(sqlite3_changes(db) == 1);
        const QByteArray select = QByteArray("SELECT ") + columns + " FROM " + table;
        sqlite3_stmt *rawRead = nullptr;
        FUZZ_CHECK(sqlite3_prepare_v2(db, select.constData(), -1, &rawRead, nullptr) == SQLITE_OK);
        Statement read(rawRead);
        FUZZ_CHECK(sqlite3_step(read.get()) == SQLITE_ROW);
        for (int c = 0; c < values->size(); ++c) {
            const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(read.get(), c));
            const QByteArray stored(text, sqlite3_column_bytes(read.get(), c));
            FUZZ_CHECK_MSG(stored == values->at(c).toUtf8(),
                           QString::fromLatin1(stored.toHex(' ')) + QStringLiteral(" != ") + escapedForMessage(values->at(c)));
        }
        FUZZ_CHECK(sqlite3_step(read.get()) == SQLITE_DONE); // the one row, no other
    }
    stmt.reset();
    exec("ROLLBACK");

    // The same text through the session, read back through a query object.
    db::Session &session = sessionFolder().session;
    db::Query &run = session.qTemp;
    run.setSql(query.sql());
    QString sessionError;
    try {
        run.execSql();
    } catch (const db::DbError &e) {
        sessionError = e.message();
    }
    FUZZ_CHECK_MSG(sessionError == engineError, sessionError + QStringLiteral(" / ") + engineError);
    db::Query &read = session.qTempEx;
    read.setSql(QStringLiteral("SELECT * FROM %1 ORDER BY id").arg(QLatin1String(table)));
    read.open();
    const QStringList names = QString::fromLatin1(columns).split(QStringLiteral(", "));
    if (!values) {
        FUZZ_CHECK(read.eof());
    } else {
        FUZZ_CHECK(read.recordCount() == 1);
        for (int c = 0; c < names.size(); ++c) {
            const QString got = read.fieldAsString(names.at(c));
            FUZZ_CHECK_MSG(got == values->at(c), escapedForMessage(got) + QStringLiteral(" != ") + escapedForMessage(values->at(c)));
        }
    }
    read.close();
    run.setSql(QStringLiteral("DELETE * FROM %1").arg(QLatin1String(table)));
    run.execSql();
}

void checkSectionLine(db::Query &query, QStringView line)
{
    const run::LineFile::Split s = run::LineFile::splitField(line);
    checkIdentifierRule(s.field);
    if (!run::isPlainInteger(s.field))
        return;
    query.setSql(QStringLiteral("INSERT INTO Razdel_table(old_id,str_value) VALUES(") + s.field.toString() + u',');
    query.setSql(query.sql() + quoted(s.rest) + u')');
    std::optional<QStringList> values;
    if (const auto id = valueOf(s.field))
        values = QStringList{QString::number(*id), s.rest.toString()};
    checkStatement(query, "Razdel_table", values, "old_id, str_value");
}

void checkForumLine(db::Query &query, QStringView line)
{
    const run::LineFile::Split first = run::LineFile::splitField(line);
    const run::LineFile::Split second = run::LineFile::splitField(first.rest);
    checkIdentifierRule(second.field);
    if (!run::isPlainInteger(first.field) || !run::isPlainInteger(second.field))
        return;
    query.setSql(QStringLiteral("INSERT INTO Forum_table(old_id,podrazdel_id,new_id,str_value) VALUES(")
                 + first.field.toString() + u',');
    query.setSql(query.sql() + second.field.toString() + QStringLiteral(",0,"));
    query.setSql(query.sql() + quoted(second.rest) + u')');
    std::optional<QStringList> values;
    const auto id = valueOf(first.field);
    const auto section = valueOf(second.field);
    if (id && section)
        values = QStringList{QString::number(*id), QString::number(*section), QStringLiteral("0"), second.rest.toString()};
    checkStatement(query, "Forum_table", values, "old_id, podrazdel_id, new_id, str_value");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    static db::Connection connection; // never opened: the queries only build their text here
    static db::Query query(connection, QStringLiteral("qTemp"));
    // Lines as the run sees them: decoded text without CR, LF or U+0000.
    static const QRegularExpression breaks(QStringLiteral("[\\r\\n\\x{0}]"));
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    for (const QString &line : text.split(breaks)) {
        checkSectionLine(query, line);
        checkForumLine(query, line);
    }
    return 0;
}
