#include "SectionMap.h"

#include <db/Tables.h>

namespace run {

QByteArray SectionMap::read(db::Tables &tables)
{
    QByteArray out;
    db::Tables::Sections sections = tables.sections();
    // The order in which the run numbers the sections.
    for (qint64 number = 1; sections.next(); ++number) {
        out += QByteArray::number(sections.oldId());
        out += '|';
        out += QByteArray::number(number);
        out += "\r\n";
    }
    return out;
}

} // namespace run
