#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>

namespace run {

// What the text files of a run have in common: UTF-8 lines with
// "|"-separated fields, and the messages of their failures.
class LineFile
{
public:
    struct Split
    {
        QByteArrayView field; // before the first "|" (empty when there is none)
        QByteArrayView rest;  // after it (the whole line when there is none)
    };

    // True for an existing entry that is not a directory. A symbolic link is
    // judged by its own entry: a dangling one passes, one to a directory fails.
    static bool exists(const QString &path);

    static Split splitField(QByteArrayView line);

    // The text of a line's UTF-8, for messages. A U+FEFF at its start is kept:
    // it is part of what the line says, unlike in the toolkit's own conversion.
    static QString text(QByteArrayView utf8);

    // The path made absolute against the current directory, for messages.
    static QString fullPath(const QString &path);

    // "Cannot open file "%s". %s" and its create twin, with the system's
    // description trimmed of trailing blanks, control characters and full stops.
    static QString openFailure(const QString &path, const QString &reason);
    static QString createFailure(const QString &path, const QString &reason);
    static QString readFailure();
    static QString writeFailure();

    static QString notUtf8Failure(const QString &path, qsizetype line);
    static QString notDecodableFailure(const QString &path, qsizetype line, const QString &codePage);
    // A NUL byte in a list: no text holds one, and whatever follows it would
    // otherwise be lost to any program that takes it as the text's end.
    static QString nulFailure(const QString &path, qsizetype line);
};

} // namespace run
