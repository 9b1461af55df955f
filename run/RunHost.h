#pragma once

#include <QString>

namespace run {

enum class MessageIcon { Warning, Information, Error };

// Everything the run needs from the window that starts it. The window, the
// command-line twin and the tests each provide one.
class RunHost
{
public:
    virtual ~RunHost() = default;

    // The current text of each file-name field, read anew at every use.
    virtual QString sectionsFileName() = 0;
    virtual QString forumsFileName() = 0;

    virtual void setStartEnabled(bool enabled) = 0;

    // The operation bar (32-bit range) and the overall bar (maximum 5, set by the host).
    virtual void setOperationMaximum(int maximum) = 0;
    virtual void setOperationPosition(int position) = 0;
    virtual void stepOperation() = 0;
    virtual void setOverallPosition(int position) = 0;
    virtual void stepOverall() = 0;

    // Modal; returns when dismissed.
    virtual void showMessage(const QString &text, const QString &caption, MessageIcon icon) = 0;

    // Processes whatever is pending and returns; must be cheap when nothing is.
    virtual void pump() = 0;
    // Just before a step that holds the run for a while (a commit): a host
    // that lets its events in only now and then lets them in now, so that
    // its wait and the step's do not add up.
    virtual void pumpBeforeLongStep() { pump(); }

    // The busy cursor over all of the program's windows.
    virtual void setBusyCursor(bool busy) = 0;

    // The program's folder with its trailing separator.
    virtual QString programDirectory() = 0;
};

} // namespace run
