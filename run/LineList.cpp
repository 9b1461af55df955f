#include "LineList.h"

namespace run {

void LineList::append(QStringView line)
{
    spans_.push_back({text_.size(), line.size()});
    text_.append(line);
}

void LineList::appendJoined(std::initializer_list<QStringView> parts)
{
    const qsizetype start = text_.size();
    for (QStringView p : parts)
        text_.append(p);
    spans_.push_back({start, text_.size() - start});
}

void LineList::clear() noexcept
{
    text_.clear();
    spans_.clear();
}

void LineList::release() noexcept
{
    text_ = QString();
    spans_ = std::vector<Span>();
}

void LineList::assignText(QString text)
{
    spans_.clear();
    text_ = std::move(text);
    const QChar *s = text_.constData();
    const qsizetype n = text_.size();
    qsizetype i = 0;
    while (i < n && s[i] != QChar(0)) {
        const qsizetype start = i;
        while (i < n && s[i] != u'\r' && s[i] != u'\n' && s[i] != QChar(0))
            ++i;
        spans_.push_back({start, i - start});
        if (i < n && s[i] == u'\r')
            ++i;
        if (i < n && s[i] == u'\n')
            ++i;
    }
}

QString LineList::joined() const
{
    qsizetype total = 0;
    for (const Span &s : spans_)
        total += s.length + 2;
    QString out;
    out.reserve(total);
    for (const Span &s : spans_) {
        out.append(QStringView(text_).mid(s.offset, s.length));
        out.append(QLatin1String("\r\n"));
    }
    return out;
}

} // namespace run
