#include "SpaceRelease.h"

#include <thread>

namespace run {

namespace {

// Smaller files are freed in a moment, and a thread would cost more.
constexpr qint64 largeFile = 64 << 20;

} // namespace

void SpaceRelease::hold(const QString &path)
{
    fs::Handle file = fs::holdForRelease(path, largeFile);
    if (file.isOpen())
        held_.push_back(std::move(file));
}

void SpaceRelease::letGo()
{
    if (held_.empty())
        return;
    // The thread owns the handles and nothing else: it may outlive the run,
    // and the program too, whose end closes them as well.
    std::thread([files = std::move(held_)]() mutable { files.clear(); }).detach();
    held_.clear();
}

} // namespace run
