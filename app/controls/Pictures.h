#pragma once

#include <QIcon>
#include <QImage>

// The window's pictures, compiled into the program as resources (see
// reindex_link_pictures in this folder's CMakeLists.txt). Each comes back in
// straight-alpha ARGB32, or null when the program was built without them.
class Pictures
{
public:
    // Three 16 by 16 frames side by side: normal, hot, pressed.
    static QImage browseGlyph();
    // 16 by 16.
    static QImage startGlyph();
    // The program icon at one of programIconSizes().
    static QImage programIcon(int size);
    static QIcon programIcon();
    static QList<int> programIconSizes();

private:
    static QImage load(const QString &name);
};
