#include "WriteBehind.h"

#include <sqlite3.h>

#include <algorithm>

namespace db {

namespace {

std::size_t hashOf(std::int64_t key) noexcept
{
    // Keys are often consecutive row ids: mix them before masking.
    auto x = std::uint64_t(key);
    x ^= x >> 33;
    x *= 0xff51afd7ed558ccdULL;
    x ^= x >> 33;
    return std::size_t(x);
}

} // namespace

void WriteBehind::retarget(const KeyedUpdate &form, sqlite3_stmt *statement)
{
    clear();
    form_ = form;
    statement_ = statement;
}

std::uint32_t *WriteBehind::findSlot(std::int64_t key) const noexcept
{
    const std::size_t mask = slots_.size() - 1;
    std::size_t i = hashOf(key) & mask;
    auto *table = const_cast<std::uint32_t *>(slots_.data());
    while (table[i] != 0 && entries_[table[i] - 1].key != key)
        i = (i + 1) & mask;
    return &table[i];
}

std::uint32_t *WriteBehind::freeSlot(std::int64_t key) noexcept
{
    const std::size_t mask = slots_.size() - 1;
    std::size_t i = hashOf(key) & mask;
    while (slots_[i] != 0)
        i = (i + 1) & mask;
    return &slots_[i];
}

// Four bits for every slot, eight for every key at most: one key in eight
// not held still goes on to the slots.
std::size_t WriteBehind::seenBit(std::int64_t key) const noexcept
{
    return (hashOf(key) >> 32) & (seen_.size() * 64 - 1);
}

bool WriteBehind::maybeHeld(std::int64_t key) const noexcept
{
    const std::size_t bit = seenBit(key);
    return (seen_[bit / 64] >> (bit % 64)) & 1;
}

void WriteBehind::markSeen(std::int64_t key) noexcept
{
    const std::size_t bit = seenBit(key);
    seen_[bit / 64] |= std::uint64_t(1) << (bit % 64);
}

void WriteBehind::grow()
{
    // At most half the slots in use keeps the probes short.
    const std::size_t size = std::max<std::size_t>(slots_.size() * 2, 1024);
    slots_.assign(size, 0);
    seen_.assign(size * 4 / 64, 0);
    for (std::size_t e = 0; e < entries_.size(); ++e) {
        markSeen(entries_[e].key);
        *freeSlot(entries_[e].key) = std::uint32_t(e + 1);
    }
}

void WriteBehind::hold(std::int64_t key, std::int64_t value)
{
    if ((entries_.size() + 1) * 2 > slots_.size())
        grow();
    if (maybeHeld(key)) {
        std::uint32_t *slot = findSlot(key);
        if (*slot != 0) {
            entries_[*slot - 1].value = value;
            return;
        }
    }
    markSeen(key);
    entries_.push_back({key, value});
    *freeSlot(key) = std::uint32_t(entries_.size());
}

bool WriteBehind::lookup(std::int64_t key, std::int64_t &value) const noexcept
{
    if (entries_.empty() || !maybeHeld(key))
        return false;
    const std::uint32_t slot = *findSlot(key);
    if (slot == 0)
        return false;
    value = entries_[slot - 1].value;
    return true;
}

int WriteBehind::apply()
{
    std::vector<Entry> entries = std::move(entries_);
    clear();
    std::sort(entries.begin(), entries.end(), [](const Entry &a, const Entry &b) { return a.key < b.key; });
    for (const Entry &e : entries) {
        sqlite3_bind_int64(statement_, 1, e.value);
        sqlite3_bind_int64(statement_, 2, e.key);
        const int rc = sqlite3_step(statement_);
        sqlite3_reset(statement_);
        if (rc != SQLITE_DONE) {
            sqlite3_clear_bindings(statement_);
            return rc;
        }
    }
    sqlite3_clear_bindings(statement_);
    return SQLITE_OK;
}

void WriteBehind::reset() noexcept
{
    clear();
    form_ = KeyedUpdate();
    statement_ = nullptr;
}

void WriteBehind::clear() noexcept
{
    entries_ = std::vector<Entry>();
    slots_ = std::vector<std::uint32_t>();
    seen_ = std::vector<std::uint64_t>();
}

} // namespace db
