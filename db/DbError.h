#pragma once

#include <QString>

#include <exception>

namespace db {

// The one failure type of the database layer. `Engine` failures carry the
// engine's own description; `Session` failures are raised by the session
// itself and already carry the query object's name as their prefix.
class DbError : public std::exception
{
public:
    enum class Kind { Engine, Session };

    DbError(Kind kind, QString message, int code = 0)
        : kind_(kind), message_(std::move(message)), code_(code), utf8_(message_.toUtf8())
    {
    }

    Kind kind() const noexcept { return kind_; }
    const QString &message() const noexcept { return message_; }
    int code() const noexcept { return code_; }
    const char *what() const noexcept override { return utf8_.constData(); }

private:
    Kind kind_;
    QString message_;
    int code_;
    QByteArray utf8_;
};

} // namespace db
