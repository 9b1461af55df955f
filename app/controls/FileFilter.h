#pragma once

#include <QString>
#include <QStringList>

// A file-type list written as "description|pattern" pairs, all joined by "|"
// (patterns within a pair separated by ";"), turned into the toolkit's own
// entries "description (pattern pattern)". The first entry is the one the
// dialog starts with.
class FileFilter
{
public:
    static QStringList toNameFilters(const QString &pairs);
};
