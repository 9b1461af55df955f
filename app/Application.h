#pragma once

#include <QLocale>
#include <QString>

// What the program keeps for all of its windows, settled once at start-up.

// The title that captions the error report: the program file's name without
// its folder, cut at its first ".", its first character upper case and the
// rest lower case ("MyTool.Setup.exe" gives "Mytool", "reindex" "Reindex").
QString applicationTitle(const QString &programPath);

// The title of the running program, worked out once at start-up.
const QString &applicationTitle();

// What the program settles once its QApplication exists: the title and Qt's
// own texts in the system's language.
void prepareApplication();

// Qt's own texts, the open-file dialog's and the boxes' buttons, in the
// language of `locale` where Qt's translations have it, English otherwise;
// without them the program's Russian would sit beside Qt's English. Replaces
// what an earlier call installed. Returns whether a translation was found.
bool installToolkitTranslation(const QLocale &locale = QLocale::system());
