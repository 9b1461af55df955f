#pragma once

#include <QFont>

// The main window's font: Tahoma at 11 pixels for 96 dots per inch. Where the
// system has no Tahoma, a metric-compatible copy shipped with Wine's fonts is
// taken into the application when one is found; failing that, the nearest
// sans-serif family that has Cyrillic.
class WindowFont
{
public:
    static QFont create(qreal logicalDpi);

    // Registers the Tahoma substitute if the system lacks the family. Returns
    // whether "Tahoma" can be had afterwards. Runs its search only once.
    static bool ensureTahoma();
};
