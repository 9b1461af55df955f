#include "RunSummary.h"

#include <db/Tables.h>

namespace run {

RunSummary RunSummary::read(db::Tables &tables)
{
    RunSummary out;
    out.sections = tables.sectionCount();
    out.forums = tables.forumCount();
    out.forumsWithoutSection = tables.forumsWithoutSection();
    for (qint64 id : tables.repeatedSectionIds())
        out.repeatedIdentifiers << QString::number(id);
    return out;
}

} // namespace run
