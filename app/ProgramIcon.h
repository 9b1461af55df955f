#pragma once

#include <QIcon>

// The program icon: on Windows the icon resource "MAINICON" carried in the
// program file, in each of its sizes; elsewhere the same pictures compiled
// into the program as resources. ProgramIconWindows.cpp, ProgramIconOther.cpp.
QIcon programIcon();
