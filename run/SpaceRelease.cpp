#include "SpaceRelease.h"

namespace run {

SpaceRelease::~SpaceRelease()
{
    for (std::thread &closer : closers_)
        closer.join();
}

void SpaceRelease::hold(const QString &path)
{
    fs::Handle file = fs::holdForRelease(path);
    if (file.isOpen())
        held_.push_back(std::move(file));
}

void SpaceRelease::letGo()
{
    if (held_.empty())
        return;
    closers_.emplace_back([files = std::move(held_)]() mutable { files.clear(); });
    held_.clear();
}

} // namespace run
