#pragma once

#include <QStringList>

namespace db {
class Tables;
}

namespace run {

// What a completed run left in the tables, counted there: the tables hold
// exactly that run's rows until the next one, whereas an input list may by
// then have been replaced by its output.
class RunSummary
{
public:
    // Throws db::DbError.
    static RunSummary read(db::Tables &tables);

    qint64 sections = 0;
    qint64 forums = 0;
    qint64 forumsWithoutSection = 0; // stamped 0: no section has their section identifier
    // Section identifiers that more than one section has, in the order of
    // their first sections.
    QStringList repeatedIdentifiers;
};

} // namespace run
