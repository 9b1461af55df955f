#pragma once

#include <QFont>
#include <QPoint>
#include <QPointer>
#include <QProgressBar>
#include <QRect>
#include <QSize>

// The main window's arithmetic, kept out of the window so that it can be
// tested without one: the font it is drawn in and the text height it
// measures, the scaling of its layout to that height, where it first shows,
// and how its bars take the run's progress.

// The main window's font: Tahoma at 11 pixels for 96 dots per inch. Where the
// system has no Tahoma, a metric-compatible copy shipped with Wine's fonts is
// taken into the application when one is found; failing that, the nearest
// sans-serif family that has Cyrillic.
class WindowFont
{
public:
    static QFont create(qreal logicalDpi);

    // Registers the Tahoma substitute if the system lacks the family. Returns
    // whether "Tahoma" can be had afterwards. Runs its search only once.
    static bool ensureTahoma();
};

// The height of a line of text in a font, and the ascent within it, as the
// layout's text height of 13 pixels is meant: taken from the font's Windows
// ascent and descent, each scaled to the pixel size and rounded. Fonts that
// flag their typographic metrics for use (a common Tahoma substitute does)
// would otherwise measure a couple of pixels short of the layout's notion.
// Falls back to the toolkit's own metrics for a font without those tables.
class TextCellMetrics
{
public:
    explicit TextCellMetrics(const QFont &font);

    int ascent() const { return ascent_; }
    int height() const { return height_; }

private:
    int ascent_ = 0;
    int height_ = 0;
};

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

// Where a window of `window` size goes to sit centred on `desktop` (the area
// of all screens): half the desktop less half the window, each halved with
// truncation, and never left of or above the desktop.
QPoint centredPosition(const QRect &desktop, const QSize &window);

// The state the main window first shows in, from the show command the
// system passed the program at its start (Windows' SW_* numbers): started
// minimized without activation it shows minimized, started maximized it
// shows maximized, and any other command shows it normally.
Qt::WindowStates startupWindowState(int showCommand);

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
