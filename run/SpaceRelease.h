#pragma once

#include "FileSystem.h"

#include <QString>

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
    // What is still held is let go here, on this thread.
    ~SpaceRelease() = default;

    // Before a rename or a removal takes the file's last name away. Only a
    // large file is held, and nothing where holding the file would keep its
    // name from being taken.
    void hold(const QString &path);
    // Everything held so far goes, off this thread and without waiting for
    // it: nobody waits for a closed file's space, and the window that
    // started the run would wait in the middle of its next step.
    void letGo();

private:
    std::vector<fs::Handle> held_;
};

} // namespace run
