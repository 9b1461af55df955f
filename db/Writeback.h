#pragma once

#include <QString>

namespace db {

// Starts the system writing to the disk what has been written into a file,
// and returns at once. A later flush of the file then finds most of it
// written already: its wait shrinks to what came last, while the disk works
// in parallel with the program instead of after it. Durability is still the
// flush's: this only starts early what the flush would do anyway. Where the
// system has no such request, it does nothing.
class Writeback
{
public:
    explicit Writeback(const QString &path);
    ~Writeback();
    Writeback(const Writeback &) = delete;
    Writeback &operator=(const Writeback &) = delete;

    void start() noexcept;

private:
    int fd_ = -1;
};

} // namespace db
