#pragma once

#include <QtGlobal>

#include <utility>
#include <vector>

namespace run {

// The number a forum gets for its section identifier: that of the last
// section line with the identifier, or 0 when no line has it. Eight bytes a
// section, looked up by halving.
class SectionNumbers
{
public:
    void add(qint32 sectionId, qint32 number) { entries_.emplace_back(sectionId, number); }
    // Once every section is added, before the first lookup.
    void seal();
    qint32 numberOf(qint64 sectionId) const;
    void clear() noexcept { entries_.clear(); }

private:
    std::vector<std::pair<qint32, qint32>> entries_;
};

} // namespace run
