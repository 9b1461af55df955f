#pragma once

#include <QImage>
#include <QPoint>
#include <QRect>

// Puts a glyph with straight alpha over what is already drawn, one channel
// at a time in integer arithmetic, so that the result is the same on every
// system rather than whatever the painter's own blending rounds to.
class GlyphBlend
{
public:
    // (background × 256 + (glyph − background) × alpha) ÷ 256, the remainder
    // dropped. Never negative: alpha is at most 255.
    static constexpr int channel(int background, int glyph, int alpha)
    {
        return (background * 256 + (glyph - background) * alpha) / 256;
    }

    // A glyph drawn half transparent: alpha × 50 ÷ 100, the remainder dropped.
    static constexpr int halfAlpha(int alpha) { return alpha * 50 / 100; }

    // Blends the part `source` of `glyph` onto `target` with its top left at
    // `at`; whatever falls outside `target` is left out. `target` must be
    // Format_RGB32 or Format_ARGB32, whose own alpha is kept; `glyph` may be
    // in any format and is read as straight alpha.
    static void draw(QImage &target, QPoint at, const QImage &glyph, const QRect &source, bool halfTransparent);
};
