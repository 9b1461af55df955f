#include "Console.h"

#include <QByteArray>

#include <algorithm>

#include <windows.h>

namespace console {

namespace {

// The first write each stream did not take, as the system's error code.
DWORD failed[2] = {0, 0};

HANDLE handleOf(Stream stream)
{
    return GetStdHandle(stream == Stream::Out ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
}

bool isConsole(HANDLE h)
{
    DWORD mode = 0;
    return h && h != INVALID_HANDLE_VALUE && GetConsoleMode(h, &mode);
}

// A console takes UTF-16 whatever its code page; it is written in pieces
// its buffer takes whole.
void toConsole(Stream stream, HANDLE h, QStringView text)
{
    constexpr qsizetype piece = 8192;
    qsizetype from = 0;
    while (from < text.size()) {
        qsizetype n = std::min(piece, text.size() - from);
        // A surrogate pair stays in one piece.
        if (n == piece && text.at(from + n - 1).isHighSurrogate())
            --n;
        DWORD written = 0;
        if (!WriteConsoleW(h, text.utf16() + from, DWORD(n), &written, nullptr)) {
            if (!failed[int(stream)])
                failed[int(stream)] = GetLastError();
            return;
        }
        from += n;
    }
}

void toFile(Stream stream, HANDLE h, const QByteArray &bytes)
{
    const char *p = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        DWORD written = 0;
        if (!WriteFile(h, p, DWORD(std::min<qsizetype>(left, 1 << 30)), &written, nullptr) || written == 0) {
            // A closed pipe, or a full disk: the caller asks flush() which.
            if (!failed[int(stream)])
                failed[int(stream)] = written == 0 && GetLastError() == 0 ? ERROR_HANDLE_DISK_FULL : GetLastError();
            return;
        }
        p += written;
        left -= written;
    }
}

} // namespace

// Every write goes straight to the system, so nothing waits in a buffer and
// the two streams keep their order; the C library's text mode, which would
// turn "\n" into CR LF, is never involved.
void write(Stream stream, QStringView text)
{
    const HANDLE h = handleOf(stream);
    if (!h || h == INVALID_HANDLE_VALUE)
        return;
    if (isConsole(h))
        toConsole(stream, h, text);
    else
        toFile(stream, h, text.toUtf8());
}

void writeLine(Stream stream, QStringView text)
{
    QString line = text.toString();
    line += u'\n';
    write(stream, line);
}

bool flush(Stream stream, QString *failure)
{
    // Nothing is held back; what the system refused is told here.
    const DWORD code = failed[int(stream)];
    if (code == 0)
        return true;
    if (failure)
        *failure = qt_error_string(int(code));
    return false;
}

bool isTerminal(Stream stream)
{
    return isConsole(handleOf(stream));
}

// The console's own calls place the line: no escape sequence reaches a
// console that might show it as text.
void showProgress(Stream stream, QStringView text)
{
    const HANDLE h = handleOf(stream);
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!isConsole(h) || !GetConsoleScreenBufferInfo(h, &info))
        return;
    const SHORT width = info.dwSize.X;
    const COORD start = {0, info.dwCursorPosition.Y};
    SetConsoleCursorPosition(h, start);
    // One row, never wrapped onto the next.
    toConsole(stream, h, text.first(std::min<qsizetype>(text.size(), std::max(0, width - 1))));
    if (!GetConsoleScreenBufferInfo(h, &info))
        return;
    DWORD filled = 0;
    if (info.dwCursorPosition.X < width)
        FillConsoleOutputCharacterW(h, L' ', DWORD(width - info.dwCursorPosition.X), info.dwCursorPosition, &filled);
}

void clearProgress(Stream stream)
{
    const HANDLE h = handleOf(stream);
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!isConsole(h) || !GetConsoleScreenBufferInfo(h, &info))
        return;
    const COORD start = {0, info.dwCursorPosition.Y};
    DWORD filled = 0;
    FillConsoleOutputCharacterW(h, L' ', DWORD(info.dwSize.X), start, &filled);
    SetConsoleCursorPosition(h, start);
}

} // namespace console
