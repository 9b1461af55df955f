#pragma once

#include <QMessageBox>
#include <QString>

// A box with one OK button, modal to all of the program's windows; returns
// when it is dismissed. It belongs to the active window, if there is one.
void showMessageBox(const QString &text, const QString &caption, QMessageBox::Icon icon);
