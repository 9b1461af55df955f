#pragma once

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QString>
#include <QStringList>

#include <sqlite3.h>

#include <utility>

// A connection of the engine's own to a database file, as another program
// holds one beside the run's: what the tests do through it is outside the
// store under test. Closed when it goes, whatever a failed check left open.
class EngineConnection
{
public:
    explicit EngineConnection(const QString &database) : database_(database)
    {
        if (sqlite3_open(database.toUtf8().constData(), &db_) != SQLITE_OK)
            close();
    }
    ~EngineConnection() { close(); }
    EngineConnection(const EngineConnection &) = delete;
    EngineConnection &operator=(const EngineConnection &) = delete;

    bool isOpen() const { return db_ != nullptr; }
    // The engine's result code of running `sql`.
    int exec(const char *sql) { return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr); }
    void close()
    {
        sqlite3_close(std::exchange(db_, nullptr));
    }

    // Closes the connection and leaves the files it keeps beside the
    // database (its journal, its log, the log's index: `suffixes`) as a
    // killed program leaves them: a clean close tidies them away, so each is
    // read just before the close and put back as it stood. False when one of
    // them was not there, was empty, or could not be put back.
    bool closeAsKilled(const QStringList &suffixes)
    {
        QList<std::pair<QString, QByteArray>> left;
        bool all = true;
        for (const QString &suffix : suffixes) {
            QFile f(database_ + suffix);
            const QByteArray bytes = f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
            all = all && !bytes.isEmpty();
            left.append({f.fileName(), bytes});
        }
        close();
        if (!all)
            return false;
        for (const auto &[name, bytes] : left) {
            QFile f(name);
            if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
                return false;
        }
        return true;
    }

private:
    QString database_;
    sqlite3 *db_ = nullptr;
};
