#include "GlyphButton.h"

#include "GlyphBlend.h"
#include "WrappedCaption.h"

#include <QKeyEvent>
#include <QPainter>
#include <QStyleOptionButton>
#include <QStyleOptionFocusRect>

GlyphButton::GlyphButton(QWidget *parent) : QPushButton(parent)
{
    setCursor(Qt::PointingHandCursor);
    setAutoDefault(false);
    setDefault(false);
    setAttribute(Qt::WA_Hover);
}

GlyphButton::GlyphButton(const QString &caption, QWidget *parent) : GlyphButton(parent)
{
    setCaption(caption);
}

void GlyphButton::setCaption(const QString &caption)
{
    setText(caption);
    // Setting the text grabbed an "&x" in it as Alt+X; let go of it.
    setShortcut(QKeySequence());
}

void GlyphButton::setGlyph(const QImage &glyph)
{
    glyph_ = glyph.isNull() ? glyph : glyph.convertToFormat(QImage::Format_ARGB32);
    updateGeometry();
    update();
}

GlyphButton::Face GlyphButton::face() const
{
    if (!isEnabled())
        return Face::Disabled;
    if (isDown())
        return Face::Pressed;
    if (underMouse())
        return Face::Hot;
    if (hasFocus())
        return Face::Default;
    return Face::Normal;
}

GlyphButtonLayout GlyphButton::currentLayout() const
{
    const WrappedCaption caption(text(), font(), GlyphButtonLayout::wrapWidth(width(), glyph_.width()));
    return GlyphButtonLayout::compute(size(), glyph_.size(), caption.size(), face() == Face::Pressed);
}

QSize GlyphButton::sizeHint() const
{
    const WrappedCaption caption(text(), font(), QWIDGETSIZE_MAX / 2);
    const int gap = caption.size().width() > 0 && !glyph_.isNull() ? GlyphButtonLayout::gap : 0;
    QStyleOptionButton option;
    faceOption(option);
    const QSize content(glyph_.width() + gap + caption.size().width(),
                        std::max(glyph_.height(), caption.size().height()));
    return style()->sizeFromContents(QStyle::CT_PushButton, &option, content, this);
}

void GlyphButton::faceOption(QStyleOptionButton &option) const
{
    option.initFrom(this);
    option.features = QStyleOptionButton::None;
    // Exactly one state's face, whatever else is true at the same time.
    option.state &= ~(QStyle::State_Enabled | QStyle::State_Sunken | QStyle::State_Raised | QStyle::State_On
                      | QStyle::State_MouseOver | QStyle::State_HasFocus);
    switch (face()) {
    case Face::Disabled:
        break;
    case Face::Pressed:
        option.state |= QStyle::State_Enabled | QStyle::State_Sunken;
        break;
    case Face::Hot:
        option.state |= QStyle::State_Enabled | QStyle::State_Raised | QStyle::State_MouseOver;
        break;
    case Face::Default:
        option.state |= QStyle::State_Enabled | QStyle::State_Raised;
        option.features |= QStyleOptionButton::DefaultButton;
        break;
    case Face::Normal:
        option.state |= QStyle::State_Enabled | QStyle::State_Raised;
        break;
    }
}

void GlyphButton::paintEvent(QPaintEvent *)
{
    // Composed off screen and shown in one step.
    QImage canvas(size(), QImage::Format_RGB32);
    const GlyphButtonLayout layout = currentLayout();
    {
        QPainter painter(&canvas);
        const QWidget *behind = parentWidget() ? parentWidget() : this;
        painter.fillRect(canvas.rect(), behind->palette().brush(behind->backgroundRole()));

        QStyleOptionButton option;
        faceOption(option);
        style()->drawControl(QStyle::CE_PushButtonBevel, &option, &painter, this);
        if (hasFocus()) {
            QStyleOptionFocusRect focus;
            focus.QStyleOption::operator=(option);
            // Shown for a mouse click's focus as well as the keyboard's.
            focus.state |= QStyle::State_HasFocus | QStyle::State_KeyboardFocusChange;
            focus.rect = style()->subElementRect(QStyle::SE_PushButtonFocusRect, &option, this);
            focus.backgroundColor = palette().color(QPalette::Button);
            style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, &painter, this);
        }

        const WrappedCaption caption(text(), font(), GlyphButtonLayout::wrapWidth(width(), glyph_.width()));
        if (isEnabled()) {
            painter.setPen(palette().color(QPalette::WindowText));
            caption.draw(painter, layout.caption());
        } else {
            // Embossed: a light copy one pixel right and down, the shadow
            // colour over it in place.
            painter.setPen(palette().color(QPalette::Normal, QPalette::Light));
            caption.draw(painter, layout.caption().translated(1, 1));
            painter.setPen(palette().color(QPalette::Normal, QPalette::Dark));
            caption.draw(painter, layout.caption());
        }
    }
    if (!glyph_.isNull())
        GlyphBlend::draw(canvas, layout.glyph().topLeft(), glyph_, glyph_.rect(), !isEnabled());
    QPainter(this).drawImage(0, 0, canvas);
}

void GlyphButton::keyPressEvent(QKeyEvent *event)
{
    // Enter presses the focused button itself, as a click; it is not passed
    // on to look for a default button.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        event->accept();
        click();
        return;
    }
    QPushButton::keyPressEvent(event);
}

bool GlyphButton::focusNextPrevChild(bool next)
{
    // Qt asks this of a focused button that is being switched off, to pass
    // the focus on to the next control; refusing leaves the window with no
    // focused control at all.
    if (!isEnabled())
        return false;
    return QPushButton::focusNextPrevChild(next);
}
