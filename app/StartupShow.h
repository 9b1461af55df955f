#pragma once

#include <optional>

// The show command the program was started with, where the system passes
// one (Windows: its start-up information, when the starter set it); none
// elsewhere. StartupShowWindows.cpp, StartupShowOther.cpp.
std::optional<int> startupShowCommand();
