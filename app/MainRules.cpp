#include "MainRules.h"

#include "WineTahoma.h"

#include <run/RunError.h>

#include <QFontDatabase>
#include <QFontMetrics>
#include <QRawFont>
#include <QStringList>

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace {

quint16 bigEndian16(const QByteArray &table, qsizetype offset)
{
    return quint16((quint8(table[offset]) << 8) | quint8(table[offset + 1]));
}

const QString tahoma = QStringLiteral("Tahoma");

bool registerSubstitute()
{
    if (QFontDatabase::families().contains(tahoma, Qt::CaseInsensitive))
        return true;
    return addWineTahoma(tahoma);
}

} // namespace

bool WindowFont::ensureTahoma()
{
    static const bool available = registerSubstitute();
    return available;
}

QFont WindowFont::create(qreal logicalDpi)
{
    ensureTahoma();
    QFont font;
    font.setFamilies({tahoma, QStringLiteral("Verdana"), QStringLiteral("DejaVu Sans"), QStringLiteral("Liberation Sans"),
                      QStringLiteral("Arial"), QStringLiteral("Noto Sans")});
    font.setStyleHint(QFont::SansSerif);
    // 8 points at 96 dots per inch; another resolution scales the height first.
    font.setPixelSize(int(std::lround(11 * logicalDpi / 96)));
    return font;
}

TextCellMetrics::TextCellMetrics(const QFont &font)
{
    const QFontMetrics fallback(font);
    ascent_ = fallback.ascent();
    height_ = fallback.height();

    const QRawFont raw = QRawFont::fromFont(font);
    if (!raw.isValid())
        return;
    const QByteArray head = raw.fontTable("head");
    const QByteArray os2 = raw.fontTable("OS/2");
    // unitsPerEm at 18 in "head"; usWinAscent and usWinDescent at 74 and 76 in "OS/2".
    if (head.size() < 20 || os2.size() < 78)
        return;
    const int unitsPerEm = bigEndian16(head, 18);
    const int winAscent = bigEndian16(os2, 74);
    const int winDescent = bigEndian16(os2, 76);
    if (unitsPerEm == 0 || winAscent + winDescent == 0)
        return;
    const qreal pixels = raw.pixelSize();
    const int ascent = int(std::lround(winAscent * pixels / unitsPerEm));
    const int descent = int(std::lround(winDescent * pixels / unitsPerEm));
    ascent_ = ascent;
    height_ = ascent + descent;
}

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

QPoint centredPosition(const QRect &desktop, const QSize &window)
{
    const int left = desktop.left() + desktop.width() / 2 - window.width() / 2;
    const int top = desktop.top() + desktop.height() / 2 - window.height() / 2;
    return QPoint(std::max(left, desktop.left()), std::max(top, desktop.top()));
}

Qt::WindowStates startupWindowState(int showCommand)
{
    // SW_SHOWMAXIMIZED and SW_SHOWMINNOACTIVE: what a shortcut set to run
    // "Maximized" or "Minimized" passes.
    constexpr int showMaximized = 3;
    constexpr int showMinimizedNoActivate = 7;
    switch (showCommand) {
    case showMaximized:
        return Qt::WindowMaximized;
    case showMinimizedNoActivate:
        return Qt::WindowMinimized;
    default:
        return Qt::WindowNoState;
    }
}

ProgressFeed::ProgressFeed(QProgressBar *bar, int maximum) : bar_(bar), maximum_(maximum)
{
    flush();
}

void ProgressFeed::setMaximum(int maximum)
{
    if (maximum < minimum())
        throw run::RunError(
            QStringLiteral(u"Недопустимое значение свойства %1.Max: %2")
                .arg(bar_ ? bar_->objectName() : QString(), QString::number(maximum)));
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
