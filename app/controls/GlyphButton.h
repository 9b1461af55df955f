#pragma once

#include "GlyphButtonLayout.h"

#include <QImage>
#include <QPushButton>
#include <QStyle>

class QStyleOptionButton;

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
