#include "SectionNumbers.h"

#include <algorithm>
#include <limits>

namespace run {

void SectionNumbers::seal()
{
    // Numbers grow with the lines, so of the entries of one identifier the
    // last in this order is its last line's.
    std::sort(entries_.begin(), entries_.end());
    const auto last = std::unique(entries_.rbegin(), entries_.rend(),
                                  [](const auto &a, const auto &b) { return a.first == b.first; });
    entries_.erase(entries_.begin(), last.base());
}

qint32 SectionNumbers::numberOf(qint64 sectionId) const
{
    if (sectionId < std::numeric_limits<qint32>::min() || sectionId > std::numeric_limits<qint32>::max())
        return 0;
    const auto at = std::lower_bound(entries_.begin(), entries_.end(), qint32(sectionId),
                                     [](const auto &entry, qint32 id) { return entry.first < id; });
    return at != entries_.end() && at->first == sectionId ? at->second : 0;
}

} // namespace run
