#include "GlyphButton.h"

#include <QFontMetrics>
#include <QKeyEvent>
#include <QPainter>
#include <QRect>
#include <QStyleOptionButton>
#include <QStyleOptionFocusRect>
#include <QTextLayout>

#include <algorithm>

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

WrappedCaption::WrappedCaption(const QString &text, const QFont &font, int wrapWidth)
    : text_(text), font_(font)
{
    if (text_.isEmpty())
        return;
    // A line break in the caption starts a new line.
    text_.replace(QLatin1Char('\n'), QChar::LineSeparator);

    QTextLayout layout(text_, font_);
    QTextOption option;
    option.setWrapMode(QTextOption::WordWrap);
    layout.setTextOption(option);
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(std::max(0, wrapWidth));
        int length = line.textLength();
        while (length > 0 && text_.at(line.textStart() + length - 1).isSpace())
            --length;
        lines_.emplace_back(line.textStart(), length);
    }
    layout.endLayout();

    const QFontMetrics metrics(font_);
    int widest = 0;
    for (int i = 0; i < lineCount(); ++i)
        widest = std::max(widest, metrics.horizontalAdvance(line(i)));
    size_ = QSize(widest, metrics.height() * lineCount());
}

QString WrappedCaption::line(int index) const
{
    const auto [start, length] = lines_.at(size_t(index));
    return text_.mid(start, length);
}

void WrappedCaption::draw(QPainter &painter, const QRect &box) const
{
    if (lines_.empty())
        return;
    const QFontMetrics metrics(font_);
    const int lineHeight = metrics.height();
    const int visible = std::clamp(lineHeight > 0 ? box.height() / lineHeight : lineCount(), 1, lineCount());
    painter.save();
    painter.setFont(font_);
    for (int i = 0; i < visible; ++i) {
        QString shown = line(i);
        const bool cutShort = i == visible - 1 && visible < lineCount();
        if (cutShort)
            shown = text_.mid(lines_.at(size_t(i)).first).replace(QChar::LineSeparator, QLatin1Char(' '));
        if (cutShort || metrics.horizontalAdvance(shown) > box.width())
            shown = metrics.elidedText(shown, Qt::ElideRight, box.width());
        const int x = box.left() + (box.width() - metrics.horizontalAdvance(shown)) / 2;
        painter.drawText(QPoint(x, box.top() + i * lineHeight + metrics.ascent()), shown);
    }
    painter.restore();
}

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
