#pragma once

#include <QString>

#include <exception>

namespace db {

// The one failure type of the database layer: what the engine reported, with
// its description as the user sees it and its result code.
class DbError : public std::exception
{
public:
    explicit DbError(QString message, int code = 0)
        : message_(std::move(message)), code_(code), utf8_(message_.toUtf8())
    {
    }

    const QString &message() const noexcept { return message_; }
    int code() const noexcept { return code_; }
    const char *what() const noexcept override { return utf8_.constData(); }

private:
    QString message_;
    int code_;
    QByteArray utf8_;
};

} // namespace db
