#pragma once

#include <QString>

struct sqlite3;

namespace db {

// Owns one sqlite3 connection handle; closing it is the destructor's job.
class SqliteDatabase
{
public:
    SqliteDatabase() = default;
    ~SqliteDatabase();
    SqliteDatabase(const SqliteDatabase &) = delete;
    SqliteDatabase &operator=(const SqliteDatabase &) = delete;
    SqliteDatabase(SqliteDatabase &&other) noexcept;
    SqliteDatabase &operator=(SqliteDatabase &&other) noexcept;

    // Opens an existing file for reading and writing; never creates one.
    // Throws DbError(Engine) with the engine's reason.
    static SqliteDatabase openExisting(const QString &path);

    sqlite3 *handle() const noexcept { return db_; }
    explicit operator bool() const noexcept { return db_ != nullptr; }
    void reset() noexcept;

    // The engine's last error text, trimmed as every engine failure is.
    QString lastError() const;

private:
    explicit SqliteDatabase(sqlite3 *db) : db_(db) {}
    sqlite3 *db_ = nullptr;
};

} // namespace db
