#include "ListCheck.h"

#include "CodePage.h"
#include "Identifier.h"
#include "LineFile.h"
#include "LineReader.h"

#include <QStringList>

#include <algorithm>
#include <cstring>

namespace run {

namespace {

QString hexByte(unsigned char b)
{
    return QLatin1String("0x") + QString::number(uint(b), 16).toUpper().rightJustified(2, u'0');
}

qsizetype separators(QByteArrayView line, qsizetype enough)
{
    qsizetype count = 0;
    for (qsizetype p = line.indexOf('|'); p >= 0 && count < enough; p = line.indexOf('|', p + 1))
        ++count;
    return count;
}

} // namespace

ListCheck::ListCheck(const QString &sections, const QString &forums, const CodePage *codePage, Sink sink)
    : sink_(std::move(sink))
{
    LineReader sectionList(sections, codePage);
    LineReader forumList(forums, codePage);
    checkSections(sectionList, codePage);
    // Repeat warnings are known only once the whole list is read; they stand
    // at the line of the identifier's first occurrence.
    std::stable_sort(findings_.begin(), findings_.end(),
                     [](const Finding &a, const Finding &b) { return a.line < b.line; });
    if (sink_) {
        for (const Finding &f : findings_)
            sink_(f);
        findings_.clear();
    }
    // A forum's findings are whole when its line is read: they go at once.
    checkForums(forumList, codePage);
}

template <typename Take>
void ListCheck::readList(List list, LineReader &reader, const CodePage *codePage, Take take)
{
    QByteArrayView raw;
    while (reader.nextRaw(raw)) {
        const qsizetype number = reader.lineNumber();
        const qsizetype bad = reader.firstRefused(raw);
        if (bad < 0) {
            take(number, reader.decoded(raw));
            continue;
        }
        const uchar byte = uchar(raw[bad]);
        const QString column = QString::number(bad + 1);
        if (byte == 0) {
            add(list, number, Severity::Problem, QStringLiteral("NUL byte at column %1").arg(column));
            continue;
        }
        const QString where = QStringLiteral("byte %1 at column %2").arg(hexByte(byte), column);
        add(list, number, Severity::Problem,
            codePage ? QStringLiteral("undecodable in %1: %2").arg(codePage->name(), where)
                     : QStringLiteral("ill-formed UTF-8: %1").arg(where));
    }
}

std::optional<qint32> ListCheck::identifier(List list, qsizetype line, QByteArrayView field, const QString &what)
{
    if (field.isEmpty()) {
        add(list, line, Severity::Problem, QStringLiteral("empty %1").arg(what));
        return std::nullopt;
    }
    const std::optional<db::Number> value = identifierValue(field);
    if (!value) {
        add(list, line, Severity::Problem,
            QStringLiteral("%1 \"%2\" is not a whole number").arg(what, LineFile::shown(LineFile::text(field))));
        return std::nullopt;
    }
    const std::optional<qint32> narrow = asInt32(*value);
    if (!narrow)
        add(list, line, Severity::Problem,
            QStringLiteral("%1 \"%2\" is out of range (-2147483648 to 2147483647)")
                .arg(what, LineFile::shown(LineFile::text(field))));
    return narrow;
}

void ListCheck::checkSections(LineReader &reader, const CodePage *codePage)
{
    const QString what = QStringLiteral("identifier");
    readList(List::Sections, reader, codePage, [&](qsizetype lineNumber, QByteArrayView line) {
        if (line.isEmpty()) {
            add(List::Sections, lineNumber, Severity::Problem, QStringLiteral("empty line"));
            return;
        }
        if (separators(line, 1) < 1) {
            add(List::Sections, lineNumber, Severity::Problem,
                QStringLiteral("missing \"|\": a section line is ID|title"));
            return;
        }
        const QByteArrayView field = LineFile::splitField(line).field;
        if (const std::optional<qint32> value = identifier(List::Sections, lineNumber, field, what))
            sectionLines_[*value].push_back(lineNumber);
    });
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

void ListCheck::checkForums(LineReader &reader, const CodePage *codePage)
{
    const QString what = QStringLiteral("identifier");
    const QString sectionWhat = QStringLiteral("section identifier");
    readList(List::Forums, reader, codePage, [&](qsizetype lineNumber, QByteArrayView line) {
        if (line.isEmpty()) {
            add(List::Forums, lineNumber, Severity::Problem, QStringLiteral("empty line"));
            return;
        }
        const qsizetype found = separators(line, 2);
        if (found < 2) {
            add(List::Forums, lineNumber, Severity::Problem,
                found == 0 ? QStringLiteral("missing \"|\": a forum line is ID|section ID|title")
                           : QStringLiteral("missing the second \"|\": a forum line is ID|section ID|title"));
            return;
        }
        const LineFile::Split first = LineFile::splitField(line);
        const LineFile::Split second = LineFile::splitField(first.rest);
        const bool idOk = identifier(List::Forums, lineNumber, first.field, what).has_value();
        const std::optional<qint32> section = identifier(List::Forums, lineNumber, second.field, sectionWhat);
        if (idOk && section && !sectionLines_.contains(*section))
            add(List::Forums, lineNumber, Severity::Warning,
                QStringLiteral("section identifier %1 names no section; the forum would get 0").arg(*section));
    });
}

void ListCheck::add(List list, qsizetype line, Severity severity, QString message)
{
    ++(severity == Severity::Problem ? problems_ : warnings_);
    if (sink_ && list == List::Forums)
        sink_({list, line, severity, std::move(message)});
    else
        findings_.push_back({list, line, severity, std::move(message)});
}

} // namespace run
