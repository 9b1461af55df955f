#pragma once

#include "FileSystem.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <cstring>

namespace run {

// An intermediate file as the run produces it, line by line: EF BB BF, then
// every line's UTF-8 followed by CR LF. The bytes go to the file through a
// buffer of a fixed size, so a list of any length costs no more memory.
class LineWriter
{
public:
    // Writes into a file the run has just made for it.
    explicit LineWriter(fs::Handle file);

    // The parts of one line, then its CR LF. A short write is the write failure.
    template <typename... Parts>
    void line(const Parts &...parts)
    {
        (append(parts), ...);
        append(QByteArrayView("\r\n", 2));
    }
    void append(QByteArrayView bytes)
    {
        if (used_ + bytes.size() > buffer_.size())
            flush(bytes);
        else {
            std::memcpy(buffer_.data() + used_, bytes.data(), std::size_t(bytes.size()));
            used_ += bytes.size();
        }
    }
    // A whole number in decimal, without leading zeros.
    void append(qint64 number);

    // Writes what is left and closes the file.
    void close();

private:
    void flush(QByteArrayView more);
    void write(QByteArrayView bytes);

    fs::Handle file_;
    QByteArray buffer_;
    qsizetype used_ = 0;
};

} // namespace run
