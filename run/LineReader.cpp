#include "LineReader.h"

#include "CodePage.h"
#include "FileSystem.h"
#include "LineFile.h"
#include "RunError.h"
#include "Utf8Check.h"

#include <QFileInfo>

#include <cstring>

namespace run {

LineReader::LineReader(const QString &path, const CodePage *codePage, qsizetype bufferSize)
    : path_(path), codePage_(codePage), file_(path), buffer_(qMax<qsizetype>(bufferSize, 4), Qt::Uninitialized)
{
    if (!file_.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        throw RunError(LineFile::openFailure(path, file_.errorString()));
    if (QFileInfo(file_).isDir())
        throw RunError(LineFile::openFailure(path, fs::isFolderText()));
}

void LineReader::rewind()
{
    if (!file_.seek(0))
        throw RunError(LineFile::readFailure());
    from_ = to_ = 0;
    atEnd_ = skipLf_ = stopped_ = started_ = false;
    lineNumber_ = 0;
}

qint64 LineReader::readMore()
{
    if (to_ == buffer_.size())
        buffer_.resize(buffer_.size() * 2); // one line fills the whole buffer
    const qint64 got = file_.read(buffer_.data() + to_, buffer_.size() - to_);
    if (got < 0)
        throw RunError(LineFile::readFailure());
    if (got == 0)
        atEnd_ = true;
    to_ += got;
    return got;
}

// Keeps the unread bytes, moved to the front, and reads more after them;
// false when nothing more came.
bool LineReader::fill()
{
    if (atEnd_)
        return false;
    const qsizetype kept = to_ - from_;
    if (from_ > 0 && kept > 0)
        std::memmove(buffer_.data(), buffer_.constData() + from_, std::size_t(kept));
    from_ = 0;
    to_ = kept;
    if (readMore() == 0)
        return false;
    if (!started_) {
        started_ = true;
        while (to_ < 3 && readMore() > 0) {
        }
        if (!codePage_ && to_ >= 3 && std::memcmp(buffer_.constData(), "\xEF\xBB\xBF", 3) == 0)
            from_ = 3;
    }
    return true;
}

bool LineReader::nextRaw(QByteArrayView &line, bool nulEnds)
{
    if (!split(line, nulEnds))
        return false;
    ++lineNumber_;
    return true;
}

bool LineReader::split(QByteArrayView &line, bool nulEnds)
{
    if (stopped_)
        return false;
    qsizetype scanned = 0; // bytes of the line already known to hold no break
    for (;;) {
        if (skipLf_ && from_ < to_) {
            skipLf_ = false;
            if (buffer_[from_] == '\n') {
                ++from_;
                continue;
            }
        }
        const char *s = buffer_.constData();
        qsizetype i = from_ + scanned;
        for (; i < to_; ++i) {
            const char c = s[i];
            if (uchar(c) <= '\r' && (c == '\n' || c == '\r' || (c == '\0' && nulEnds)))
                break;
        }
        if (i < to_) {
            const char c = s[i];
            if (c == '\0') {
                stopped_ = true;
                if (i == from_)
                    return false;
                line = QByteArrayView(s + from_, i - from_);
                from_ = i;
                return true;
            }
            line = QByteArrayView(s + from_, i - from_);
            from_ = i + 1;
            if (c == '\r') {
                if (from_ < to_) {
                    if (s[from_] == '\n')
                        ++from_;
                } else {
                    skipLf_ = true;
                }
            }
            return true;
        }
        scanned = to_ - from_;
        if (!fill()) {
            if (from_ == to_) {
                stopped_ = true;
                return false;
            }
            line = QByteArrayView(buffer_.constData() + from_, to_ - from_);
            from_ = to_;
            stopped_ = true;
            return true;
        }
    }
}

bool LineReader::next(QByteArrayView &line, bool nulEnds)
{
    if (!nextRaw(line, nulEnds))
        return false;
    line = decoded(line);
    return true;
}

QByteArrayView LineReader::decoded(QByteArrayView raw)
{
    if (!codePage_)
        return raw;
    decoded_.resize(0); // keeps its room for the next line
    codePage_->appendUtf8(raw, decoded_);
    return decoded_;
}

qsizetype LineReader::firstUndecodable(QByteArrayView raw) const
{
    return codePage_ ? codePage_->firstUndefined(raw) : firstIllFormedUtf8(raw);
}

qsizetype LineReader::check(const std::function<void()> &tick)
{
    qsizetype runLines = -1;
    QByteArrayView line;
    while (nextRaw(line, false)) {
        if (tick && lineNumber_ % 65536 == 0)
            tick();
        if (firstUndecodable(line) >= 0)
            throw RunError(codePage_ ? LineFile::notDecodableFailure(path_, lineNumber_, codePage_->name())
                                     : LineFile::notUtf8Failure(path_, lineNumber_));
        if (runLines < 0) {
            if (const void *nul = std::memchr(line.data(), 0, std::size_t(line.size())))
                runLines = lineNumber_ - (nul == line.data() ? 1 : 0);
        }
    }
    if (runLines < 0)
        runLines = lineNumber_;
    rewind();
    return runLines;
}

} // namespace run
