// The field split of any line of bytes, as a section line (once) and as a forum line
// (twice): fields never hold a separator, and the fields put back together
// with the separators are the line.
#include "FuzzCheck.h"

#include <run/LineFile.h>

#include <cstdint>
#include <cstring>

namespace {

bool within(QByteArrayView part, QByteArrayView whole)
{
    return part.isEmpty()
        || (part.data() >= whole.data() && part.data() + part.size() <= whole.data() + whole.size());
}

void checkSplit(QByteArrayView line)
{
    const run::LineFile::Split s = run::LineFile::splitField(line);
    FUZZ_CHECK(within(s.field, line) && within(s.rest, line));
    FUZZ_CHECK(!s.field.contains('|'));
    if (line.contains('|')) {
        FUZZ_CHECK(s.field.toByteArray() + '|' + s.rest.toByteArray() == line);
        FUZZ_CHECK(s.rest.data() == line.data() + s.field.size() + 1 || s.rest.isEmpty());
    } else {
        FUZZ_CHECK(s.field.isEmpty());
        FUZZ_CHECK(s.rest == line);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArrayView line(reinterpret_cast<const char *>(data), qsizetype(size));
    checkSplit(line);

    const run::LineFile::Split first = run::LineFile::splitField(line);
    checkSplit(first.rest);
    const run::LineFile::Split second = run::LineFile::splitField(first.rest);
    const qsizetype separators = line.count('|');
    if (separators >= 2) {
        FUZZ_CHECK(first.field.toByteArray() + '|' + second.field.toByteArray() + '|' + second.rest.toByteArray() == line);
        // Every separator beyond the second stays in the text.
        FUZZ_CHECK(second.rest.count('|') == separators - 2);
    } else if (separators == 1) {
        FUZZ_CHECK(second.field.isEmpty() && second.rest == first.rest);
    } else {
        FUZZ_CHECK(first.field.isEmpty() && second.field.isEmpty() && second.rest == line);
    }
    return 0;
}
