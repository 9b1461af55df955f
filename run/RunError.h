#pragma once

#include <QString>

#include <exception>

namespace run {

// The one failure type of the run and its files: an open, create, read or
// write failure, or an input line refused before it could reach a statement.
class RunError : public std::exception
{
public:
    explicit RunError(QString message) : message_(std::move(message)), utf8_(message_.toUtf8()) {}

    const QString &message() const noexcept { return message_; }
    const char *what() const noexcept override { return utf8_.constData(); }

private:
    QString message_;
    QByteArray utf8_;
};

} // namespace run
