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
    database_.exec("COMMIT");
    open_ = false;
}

void Transaction::renew(const std::function<void()> &between)
{
    database_.exec("COMMIT");
    open_ = false;
    if (between)
        between();
    database_.exec("BEGIN IMMEDIATE");
    open_ = true;
}

} // namespace db
