#include "CentredPosition.h"

#include <algorithm>

QPoint centredPosition(const QRect &desktop, const QSize &window)
{
    const int left = desktop.left() + desktop.width() / 2 - window.width() / 2;
    const int top = desktop.top() + desktop.height() / 2 - window.height() / 2;
    return QPoint(std::max(left, desktop.left()), std::max(top, desktop.top()));
}
