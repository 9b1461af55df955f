#pragma once

#include <QMessageBox>
#include <QString>

#include <exception>

// Every box the program shows: the run's and the window's messages, the
// report of a failure that escaped an event handler, and the box of a failure
// while the window is being made, after which the program ends.

// A box with one OK button, modal to all of the program's windows; returns
// when it is dismissed. It belongs to the active window, if there is one.
void showMessageBox(const QString &text, const QString &caption, QMessageBox::Icon icon);

// Makes and drops a box nobody sees, so that the toolkit's work for a box's
// first showing (its pictures looked up and decoded, its button's made) is
// done while the program waits for its user, not between the end of a run
// and the box that reports it. Harmless at any time.
void prepareMessageBoxes();

// The application error report: a failure that escaped an event handler,
// shown in an error box captioned with the application title.
class ErrorReport
{
public:
    // The failure's message, or that of the innermost cause nested in it when
    // that one is not empty, with the report's full-stop rule applied.
    static QString text(const std::exception &failure);

    static void show(const std::exception &failure);
    // For a failure that is no std::exception at all.
    static void showUnknown();
};

// The text of the box shown when the main window cannot be created:
// "Exception <kind> in module <program> at <address>." CR LF, the message with a
// full stop unless it already ends in one, CR LF.
QString applicationErrorText(const QString &kind, const QString &module, quintptr address, const QString &message);

// The unqualified class name of a failure, as the box above names its kind.
QString failureKindName(const std::exception &failure);

// The box above, captioned "Application Error", for a failure raised at
// `address`; task-modal, since there is no window to belong to.
void showApplicationError(const std::exception &failure, quintptr address);
