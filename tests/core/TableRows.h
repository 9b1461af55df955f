#pragma once

#include <QString>
#include <QStringList>

#include <sqlite3.h>

// The rows of a table as a plain connection of the engine reads them, in id
// order: each row's columns joined by "|", a NULL as the empty text. What a
// run left in the database, seen from outside the program's own store.
inline QStringList tableRows(const QString &database, const char *table, const char *columns)
{
    QStringList out;
    sqlite3 *db = nullptr;
    if (sqlite3_open_v2(database.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        return {QStringLiteral("<cannot open>")};
    }
    const QByteArray sql = QByteArray("SELECT ") + columns + " FROM " + table + " ORDER BY id";
    sqlite3_stmt *st = nullptr;
    if (sqlite3_prepare_v2(db, sql.constData(), -1, &st, nullptr) != SQLITE_OK) {
        out << QStringLiteral("<%1>").arg(QString::fromUtf8(sqlite3_errmsg(db)));
    } else {
        while (sqlite3_step(st) == SQLITE_ROW) {
            QStringList values;
            for (int i = 0; i < sqlite3_column_count(st); ++i)
                values << QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(st, i)),
                                            sqlite3_column_bytes(st, i));
            out << values.join(u'|');
        }
    }
    sqlite3_finalize(st);
    sqlite3_close(db);
    return out;
}
