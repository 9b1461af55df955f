#include "FileFilter.h"

QStringList FileFilter::toNameFilters(const QString &pairs)
{
    QStringList entries;
    if (pairs.isEmpty())
        return entries;
    const QStringList parts = pairs.split(QLatin1Char('|'));
    for (qsizetype i = 0; i < parts.size(); i += 2) {
        const QString &description = parts.at(i);
        QStringList patterns;
        if (i + 1 < parts.size()) {
            for (const QString &pattern : parts.at(i + 1).split(QLatin1Char(';'), Qt::SkipEmptyParts))
                patterns << pattern.trimmed();
        }
        // A pair with no pattern would otherwise list nothing at all.
        if (patterns.isEmpty())
            patterns << QStringLiteral("*");
        entries << description + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) + QLatin1Char(')');
    }
    return entries;
}
