#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <optional>

namespace db {

// "UPDATE <table> SET <column> = ? WHERE <key> = ?": the one statement form
// whose effect the write-behind may hold back and apply later, in key order.
struct KeyedUpdate
{
    QByteArray table;
    QByteArray column;
    QByteArray key;

    // The form, from a statement's shape; nothing for any other statement.
    static std::optional<KeyedUpdate> match(QByteArrayView shape);
};

} // namespace db
