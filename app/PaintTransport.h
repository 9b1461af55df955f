#pragma once

// Chooses, before the application object exists, how the window's pictures
// reach the display. PaintTransportX11.cpp, PaintTransportWindows.cpp.
void choosePaintTransport();
