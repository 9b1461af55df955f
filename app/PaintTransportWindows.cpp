#include "PaintTransport.h"

void choosePaintTransport()
{
    // The system's own painting waits for nothing there.
}
