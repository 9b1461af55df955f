#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QStringView>

#include <cstdint>
#include <vector>

namespace db {

// A statement text taken apart into its shape (the text with every literal
// that can safely be bound replaced by "?") and the literals' values, so that
// statements differing only in their literals share one compiled statement.
class StatementShape
{
public:
    struct Literal
    {
        enum class Kind { Integer, Text } kind;
        std::int64_t integer = 0;
        qsizetype offset = 0; // text: into texts()
        qsizetype length = 0;
    };

    // False when the text holds anything the scan does not take apart with
    // certainty (parameters of its own, unknown quoting, and the like): such
    // a text goes to the engine as it stands.
    bool parse(QByteArrayView sql);
    // The same for a text not yet in UTF-8: the shape and the texts come out
    // in UTF-8 all the same, without the whole statement being converted.
    bool parse(QStringView sql);

    const QByteArray &shape() const noexcept { return shape_; }
    const std::vector<Literal> &literals() const noexcept { return literals_; }
    const char *text(const Literal &l) const noexcept { return texts_.constData() + l.offset; }

private:
    template <typename Char>
    bool parseUnits(const Char *s, qsizetype n);

    QByteArray shape_;
    QByteArray texts_;
    std::vector<Literal> literals_;

    // Where the last text's first literal began, with the scan's state there:
    // the run sends the same statement head time after time, and a text that
    // starts the same is taken apart from that point on. shape_ keeps the
    // head's shape for as long as this is set.
    struct Resume
    {
        std::vector<char> units; // the text before the literal
        int unitSize = 0;
        qsizetype at = -1;
        qsizetype out = 0;
        qsizetype prevWordFrom = -1, prevWordLen = 0, lastWordFrom = -1, lastWordLen = 0;
        bool numbersBindable = true;
    };
    Resume resume_;
};

} // namespace db
