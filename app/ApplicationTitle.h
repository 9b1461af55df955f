#pragma once

#include <QString>

// The title that captions the error report: the program file's name without
// its folder, cut at its first ".", its first character upper case and the
// rest lower case ("MyTool.Setup.exe" gives "Mytool", "reindex" "Reindex").
QString applicationTitle(const QString &programPath);

// The title of the running program, worked out once at start-up.
const QString &applicationTitle();
