#pragma once

#include <run/RunHost.h>

#include <QElapsedTimer>
#include <QString>


// The run's host on a console: the two file names come from the command line,
// messages go to stdout (information) or stderr (everything else), and on a
// terminal a progress line on stderr stands in for the two bars.
class ConsoleHost : public run::RunHost
{
public:
    ConsoleHost(QString sections, QString forums, QString programDirectory, bool showProgress);
    ~ConsoleHost() override;

    QString sectionsFileName() override { return sections_; }
    QString forumsFileName() override { return forums_; }
    void setStartEnabled(bool) override {}
    void setOperationMaximum(int maximum) override;
    void setOperationPosition(int position) override;
    void stepOperation() override;
    void setOverallPosition(int position) override;
    void stepOverall() override;
    void showMessage(const QString &text, const QString &caption, run::MessageIcon icon) override;
    void pump() override;
    void setBusyCursor(bool) override {}
    QString programDirectory() override { return programDirectory_; }

    // Writes a line to stderr, first clearing any progress line.
    void printError(const QString &text);

private:
    void redraw(bool force);
    void clearProgress();
    void noteGap();

    QString sections_;
    QString forums_;
    QString programDirectory_;
    bool showProgress_;
    bool progressShown_ = false;
    int operationMaximum_ = 100;
    int operationPosition_ = 0;
    int overallPosition_ = 0;
    unsigned pumpsSinceCheck_ = 0;
    QElapsedTimer sinceRedraw_;
    QElapsedTimer sinceStart_;
    bool phaseTimes_ = false;
    qint64 gapLimitNs_ = 0;
    qint64 lastPumpNs_ = 0;
};
