#pragma once

#include <QString>

#include <functional>
#include <memory>

struct sqlite3;

namespace db {

class Writeback;

// Owns one connection to an existing database file. Every failure of the
// engine is raised as DbError with the engine's own description.
class Database
{
public:
    // Opens the file for reading and writing; never creates one. A file that
    // can only be read is a failure to open (the engine's "attempt to write a
    // readonly database").
    explicit Database(const QString &path);
    ~Database();
    Database(const Database &) = delete;
    Database &operator=(const Database &) = delete;

    sqlite3 *handle() const noexcept { return db_; }
    const QString &path() const noexcept { return path_; }

    // Closes the connection; a failure to close is raised. Every statement
    // must have been let go.
    void close();

    // Commits the open transaction. A reader of another connection holds
    // the file for a moment now and then: the commit waits up to
    // `commitWaitMs` for it to finish, calling the progress tick as it waits,
    // rather than failing the run. A failed commit leaves the transaction open.
    void commit();
    static constexpr int commitWaitMs = 5000;

    // Starts the system writing to the disk what the engine has handed it so
    // far, and returns at once (see Writeback).
    void startWriteback() noexcept;

    // Runs statements that take no values and return no rows.
    void exec(const char *sql);

    // Calls `tick` every so many steps of the engine's work while a statement
    // runs, so that a long one leaves room for the window; none to stop.
    void setProgressHandler(std::function<void()> tick);

    // How long a statement waits for another connection's lock before it
    // fails with "database is locked"; 0 fails at once.
    void setBusyTimeout(int milliseconds);

    // The engine's failure for a result code, with its description.
    [[noreturn]] void fail(int rc) const;
    // Raises the engine's failure unless `rc` is one of the good ones.
    void check(int rc) const;

private:
    static int onProgress(void *self);
    static int onBusy(void *self, int calls);

    QString path_;
    sqlite3 *db_ = nullptr;
    std::function<void()> tick_;
    // Last: closed after the connection, whose locks its closing would drop.
    std::unique_ptr<Writeback> writeback_;
};

} // namespace db
