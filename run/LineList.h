#pragma once

#include <QString>
#include <QStringView>

#include <vector>

namespace run {

// The run's one list of lines. All lines share a single text buffer, so a
// million-line file costs one allocation for its text and one for the spans.
class LineList
{
public:
    qsizetype count() const noexcept { return qsizetype(spans_.size()); }
    QStringView line(qsizetype i) const noexcept
    {
        const Span &s = spans_[std::size_t(i)];
        return QStringView(text_).mid(s.offset, s.length);
    }
    void append(QStringView line);
    // Appends the concatenation of the parts as one line.
    void appendJoined(std::initializer_list<QStringView> parts);
    void clear() noexcept;
    void release() noexcept;

    // Makes the lines of a decoded text the whole content: lines end at CR LF,
    // a lone CR or a lone LF; the first U+0000 ends the text.
    void assignText(QString text);

    // Every line followed by CR LF, the last one too.
    QString joined() const;

private:
    struct Span
    {
        qsizetype offset;
        qsizetype length;
    };
    QString text_;
    std::vector<Span> spans_;
};

} // namespace run
