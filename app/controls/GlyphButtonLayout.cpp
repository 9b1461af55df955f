#include "GlyphButtonLayout.h"

GlyphButtonLayout GlyphButtonLayout::compute(QSize button, QSize glyph, QSize caption, bool pressed)
{
    // Nothing to keep apart when either side is missing.
    const int g = (caption.width() == 0 || glyph.width() == 0) ? 0 : gap;
    const int x = (button.width() - (glyph.width() + g + caption.width()) + 1) / 2;
    const int y = (button.height() - glyph.height() + 1) / 2;
    const int captionTop = (button.height() - caption.height() + 1) / 2;
    const int shift = pressed ? 1 : 0;

    GlyphButtonLayout layout;
    layout.glyph_ = QRect(QPoint(x + shift, y + shift), glyph);
    layout.caption_ = QRect(QPoint(x + glyph.width() + g + shift, captionTop + shift), caption);
    return layout;
}
