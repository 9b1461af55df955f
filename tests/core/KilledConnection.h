#pragma once

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QString>
#include <QStringList>

#include <sqlite3.h>

#include <utility>

// Closes a connection of the engine and leaves the files it keeps beside
// `database` (its journal, its log, the log's index: `suffixes`) as a killed
// program leaves them: a clean close tidies them away, so each is read just
// before the close and put back as it stood. False when one of them was not
// there, was empty, or could not be put back.
inline bool closeAsKilled(sqlite3 *db, const QString &database, const QStringList &suffixes)
{
    QList<std::pair<QString, QByteArray>> left;
    bool all = true;
    for (const QString &suffix : suffixes) {
        QFile f(database + suffix);
        const QByteArray bytes = f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
        all = all && !bytes.isEmpty();
        left.append({f.fileName(), bytes});
    }
    sqlite3_close(db);
    if (!all)
        return false;
    for (const auto &[name, bytes] : left) {
        QFile f(name);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
            return false;
    }
    return true;
}
