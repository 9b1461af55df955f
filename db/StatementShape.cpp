#include "StatementShape.h"

#include "Utf8Text.h"

#include <cstring>

namespace db {

namespace {

struct WordChars
{
    bool table[256] = {};
    constexpr WordChars()
    {
        for (int c = 0; c < 256; ++c)
            table[c] = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_'
                || c == '$' || c >= 0x80;
    }
};
constexpr WordChars wordChars;

inline char32_t unit(char c)
{
    return static_cast<unsigned char>(c);
}

inline char32_t unit(char16_t c)
{
    return c;
}

// Bytes of UTF-8 and units of UTF-16 from 0x80 up are all parts of words.
template <typename Char>
inline bool isWordChar(Char c)
{
    const char32_t u = unit(c);
    return u >= 0x80 || wordChars.table[u];
}

template <typename Char>
inline bool isDigit(Char c)
{
    return c >= '0' && c <= '9';
}

template <typename Char>
bool isSpace(Char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
}

inline char *copyUnits(const char *from, qsizetype count, char *out)
{
    std::memcpy(out, from, std::size_t(count));
    return out + count;
}

inline char *copyUnits(const char16_t *from, qsizetype count, char *out)
{
    return encodeUtf8(QStringView(from, count), out);
}

inline const char *findQuote(const char *from, const char *end)
{
    const void *q = std::memchr(from, '\'', std::size_t(end - from));
    return static_cast<const char *>(q);
}

inline const char16_t *findQuote(const char16_t *from, const char16_t *end)
{
    const qsizetype at = QStringView(from, end - from).indexOf(u'\'');
    return at < 0 ? nullptr : from + at;
}

template <typename Char>
bool wordIs(const Char *s, qsizetype n, const char *word)
{
    qsizetype i = 0;
    for (; word[i]; ++i) {
        if (i >= n)
            return false;
        char32_t c = unit(s[i]);
        if (c >= 'a' && c <= 'z')
            c -= 32;
        if (c != char32_t(word[i]))
            return false;
    }
    return i == n;
}

} // namespace

bool StatementShape::parse(QByteArrayView sql)
{
    return parseUnits(sql.data(), sql.size());
}

bool StatementShape::parse(QStringView sql)
{
    return parseUnits(reinterpret_cast<const char16_t *>(sql.utf16()), sql.size());
}

template <typename Char>
bool StatementShape::parseUnits(const Char *s, qsizetype n)
{
    literals_.clear();
    // Neither the shape nor the texts can outgrow the statement's UTF-8.
    const qsizetype room = n * (sizeof(Char) == 1 ? 1 : 3);
    shape_.resize(room);
    texts_.resize(room);
    char *out = shape_.data();
    char *txt = texts_.data();
    const char *const textBase = txt;
    auto put = [&](const Char *from, qsizetype count) { out = copyUnits(from, count, out); };
    // After ORDER BY or GROUP BY a bare number names a result column, so from
    // there on numbers stay in the shape. The previous two words tell.
    qsizetype prevWordFrom = -1, prevWordLen = 0, lastWordFrom = -1, lastWordLen = 0;
    bool numbersBindable = true;

    qsizetype i = 0;
    Resume &r = resume_;
    if (r.at > 0 && r.unitSize == int(sizeof(Char)) && n > r.at
        && std::memcmp(s, r.units.data(), std::size_t(r.at) * sizeof(Char)) == 0) {
        i = r.at;
        out = shape_.data() + r.out;
        prevWordFrom = r.prevWordFrom;
        prevWordLen = r.prevWordLen;
        lastWordFrom = r.lastWordFrom;
        lastWordLen = r.lastWordLen;
        numbersBindable = r.numbersBindable;
    } else {
        r.at = -1; // the shape's head is about to be overwritten
    }
    // At the first literal of a text taken from the start. Only a character
    // that never looks at the one after it may come just before.
    auto remember = [&] {
        if (r.at >= 0 || !literals_.empty() || i == 0 || s[i - 1] == '-' || s[i - 1] == '/' || s[i - 1] == '.')
            return;
        r.units.assign(reinterpret_cast<const char *>(s), reinterpret_cast<const char *>(s + i));
        r.unitSize = int(sizeof(Char));
        r.at = i;
        r.out = out - shape_.constData();
        r.prevWordFrom = prevWordFrom;
        r.prevWordLen = prevWordLen;
        r.lastWordFrom = lastWordFrom;
        r.lastWordLen = lastWordLen;
        r.numbersBindable = numbersBindable;
    };

    while (i < n) {
        const Char c = s[i];
        if (c == '\'') {
            if (i > 0 && isWordChar(s[i - 1]))
                return false; // x'..' blobs and the like
            Literal lit{Literal::Kind::Text};
            lit.offset = txt - textBase;
            qsizetype j = i + 1;
            for (;;) {
                const Char *quote = j < n ? findQuote(s + j, s + n) : nullptr;
                if (!quote)
                    return false; // unterminated: let the engine say so
                const qsizetype q = quote - s;
                txt = copyUnits(s + j, q - j, txt);
                if (q + 1 < n && s[q + 1] == '\'') {
                    *txt++ = '\'';
                    j = q + 2;
                    continue;
                }
                j = q;
                break;
            }
            lit.length = (txt - textBase) - lit.offset;
            remember();
            literals_.push_back(lit);
            *out++ = '?';
            i = j + 1;
        } else if (c == '"' || c == '`' || c == '[') {
            // Quoted names go into the shape whole.
            const Char close = c == '[' ? Char(']') : c;
            qsizetype j = i + 1;
            while (j < n && s[j] != close)
                ++j;
            if (j >= n)
                return false;
            put(s + i, j + 1 - i);
            i = j + 1;
        } else if (c == '-' && i + 1 < n && s[i + 1] == '-') {
            qsizetype j = i;
            while (j < n && s[j] != '\n')
                ++j;
            put(s + i, j - i);
            i = j;
        } else if (c == '/' && i + 1 < n && s[i + 1] == '*') {
            qsizetype j = i + 2;
            while (j + 1 < n && !(s[j] == '*' && s[j + 1] == '/'))
                ++j;
            if (j + 1 >= n)
                return false;
            put(s + i, j + 2 - i);
            i = j + 2;
        } else if (c == '?' || c == ':' || c == '@' || c == '$' || c == '#') {
            return false; // parameters of its own: the engine decides
        } else if (isDigit(c) && (i == 0 || s[i - 1] != '.')) {
            qsizetype j = i;
            std::int64_t value = 0;
            while (j < n && isDigit(s[j])) {
                value = std::int64_t(std::uint64_t(value) * 10u + std::uint64_t(s[j] - '0')); // a 19th digit wraps; unused then
                ++j;
                if (j - i > 18)
                    break;
            }
            const bool plain = j - i <= 18 && (j >= n || (!isWordChar(s[j]) && s[j] != '.'));
            if (plain && numbersBindable) {
                Literal lit{Literal::Kind::Integer};
                lit.integer = value;
                remember();
                literals_.push_back(lit);
                *out++ = '?';
                i = j;
            } else {
                // Fractions, exponents, hex, very long numbers: as they stand.
                while (j < n && (isWordChar(s[j]) || s[j] == '.'))
                    ++j;
                put(s + i, j - i);
                i = j;
            }
        } else if (isWordChar(c)) {
            qsizetype j = i;
            while (j < n && isWordChar(s[j]))
                ++j;
            prevWordFrom = lastWordFrom;
            prevWordLen = lastWordLen;
            lastWordFrom = i;
            lastWordLen = j - i;
            if (wordIs(s + i, j - i, "BY") && prevWordFrom >= 0
                && (wordIs(s + prevWordFrom, prevWordLen, "ORDER") || wordIs(s + prevWordFrom, prevWordLen, "GROUP")))
                numbersBindable = false;
            put(s + i, j - i);
            i = j;
        } else if (c == '.' && i + 1 < n && isDigit(s[i + 1])) {
            // ".5" is a number of its own: keep it whole.
            qsizetype j = i + 1;
            while (j < n && (isWordChar(s[j]) || s[j] == '.'))
                ++j;
            put(s + i, j - i);
            i = j;
        } else {
            if (!isSpace(c)) {
                lastWordFrom = -1; // only adjacent words make ORDER BY
                prevWordFrom = -1;
            }
            *out++ = char(c); // not part of a word: plain ASCII
            ++i;
        }
    }
    shape_.truncate(out - shape_.constData());
    return true;
}

} // namespace db
