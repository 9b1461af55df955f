#pragma once

#include "FileSystem.h"

#include <QString>

#include <thread>
#include <vector>

namespace run {

// Files whose last name the run takes away, held open until then and let go
// off the run's thread. The system frees a file's space when its last name
// and its last handle are gone, in that one step: for an output of a
// gigabyte a third of a second in which the window would not move.
class SpaceRelease
{
public:
    SpaceRelease() = default;
    SpaceRelease(const SpaceRelease &) = delete;
    SpaceRelease &operator=(const SpaceRelease &) = delete;
    // Waits until every held file is let go.
    ~SpaceRelease();

    // Before a rename or a removal takes the file's last name away; nothing
    // is held where holding the file would keep its name from being taken.
    void hold(const QString &path);
    // Everything held so far goes, off this thread.
    void letGo();

private:
    std::vector<fs::Handle> held_;
    std::vector<std::thread> closers_;
};

} // namespace run
