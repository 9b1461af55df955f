#include "Tables.h"

#include "DbError.h"

#include <sqlite3.h>

namespace db {

namespace {

Database &opened(Database &db)
{
    // A connection committing holds the file under an exclusive lock, and so
    // does one folding an earlier version's log back into it: a run opening
    // the file meanwhile waits for that instead of failing as if there were
    // no database. Once open, a lock held by another run fails at once.
    db.setBusyTimeout(5000);
    // Both tables with the columns the run uses, or the open fails; this also
    // refuses a file that is no database of this engine.
    Statement(db, "SELECT id, old_id, str_value FROM Razdel_table LIMIT 0");
    Statement(db, "SELECT id, old_id, podrazdel_id, new_id, str_value FROM Forum_table LIMIT 0");
    // A commit is on the disk before the run goes on to replace the outputs.
    // A rollback journal, not a write-ahead log: the pages a run appends
    // need no journal and are written once, where a log writes every page
    // twice, to the log and again into the file. A file an earlier version
    // left in log mode, with its log, is folded back into one file here.
    // A small cache: a run streams, and revisits only the rightmost pages of
    // each table; a full page goes to the system early, where its write to
    // the disk can start long before the commit waits for it.
    db.exec("PRAGMA journal_mode=DELETE;"
            "PRAGMA synchronous=FULL;"
            "PRAGMA cache_size=-2048;");
    db.setBusyTimeout(0);
    return db;
}

constexpr std::size_t batch = 64;

QByteArray forumInsert(std::size_t rows)
{
    QByteArray sql = "INSERT INTO Forum_table(old_id, podrazdel_id, new_id, str_value) VALUES";
    for (std::size_t i = 0; i < rows; ++i)
        sql += i ? ",(?,?,?,?)" : "(?,?,?,?)";
    return sql;
}

} // namespace

Tables::Tables(const QString &programDirectory)
    : db_(programDirectory + QStringLiteral("Database.mdb")),
      insertSection_(opened(db_), "INSERT INTO Razdel_table(id, old_id, str_value) VALUES(?1, ?2, ?3)"),
      insertForum_(db_, forumInsert(1).constData()),
      insertForums_(db_, forumInsert(batch).constData()),
      emptySections_(db_, "DELETE FROM Razdel_table WHERE id IN (SELECT id FROM Razdel_table LIMIT ?1)"),
      emptyForums_(db_, "DELETE FROM Forum_table WHERE id IN (SELECT id FROM Forum_table LIMIT ?1)")
{
    pending_.reserve(batch);
}

void Tables::close()
{
    insertSection_.finalize();
    insertForum_.finalize();
    insertForums_.finalize();
    emptySections_.finalize();
    emptyForums_.finalize();
    db_.close();
}

bool Tables::emptySome(int rows)
{
    pending_.clear();
    titles_.clear();
    // Row by row, not the engine's one-step emptying of a whole table: that
    // step reads every page of the table without a break, seconds for a
    // board of millions, while a statement of many steps lets the window in.
    // And a slice at a time: the commit between two slices writes what one
    // slice freed, where a commit after all of them would write every page
    // of the tables in one step that nothing interrupts.
    for (Statement *slice : {&emptySections_, &emptyForums_}) {
        slice->bind(1, qint64(rows));
        slice->run();
        if (sqlite3_changes(db_.handle()) > 0)
            return true;
    }
    return false;
}

void Tables::addSection(qint64 number, const Number &oldId, QByteArrayView title)
{
    insertSection_.bind(1, number);
    insertSection_.bind(2, oldId);
    insertSection_.bindText(3, title);
    insertSection_.run();
}

void Tables::addForum(const Number &oldId, const Number &sectionId, qint64 number, QByteArrayView title)
{
    titles_.append(title);
    pending_.push_back({oldId, sectionId, number, titles_.size()});
    if (pending_.size() == batch)
        flush();
}

void Tables::insertForums(Statement &statement, std::size_t from, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i) {
        const Forum &forum = pending_[from + i];
        const qsizetype start = from + i == 0 ? 0 : pending_[from + i - 1].titleEnd;
        const int at = int(i) * 4;
        statement.bind(at + 1, forum.oldId);
        statement.bind(at + 2, forum.sectionId);
        statement.bind(at + 3, forum.number);
        statement.bindText(at + 4, QByteArrayView(titles_).sliced(start, forum.titleEnd - start));
    }
    statement.run();
}

void Tables::flush()
{
    if (pending_.empty())
        return;
    struct Clear
    {
        Tables &t;
        ~Clear()
        {
            t.pending_.clear();
            t.titles_.resize(0); // keeps its room for the next batch
        }
    } clear{*this};
    if (pending_.size() == batch) {
        const bool inTransaction = !sqlite3_get_autocommit(db_.handle());
        try {
            insertForums(insertForums_, 0, batch);
            return;
        } catch (const DbError &e) {
            // A refused row undoes only its statement: none of the batch went
            // in, so one by one the forums before the refused one go in, and
            // its failure is raised. A failure that ended the transaction as
            // well is raised at once: rows replayed then would each be
            // committed on their own, beside the previous run's.
            const bool stillInTransaction = !sqlite3_get_autocommit(db_.handle());
            if ((e.code() & 0xff) != SQLITE_CONSTRAINT || stillInTransaction != inTransaction)
                throw;
        }
    }
    for (std::size_t i = 0; i < pending_.size(); ++i)
        insertForums(insertForum_, i, 1);
}

Tables::Sections::Sections(Database &db) : statement_(db, "SELECT old_id, str_value FROM Razdel_table ORDER BY id") {}

Tables::Forums::Forums(Database &db)
    : statement_(db, "SELECT old_id, new_id, str_value FROM Forum_table ORDER BY id")
{
}

qint64 Tables::single(const char *sql)
{
    flush();
    Statement statement(db_, sql);
    return statement.step() ? statement.integer(0) : 0;
}

qint64 Tables::sectionCount()
{
    return single("SELECT count(*) FROM Razdel_table");
}

qint64 Tables::forumCount()
{
    return single("SELECT count(*) FROM Forum_table");
}

qint64 Tables::forumsWithoutSection()
{
    // Numbers start at 1, so 0 is left only where no section matched.
    return single("SELECT count(*) FROM Forum_table WHERE new_id = 0");
}

std::vector<qint64> Tables::repeatedSectionIds()
{
    flush();
    Statement statement(db_, "SELECT old_id FROM Razdel_table GROUP BY old_id HAVING count(*) > 1 ORDER BY min(id)");
    std::vector<qint64> out;
    while (statement.step())
        out.push_back(statement.integer(0));
    return out;
}

} // namespace db
