#include "SqliteDatabase.h"

#include "DbError.h"
#include "EngineText.h"

#include <sqlite3.h>

namespace db {

SqliteDatabase::~SqliteDatabase()
{
    reset();
}

SqliteDatabase::SqliteDatabase(SqliteDatabase &&other) noexcept : db_(other.db_)
{
    other.db_ = nullptr;
}

SqliteDatabase &SqliteDatabase::operator=(SqliteDatabase &&other) noexcept
{
    if (this != &other) {
        reset();
        db_ = other.db_;
        other.db_ = nullptr;
    }
    return *this;
}

void SqliteDatabase::reset() noexcept
{
    if (db_) {
        sqlite3_close_v2(db_);
        db_ = nullptr;
    }
}

SqliteDatabase SqliteDatabase::openExisting(const QString &path)
{
    sqlite3 *raw = nullptr;
    const QByteArray utf8 = path.toUtf8();
    // One thread uses a connection at a time; the engine's own locking and
    // memory statistics would only cost time on every statement.
    static const bool configured = [] {
        sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
        return true;
    }();
    Q_UNUSED(configured);
    const int rc = sqlite3_open_v2(utf8.constData(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
    SqliteDatabase result(raw);
    if (rc != SQLITE_OK) {
        QString text = raw ? QString::fromUtf8(sqlite3_errmsg(raw)) : QString::fromUtf8(sqlite3_errstr(rc));
        throw DbError(DbError::Kind::Engine, trimEngineText(text), rc);
    }
    sqlite3_extended_result_codes(raw, 1);
    return result;
}

QString SqliteDatabase::lastError() const
{
    if (!db_)
        return QString();
    return trimEngineText(QString::fromUtf8(sqlite3_errmsg(db_)));
}

} // namespace db
