#include "SectionNumbers.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <limits>

namespace run {

std::size_t SectionNumbers::home(qint32 sectionId) const noexcept
{
    // Every bit of the identifier stirred into the top ones, which pick the
    // slot: identifiers that differ only in their high bits, or that are all
    // multiples of some power of two, still spread over the whole table.
    std::uint32_t h = std::uint32_t(sectionId);
    h ^= h >> 16;
    h *= 0x85EBCA6Bu;
    h ^= h >> 13;
    h *= 0xC2B2AE35u;
    h ^= h >> 16;
    return shift_ >= 32 ? 0 : std::size_t(h >> shift_);
}

void SectionNumbers::seal()
{
    const std::size_t wanted = std::max<std::size_t>(16, std::bit_ceil(added_.size() * 2));
    shift_ = 32 - std::countr_zero(wanted);
    slots_.assign(wanted, Slot{0, 0});
    const std::size_t mask = wanted - 1;
    // In the order of the lines: a later line with an identifier already in
    // the table takes its slot over.
    for (const auto &[id, number] : added_) {
        std::size_t at = home(id);
        while (slots_[at].number != 0 && slots_[at].id != id)
            at = (at + 1) & mask;
        slots_[at] = Slot{id, number};
    }
    added_.clear();
    added_.shrink_to_fit();
}

qint32 SectionNumbers::numberOf(qint64 sectionId) const
{
    if (slots_.empty() || sectionId < std::numeric_limits<qint32>::min() ||
        sectionId > std::numeric_limits<qint32>::max())
        return 0;
    const qint32 id = qint32(sectionId);
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t at = home(id);; at = (at + 1) & mask) {
        const Slot &slot = slots_[at];
        if (slot.number == 0)
            return 0;
        if (slot.id == id)
            return slot.number;
    }
}

} // namespace run
