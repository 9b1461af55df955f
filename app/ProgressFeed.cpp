#include "ProgressFeed.h"

#include <run/RunError.h>

#include <algorithm>

ProgressFeed::ProgressFeed(QProgressBar *bar, int maximum) : bar_(bar), maximum_(maximum)
{
    flush();
}

void ProgressFeed::setMaximum(int maximum)
{
    if (maximum < minimum())
        throw run::RunError(
            QStringLiteral(u"Недопустимое значение свойства %1.Max: %2").arg(bar_ ? bar_->objectName() : QString()).arg(maximum));
    maximum_ = maximum;
    position_ = std::min(position_, maximum_);
}

void ProgressFeed::setPosition(int position)
{
    position_ = std::clamp(position, minimum(), maximum_);
}

void ProgressFeed::step()
{
    if (position_ < maximum_)
        ++position_;
}

void ProgressFeed::flush()
{
    if (!bar_)
        return;
    // An empty range would turn the bar into a busy indicator; an empty bar is
    // what an empty range shows.
    const int shownMaximum = maximum_ > minimum() ? maximum_ : minimum() + 1;
    if (bar_->minimum() != minimum() || bar_->maximum() != shownMaximum)
        bar_->setRange(minimum(), shownMaximum);
    if (bar_->value() != position_)
        bar_->setValue(position_);
}
