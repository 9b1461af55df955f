#pragma once

#include <QByteArrayView>

#include <cstdint>
#include <limits>
#include <optional>

namespace db {

// What the table's definition says about setting one whole-number column of a
// row found by its integer key: if nothing but the value's range can make
// such an update fail, and nothing else in the table depends on the column,
// updates of it may be held back and applied later in any order of keys.
struct DeferrableColumn
{
    std::int64_t lowest = std::numeric_limits<std::int64_t>::min();
    std::int64_t highest = std::numeric_limits<std::int64_t>::max();

    bool accepts(std::int64_t value) const noexcept { return value >= lowest && value <= highest; }

    // From the table's CREATE TABLE text. The column must be of a whole-number
    // type with no constraint but "CHECK (column BETWEEN n AND m)", the key an
    // INTEGER PRIMARY KEY, and no other column or table constraint may name
    // the column. Nothing when anything else is found.
    static std::optional<DeferrableColumn> inspect(QByteArrayView createTable, QByteArrayView column,
                                                   QByteArrayView key);
};

} // namespace db
