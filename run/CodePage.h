#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <optional>

namespace run {

// A single-byte Cyrillic code page in which old boards exported their lists.
// Bytes 00..7F are ASCII; the upper half comes from a table of our own, so the
// result never depends on which converters the toolkit was built with. Line
// breaks and U+0000 keep their byte values, so line numbers and the line rule
// are the same before and after decoding.
class CodePage
{
public:
    // The code page called `name`, letter case ignored: windows-1251 (cp1251,
    // win1251), koi8-r (koi8r), cp866 (ibm866, 866). None for any other name,
    // UTF-8 included: UTF-8 needs no decoding.
    static std::optional<CodePage> byName(QStringView name);
    // The canonical names, for help and usage messages.
    static QStringList names();

    // The canonical name, as messages show it.
    QString name() const;

    // Offset of the first byte the code page leaves undefined, or -1.
    qsizetype firstUndefined(QByteArrayView bytes) const;
    // The text as UTF-8. Undefined bytes are dropped: callers refuse a text
    // that has them before they rely on its content.
    QByteArray toUtf8(QByteArrayView bytes) const;
    void appendUtf8(QByteArrayView bytes, QByteArray &out) const;
    // The character of one byte; U+0000 for a byte 80..FF the code page leaves
    // undefined (no upper-half byte means U+0000 in any of them).
    char16_t character(unsigned char byte) const;

    struct Table;

private:
    explicit CodePage(const Table &table) : table_(&table) {}

    const Table *table_;
};

} // namespace run
