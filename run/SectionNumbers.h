#pragma once

#include <QtGlobal>

#include <utility>
#include <vector>

namespace run {

// The number a forum gets for its section identifier: that of the last
// section line with the identifier, or 0 when no line has it. A forum's
// lookup is one probe into a table at most half full, mostly one cache line,
// where a search by halving would touch a line per step; the table is eight
// bytes a slot, at most four slots a section.
class SectionNumbers
{
public:
    void add(qint32 sectionId, qint32 number) { added_.emplace_back(sectionId, number); }
    // Once every section is added, before the first lookup.
    void seal();
    qint32 numberOf(qint64 sectionId) const;
    // Asks for the memory numberOf(sectionId) will read, and returns at
    // once: lookups asked for a few at a time wait for the memory together,
    // not one after another.
    void prefetch(qint64 sectionId) const noexcept
    {
        if (!slots_.empty())
            __builtin_prefetch(&slots_[home(qint32(sectionId))]);
    }
    void clear() noexcept
    {
        added_.clear();
        slots_.clear();
        shift_ = 32;
    }

private:
    struct Slot
    {
        qint32 id;
        qint32 number; // 0: the slot is free (numbers start at 1)
    };
    std::size_t home(qint32 sectionId) const noexcept;

    std::vector<std::pair<qint32, qint32>> added_;
    std::vector<Slot> slots_;
    int shift_ = 32; // 32 less the bits of a slot's index
};

} // namespace run
