#include "WineTahoma.h"

#include <QFileInfo>
#include <QFontDatabase>
#include <QStringList>

bool addWineTahoma(const QString &family)
{
    // Wine keeps its fonts in a folder of its own that fontconfig does not scan.
    static const char *const candidates[] = {
        "/usr/share/wine/fonts/tahoma.ttf",
        "/usr/share/fonts/truetype/wine/tahoma.ttf",
        "/usr/lib/wine/fonts/tahoma.ttf",
        "/usr/local/share/wine/fonts/tahoma.ttf",
        "/opt/wine-stable/share/wine/fonts/tahoma.ttf",
    };
    for (const char *candidate : candidates) {
        const QString path = QString::fromLatin1(candidate);
        if (!QFileInfo::exists(path))
            continue;
        const int id = QFontDatabase::addApplicationFont(path);
        if (id >= 0 && QFontDatabase::applicationFontFamilies(id).contains(family, Qt::CaseInsensitive))
            return true;
    }
    return false;
}
