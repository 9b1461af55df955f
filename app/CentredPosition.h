#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

// Where a window of `window` size goes to sit centred on `desktop` (the area
// of all screens): half the desktop less half the window, each halved with
// truncation, and never left of or above the desktop.
QPoint centredPosition(const QRect &desktop, const QSize &window);
