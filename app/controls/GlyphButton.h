#pragma once

// All that the glyph button is made of: the arithmetic it blends, lays out
// and wraps by, which needs no widget, then the button. The file-name field's
// browse glyph is blended here too, so that both glyphs come out alike.

#include <QFont>
#include <QImage>
#include <QPoint>
#include <QPushButton>
#include <QRect>
#include <QSize>
#include <QString>
#include <QStyle>

#include <vector>

class QPainter;
class QStyleOptionButton;

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

// A caption broken into lines at word boundaries within a given width, as a
// button measures and draws it. A word longer than the width keeps its own
// line and makes the caption wider.
class WrappedCaption
{
public:
    WrappedCaption(const QString &text, const QFont &font, int wrapWidth);

    // The widest line by the number of lines; empty for an empty text.
    QSize size() const { return size_; }
    int lineCount() const { return int(lines_.size()); }
    QString line(int index) const;

    // Each line centred across `box`, lines from its top, in the painter's
    // pen. A line wider than the box, and the last line that fits when more
    // follow, end in an ellipsis. "&" is a character like any other.
    void draw(QPainter &painter, const QRect &box) const;

private:
    QString text_;
    QFont font_;
    // Start and length of each line within text_, trailing blanks left out.
    std::vector<std::pair<int, int>> lines_;
    QSize size_{0, 0};
};

// A push button with a glyph left of its caption, both centred together.
// It draws itself: the style's push-button face for the first state that
// applies, the caption word-wrapped in its box, then the glyph blended over
// them, at half its alpha while the button is disabled. Space and Enter
// press it while it has the focus; it has no access key and is no default
// button. Switched off while it has the focus, it gives the focus up to the
// window instead of passing it on, and does not take it back.
class GlyphButton : public QPushButton
{
    Q_OBJECT

public:
    explicit GlyphButton(QWidget *parent = nullptr);
    explicit GlyphButton(const QString &caption, QWidget *parent = nullptr);

    // Sets the caption; an "&" in it is shown, not taken as an access key.
    void setCaption(const QString &caption);

    void setGlyph(const QImage &glyph);
    const QImage &glyph() const { return glyph_; }

    // The face drawn now: one state of disabled, pressed, hot, default
    // (focused) and normal, the first that applies.
    enum class Face { Disabled, Pressed, Hot, Default, Normal };
    Face face() const;

    // Where the glyph and the caption go for the button's present size and
    // state.
    GlyphButtonLayout currentLayout() const;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    bool focusNextPrevChild(bool next) override;

private:
    void faceOption(QStyleOptionButton &option) const;

    QImage glyph_;
};
