#pragma once

#include <QByteArray>

namespace db {
class Tables;
}

namespace run {

// The old-to-new section map of a completed run, for redirects from old
// section addresses: "old_id|number" for every section in the order of the
// section output, UTF-8 with CR LF after every line. A repeated identifier
// has a line per section, as each section has a number of its own.
class SectionMap
{
public:
    // Throws db::DbError.
    static QByteArray read(db::Tables &tables);
};

} // namespace run
