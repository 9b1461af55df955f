#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>

#include <initializer_list>
#include <vector>

namespace run {

// The run's one list of lines, kept as UTF-8 in a single buffer: a
// million-line file costs its own size and one span per line, not a string
// per line. Appended lines are stored each followed by CR LF, so that a list
// of output lines is already the bytes of its file.
class LineList
{
public:
    qsizetype count() const noexcept { return qsizetype(spans_.size()); }
    QString line(qsizetype i) const;
    QByteArrayView lineUtf8(qsizetype i) const noexcept
    {
        const Span &s = spans_[std::size_t(i)];
        return QByteArrayView(bytes_.constData() + s.offset, s.length);
    }

    void append(QStringView line);
    // Appends the concatenation of the parts as one line.
    void appendJoined(std::initializer_list<QStringView> parts);
    void clear() noexcept;
    void release() noexcept;

    // Makes the lines of well-formed UTF-8 text, from `start` on, the whole
    // content: lines end at CR LF, a lone CR or a lone LF; the first U+0000
    // ends the text.
    void assignUtf8(QByteArray bytes, qsizetype start = 0);

    // Every line's UTF-8 followed by CR LF, the last one too.
    QByteArray joinedUtf8() const;

private:
    struct Span
    {
        qsizetype offset;
        qsizetype length;
    };
    QByteArray bytes_;
    std::vector<Span> spans_;
    bool crlfJoined_ = true; // bytes_ is exactly every line followed by CR LF
};

} // namespace run
