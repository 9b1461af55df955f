#include "Database.h"

#include "DbError.h"
#include "EngineText.h"
#include "Writeback.h"

#include <sqlite3.h>

namespace db {

namespace {

// Steps of the engine between two ticks: a few milliseconds of its work.
constexpr int progressSteps = 100000;

} // namespace

Database::Database(const QString &path) : path_(path)
{
    // One thread uses a connection at a time; the engine's own locking and
    // memory statistics would only cost time on every statement.
    static const bool configured = [] {
        sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
        return true;
    }();
    Q_UNUSED(configured);
    const int rc = sqlite3_open_v2(path.toUtf8().constData(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX,
                                   nullptr);
    if (rc != SQLITE_OK) {
        const QString text = db_ ? QString::fromUtf8(sqlite3_errmsg(db_)) : QString::fromUtf8(sqlite3_errstr(rc));
        sqlite3_close_v2(db_);
        db_ = nullptr;
        throw DbError(trimEngineText(text), rc);
    }
    // A file the program may not write opens all the same, read-only, and
    // the run would fail only at its first change: it is no database to use.
    if (sqlite3_db_readonly(db_, "main") == 1) {
        sqlite3_close_v2(db_);
        db_ = nullptr;
        throw DbError(trimEngineText(QString::fromUtf8(sqlite3_errstr(SQLITE_READONLY))), SQLITE_READONLY);
    }
    sqlite3_extended_result_codes(db_, 1);
    writeback_ = std::make_unique<Writeback>(path);
}

void Database::setBusyTimeout(int milliseconds)
{
    check(sqlite3_busy_timeout(db_, milliseconds));
}

Database::~Database()
{
    sqlite3_close_v2(db_);
}

void Database::startWriteback() noexcept
{
    if (writeback_)
        writeback_->start();
}

void Database::close()
{
    if (!db_)
        return;
    const int rc = sqlite3_close(db_);
    if (rc != SQLITE_OK)
        fail(rc);
    db_ = nullptr;
    writeback_.reset();
}

void Database::exec(const char *sql)
{
    check(sqlite3_exec(db_, sql, nullptr, nullptr, nullptr));
}

void Database::commit()
{
    // Only the commit waits: a transaction that another writer holds is
    // still refused at once (the timeout is 0 otherwise).
    sqlite3_busy_handler(db_, &Database::onBusy, this);
    const int rc = sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_busy_timeout(db_, 0);
    check(rc);
}

int Database::onBusy(void *self, int calls)
{
    constexpr int pauseMs = 2;
    if (calls * pauseMs >= commitWaitMs)
        return 0;
    auto *db = static_cast<Database *>(self);
    if (db->tick_)
        db->tick_();
    sqlite3_sleep(pauseMs);
    return 1;
}

void Database::setProgressHandler(std::function<void()> tick)
{
    tick_ = std::move(tick);
    sqlite3_progress_handler(db_, tick_ ? progressSteps : 0, tick_ ? &Database::onProgress : nullptr, this);
}

int Database::onProgress(void *self)
{
    static_cast<Database *>(self)->tick_();
    return 0;
}

void Database::fail(int rc) const
{
    // The connection's message belongs to its last call; a code of another
    // call (a step's, after a reset) has only the engine's generic text.
    const int last = sqlite3_extended_errcode(db_);
    const QString text = last == rc ? QString::fromUtf8(sqlite3_errmsg(db_)) : QString::fromUtf8(sqlite3_errstr(rc));
    throw DbError(trimEngineText(text), rc);
}

void Database::check(int rc) const
{
    if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW)
        fail(rc);
}

} // namespace db
