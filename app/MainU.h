#pragma once

#include <db/Tables.h>
#include <run/RunHost.h>

#include <QString>
#include <QWidget>

#include <memory>
#include <optional>
#include <vector>

class QCloseEvent;
class QFrame;
class QLabel;
class QProgressBar;
class FilenameEdit;
class GlyphButton;
class ProgressFeed;
class ScaleRatio;

// The program's one window: the two input file names, a bar for the current
// operation and one for the whole run, and the start button. It owns the
// database from its creation to its end and is the run's host.
class TfMain : public QWidget, public run::RunHost
{
    Q_OBJECT

public:
    // `programDirectory` (with its trailing separator) holds Database.mdb and
    // receives the run's files; the program's own folder unless told otherwise.
    // An empty one names no folder: the window then fails to connect, as it
    // does without a database.
    explicit TfMain(QString programDirectory = defaultProgramDirectory(), QWidget *parent = nullptr);
    ~TfMain() override;

    // Empty when the folder's name does not decode.
    static QString defaultProgramDirectory();

    bool isRunning() const { return running_; }
    // The program has been asked to end: the connection failed at creation,
    // or the window was closed during a run that has since returned.
    bool isQuitRequested() const { return quitRequested_; }

    // Fits the client area and every control's position and size to a text
    // height other than the one the layout was drawn for.
    void changeScale(const ScaleRatio &ratio);

    // The first showing centres the window on the desktop.
    void setVisible(bool visible) override;

    // The start button's click: the reindexing run.
    void sBitBtn1Click();

    // run::RunHost
    QString sectionsFileName() override;
    QString forumsFileName() override;
    void setStartEnabled(bool enabled) override;
    void setOperationMaximum(int maximum) override;
    void setOperationPosition(int position) override;
    void stepOperation() override;
    void setOverallPosition(int position) override;
    void stepOverall() override;
    void showMessage(const QString &text, const QString &caption, run::MessageIcon icon) override;
    void pump() override;
    void pumpBeforeLongStep() override;
    void setBusyCursor(bool busy) override;
    QString programDirectory() override;

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void createControls();
    void FormCreate();
    void requestQuit();
    void flushBars();
    void fitLabels();

    QString programDirectory_;
    std::optional<db::Tables> tables_; // open from the window's creation on

    QFrame *Panel1 = nullptr;
    QLabel *Label1 = nullptr;
    QLabel *Label2 = nullptr;
    FilenameEdit *sFilenameEdit1 = nullptr;
    FilenameEdit *sFilenameEdit2 = nullptr;
    QFrame *Panel2 = nullptr;
    QLabel *Label3 = nullptr;
    QLabel *Label4 = nullptr;
    QProgressBar *ProgressBar1 = nullptr;
    QProgressBar *ProgressBar2 = nullptr;
    GlyphButton *sBitBtn1 = nullptr;
    // Every control above, in creation order, for scaling.
    std::vector<QWidget *> controls_;

    std::unique_ptr<ProgressFeed> operationBar_;
    std::unique_ptr<ProgressFeed> overallBar_;

    qint64 lastEventsMs_ = 0; // coarseMilliseconds() when the events were last let in
    bool eventsDue_ = false;
    bool running_ = false;
    bool closePending_ = false;
    bool quitRequested_ = false;
    bool busy_ = false;
    bool centred_ = false;
};
