#pragma once

#include <QImage>
#include <QWidget>

#include <functional>

class QPainter;

// The bare glyph at the right end of a file-name field that opens its
// dialog. It draws no face of its own: only one of three frames of its glyph
// on the field's background. It never takes the keyboard focus.
class BrowseButton : public QWidget
{
    Q_OBJECT

public:
    enum Frame { Normal = 0, Hot = 1, Pressed = 2 };

    // The glyph's width and a pixel either side.
    static constexpr int fixedWidth = 18;

    explicit BrowseButton(QWidget *field);

    // Paints what lies under the button, in the field's coordinates; without
    // one, the background is the field's base colour.
    using Background = std::function<void(QPainter &painter)>;
    void setBackground(Background background);

    // Frames of glyph.height() pixels square, side by side.
    void setGlyph(const QImage &frames);
    const QImage &glyph() const { return glyph_; }

    Frame frame() const;
    // Where the current frame goes: centred, a pixel right and down while
    // shown pressed.
    QPoint glyphPosition() const;

signals:
    // The left mouse button was pressed on the button and released over it.
    void clicked();
    // The pointer came over the button or left it.
    void hoverChanged(bool over);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void setHovered(bool over);

    Background background_;
    QImage glyph_;
    bool held_ = false;   // the left button went down on us and is still down
    bool inside_ = false; // while held: the pointer is over us
    bool hovered_ = false;
};
