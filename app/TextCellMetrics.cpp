#include "TextCellMetrics.h"

#include <QFontMetrics>
#include <QRawFont>

#include <cmath>

namespace {

quint16 bigEndian16(const QByteArray &table, qsizetype offset)
{
    return quint16((quint8(table[offset]) << 8) | quint8(table[offset + 1]));
}

} // namespace

TextCellMetrics::TextCellMetrics(const QFont &font)
{
    const QFontMetrics fallback(font);
    ascent_ = fallback.ascent();
    height_ = fallback.height();

    const QRawFont raw = QRawFont::fromFont(font);
    if (!raw.isValid())
        return;
    const QByteArray head = raw.fontTable("head");
    const QByteArray os2 = raw.fontTable("OS/2");
    // unitsPerEm at 18 in "head"; usWinAscent and usWinDescent at 74 and 76 in "OS/2".
    if (head.size() < 20 || os2.size() < 78)
        return;
    const int unitsPerEm = bigEndian16(head, 18);
    const int winAscent = bigEndian16(os2, 74);
    const int winDescent = bigEndian16(os2, 76);
    if (unitsPerEm == 0 || winAscent + winDescent == 0)
        return;
    const qreal pixels = raw.pixelSize();
    const int ascent = int(std::lround(winAscent * pixels / unitsPerEm));
    const int descent = int(std::lround(winDescent * pixels / unitsPerEm));
    ascent_ = ascent;
    height_ = ascent + descent;
}
