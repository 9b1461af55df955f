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
    for (QStringView p : parts)
        db::appendUtf8(bytes_, p);
    ends_.push_back(bytes_.size());
    bytes_.append("\r\n", 2);
}

void LineList::clear() noexcept
{
    bytes_.clear();
    ends_.clear();
    first_ = 0;
    crlfJoined_ = true;
}

void LineList::release() noexcept
{
    bytes_ = QByteArray();
    ends_ = std::vector<qsizetype>();
    first_ = 0;
    crlfJoined_ = true;
}

void LineList::assignUtf8(QByteArray bytes, qsizetype start)
{
    ends_.clear();
    bytes_ = std::move(bytes);
    first_ = start;
    crlfJoined_ = false;
    const char *s = bytes_.constData();
    qsizetype n = bytes_.size();
    if (const void *nul = std::memchr(s + start, 0, std::size_t(n - start)))
        n = static_cast<const char *>(nul) - s;
    // Room for every line at once: a line list of a large file must not
    // grow by doubling.
    qsizetype breaks = 0;
    for (qsizetype i = start; i < n; ++i)
        breaks += (s[i] == '\n') | (s[i] == '\r');
    ends_.reserve(std::size_t(breaks + 1));
    qsizetype i = start;
    while (i < n) {
        const char *lf = static_cast<const char *>(std::memchr(s + i, '\n', std::size_t(n - i)));
        qsizetype end = lf ? lf - s : n;
        if (const void *cr = std::memchr(s + i, '\r', std::size_t(end - i)))
            end = static_cast<const char *>(cr) - s;
        ends_.push_back(end);
        i = end;
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
    QByteArray out;
    out.reserve((ends_.empty() ? 0 : ends_.back() - first_) + 2 * count());
    for (qsizetype i = 0; i < count(); ++i) {
        out.append(lineUtf8(i));
        out.append("\r\n", 2);
    }
    return out;
}

} // namespace run
