#pragma once

#include "ResultSet.h"

#include <QString>
#include <QStringList>

namespace db {

class Connection;

// A named query object on the shared connection. It keeps its statement as
// lines (read back with CR LF after every line), hands the engine the text
// after the parameter-marker scan, and when open reads its result.
class Query
{
public:
    Query(Connection &connection, QString name);
    Query(const Query &) = delete;
    Query &operator=(const Query &) = delete;

    const QString &name() const noexcept { return name_; }

    // Closes the query and makes the text its statement lines; never fails,
    // whatever the text holds.
    void setSql(QString text);
    // The statement lines, each followed by CR LF, the last one too.
    const QString &sql() const noexcept { return statementText_; }
    const QString &commandText() const;
    const QStringList &parameterNames() const;

    void close();
    bool isActive() const noexcept { return active_; }

    // Runs the statement; the query stays closed. Throws DbError.
    void execSql();
    // Runs the statement as a query and positions on its first row. Throws DbError.
    void open();

    void first();
    void next();
    bool eof() const noexcept;
    int recordCount() const;

    // The text of the current row's value of the named field (letter case
    // ignored). Throws DbError(Session) when the result lacks the field.
    QString fieldAsString(QStringView fieldName) const;

private:
    [[noreturn]] void failSession(const QString &message) const;
    void requireText() const;
    void check(int rc);

    Connection &connection_;
    QString name_;
    QString statementText_;
    // Made from the statement text by the parameter-marker scan when first
    // needed: the run sets a text up to three times before it executes it.
    mutable QString commandText_;
    mutable QStringList parameterNames_;
    mutable bool scanned_ = true;
    ResultSet result_;
    bool active_ = false;
};

} // namespace db
