#include "CoarseClock.h"

#include <time.h>

qint64 coarseMilliseconds()
{
    // The clock of the last timer tick, from the kernel's page in the process.
    timespec now;
    clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
    return qint64(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}
