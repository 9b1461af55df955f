#include "GlyphBlend.h"

void GlyphBlend::draw(QImage &target, QPoint at, const QImage &glyph, const QRect &source, bool halfTransparent)
{
    Q_ASSERT(target.format() == QImage::Format_RGB32 || target.format() == QImage::Format_ARGB32);
    const QImage straight = glyph.format() == QImage::Format_ARGB32 ? glyph : glyph.convertToFormat(QImage::Format_ARGB32);
    const QRect from = source.intersected(straight.rect());
    for (int y = from.top(); y <= from.bottom(); ++y) {
        const int ty = at.y() + (y - source.top());
        if (ty < 0 || ty >= target.height())
            continue;
        const auto *in = reinterpret_cast<const QRgb *>(straight.constScanLine(y));
        auto *out = reinterpret_cast<QRgb *>(target.scanLine(ty));
        for (int x = from.left(); x <= from.right(); ++x) {
            const int tx = at.x() + (x - source.left());
            if (tx < 0 || tx >= target.width())
                continue;
            const QRgb g = in[x];
            const int alpha = halfTransparent ? halfAlpha(qAlpha(g)) : qAlpha(g);
            if (alpha == 0)
                continue;
            const QRgb b = out[tx];
            out[tx] = qRgba(channel(qRed(b), qRed(g), alpha), channel(qGreen(b), qGreen(g), alpha),
                            channel(qBlue(b), qBlue(g), alpha), qAlpha(b));
        }
    }
}
