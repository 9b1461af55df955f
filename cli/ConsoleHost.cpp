#include "ConsoleHost.h"

#include "Console.h"

#include <QFile>
#include <QStringList>

namespace {

// The peak resident size so far, where the system tells it.
QByteArray peakMemory()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return QByteArray();
    QByteArray out;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            out += ", peak " + line.mid(6).simplified();
        else if (line.startsWith("RssAnon:") || line.startsWith("RssFile:") || line.startsWith("RssShmem:"))
            out += ", " + line.simplified();
    }
    return out;
}

} // namespace

ConsoleHost::ConsoleHost(QString sections, QString forums, QString programDirectory, bool showProgress)
    : sections_(std::move(sections)), forums_(std::move(forums)), programDirectory_(std::move(programDirectory)),
      showProgress_(showProgress)
{
    // For measuring: the time at the end of each phase, on stderr.
    phaseTimes_ = qEnvironmentVariableIsSet("REINDEX_PHASE_TIMES");
    // For measuring too: every stretch between two pumps of at least so many
    // milliseconds, where the run would keep a window from its events.
    gapLimitNs_ = qint64(qEnvironmentVariableIntValue("REINDEX_PUMP_GAPS")) * 1000000;
    sinceStart_.start();
}

ConsoleHost::~ConsoleHost()
{
    clearProgress();
}

void ConsoleHost::setOperationMaximum(int maximum)
{
    // A new maximum starts a phase: show it at once.
    operationMaximum_ = maximum;
    redraw(true);
}

void ConsoleHost::setOperationPosition(int position)
{
    operationPosition_ = position;
}

void ConsoleHost::stepOperation()
{
    if (operationPosition_ < operationMaximum_)
        ++operationPosition_;
}

void ConsoleHost::setOverallPosition(int position)
{
    overallPosition_ = position;
}

void ConsoleHost::stepOverall()
{
    if (overallPosition_ < 5)
        ++overallPosition_;
    if (phaseTimes_)
        console::write(console::Stream::Err,
                       QString::asprintf("phase %d done at %.3f s%s\n", overallPosition_,
                                         double(sinceStart_.nsecsElapsed()) / 1e9, peakMemory().constData()));
}

void ConsoleHost::showMessage(const QString &text, const QString &, run::MessageIcon icon)
{
    if (icon == run::MessageIcon::Information) {
        clearProgress();
        console::writeLine(console::Stream::Out, text);
        console::flush(console::Stream::Out);
    } else {
        printError(text);
    }
}

void ConsoleHost::printError(const QString &text)
{
    clearProgress();
    console::flush(console::Stream::Out);
    console::writeLine(console::Stream::Err, text);
    console::flush(console::Stream::Err);
}

void ConsoleHost::pump()
{
    if (gapLimitNs_ > 0)
        noteGap();
    // Reading the clock on every row would cost more than the row itself.
    if (!showProgress_ || ++pumpsSinceCheck_ < 256)
        return;
    pumpsSinceCheck_ = 0;
    redraw(false);
}

void ConsoleHost::noteGap()
{
    const qint64 now = sinceStart_.nsecsElapsed();
    if (now - lastPumpNs_ >= gapLimitNs_)
        console::write(console::Stream::Err,
                       QString::asprintf("gap %.1f ms before %.3f s, phase %d at %d of %d\n",
                                         double(now - lastPumpNs_) / 1e6, double(now) / 1e9, overallPosition_ + 1,
                                         operationPosition_, operationMaximum_));
    lastPumpNs_ = now;
}

void ConsoleHost::redraw(bool force)
{
    if (!showProgress_)
        return;
    if (!force && sinceRedraw_.isValid() && sinceRedraw_.elapsed() < 100)
        return;
    sinceRedraw_.start();
    static const char16_t *const phases[] = {u"Разделы", u"Форумы", u"Перенумерация", u"Выгрузка форумов",
                                             u"Копирование", u"Готово"};
    const int phase = qBound(0, overallPosition_, 5);
    const int percent = operationMaximum_ > 0 ? int(qint64(operationPosition_) * 100 / operationMaximum_) : 0;
    const QString line = QStringLiteral("%1/5 %2: %3 из %4 (%5%)")
                             .arg(QString::number(phase + 1 > 5 ? 5 : phase + 1), QString::fromUtf16(phases[phase]),
                                  QString::number(operationPosition_), QString::number(operationMaximum_),
                                  QString::number(percent));
    console::showProgress(console::Stream::Err, line);
    progressShown_ = true;
}

void ConsoleHost::clearProgress()
{
    if (!progressShown_)
        return;
    console::clearProgress(console::Stream::Err);
    progressShown_ = false;
}
