#pragma once

#include <QFont>
#include <QSize>
#include <QString>

#include <vector>

class QPainter;
class QRect;

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
