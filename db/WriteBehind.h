#pragma once

#include "KeyedUpdate.h"

#include <algorithm>
#include <cstdint>
#include <vector>

struct sqlite3_stmt;

namespace db {

// Updates "SET column = value WHERE key = k" held back by the connection and
// applied later in the order of their keys, when one pass over the table does
// what scattered updates would do page by page. Reads see the held values
// laid over the stored ones (see lookup()); anything else has them applied
// first. For one update form at a time.
class WriteBehind
{
public:
    // Beyond so many rows the held updates are applied: it bounds the memory
    // (8 bytes a row, 16 for numbers beyond 32 bits, and 4 for each row id
    // up to the largest held; the hash's 10 a row instead for other keys)
    // while a pass still finds many updates on every page.
    // At least this many; more for a table the cache was grown for, where a
    // pass over all of it for every million would read it again each time.
    static constexpr std::size_t leastCapacity = std::size_t(1) << 20;
    void setCapacity(std::size_t rows) noexcept { capacity_ = std::max(rows, leastCapacity); }

    bool empty() const noexcept { return count() == 0; }
    bool full() const noexcept { return count() >= capacity_; }
    const KeyedUpdate &form() const noexcept { return form_; }
    // The compiled statement of the form, owned by the connection's shapes.
    sqlite3_stmt *statement() const noexcept { return statement_; }

    // Starts holding updates of another form; the held ones must be applied.
    void retarget(const KeyedUpdate &form, sqlite3_stmt *statement);
    // A later update of the same key replaces the value held for it.
    void hold(std::int64_t key, std::int64_t value);
    bool lookup(std::int64_t key, std::int64_t &value) const noexcept;
    // Every key held with its value, in no particular order.
    template<typename F>
    void forEach(F &&f) const
    {
        for (std::size_t i = 0; i < count(); ++i)
            f(keyAt(i), valueAt(i));
    }

    // Runs the statement once per held key, in ascending key order, and lets
    // go of everything held whatever happens. Returns the engine's result code
    // of the first failure, or SQLITE_OK.
    int apply();
    // Forgets everything held without applying it.
    void clear() noexcept;
    // Forgets the form too: its statement is about to be finalized.
    void reset() noexcept;

private:
    struct Entry
    {
        std::int64_t key;
        std::int64_t value;
    };
    std::uint32_t *findSlot(std::int64_t key) const noexcept;
    std::uint32_t *freeSlot(std::int64_t key) noexcept;
    std::size_t seenBit(std::int64_t key) const noexcept;
    bool maybeHeld(std::int64_t key) const noexcept;
    void markSeen(std::int64_t key) noexcept;
    void grow();

    std::size_t capacity_ = leastCapacity;
    KeyedUpdate form_;
    sqlite3_stmt *statement_ = nullptr;
    // Keys and values within 32 bits, as row ids and most values are, go
    // eight bytes to a row: the key's bits (flipped in sign, so that the
    // numbers sort as the keys do) above the value's. Any other number has
    // every row kept wide.
    std::vector<std::uint64_t> narrow_;
    std::vector<Entry> wide_;
    bool isWide_ = false;
    std::size_t count() const noexcept { return isWide_ ? wide_.size() : narrow_.size(); }
    std::int64_t keyAt(std::size_t i) const noexcept;
    std::int64_t valueAt(std::size_t i) const noexcept;
    void setValueAt(std::size_t i, std::int64_t value);
    void append(std::int64_t key, std::int64_t value);
    void widen();
    // Keys from 0 to a few times the capacity, as row ids are, find their
    // entry at their own place here: one step, with no filter or probing,
    // and a walk from the start meets them in order, with no sort. 1 + the
    // index of the entry, 0 where none is held. Any other key has every
    // entry go to the slots instead.
    std::vector<std::uint32_t> byKey_;
    bool direct_ = true;
    std::size_t directLimit() const noexcept { return capacity_ * 4; }
    void leaveDirect();
    // Open addressing: 1 + the index of the entry, 0 for an empty slot.
    std::vector<std::uint32_t> slots_;
    // A bit set for every key held: most keys looked up or held are not held
    // yet, and this small table says so without touching the large ones.
    std::vector<std::uint64_t> seen_;
};

} // namespace db
