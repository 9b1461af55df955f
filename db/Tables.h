#pragma once

#include "Database.h"
#include "Statement.h"

#include <QByteArrayView>
#include <QString>

#include <memory>
#include <vector>

namespace db {

// Razdel_table and Forum_table of Database.mdb, and what a run does to them.
// A section's number is its position in the section list, and its row id.
// Forums go in stamped with their section's number, so no pass over them is
// needed afterwards, and several to a statement: the engine's work per
// statement is then shared by many rows.
class Tables
{
public:
    // Opens Database.mdb in the folder (with its trailing separator). The file
    // must exist and hold both tables with their columns; nothing is created
    // in it. Raises DbError.
    explicit Tables(const QString &programDirectory);

    Database &database() noexcept { return db_; }

    // Closes the database; what cannot be closed is raised as DbError.
    void close();

    // Removes up to `rows` rows of the tables; false once they are empty.
    // The caller commits between two calls.
    bool emptySome(int rows);

    // `number` is the section's position in its list, from 1 upward.
    void addSection(qint64 number, const Number &oldId, QByteArrayView title);
    // The forum may wait for a few more before it goes in: flush() or any
    // read makes every forum added so far a row. A forum the table refuses
    // is raised there, with every forum before it in the table.
    void addForum(const Number &oldId, const Number &sectionId, qint64 number, QByteArrayView title);
    void flush();

    // The sections in the order of their numbers.
    class Sections
    {
    public:
        explicit Sections(Database &db);
        bool next() { return statement_.step(); }
        qint64 oldId() const { return statement_.integer(0); }
        QByteArrayView title() const { return statement_.text(1); }

    private:
        Statement statement_;
    };
    Sections sections()
    {
        flush();
        return Sections(db_);
    }

    // The forums in the order they were added.
    class Forums
    {
    public:
        explicit Forums(Database &db);
        bool next() { return statement_.step(); }
        qint64 oldId() const { return statement_.integer(0); }
        qint64 sectionNumber() const { return statement_.integer(1); }
        QByteArrayView title() const { return statement_.text(2); }

    private:
        Statement statement_;
    };
    Forums forums()
    {
        flush();
        return Forums(db_);
    }

    qint64 sectionCount();
    qint64 forumCount();
    // Forums whose section identifier names no section: their number is 0.
    qint64 forumsWithoutSection();
    // Identifiers that more than one section has, in the order of their
    // first sections.
    std::vector<qint64> repeatedSectionIds();

private:
    qint64 single(const char *sql);
    void insertForums(Statement &statement, std::size_t from, std::size_t count);

    struct Forum
    {
        Number oldId;
        Number sectionId;
        qint64 number;
        qsizetype titleEnd; // in titles_
    };

    Database db_;
    Statement insertSection_;
    Statement insertForum_;
    Statement insertForums_; // a whole batch at once
    Statement emptySections_;
    Statement emptyForums_;
    std::vector<Forum> pending_;
    QByteArray titles_;
};

} // namespace db
