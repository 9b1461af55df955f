#include "ProgramIcon.h"

#include <Pictures.h>

// A program file here carries no icon of its own that the system would show.
QIcon programIcon()
{
    return Pictures::programIcon();
}
