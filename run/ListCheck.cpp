#include "ListCheck.h"

#include "CodePage.h"
#include "Identifier.h"
#include "LineFile.h"
#include "LineList.h"
#include "Utf8Check.h"

#include <QStringList>

#include <algorithm>
#include <cstring>

namespace run {

struct ListCheck::Lines
{
    LineList lines;              // the lines the run would take
    std::vector<bool> undecoded; // by line index: the line does not decode
};

namespace {

constexpr char signature[] = "\xEF\xBB\xBF";

QString hexByte(unsigned char b)
{
    return QLatin1String("0x") + QString::number(uint(b), 16).toUpper().rightJustified(2, u'0');
}

// Calls f(index, bytes) for every line of the text by the line rule, NUL or
// not: a byte the run refuses after a NUL still refuses the whole file.
template <typename F>
void forEachLine(QByteArrayView text, F f)
{
    const char *s = text.data();
    const qsizetype n = text.size();
    qsizetype i = 0;
    qsizetype index = 0;
    while (i < n) {
        const qsizetype from = i;
        while (i < n && s[i] != '\r' && s[i] != '\n')
            ++i;
        f(index++, text.sliced(from, i - from));
        if (i < n && s[i] == '\r')
            ++i;
        if (i < n && s[i] == '\n')
            ++i;
    }
}

qsizetype separators(QStringView line, qsizetype enough)
{
    qsizetype count = 0;
    for (qsizetype p = line.indexOf(u'|'); p >= 0 && count < enough; p = line.indexOf(u'|', p + 1))
        ++count;
    return count;
}

} // namespace

std::optional<qint32> ListCheck::valueOf(QStringView field)
{
    qsizetype i = 0;
    const qsizetype n = field.size();
    auto skipBlanks = [&] {
        while (i < n && (field[i] == u' ' || field[i] == u'\t'))
            ++i;
    };
    skipBlanks();
    bool negative = false;
    if (i < n && (field[i] == u'+' || field[i] == u'-')) {
        negative = field[i] == u'-';
        ++i;
        skipBlanks();
    }
    // Past 2^31 the value is out of range whatever follows; stop growing it there.
    constexpr qint64 limit = qint64(1) << 31;
    qint64 magnitude = 0;
    for (; i < n && field[i] >= u'0' && field[i] <= u'9'; ++i) {
        if (magnitude <= limit)
            magnitude = magnitude * 10 + (field[i].unicode() - u'0');
    }
    const qint64 value = negative ? -magnitude : magnitude;
    if (value < -limit || value >= limit)
        return std::nullopt;
    return qint32(value);
}

ListCheck::ListCheck(QByteArrayView sections, QByteArrayView forums, const CodePage *codePage)
{
    checkSections(decode(List::Sections, sections, codePage));
    checkForums(decode(List::Forums, forums, codePage));
    // Repeat warnings are known only once the whole list is read; they stand
    // at the line of the identifier's first occurrence.
    std::stable_sort(findings_.begin(), findings_.end(), [](const Finding &a, const Finding &b) {
        return a.list != b.list ? a.list < b.list : a.line < b.line;
    });
}

ListCheck::Lines ListCheck::decode(List list, QByteArrayView bytes, const CodePage *codePage)
{
    Lines out;
    auto undecodable = [&](qsizetype index, QString message) {
        if (out.undecoded.size() <= std::size_t(index))
            out.undecoded.resize(std::size_t(index) + 1);
        out.undecoded[std::size_t(index)] = true;
        add(list, index + 1, Severity::Problem, std::move(message));
    };
    QByteArray utf8;
    qsizetype start = 0;
    if (codePage) {
        // As in the run: every byte is the code page's, a UTF-8 signature's too.
        forEachLine(bytes, [&](qsizetype index, QByteArrayView line) {
            if (const qsizetype bad = codePage->firstUndefined(line); bad >= 0)
                undecodable(index, QStringLiteral("undecodable in %1: byte %2 at column %3")
                                       .arg(codePage->name(), hexByte(uchar(line[bad])))
                                       .arg(bad + 1));
        });
        utf8 = codePage->toUtf8(bytes);
    } else {
        if (bytes.size() >= 3 && bytes.first(3) == QByteArrayView(signature, 3))
            start = 3;
        forEachLine(bytes.sliced(start), [&](qsizetype index, QByteArrayView line) {
            if (const qsizetype bad = firstIllFormedUtf8(line); bad >= 0)
                undecodable(index, QStringLiteral("ill-formed UTF-8: byte %1 at column %2")
                                       .arg(hexByte(uchar(line[bad])))
                                       .arg(bad + 1));
        });
        utf8 = bytes.toByteArray();
    }
    if (const void *nul = std::memchr(utf8.constData() + start, 0, std::size_t(utf8.size() - start))) {
        const qsizetype at = static_cast<const char *>(nul) - utf8.constData();
        add(list, LineFile::lineOfOffset(QByteArrayView(utf8).sliced(start), at - start), Severity::Warning,
            QStringLiteral("a NUL byte ends the list here; the rest of the file is ignored"));
    }
    out.lines.assignUtf8(std::move(utf8), start);
    out.undecoded.resize(std::size_t(out.lines.count()));
    return out;
}

std::optional<qint32> ListCheck::identifier(List list, qsizetype line, QStringView field, const QString &what)
{
    if (field.isEmpty()) {
        add(list, line, Severity::Problem, QStringLiteral("empty %1").arg(what));
        return std::nullopt;
    }
    if (!isPlainInteger(field)) {
        add(list, line, Severity::Problem, QStringLiteral("%1 \"%2\" is not a whole number").arg(what, field));
        return std::nullopt;
    }
    const std::optional<qint32> value = valueOf(field);
    if (!value)
        add(list, line, Severity::Problem,
            QStringLiteral("%1 \"%2\" is out of range (-2147483648 to 2147483647)").arg(what, field));
    return value;
}

void ListCheck::checkSections(const Lines &lines)
{
    const QString what = QStringLiteral("identifier");
    for (qsizetype i = 0; i < lines.lines.count(); ++i) {
        if (lines.undecoded[std::size_t(i)])
            continue;
        const qsizetype lineNumber = i + 1;
        const QString line = lines.lines.line(i);
        if (line.isEmpty()) {
            add(List::Sections, lineNumber, Severity::Problem, QStringLiteral("empty line"));
            continue;
        }
        if (separators(line, 1) < 1) {
            add(List::Sections, lineNumber, Severity::Problem,
                QStringLiteral("missing \"|\": a section line is ID|title"));
            continue;
        }
        const QStringView field = LineFile::splitField(line).field;
        if (const std::optional<qint32> value = identifier(List::Sections, lineNumber, field, what))
            sectionLines_[*value].push_back(lineNumber);
    }
    for (const auto &[value, where] : sectionLines_) {
        if (where.size() < 2)
            continue;
        QStringList numbers;
        for (qsizetype n : where)
            numbers << QString::number(n);
        // A section's number is its line's, as every line before it is a section.
        add(List::Sections, where.front(), Severity::Warning,
            QStringLiteral("section identifier %1 is on lines %2; its forums would get the number of the last, %3")
                .arg(QString::number(value), numbers.join(QLatin1String(", ")), numbers.back()));
    }
}

void ListCheck::checkForums(const Lines &lines)
{
    const QString what = QStringLiteral("identifier");
    const QString sectionWhat = QStringLiteral("section identifier");
    for (qsizetype i = 0; i < lines.lines.count(); ++i) {
        if (lines.undecoded[std::size_t(i)])
            continue;
        const qsizetype lineNumber = i + 1;
        const QString line = lines.lines.line(i);
        if (line.isEmpty()) {
            add(List::Forums, lineNumber, Severity::Problem, QStringLiteral("empty line"));
            continue;
        }
        const qsizetype found = separators(line, 2);
        if (found < 2) {
            add(List::Forums, lineNumber, Severity::Problem,
                found == 0 ? QStringLiteral("missing \"|\": a forum line is ID|section ID|title")
                           : QStringLiteral("missing the second \"|\": a forum line is ID|section ID|title"));
            continue;
        }
        const LineFile::Split first = LineFile::splitField(line);
        const LineFile::Split second = LineFile::splitField(first.rest);
        const bool idOk = identifier(List::Forums, lineNumber, first.field, what).has_value();
        const std::optional<qint32> section = identifier(List::Forums, lineNumber, second.field, sectionWhat);
        if (idOk && section && !sectionLines_.contains(*section))
            add(List::Forums, lineNumber, Severity::Warning,
                QStringLiteral("section identifier %1 names no section; the forum would get 0").arg(*section));
    }
}

void ListCheck::add(List list, qsizetype line, Severity severity, QString message)
{
    if (severity == Severity::Problem)
        ++problems_;
    findings_.push_back({list, line, severity, std::move(message)});
}

} // namespace run
