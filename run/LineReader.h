#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QFile>
#include <QString>

#include <functional>

namespace run {

class CodePage;

// The lines of a list file, read through a buffer of a fixed size: CR LF, a
// lone CR and a lone LF each end one line, and a break at the very end adds
// none. A line longer than the buffer grows it for as long as that line
// needs. In UTF-8 (no code page) a leading EF BB BF is skipped; with a code
// page every byte is that code page's and each line comes out as UTF-8.
class LineReader
{
public:
    static constexpr qsizetype defaultBufferSize = 1 << 20;

    // Opens the file; one that cannot be opened is the open failure, and so
    // is anything but a regular file (after links): a directory, a pipe that
    // would hold the run until someone writes to it and could not be read a
    // second time, a device.
    explicit LineReader(const QString &path, const CodePage *codePage = nullptr,
                        qsizetype bufferSize = defaultBufferSize);

    // The next line as UTF-8, valid until the next call, or false at the end.
    // Its bytes are judged again as they are read, by the rule of the
    // checking pass and with its failure: a file changed since that pass
    // cannot slip a line past it.
    bool next(QByteArrayView &line);
    // The line's bytes as they stand in the file, not judged, and the UTF-8
    // of such bytes (valid until the next call).
    bool nextRaw(QByteArrayView &line);
    QByteArrayView decoded(QByteArrayView raw);
    // The offset of the first of a line's bytes (as they stand in the file)
    // that a list may not hold: a NUL, or a byte that is not well-formed
    // UTF-8 (with a code page: that it leaves undefined); -1 when there is
    // none. The one rule of the checking pass and of next().
    qsizetype firstRefused(QByteArrayView raw) const;
    // 1-based number of the line last given.
    qsizetype lineNumber() const noexcept { return lineNumber_; }
    // Back to the first line.
    void rewind();

    // The checking pass of the run: reads the whole file and refuses it,
    // naming the line, when it holds a byte that firstRefused() finds.
    // Returns the number of lines, and leaves the reader at the first.
    // `tick`, when given, is called every so many lines, so that a long
    // list leaves room for the window.
    qsizetype check(const std::function<void()> &tick = {});

    const QString &path() const noexcept { return path_; }
    // Done with the file: it is let go at once.
    void close() { file_.close(); }

private:
    bool fill();
    qint64 readMore();
    bool split(QByteArrayView &line);
    void open();
    // The failure for a line whose first refused byte is `byte`, naming the
    // file and the line last given.
    QString refusal(char byte) const;

    QString path_;
    const CodePage *codePage_;
    QFile file_;
    QByteArray buffer_;
    qsizetype from_ = 0; // the unread bytes are [from_, to_)
    qsizetype to_ = 0;
    bool atEnd_ = false;
    bool skipLf_ = false; // a CR ended the buffer: an LF first in the next one belongs to it
    bool stopped_ = false;
    bool started_ = false;
    qsizetype lineNumber_ = 0;
    QByteArray decoded_;
};

} // namespace run
