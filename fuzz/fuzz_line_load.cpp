// Bytes of a list file in, read through a buffer whose size the input
// chooses: either lines that give back exactly those bytes, or the refusal
// of a NUL or of ill-formed UTF-8 naming the line of the first such byte.
#include "FuzzCheck.h"

#include <run/LineFile.h>
#include <run/LineReader.h>
#include <run/RunError.h>
#include <run/Utf8Check.h>

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <cstdint>
#include <unistd.h>

namespace {

// The load reads a real file; in shared memory that costs next to nothing.
class ScratchFile
{
public:
    ScratchFile()
    {
        const QString dir = QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm") : QDir::tempPath();
        path_ = QStringLiteral("%1/reindex-fuzz-load-%2.txt").arg(dir).arg(::getpid());
    }
    ~ScratchFile() { QFile::remove(path_); }
    ScratchFile(const ScratchFile &) = delete;
    ScratchFile &operator=(const ScratchFile &) = delete;

    const QString &path() const { return path_; }
    void write(QByteArrayView bytes) const
    {
        QFile f(path_);
        FUZZ_CHECK(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        FUZZ_CHECK(f.write(bytes.data(), bytes.size()) == bytes.size());
    }

private:
    QString path_;
};

// Well-formedness by the scalar value each sequence encodes (the Unicode
// Standard's definition), as opposed to the byte ranges the loader checks;
// a NUL is refused as well.
qsizetype firstRefusedByValue(QByteArrayView text)
{
    const auto *s = reinterpret_cast<const unsigned char *>(text.data());
    const qsizetype n = text.size();
    qsizetype i = 0;
    while (i < n) {
        const unsigned c = s[i];
        int length;
        char32_t value;
        char32_t smallest;
        if (c == 0) {
            return i;
        } else if (c < 0x80) {
            ++i;
            continue;
        } else if ((c & 0xE0) == 0xC0) {
            length = 2, value = c & 0x1F, smallest = 0x80;
        } else if ((c & 0xF0) == 0xE0) {
            length = 3, value = c & 0x0F, smallest = 0x800;
        } else if ((c & 0xF8) == 0xF0) {
            length = 4, value = c & 0x07, smallest = 0x10000;
        } else {
            return i;
        }
        if (i + length > n) {
            // Cut short, unless a byte before the end already rules it out:
            // either way the sequence starting here is the first bad one.
            return i;
        }
        for (int k = 1; k < length; ++k) {
            if ((s[i + k] & 0xC0) != 0x80)
                return i;
            value = (value << 6) | (s[i + k] & 0x3F);
        }
        if (value < smallest || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
            return i;
        i += length;
    }
    return -1;
}

// Lines before a byte offset, by the line rule: CR LF, CR and LF each end one.
qsizetype lineOf(QByteArrayView text, qsizetype offset)
{
    qsizetype breaks = 0;
    for (qsizetype i = 0; i < offset; ++i) {
        if (text[i] == '\n' || (text[i] == '\r' && !(i + 1 < offset && text[i + 1] == '\n')))
            ++breaks;
    }
    return breaks + 1;
}

qsizetype linesInFile(QByteArrayView text)
{
    return lineOf(text, text.size());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    static const ScratchFile file;
    if (size == 0)
        return 0;
    // The first byte sets the buffer, so that breaks, signatures and
    // sequences fall across the ends of reads.
    const qsizetype bufferSize = 4 + data[0] % 29;
    const QByteArrayView bytes(reinterpret_cast<const char *>(data) + 1, qsizetype(size - 1));
    file.write(bytes);

    QByteArrayView text = bytes;
    if (text.startsWith("\xEF\xBB\xBF"))
        text = text.sliced(3);
    const qsizetype bad = firstRefusedByValue(text);
    FUZZ_CHECK(run::firstNulOrIllFormedUtf8(text) == bad);

    run::LineReader reader(file.path(), nullptr, bufferSize);
    qsizetype counted = 0;
    try {
        counted = reader.check();
    } catch (const run::RunError &e) {
        FUZZ_CHECK_MSG(bad >= 0, e.message());
        static const QRegularExpression lineNumber(QStringLiteral(u" в строке (\\d+)$"));
        const QRegularExpressionMatch m = lineNumber.match(e.message());
        FUZZ_CHECK_MSG(m.hasMatch(), e.message());
        const qsizetype named = m.captured(1).toLongLong();
        FUZZ_CHECK_MSG(named >= 1 && named <= linesInFile(text), e.message());
        FUZZ_CHECK_MSG(named == lineOf(text, bad), e.message());
        FUZZ_CHECK_MSG(e.message()
                           == (text[bad] == '\0' ? run::LineFile::nulFailure(file.path(), named)
                                                 : run::LineFile::notUtf8Failure(file.path(), named)),
                       e.message());
        return 0;
    }
    FUZZ_CHECK(bad < 0);

    // The lines joined by the breaks that stand between them in the file are
    // the whole file.
    qsizetype at = 0;
    const qsizetype n = text.size();
    qsizetype count = 0;
    QByteArrayView line;
    while (reader.next(line)) {
        FUZZ_CHECK(at < n);
        ++count;
        FUZZ_CHECK(reader.lineNumber() == count);
        FUZZ_CHECK(!line.contains('\r') && !line.contains('\n'));
        FUZZ_CHECK(text.sliced(at).startsWith(line));
        at += line.size();
        if (at == n)
            continue;
        FUZZ_CHECK(text[at] == '\r' || text[at] == '\n');
        if (text[at] == '\r')
            ++at;
        if (at < n && text[at] == '\n')
            ++at;
    }
    FUZZ_CHECK(at == n);
    FUZZ_CHECK(count == counted);
    return 0;
}
