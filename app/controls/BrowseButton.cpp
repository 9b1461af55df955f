#include "BrowseButton.h"

#include "GlyphBlend.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPointer>

BrowseButton::BrowseButton(QWidget *field) : QWidget(field)
{
    setObjectName(QStringLiteral("browseButton"));
    setFocusPolicy(Qt::NoFocus);
    setCursor(Qt::ArrowCursor);
    // Hover is followed by moves as well, for a pointer that was already
    // there when the button appeared.
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void BrowseButton::setBackground(Background background)
{
    background_ = std::move(background);
    update();
}

void BrowseButton::setGlyph(const QImage &frames)
{
    glyph_ = frames.isNull() ? frames : frames.convertToFormat(QImage::Format_ARGB32);
    update();
}

BrowseButton::Frame BrowseButton::frame() const
{
    if (held_)
        return inside_ ? Pressed : Hot;
    return hovered_ ? Hot : Normal;
}

QPoint BrowseButton::glyphPosition() const
{
    const int side = glyph_.isNull() ? 16 : glyph_.height();
    const int shift = frame() == Pressed ? 1 : 0;
    return QPoint((width() - side) / 2 + shift, (height() - side) / 2 + shift);
}

void BrowseButton::paintEvent(QPaintEvent *)
{
    const QWidget *field = parentWidget() ? parentWidget() : this;
    QImage canvas(size(), QImage::Format_RGB32);
    canvas.fill(field->palette().color(QPalette::Base));
    if (background_) {
        QPainter under(&canvas);
        under.translate(-pos());
        background_(under);
    }
    if (!glyph_.isNull()) {
        const int side = glyph_.height();
        GlyphBlend::draw(canvas, glyphPosition(), glyph_, QRect(side * int(frame()), 0, side, side), false);
    }
    QPainter painter(this);
    painter.drawImage(0, 0, canvas);
}

void BrowseButton::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    held_ = true;
    inside_ = true;
    update();
}

void BrowseButton::mouseMoveEvent(QMouseEvent *event)
{
    if (held_) {
        const bool inside = rect().contains(event->position().toPoint());
        if (inside != inside_) {
            inside_ = inside;
            update();
        }
    } else if (rect().contains(event->position().toPoint())) {
        setHovered(true);
    }
}

void BrowseButton::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton || !held_) {
        event->ignore();
        return;
    }
    const bool over = rect().contains(event->position().toPoint());
    held_ = false;
    inside_ = false;
    update();
    // The dialog runs inside this call; nothing of ours is touched after it.
    if (over)
        emit clicked();
}

void BrowseButton::enterEvent(QEnterEvent *)
{
    setHovered(true);
}

void BrowseButton::leaveEvent(QEvent *)
{
    setHovered(false);
}

void BrowseButton::hideEvent(QHideEvent *)
{
    held_ = false;
    inside_ = false;
    setHovered(false);
}

void BrowseButton::setHovered(bool over)
{
    if (over == hovered_)
        return;
    hovered_ = over;
    update();
    emit hoverChanged(over);
}
