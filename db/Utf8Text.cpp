#include "Utf8Text.h"

#include <QStringDecoder>

namespace db {

QString decodeUtf8(QByteArrayView bytes)
{
    if (bytes.size() >= 3 && bytes[0] == '\xEF' && bytes[1] == '\xBB' && bytes[2] == '\xBF') {
        QStringDecoder decoder(QStringConverter::Utf8, QStringConverter::Flag::ConvertInitialBom);
        return decoder.decode(bytes);
    }
    return QString::fromUtf8(bytes);
}

void appendUtf8(QByteArray &out, QStringView text)
{
    const qsizetype start = out.size();
    out.resize(start + text.size() * 3); // the most a UTF-16 unit can take
    char *end = encodeUtf8(text, out.data() + start);
    out.truncate(end - out.constData());
}

char *encodeUtf8(QStringView text, char *d) noexcept
{
    const qsizetype n = text.size();
    const char16_t *s = text.utf16();
    for (qsizetype i = 0; i < n; ++i) {
        char32_t c = s[i];
        if (c < 0x80) {
            *d++ = char(c);
            continue;
        }
        if (c < 0x800) {
            *d++ = char(0xC0 | (c >> 6));
            *d++ = char(0x80 | (c & 0x3F));
            continue;
        }
        if (c >= 0xD800 && c <= 0xDFFF) {
            if (c <= 0xDBFF && i + 1 < n && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
                c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00);
                ++i;
                *d++ = char(0xF0 | (c >> 18));
                *d++ = char(0x80 | ((c >> 12) & 0x3F));
                *d++ = char(0x80 | ((c >> 6) & 0x3F));
                *d++ = char(0x80 | (c & 0x3F));
                continue;
            }
            c = 0xFFFD;
        }
        *d++ = char(0xE0 | (c >> 12));
        *d++ = char(0x80 | ((c >> 6) & 0x3F));
        *d++ = char(0x80 | (c & 0x3F));
    }
    return d;
}

} // namespace db
