#pragma once

#include <QByteArray>

struct sqlite3;
struct sqlite3_stmt;

namespace db {

// Owns one compiled statement; finalizing it is the destructor's job.
class SqliteStatement
{
public:
    SqliteStatement() = default;
    explicit SqliteStatement(sqlite3_stmt *stmt) : stmt_(stmt) {}
    ~SqliteStatement();
    SqliteStatement(const SqliteStatement &) = delete;
    SqliteStatement &operator=(const SqliteStatement &) = delete;
    SqliteStatement(SqliteStatement &&other) noexcept : stmt_(other.stmt_) { other.stmt_ = nullptr; }
    SqliteStatement &operator=(SqliteStatement &&other) noexcept;

    sqlite3_stmt *handle() const noexcept { return stmt_; }
    explicit operator bool() const noexcept { return stmt_ != nullptr; }
    // Gives up ownership: the caller finalizes.
    sqlite3_stmt *release() noexcept
    {
        sqlite3_stmt *s = stmt_;
        stmt_ = nullptr;
        return s;
    }

private:
    sqlite3_stmt *stmt_ = nullptr;
};

} // namespace db
