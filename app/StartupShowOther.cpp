#include "StartupShow.h"

// A desktop starts a program with no show command of its own: the window
// manager decides how a new window first shows.
std::optional<int> startupShowCommand()
{
    return std::nullopt;
}
