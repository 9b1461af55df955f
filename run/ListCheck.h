#pragma once

#include <QByteArrayView>
#include <QString>
#include <QStringView>

#include <optional>
#include <unordered_map>
#include <vector>

namespace run {

class CodePage;

// What a run would make of a section list and a forum list, found without a
// database and without writing anything. Problems are what would make the
// run refuse a list: a line that does not decode, an empty line, a missing
// separator, an identifier that is not a whole number of 32 bits. Warnings
// are what the run would do without a word: a forum whose section identifier
// names no section gets 0, a repeated section identifier leaves its forums
// with the number of its last section, and a NUL byte ends a list early.
// Every line is judged, not just up to the first problem.
class ListCheck
{
public:
    enum class List { Sections, Forums };
    enum class Severity { Problem, Warning };
    struct Finding
    {
        List list;
        qsizetype line; // 1-based, by the run's line rule
        Severity severity;
        QString message;
    };

    // Both lists as the whole bytes of their files; with a code page, in that
    // code page instead of UTF-8.
    ListCheck(QByteArrayView sections, QByteArrayView forums, const CodePage *codePage = nullptr);

    // The sections' findings, then the forums', each list in line order.
    const std::vector<Finding> &findings() const noexcept { return findings_; }
    qsizetype problemCount() const noexcept { return problems_; }
    qsizetype warningCount() const noexcept { return qsizetype(findings_.size()) - problems_; }

    // The value the database gives an identifier field that passes
    // isPlainInteger: signs and blanks as the engine reads them, leading zeros
    // ignored. None when the value does not fit in 32 bits, which the tables refuse.
    static std::optional<qint32> valueOf(QStringView field);

private:
    struct Lines;

    Lines decode(List list, QByteArrayView bytes, const CodePage *codePage);
    void checkSections(const Lines &lines);
    void checkForums(const Lines &lines);
    std::optional<qint32> identifier(List list, qsizetype line, QStringView field, const QString &what);
    void add(List list, qsizetype line, Severity severity, QString message);

    std::vector<Finding> findings_;
    qsizetype problems_ = 0;
    // The lines each section identifier's value stands on.
    std::unordered_map<qint32, std::vector<qsizetype>> sectionLines_;
};

} // namespace run
