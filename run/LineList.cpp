#include "LineList.h"

#include <db/Utf8Text.h>

#include <cstring>

namespace run {

QString LineList::line(qsizetype i) const
{
    return db::decodeUtf8(lineUtf8(i));
}

void LineList::append(QStringView line)
{
    appendJoined({line});
}

void LineList::appendJoined(std::initializer_list<QStringView> parts)
{
    const qsizetype start = bytes_.size();
    for (QStringView p : parts)
        db::appendUtf8(bytes_, p);
    spans_.push_back({start, bytes_.size() - start});
    bytes_.append("\r\n", 2);
}

void LineList::clear() noexcept
{
    bytes_.clear();
    spans_.clear();
    crlfJoined_ = true;
}

void LineList::release() noexcept
{
    bytes_ = QByteArray();
    spans_ = std::vector<Span>();
    crlfJoined_ = true;
}

void LineList::assignUtf8(QByteArray bytes, qsizetype start)
{
    spans_.clear();
    bytes_ = std::move(bytes);
    crlfJoined_ = false;
    const char *s = bytes_.constData();
    qsizetype n = bytes_.size();
    if (const void *nul = std::memchr(s + start, 0, std::size_t(n - start)))
        n = static_cast<const char *>(nul) - s;
    qsizetype i = start;
    while (i < n) {
        const qsizetype from = i;
        while (i < n && s[i] != '\r' && s[i] != '\n')
            ++i;
        spans_.push_back({from, i - from});
        if (i < n && s[i] == '\r')
            ++i;
        if (i < n && s[i] == '\n')
            ++i;
    }
}

QByteArray LineList::joinedUtf8() const
{
    if (crlfJoined_)
        return bytes_;
    qsizetype total = 0;
    for (const Span &s : spans_)
        total += s.length + 2;
    QByteArray out;
    out.reserve(total);
    for (const Span &s : spans_) {
        out.append(bytes_.constData() + s.offset, s.length);
        out.append("\r\n", 2);
    }
    return out;
}

} // namespace run
