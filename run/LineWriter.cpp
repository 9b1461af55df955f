#include "LineWriter.h"

#include "LineFile.h"
#include "RunError.h"

#include <charconv>

namespace run {

namespace {

constexpr qsizetype bufferSize = 1 << 20;

} // namespace

LineWriter::LineWriter(fs::Handle file) : file_(std::move(file)), buffer_(bufferSize, Qt::Uninitialized)
{
    append(QByteArrayView("\xEF\xBB\xBF", 3));
}

void LineWriter::append(qint64 number)
{
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, number).ptr;
    append(QByteArrayView(digits, end - digits));
}

void LineWriter::write(QByteArrayView bytes)
{
    if (!bytes.isEmpty() && !file_.write(bytes))
        throw RunError(LineFile::writeFailure());
}

void LineWriter::flush(QByteArrayView more)
{
    write(QByteArrayView(buffer_.constData(), used_));
    used_ = 0;
    if (more.size() >= buffer_.size()) {
        write(more);
    } else {
        std::memcpy(buffer_.data(), more.data(), std::size_t(more.size()));
        used_ = more.size();
    }
}

void LineWriter::close()
{
    write(QByteArrayView(buffer_.constData(), used_));
    used_ = 0;
    file_.close();
}

} // namespace run
