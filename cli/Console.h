#pragma once

#include <QString>
#include <QStringView>

// The twin's two output streams, as text. Where they go decides how a text
// is written: a terminal or console gets it in its own way (Russian
// readable whatever the console's code page), a pipe or a file gets UTF-8
// bytes with "\n" line ends on every system, so that a script reads the
// same bytes from the Linux and the Windows twin.
// The one place where the systems differ (ConsolePosix.cpp, ConsoleWindows.cpp).
namespace console {

enum class Stream { Out, Err };

void write(Stream stream, QStringView text);
void writeLine(Stream stream, QStringView text);
// Hands on what the stream holds back (a buffered stdout); false when the
// stream did not take all that was written to it, so far, with the system's
// reason in `failure` when it has one.
bool flush(Stream stream, QString *failure = nullptr);
// A person watches it: a terminal, or a console window.
bool isTerminal(Stream stream);

// The progress line of a terminal: `text` in place of the previous one, on
// the line the cursor is on; clearProgress() leaves that line empty with
// the cursor at its start.
void showProgress(Stream stream, QStringView text);
void clearProgress(Stream stream);

} // namespace console
