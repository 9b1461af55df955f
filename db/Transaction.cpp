#include "Transaction.h"

#include "Database.h"

#include <sqlite3.h>

namespace db {

Transaction::Transaction(Database &database) : database_(database)
{
    database_.exec("BEGIN IMMEDIATE");
}

Transaction::~Transaction()
{
    if (open_)
        sqlite3_exec(database_.handle(), "ROLLBACK", nullptr, nullptr, nullptr);
}

void Transaction::commit()
{
    database_.commit();
    open_ = false;
}

void Transaction::renew()
{
    database_.commit();
    open_ = false;
    database_.exec("BEGIN IMMEDIATE");
    open_ = true;
}

} // namespace db
