#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <optional>

namespace db {

// "SELECT * FROM <table> WHERE <column> = ? [ORDER BY <column> [ASC|DESC]]":
// a read whose rows and their order depend only on the columns it names, so
// that values held back for any other column can be laid over its rows.
struct KeyedRead
{
    QByteArray table;
    QByteArray where;
    QByteArray order; // empty without ORDER BY
    bool descending = false;

    static std::optional<KeyedRead> match(QByteArrayView shape);
    // Whether the rows or their order could depend on this column.
    bool uses(QByteArrayView column) const noexcept;
};

} // namespace db
