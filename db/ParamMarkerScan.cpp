#include "ParamMarkerScan.h"

namespace db {

namespace {

bool isQuote(QChar c)
{
    return c == u'\'' || c == u'"' || c == u'`';
}

bool endsMarkerName(QChar c)
{
    return c == u' ' || c == u'\r' || c == u'\n' || c == u',' || c == u';' || c == u')';
}

} // namespace

ScannedCommand scanParameterMarkers(const QString &statementText)
{
    ScannedCommand out;
    // Nearly every statement has no colon at all; it then passes unchanged.
    if (!statementText.contains(u':')) {
        out.commandText = statementText;
        return out;
    }

    const qsizetype n = statementText.size();
    const QChar *s = statementText.constData();
    QString &cmd = out.commandText;
    cmd.reserve(n);

    qsizetype i = 0;
    while (i < n) {
        const QChar c = s[i];
        if (isQuote(c)) {
            qsizetype j = i + 1;
            while (j < n && s[j] != c)
                ++j;
            const qsizetype end = j < n ? j + 1 : n;
            cmd.append(s + i, end - i);
            i = end;
        } else if (c == u':') {
            if (i + 1 < n && s[i + 1] == u':') {
                cmd.append(QLatin1String("::"));
                i += 2;
                continue;
            }
            qsizetype j = i + 1;
            QString name;
            if (j < n && isQuote(s[j])) {
                const QChar q = s[j];
                qsizetype k = j + 1;
                while (k < n && s[k] != q)
                    ++k;
                name = QString(s + j + 1, k - j - 1);
                j = k < n ? k + 1 : n;
            } else {
                qsizetype k = j;
                while (k < n && !endsMarkerName(s[k]))
                    ++k;
                name = QString(s + j, k - j);
                j = k;
            }
            out.parameterNames.append(name);
            cmd.append(u'?');
            i = j;
        } else {
            cmd.append(c);
            ++i;
        }
    }
    return out;
}

} // namespace db
