#pragma once

#include <db/DbError.h>
#include <db/EngineText.h>
#include <db/Query.h>

#include <QString>
#include <QStringList>

#include <sqlite3.h>

#include <functional>

// What the session's statements are compared with in the tests of the
// database layer.

inline const QString noFailure = QStringLiteral("<no failure>");

// The message of the session's failure, or noFailure.
inline QString failureOf(const std::function<void()> &action)
{
    try {
        action();
    } catch (const db::DbError &e) {
        return e.message();
    }
    return noFailure;
}

// A connection of the test's own, outside the session: every statement takes
// effect the moment it runs, which is what the session must be
// indistinguishable from. Grouped, it keeps one transaction open from start
// to end, and a cache that holds the tables: to the statements run on it that
// is no different, and thousands of them don't each go to the disk.
class PlainConnection
{
public:
    explicit PlainConnection(const QString &file, bool grouped = false)
    {
        sqlite3_open_v2(file.toUtf8().constData(), &h_, SQLITE_OPEN_READWRITE, nullptr);
        sqlite3_busy_timeout(h_, 30000);
        if (grouped)
            sqlite3_exec(h_, "PRAGMA cache_size = -65536; BEGIN", nullptr, nullptr, nullptr);
    }
    ~PlainConnection()
    {
        sqlite3_exec(h_, "COMMIT", nullptr, nullptr, nullptr);
        sqlite3_close(h_);
    }
    PlainConnection(const PlainConnection &) = delete;
    PlainConnection &operator=(const PlainConnection &) = delete;

    // The failure as the session words engine failures, or noFailure.
    QString run(const QString &sql)
    {
        if (sqlite3_exec(h_, sql.toUtf8().constData(), nullptr, nullptr, nullptr) == SQLITE_OK)
            return noFailure;
        return db::trimEngineText(QString::fromUtf8(sqlite3_errmsg(h_)));
    }

    // The column names, then one line per row, values joined by "|".
    QStringList read(const QString &sql)
    {
        sqlite3_stmt *st = nullptr;
        if (sqlite3_prepare_v2(h_, sql.toUtf8().constData(), -1, &st, nullptr) != SQLITE_OK)
            return {QStringLiteral("<%1>").arg(QString::fromUtf8(sqlite3_errmsg(h_)))};
        QStringList names;
        for (int c = 0; c < sqlite3_column_count(st); ++c)
            names << QString::fromUtf8(sqlite3_column_name(st, c));
        QStringList out{names.join(u'|')};
        int rc;
        while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
            QStringList values;
            for (int c = 0; c < names.size(); ++c)
                values << QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(st, c)));
            out << values.join(u'|');
        }
        if (rc != SQLITE_DONE)
            out << QStringLiteral("<%1>").arg(QString::fromUtf8(sqlite3_errmsg(h_)));
        sqlite3_finalize(st);
        return out;
    }

private:
    sqlite3 *h_ = nullptr;
};

// An open query's rows in PlainConnection::read's layout; the query offers
// no list of its columns, so the header names the ones to read.
inline QStringList listing(db::Query &q, const QString &header)
{
    QStringList out{header};
    const QStringList names = header.split(u'|');
    for (q.first(); !q.eof(); q.next()) {
        QStringList values;
        for (const QString &name : names)
            values << q.fieldAsString(name);
        out << values.join(u'|');
    }
    return out;
}
