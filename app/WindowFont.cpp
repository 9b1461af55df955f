#include "WindowFont.h"

#include <QFileInfo>
#include <QFontDatabase>
#include <QFontInfo>
#include <QStringList>

#include <cmath>

namespace {

const QString tahoma = QStringLiteral("Tahoma");

bool registerSubstitute()
{
    if (QFontDatabase::families().contains(tahoma, Qt::CaseInsensitive))
        return true;
#ifndef Q_OS_WIN
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
        if (id >= 0 && QFontDatabase::applicationFontFamilies(id).contains(tahoma, Qt::CaseInsensitive))
            return true;
    }
#endif
    return false;
}

} // namespace

bool WindowFont::ensureTahoma()
{
    static const bool available = registerSubstitute();
    return available;
}

QFont WindowFont::create(qreal logicalDpi)
{
    ensureTahoma();
    QFont font;
    font.setFamilies({tahoma, QStringLiteral("Verdana"), QStringLiteral("DejaVu Sans"), QStringLiteral("Liberation Sans"),
                      QStringLiteral("Arial"), QStringLiteral("Noto Sans")});
    font.setStyleHint(QFont::SansSerif);
    // 8 points at 96 dots per inch; another resolution scales the height first.
    font.setPixelSize(int(std::lround(11 * logicalDpi / 96)));
    return font;
}
