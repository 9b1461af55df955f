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
    qsizetype count() const noexcept { return qsizetype(ends_.size()); }
    // The bytes the list holds.
    qsizetype byteSize() const noexcept { return bytes_.size(); }
    QString line(qsizetype i) const;
    QByteArrayView lineUtf8(qsizetype i) const noexcept
    {
        const qsizetype from = i == 0 ? first_ : startAfter(ends_[std::size_t(i - 1)]);
        return QByteArrayView(bytes_.constData() + from, ends_[std::size_t(i)] - from);
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
    // A line runs from where the previous one's break ends to its own end;
    // only the ends are kept: eight bytes a line.
    qsizetype startAfter(qsizetype end) const noexcept
    {
        return end + ((bytes_.at(end) == '\r' && end + 1 < bytes_.size() && bytes_.at(end + 1) == '\n') ? 2 : 1);
    }

    QByteArray bytes_;
    qsizetype first_ = 0;
    std::vector<qsizetype> ends_;
    bool crlfJoined_ = true; // bytes_ is exactly every line followed by CR LF
};

} // namespace run
