#pragma once

#include <QString>

// Takes the copy of Tahoma that Wine carries into the application's fonts,
// where the system has one. True when `family` can be had afterwards.
// Windows has its own Tahoma or none, and no Wine beside it to lend one.
// WineTahomaPosix.cpp, WineTahomaWindows.cpp.
bool addWineTahoma(const QString &family);
