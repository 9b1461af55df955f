#include "WrappedCaption.h"

#include <QFontMetrics>
#include <QPainter>
#include <QRect>
#include <QTextLayout>

#include <algorithm>

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
