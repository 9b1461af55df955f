#pragma once

#include <QByteArrayView>
#include <QString>
#include <QStringView>

#include <functional>
#include <optional>
#include <unordered_map>
#include <vector>

namespace run {

class CodePage;
class LineReader;

// What a run would make of a section list and a forum list, found without a
// database and without writing anything. Problems are what would make the
// run refuse a list: a line that does not decode or holds a NUL byte, an
// empty line, a missing separator, an identifier that is not a whole number
// of 32 bits. Warnings are what the run would do without a word: a forum
// whose section identifier names no section gets 0, and a repeated section
// identifier leaves its forums with the number of its last section. Every
// line is judged, not just up to the first problem.
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

    // Takes the findings as they are made, in the order of findings().
    using Sink = std::function<void(const Finding &)>;

    // Reads both list files, with a code page in that code page instead of
    // UTF-8. A file that cannot be opened is the run's open failure
    // (RunError), before any finding is made. With a sink the findings go
    // there and none is kept: a forum list of millions of findings costs no
    // more memory than one of none.
    ListCheck(const QString &sections, const QString &forums, const CodePage *codePage = nullptr, Sink sink = {});

    // Without a sink: the sections' findings, then the forums', each list in
    // line order.
    const std::vector<Finding> &findings() const noexcept { return findings_; }
    qsizetype problemCount() const noexcept { return problems_; }
    qsizetype warningCount() const noexcept { return warnings_; }

private:
    // Calls `take(line number, line)` for every line whose bytes the run
    // takes, and adds a problem for every other.
    template <typename Take>
    void readList(List list, LineReader &reader, const CodePage *codePage, Take take);
    void checkSections(LineReader &reader, const CodePage *codePage);
    void checkForums(LineReader &reader, const CodePage *codePage);
    std::optional<qint32> identifier(List list, qsizetype line, QByteArrayView field, const QString &what);
    void add(List list, qsizetype line, Severity severity, QString message);

    Sink sink_;
    std::vector<Finding> findings_;
    qsizetype problems_ = 0;
    qsizetype warnings_ = 0;
    // The lines each section identifier's value stands on.
    std::unordered_map<qint32, std::vector<qsizetype>> sectionLines_;
};

} // namespace run
