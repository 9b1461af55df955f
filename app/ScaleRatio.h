#pragma once

#include <QRect>
#include <QSize>

// The ratio by which a layout drawn for one text height is fitted to another.
// Edges are scaled rather than sizes, so that controls that touch at one
// ratio still touch at any other.
class ScaleRatio
{
public:
    ScaleRatio(int multiplier, int divisor) : m_(multiplier), d_(divisor) {}

    bool isIdentity() const { return m_ == d_; }

    // value * multiplier / divisor, rounded half away from zero.
    int scaled(int value) const;
    QRect scaled(const QRect &rect) const;
    QSize scaled(const QSize &size) const;

private:
    int m_;
    int d_;
};
