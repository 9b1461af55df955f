#include "WriteBehind.h"

#include <sqlite3.h>

#include <algorithm>
#include <limits>

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
    while (table[i] != 0 && keyAt(table[i] - 1) != key)
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
    // At most half the slots in use keeps the probes short; the room is
    // made before anything moves, so a failure for memory changes nothing.
    std::size_t size = std::max<std::size_t>(slots_.size() * 2, 1024);
    while ((count() + 1) * 2 > size)
        size *= 2;
    std::vector<std::uint32_t> table(size, 0);
    std::vector<std::uint64_t> filter(size * 4 / 64, 0);
    slots_.swap(table);
    seen_.swap(filter);
    for (std::size_t e = 0; e < count(); ++e) {
        markSeen(keyAt(e));
        *freeSlot(keyAt(e)) = std::uint32_t(e + 1);
    }
}

void WriteBehind::leaveDirect()
{
    // The slots first: should they fail for memory, the entries are still
    // found where they were.
    if ((count() + 1) * 2 > slots_.size())
        grow();
    direct_ = false;
    byKey_ = std::vector<std::uint32_t>();
}

void WriteBehind::hold(std::int64_t key, std::int64_t value)
{
    if (direct_) {
        if (key >= 0 && std::uint64_t(key) < directLimit()) {
            const auto k = std::size_t(key);
            if (k >= byKey_.size())
                byKey_.resize(std::min(std::max(k + 1, byKey_.size() + byKey_.size() / 2), directLimit()), 0);
            std::uint32_t &slot = byKey_[k];
            if (slot != 0) {
                setValueAt(slot - 1, value);
                return;
            }
            append(key, value);
            slot = std::uint32_t(count());
            return;
        }
        leaveDirect();
    }
    if ((count() + 1) * 2 > slots_.size())
        grow();
    if (maybeHeld(key)) {
        std::uint32_t *slot = findSlot(key);
        if (*slot != 0) {
            setValueAt(*slot - 1, value);
            return;
        }
    }
    markSeen(key);
    append(key, value);
    *freeSlot(key) = std::uint32_t(count());
}

bool WriteBehind::lookup(std::int64_t key, std::int64_t &value) const noexcept
{
    if (empty())
        return false;
    if (direct_) {
        if (key < 0 || std::uint64_t(key) >= byKey_.size() || byKey_[std::size_t(key)] == 0)
            return false;
        value = valueAt(byKey_[std::size_t(key)] - 1);
        return true;
    }
    if (!maybeHeld(key))
        return false;
    const std::uint32_t slot = *findSlot(key);
    if (slot == 0)
        return false;
    value = valueAt(slot - 1);
    return true;
}

namespace {

bool fits32(std::int64_t n)
{
    return n >= std::numeric_limits<std::int32_t>::min() && n <= std::numeric_limits<std::int32_t>::max();
}

constexpr std::uint32_t signBit = 0x80000000u;

std::int64_t narrowKey(std::uint64_t row)
{
    return std::int32_t(std::uint32_t(row >> 32) ^ signBit);
}

std::int64_t narrowValue(std::uint64_t row)
{
    return std::int32_t(std::uint32_t(row));
}

} // namespace

std::int64_t WriteBehind::keyAt(std::size_t i) const noexcept
{
    if (isWide_)
        return wide_[i].key;
    return narrowKey(narrow_[i]);
}

std::int64_t WriteBehind::valueAt(std::size_t i) const noexcept
{
    if (isWide_)
        return wide_[i].value;
    return narrowValue(narrow_[i]);
}

void WriteBehind::setValueAt(std::size_t i, std::int64_t value)
{
    if (!isWide_ && !fits32(value))
        widen();
    if (isWide_)
        wide_[i].value = value;
    else
        narrow_[i] = (narrow_[i] & ~std::uint64_t(0xFFFFFFFFu)) | std::uint32_t(std::int32_t(value));
}

void WriteBehind::append(std::int64_t key, std::int64_t value)
{
    if (!isWide_ && !(fits32(key) && fits32(value)))
        widen();
    if (isWide_)
        wide_.push_back({key, value});
    else
        narrow_.push_back((std::uint64_t(std::uint32_t(std::int32_t(key)) ^ signBit) << 32)
                          | std::uint32_t(std::int32_t(value)));
}

void WriteBehind::widen()
{
    wide_.reserve(narrow_.size() + 1);
    for (std::size_t i = 0; i < narrow_.size(); ++i)
        wide_.push_back({keyAt(i), valueAt(i)});
    narrow_ = std::vector<std::uint64_t>();
    isWide_ = true;
}

int WriteBehind::apply()
{
    std::vector<Entry> wide = std::move(wide_);
    std::vector<std::uint64_t> narrow = std::move(narrow_);
    std::vector<std::uint32_t> byKey = std::move(byKey_);
    const bool isWide = isWide_;
    const bool direct = direct_;
    clear();
    auto run = [this](std::int64_t key, std::int64_t value) {
        sqlite3_bind_int64(statement_, 1, value);
        sqlite3_bind_int64(statement_, 2, key);
        const int rc = sqlite3_step(statement_);
        sqlite3_reset(statement_);
        return rc;
    };
    int rc = SQLITE_DONE;
    if (direct) {
        for (std::size_t k = 0; k < byKey.size() && rc == SQLITE_DONE; ++k) {
            if (byKey[k] == 0)
                continue;
            const std::size_t i = byKey[k] - 1;
            rc = run(std::int64_t(k), isWide ? wide[i].value : narrowValue(narrow[i]));
        }
    } else if (isWide) {
        std::sort(wide.begin(), wide.end(), [](const Entry &a, const Entry &b) { return a.key < b.key; });
        for (std::size_t i = 0; i < wide.size() && rc == SQLITE_DONE; ++i)
            rc = run(wide[i].key, wide[i].value);
    } else {
        std::sort(narrow.begin(), narrow.end()); // each key once: by key
        for (std::size_t i = 0; i < narrow.size() && rc == SQLITE_DONE; ++i)
            rc = run(narrowKey(narrow[i]), narrowValue(narrow[i]));
    }
    sqlite3_clear_bindings(statement_);
    return rc == SQLITE_DONE ? SQLITE_OK : rc;
}

void WriteBehind::reset() noexcept
{
    clear();
    form_ = KeyedUpdate();
    statement_ = nullptr;
}

void WriteBehind::clear() noexcept
{
    narrow_ = std::vector<std::uint64_t>();
    wide_ = std::vector<Entry>();
    isWide_ = false;
    byKey_ = std::vector<std::uint32_t>();
    direct_ = true;
    slots_ = std::vector<std::uint32_t>();
    seen_ = std::vector<std::uint64_t>();
}

} // namespace db
