#pragma once

#include <QPointer>
#include <QProgressBar>

// A progress bar's range and position as the run sets them, handed to the
// bar only by flush(). The run moves a bar once per row, far more often than
// anyone can see; telling the widget each time would cost more than the row.
class ProgressFeed
{
public:
    ProgressFeed(QProgressBar *bar, int maximum);

    int minimum() const { return 0; }
    int maximum() const { return maximum_; }
    int position() const { return position_; }

    // A maximum below the minimum is refused with run::RunError; a position
    // outside the range is held at its nearer end.
    void setMaximum(int maximum);
    void setPosition(int position);
    // One step towards the maximum.
    void step();

    // Brings the bar up to date; touches it only where it differs.
    void flush();

private:
    QPointer<QProgressBar> bar_;
    int maximum_;
    int position_ = 0;
};
