#pragma once

#include <QFont>

// The height of a line of text in a font, and the ascent within it, as the
// layout's text height of 13 pixels is meant: taken from the font's Windows
// ascent and descent, each scaled to the pixel size and rounded. Fonts that
// flag their typographic metrics for use (a common Tahoma substitute does)
// would otherwise measure a couple of pixels short of the layout's notion.
// Falls back to the toolkit's own metrics for a font without those tables.
class TextCellMetrics
{
public:
    explicit TextCellMetrics(const QFont &font);

    int ascent() const { return ascent_; }
    int height() const { return height_; }

private:
    int ascent_ = 0;
    int height_ = 0;
};
