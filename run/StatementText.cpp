#include "StatementText.h"

namespace run {

QString StatementText::concat(std::initializer_list<QStringView> parts)
{
    qsizetype total = 0;
    for (QStringView p : parts)
        total += p.size();
    QString out;
    out.reserve(total + 2);
    for (QStringView p : parts)
        out.append(p);
    return out;
}

QString StatementText::quoted(QStringView text)
{
    QString out;
    out.reserve(text.size() + 2);
    out.append(u'\'');
    qsizetype from = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == u'\'') {
            out.append(text.mid(from, i + 1 - from));
            out.append(u'\'');
            from = i + 1;
        }
    }
    out.append(text.mid(from));
    out.append(u'\'');
    return out;
}

} // namespace run
