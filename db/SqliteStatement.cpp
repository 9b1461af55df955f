#include "SqliteStatement.h"

#include <sqlite3.h>

namespace db {

SqliteStatement::~SqliteStatement()
{
    sqlite3_finalize(stmt_);
}

SqliteStatement &SqliteStatement::operator=(SqliteStatement &&other) noexcept
{
    if (this != &other) {
        sqlite3_finalize(stmt_);
        stmt_ = other.stmt_;
        other.stmt_ = nullptr;
    }
    return *this;
}

} // namespace db
