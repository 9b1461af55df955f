#include "Statement.h"

#include "Database.h"

#include <sqlite3.h>

namespace db {

Statement::Statement(Database &database, const char *sql) : database_(database)
{
    database_.check(sqlite3_prepare_v3(database_.handle(), sql, -1, SQLITE_PREPARE_PERSISTENT, &stmt_, nullptr));
}

Statement::~Statement()
{
    sqlite3_finalize(stmt_);
}

void Statement::bind(int index, qint64 value)
{
    database_.check(sqlite3_bind_int64(stmt_, index, value));
}

void Statement::bind(int index, const Number &value)
{
    database_.check(value.isReal ? sqlite3_bind_double(stmt_, index, value.real)
                                 : sqlite3_bind_int64(stmt_, index, value.integer));
}

void Statement::bindText(int index, QByteArrayView utf8)
{
    // A null pointer would bind NULL, not an empty text.
    database_.check(sqlite3_bind_text64(stmt_, index, utf8.isNull() ? "" : utf8.data(), sqlite3_uint64(utf8.size()),
                                        SQLITE_STATIC, SQLITE_UTF8));
}

bool Statement::step()
{
    const int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW)
        return true;
    if (rc == SQLITE_DONE)
        return false;
    sqlite3_reset(stmt_);
    database_.fail(rc);
}

void Statement::run()
{
    while (step()) {
    }
    reset();
}

void Statement::reset() noexcept
{
    sqlite3_reset(stmt_);
}

void Statement::finalize() noexcept
{
    sqlite3_finalize(stmt_);
    stmt_ = nullptr;
}

qint64 Statement::integer(int column) const
{
    return sqlite3_column_int64(stmt_, column);
}

QByteArrayView Statement::text(int column) const
{
    const auto *p = reinterpret_cast<const char *>(sqlite3_column_text(stmt_, column));
    return QByteArrayView(p, sqlite3_column_bytes(stmt_, column));
}

} // namespace db
