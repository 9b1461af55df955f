#pragma once

#include <QString>

#include <functional>

struct sqlite3;

namespace db {

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

    // Moves everything committed from the engine's log into the database file
    // and empties the log, so that nothing the file needs is left beside it.
    // False when a reader of another connection kept the log from being
    // emptied: it then stays, whole and valid, for a later checkpoint. Any
    // other failure is raised. No transaction may be open.
    bool checkpoint();
    // The same without emptying the log, which the next commits write over
    // from its start: for between two commits of a run.
    bool checkpointKeepingLog();

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
    bool checkpointIn(int mode);

    QString path_;
    sqlite3 *db_ = nullptr;
    std::function<void()> tick_;
};

} // namespace db
