#pragma once

namespace db {

class Database;

// One write transaction, taken at once or not at all: when another
// connection is writing, the engine's "database is locked" is raised at once
// instead of waiting. Rolled back unless committed.
class Transaction
{
public:
    explicit Transaction(Database &database);
    ~Transaction();
    Transaction(const Transaction &) = delete;
    Transaction &operator=(const Transaction &) = delete;

    void commit();
    // Commits what was done so far and goes on in a new transaction.
    void renew();

private:
    Database &database_;
    bool open_ = true;
};

} // namespace db
