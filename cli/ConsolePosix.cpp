#include "Console.h"

#include <cerrno>
#include <cstdio>

#include <unistd.h>

namespace console {

namespace {

std::FILE *file(Stream stream)
{
    return stream == Stream::Out ? stdout : stderr;
}

void put(Stream stream, const QByteArray &bytes)
{
    std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), file(stream));
}

} // namespace

void write(Stream stream, QStringView text)
{
    put(stream, text.toLocal8Bit());
}

void writeLine(Stream stream, QStringView text)
{
    put(stream, text.toLocal8Bit() + '\n');
}

bool flush(Stream stream, QString *failure)
{
    std::FILE *f = file(stream);
    const bool flushed = std::fflush(f) == 0;
    const int error = errno;
    if (flushed && !std::ferror(f))
        return true;
    if (failure && !flushed)
        *failure = qt_error_string(error);
    return false;
}

bool isTerminal(Stream stream)
{
    return ::isatty(::fileno(file(stream))) != 0;
}

void showProgress(Stream stream, QStringView text)
{
    // Back to the line's start, the text, and the rest of the line erased.
    put(stream, "\r" + text.toLocal8Bit() + "\x1b[K");
    flush(stream);
}

void clearProgress(Stream stream)
{
    put(stream, "\r\x1b[K");
    flush(stream);
}

} // namespace console
