#pragma once

#include "Connection.h"
#include "Query.h"

namespace db {

// The connection and the three query objects that share it.
class Session
{
public:
    Session();

    // Composes the connection string for the program directory (with its
    // trailing separator) and opens the connection. Throws DbError.
    void open(const QString &programDirectory);

    Connection ADOConnection1;
    Query qTemp;
    Query qTempEx;
    Query qExec;
};

} // namespace db
