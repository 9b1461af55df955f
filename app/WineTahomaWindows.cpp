#include "WineTahoma.h"

bool addWineTahoma(const QString &)
{
    return false;
}
