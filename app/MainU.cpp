#include "MainU.h"

#include "Application.h"
#include "CoarseClock.h"
#include "MainRules.h"
#include "MessageBoxes.h"
#include "ProgramIcon.h"

#include <FilenameEdit.h>
#include <GlyphButton.h>
#include <Pictures.h>
#include <run/ReindexRun.h>
#include <run/SystemName.h>

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QFontMetrics>
#include <QFrame>
#include <QLabel>
#include <QProgressBar>
#include <QScreen>

#include <algorithm>

namespace {

// The text height the layout below was drawn for (Tahoma, 8 points, 96 dpi).
constexpr int layoutTextHeight = 13;
constexpr QSize layoutClientSize(393, 217);
constexpr int overallSteps = 5;

// Events are let in at least this often during a run, and after every change
// of phase or of a bar's range; between those the pump returns at once.
// Twenty times a second is more than a bar or a click needs to look live,
// and each letting-in costs the run about a millisecond.
constexpr qint64 pumpIntervalMs = 50;

QMessageBox::Icon boxIcon(run::MessageIcon icon)
{
    switch (icon) {
    case run::MessageIcon::Warning:
        return QMessageBox::Warning;
    case run::MessageIcon::Information:
        return QMessageBox::Information;
    case run::MessageIcon::Error:
        break;
    }
    return QMessageBox::Critical;
}

} // namespace

TfMain::TfMain(QString programDirectory, QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                          | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      programDirectory_(std::move(programDirectory))
{
    setObjectName(QStringLiteral("fMain"));
    createControls();
    FormCreate();
}

TfMain::~TfMain()
{
    setBusyCursor(false);
}

QString TfMain::defaultProgramDirectory()
{
    return run::programFolder().value_or(QString());
}

void TfMain::createControls()
{
    setWindowTitle(QStringLiteral(u"Переиндексация БД"));
    const QIcon icon = programIcon();
    if (!icon.isNull())
        setWindowIcon(icon);

    const QScreen *screen = QGuiApplication::primaryScreen();
    const QFont font = WindowFont::create(screen ? screen->logicalDotsPerInchY() : 96.0);
    setFont(font);
    const TextCellMetrics cell(font);
    // Labels put their text where the layout's font has its baseline, even when
    // this font's own ascent is shorter.
    const int labelTopMargin = std::max(0, cell.ascent() - QFontMetrics(font).ascent());

    auto place = [this](QWidget *control, const char *name, const QRect &geometry) {
        control->setObjectName(QLatin1String(name));
        control->setGeometry(geometry);
        controls_.push_back(control);
    };
    auto panel = [&](QFrame *&frame, const char *name, const QRect &geometry) {
        frame = new QFrame(this);
        // Inner and outer bevel both lowered: a sunken panel two lines deep.
        frame->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        frame->setLineWidth(2);
        place(frame, name, geometry);
    };
    auto label = [&](QLabel *&text, QWidget *parent, const char *name, const QRect &geometry, const QString &caption) {
        text = new QLabel(caption, parent);
        text->setTextFormat(Qt::PlainText);
        text->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        text->setContentsMargins(0, labelTopMargin, 0, 0);
        place(text, name, geometry);
    };
    auto fileField = [&](FilenameEdit *&field, const char *name, const QRect &geometry, const QString &filter) {
        field = new FilenameEdit(Panel1);
        field->setFilter(filter);
        place(field, name, geometry);
    };
    auto bar = [&](QProgressBar *&progress, const char *name, const QRect &geometry, int maximum) {
        progress = new QProgressBar(Panel2);
        progress->setTextVisible(false);
        progress->setFocusPolicy(Qt::NoFocus);
        place(progress, name, geometry);
        return std::make_unique<ProgressFeed>(progress, maximum);
    };

    panel(Panel1, "Panel1", QRect(8, 8, 377, 81));
    label(Label1, Panel1, "Label1", QRect(16, 19, 69, 13), QStringLiteral(u"Файл fr_fr.txt"));
    label(Label2, Panel1, "Label2", QRect(16, 46, 75, 13), QStringLiteral(u"Файл forum.txt"));
    fileField(sFilenameEdit1, "sFilenameEdit1", QRect(104, 16, 257, 21),
              QStringLiteral(u"Файл таблицы разделов|fr_fr.txt"));
    fileField(sFilenameEdit2, "sFilenameEdit2", QRect(104, 43, 257, 21), QStringLiteral(u"Файл таблицы тем|forum.txt"));

    panel(Panel2, "Panel2", QRect(8, 95, 377, 81));
    label(Label3, Panel2, "Label3", QRect(16, 19, 96, 13), QStringLiteral(u"Текущая операция"));
    label(Label4, Panel2, "Label4", QRect(16, 46, 83, 13), QStringLiteral(u"Общий прогресс"));
    operationBar_ = bar(ProgressBar1, "ProgressBar1", QRect(118, 16, 243, 17), 100);
    overallBar_ = bar(ProgressBar2, "ProgressBar2", QRect(118, 43, 243, 17), overallSteps);

    // A glyph button is no default button: Enter in a field starts no run.
    sBitBtn1 = new GlyphButton(QStringLiteral(u"Начать обработку"), this);
    sBitBtn1->setGlyph(Pictures::startGlyph());
    place(sBitBtn1, "sBitBtn1", QRect(8, 182, 377, 25));
    connect(sBitBtn1, &GlyphButton::clicked, this, [this] { sBitBtn1Click(); });

    setTabOrder(sFilenameEdit1, sFilenameEdit2);
    setTabOrder(sFilenameEdit2, sBitBtn1);

    setFixedSize(layoutClientSize);
    if (cell.height() != layoutTextHeight)
        changeScale(ScaleRatio(cell.height(), layoutTextHeight));
    else
        fitLabels();
}

void TfMain::changeScale(const ScaleRatio &ratio)
{
    for (QWidget *control : controls_)
        control->setGeometry(ratio.scaled(control->geometry()));
    setFixedSize(ratio.scaled(size()));
    fitLabels();
}

// A label is as wide and as high as its text in the font it is drawn in, as
// the layout's labels were in its designer's font: a wider font, or a
// rasterizer that draws a little wider, would otherwise cut a letter off.
void TfMain::fitLabels()
{
    for (QLabel *label : {Label1, Label2, Label3, Label4})
        label->resize(label->sizeHint());
}

void TfMain::FormCreate()
{
    try {
        // No folder: its name did not decode, so the database beside the
        // program cannot be named, and a bare name would take the current
        // folder's instead.
        if (!programDirectory_.isEmpty())
            tables_.emplace(programDirectory_);
    } catch (...) {
    }
    if (!tables_) {
        // Whatever went wrong, the program cannot work without its database.
        showMessageBox(QStringLiteral(u"Ошибка соединения с базой данных!"), QStringLiteral(u"Внимание!"),
                       QMessageBox::Critical);
        requestQuit();
    }
}

void TfMain::requestQuit()
{
    if (quitRequested_)
        return;
    quitRequested_ = true;
    // Taken by the event loop once it runs (or at its next turn), after which
    // the loop ends; posting it keeps a request made before the loop starts.
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [] { QCoreApplication::quit(); }, Qt::QueuedConnection);
}

void TfMain::setVisible(bool visible)
{
    if (visible && !centred_) {
        centred_ = true;
        // Where the platform reports the frame before the first showing, the
        // native window must exist for it to be counted in.
        winId();
        const QScreen *where = screen() ? screen() : QGuiApplication::primaryScreen();
        if (where)
            move(centredPosition(where->virtualGeometry(), frameGeometry().size()));
    }
    QWidget::setVisible(visible);
}

void TfMain::closeEvent(QCloseEvent *event)
{
    if (running_) {
        // A run is never cut short: it goes on to its final message, and the
        // program ends when it has returned. The window stays as it is.
        closePending_ = true;
        event->ignore();
        return;
    }
    event->accept();
}

void TfMain::sBitBtn1Click()
{
    if (running_)
        return;
    running_ = true;
    lastEventsMs_ = coarseMilliseconds();
    eventsDue_ = false;
    bool failed = true;
    try {
        run::ReindexRun(*this, *tables_).run();
        failed = false;
    } catch (const std::exception &failure) {
        flushBars();
        setBusyCursor(false);
        ErrorReport::show(failure);
    } catch (...) {
        flushBars();
        setBusyCursor(false);
        ErrorReport::showUnknown();
    }
    // A failed run would otherwise leave the button dead and the hourglass up
    // until the program is started again; the bars keep what they showed.
    if (failed)
        setStartEnabled(true);
    setBusyCursor(false);
    flushBars();
    running_ = false;
    if (closePending_) {
        closePending_ = false;
        requestQuit();
    }
}

QString TfMain::sectionsFileName()
{
    return sFilenameEdit1->FileName();
}

QString TfMain::forumsFileName()
{
    return sFilenameEdit2->FileName();
}

void TfMain::setStartEnabled(bool enabled)
{
    // A button switched off hands the keyboard to the window itself, not to
    // the next field, whose text would otherwise end up selected for the run;
    // switched on again it does not take the focus back.
    if (!enabled && focusWidget() == sBitBtn1)
        setFocus(Qt::OtherFocusReason);
    sBitBtn1->setEnabled(enabled);
}

void TfMain::setOperationMaximum(int maximum)
{
    operationBar_->setMaximum(maximum);
    eventsDue_ = true;
}

void TfMain::setOperationPosition(int position)
{
    operationBar_->setPosition(position);
    eventsDue_ = true;
}

void TfMain::stepOperation()
{
    operationBar_->step();
}

void TfMain::setOverallPosition(int position)
{
    overallBar_->setPosition(position);
    eventsDue_ = true;
}

void TfMain::stepOverall()
{
    overallBar_->step();
    eventsDue_ = true;
}

void TfMain::showMessage(const QString &text, const QString &caption, run::MessageIcon icon)
{
    flushBars();
    showMessageBox(text, caption, boxIcon(icon));
}

void TfMain::pump()
{
    // Called once per row: most calls only read the clock.
    if (!eventsDue_ && coarseMilliseconds() - lastEventsMs_ < pumpIntervalMs)
        return;
    eventsDue_ = false;
    flushBars();
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    lastEventsMs_ = coarseMilliseconds();
}

void TfMain::pumpBeforeLongStep()
{
    eventsDue_ = true;
    pump();
}

void TfMain::setBusyCursor(bool busy)
{
    if (busy == busy_)
        return;
    busy_ = busy;
    if (busy)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QApplication::restoreOverrideCursor();
}

QString TfMain::programDirectory()
{
    return programDirectory_;
}

void TfMain::flushBars()
{
    operationBar_->flush();
    overallBar_->flush();
}
