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

    // The text of a line's UTF-8. A U+FEFF at its start is kept: it is part
    // of what the line says, unlike in the toolkit's own conversion.
    static QString text(QByteArrayView utf8);

    // Text from a list or a path as a message shows it: each control
    // character (C0, DEL, C1) as \xHH. A message goes to a terminal or a box,
    // and what a list holds must neither steer the one nor break the lines of
    // either.
    static QString shown(QStringView text);
    // Bytes meant as UTF-8 (a name the system passed) as a message shows
    // them: each byte that is not well-formed UTF-8 as \xHH, and the rest as
    // shown() shows its text.
    static QString shownBytes(QByteArrayView bytes);

    // The path made absolute against the current directory, as messages show it.
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
