#include "CoarseClock.h"

#include <windows.h>

qint64 coarseMilliseconds()
{
    // The system's tick count: a read of shared memory, to the timer's
    // resolution (about 16 ms), which a twentieth of a second tolerates.
    return qint64(GetTickCount64());
}
