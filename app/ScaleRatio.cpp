#include "ScaleRatio.h"

#include <cstdlib>

int ScaleRatio::scaled(int value) const
{
    const qint64 product = qint64(value) * m_;
    const qint64 half = std::llabs(qint64(d_)) / 2;
    const bool negative = (product < 0) != (d_ < 0);
    const qint64 magnitude = (std::llabs(product) + half) / std::llabs(qint64(d_));
    return int(negative ? -magnitude : magnitude);
}

QRect ScaleRatio::scaled(const QRect &rect) const
{
    const int left = scaled(rect.x());
    const int top = scaled(rect.y());
    return QRect(left, top, scaled(rect.x() + rect.width()) - left, scaled(rect.y() + rect.height()) - top);
}

QSize ScaleRatio::scaled(const QSize &size) const
{
    return QSize(scaled(size.width()), scaled(size.height()));
}
