#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>

namespace run {

class CodePage;
class LineList;

// The text files of a run: UTF-8 lines with "|"-separated fields in, UTF-8
// with CR LF after every line out. Every operation opens its file, does its
// work and closes it again before it returns.
class LineFile
{
public:
    struct Split
    {
        QStringView field; // before the first "|" (empty when there is none)
        QStringView rest;  // after it (the whole line when there is none)
    };

    // True for an existing entry that is not a directory. A symbolic link is
    // judged by its own entry: a dangling one passes, one to a directory fails.
    static bool exists(const QString &path);

    // Reads a whole file into the list. Refuses a file that cannot be opened,
    // and one that is not well-formed UTF-8, naming the 1-based line of the
    // first ill-formed sequence; the list is then left as it was. With a code
    // page the bytes are that code page's, decoded to UTF-8 first; a byte it
    // leaves undefined is refused the same way.
    static void load(const QString &path, LineList &lines, const CodePage *codePage = nullptr);

    static Split splitField(QStringView line);

    // The list as EF BB BF and the lines' UTF-8, each followed by CR LF.
    static void saveWithSignature(const LineList &lines, const QString &path);

    // The reading half of the signature-stripping copy: the whole file.
    static QByteArray readWhole(const QString &path);

    static void quietDelete(const QString &path);

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

    // 1-based line, by the line rule, of a byte offset into the text.
    static qsizetype lineOfOffset(QByteArrayView text, qsizetype offset);
};

} // namespace run
