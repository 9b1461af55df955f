#pragma once

#include <QtGlobal>

// Milliseconds since some fixed point, to a few milliseconds, read for a few
// nanoseconds: the window asks on every row whether it is time to let its
// events in, and the precise clock costs several times as much, a
// twentieth of the whole run on a million rows.
qint64 coarseMilliseconds();
