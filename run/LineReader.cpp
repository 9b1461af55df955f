#include "LineReader.h"

#include "CodePage.h"
#include "FileSystem.h"
#include "LineFile.h"
#include "RunError.h"
#include "Utf8Check.h"

#include <QtEndian>

#include <bit>
#include <cstdint>
#include <cstring>

namespace run {

namespace {

// The high bit of every byte below 0E (CR, LF, and the other control
// characters of the lowest few), and perhaps of bytes after such a one, never
// before it: only such a byte borrows when 0E is taken from every byte.
inline std::uint64_t belowCarriageReturn(std::uint64_t word)
{
    return (word - 0x0E0E0E0E0E0E0E0Eull) & ~word & 0x8080808080808080ull;
}

} // namespace

LineReader::LineReader(const QString &path, const CodePage *codePage, qsizetype bufferSize)
    : path_(path), codePage_(codePage), buffer_(qMax<qsizetype>(bufferSize, 4), Qt::Uninitialized)
{
    open();
}

void LineReader::open()
{
    QString reason;
    if (!fs::openList(file_, path_, &reason))
        throw RunError(LineFile::openFailure(path_, reason));
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

bool LineReader::nextRaw(QByteArrayView &line)
{
    if (!split(line))
        return false;
    ++lineNumber_;
    return true;
}

bool LineReader::split(QByteArrayView &line)
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
            // Lines are long and breaks few: eight bytes at a time up to the
            // first that could be one.
            if (i + 8 <= to_) {
                const std::uint64_t mask = belowCarriageReturn(qFromLittleEndian<quint64>(s + i));
                if (!mask) {
                    i += 7;
                    continue;
                }
                i += std::countr_zero(mask) >> 3;
            }
            const char c = s[i];
            if (c == '\n' || c == '\r')
                break;
        }
        if (i < to_) {
            const char c = s[i];
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

bool LineReader::next(QByteArrayView &line)
{
    if (!nextRaw(line))
        return false;
    if (const qsizetype bad = firstRefused(line); bad >= 0)
        throw RunError(refusal(line[bad]));
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

qsizetype LineReader::firstRefused(QByteArrayView raw) const
{
    if (!codePage_)
        return firstNulOrIllFormedUtf8(raw);
    // A NUL is a character of every code page, but no list holds one.
    const qsizetype undefined = codePage_->firstUndefined(raw);
    const qsizetype nul = raw.first(undefined < 0 ? raw.size() : undefined).indexOf('\0');
    return nul >= 0 ? nul : undefined;
}

QString LineReader::refusal(char byte) const
{
    if (byte == '\0')
        return LineFile::nulFailure(path_, lineNumber_);
    return codePage_ ? LineFile::notDecodableFailure(path_, lineNumber_, codePage_->name())
                     : LineFile::notUtf8Failure(path_, lineNumber_);
}

qsizetype LineReader::check(const std::function<void()> &tick)
{
    QByteArrayView line;
    while (nextRaw(line)) {
        if (tick && lineNumber_ % 65536 == 0)
            tick();
        if (const qsizetype bad = firstRefused(line); bad >= 0)
            throw RunError(refusal(line[bad]));
    }
    const qsizetype lines = lineNumber_;
    rewind();
    return lines;
}

} // namespace run
