#pragma once

#include <QRect>
#include <QSize>

// Where a glyph button puts its glyph and its caption: the glyph left of the
// caption, a gap between them, the pair centred in the button.
class GlyphButtonLayout
{
public:
    static constexpr int gap = 4;

    // The width the caption is word-wrapped within.
    static constexpr int wrapWidth(int buttonWidth, int glyphWidth) { return (buttonWidth + 2) - (glyphWidth + gap); }

    // `caption` is the caption's measured size; a pressed button draws both
    // one pixel right and one down. Halves are truncated towards zero, so a
    // button too small for its content pushes it up and left by the smaller
    // share.
    static GlyphButtonLayout compute(QSize button, QSize glyph, QSize caption, bool pressed);

    QRect glyph() const { return glyph_; }
    QRect caption() const { return caption_; }

private:
    QRect glyph_;
    QRect caption_;
};
