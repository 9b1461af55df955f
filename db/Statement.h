#pragma once

#include <QByteArrayView>
#include <QtGlobal>

struct sqlite3_stmt;

namespace db {

class Database;

// A whole number as the engine reads an identifier: an integer when it fits
// in 64 bits, else the real number it is close to.
struct Number
{
    qint64 integer = 0;
    double real = 0;
    bool isReal = false;
};

// One prepared statement of a connection; values are bound, never written
// into the text.
class Statement
{
public:
    Statement(Database &database, const char *sql);
    ~Statement();
    Statement(const Statement &) = delete;
    Statement &operator=(const Statement &) = delete;

    // Parameters count from 1. A text must stay as it is until the statement
    // is reset: the engine reads it where it lies.
    void bind(int index, qint64 value);
    void bind(int index, const Number &value);
    void bindText(int index, QByteArrayView utf8);

    // One step: true while it yields a row.
    bool step();
    // Runs a statement that yields no rows and makes it ready to run again.
    void run();
    void reset() noexcept;
    // Lets the compiled statement go before its connection closes.
    void finalize() noexcept;

    qint64 integer(int column) const;
    // The column's UTF-8, valid until the next step.
    QByteArrayView text(int column) const;

private:
    Database &database_;
    sqlite3_stmt *stmt_ = nullptr;
};

} // namespace db
