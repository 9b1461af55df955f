#include "StatementShape.h"

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

inline bool isWordChar(char c)
{
    return wordChars.table[static_cast<unsigned char>(c)];
}

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
}

bool wordIs(const char *s, qsizetype n, const char *word)
{
    qsizetype i = 0;
    for (; word[i]; ++i) {
        if (i >= n)
            return false;
        char c = s[i];
        if (c >= 'a' && c <= 'z')
            c = char(c - 32);
        if (c != word[i])
            return false;
    }
    return i == n;
}

} // namespace

bool StatementShape::parse(QByteArrayView sql)
{
    literals_.clear();
    const char *s = sql.data();
    const qsizetype n = sql.size();
    // Neither the shape nor the texts can outgrow the statement.
    shape_.resize(n);
    texts_.resize(n);
    char *out = shape_.data();
    char *txt = texts_.data();
    const char *const textBase = txt;
    auto put = [&](const char *from, qsizetype count) {
        std::memcpy(out, from, std::size_t(count));
        out += count;
    };

    // After ORDER BY or GROUP BY a bare number names a result column, so from
    // there on numbers stay in the shape. The previous two words tell.
    qsizetype prevWordFrom = -1, prevWordLen = 0, lastWordFrom = -1, lastWordLen = 0;
    bool numbersBindable = true;

    qsizetype i = 0;
    while (i < n) {
        const char c = s[i];
        if (c == '\'') {
            if (i > 0 && isWordChar(s[i - 1]))
                return false; // x'..' blobs and the like
            Literal lit{Literal::Kind::Text};
            lit.offset = txt - textBase;
            qsizetype j = i + 1;
            for (;;) {
                const void *quote = j < n ? std::memchr(s + j, '\'', std::size_t(n - j)) : nullptr;
                if (!quote)
                    return false; // unterminated: let the engine say so
                const qsizetype q = static_cast<const char *>(quote) - s;
                std::memcpy(txt, s + j, std::size_t(q - j));
                txt += q - j;
                if (q + 1 < n && s[q + 1] == '\'') {
                    *txt++ = '\'';
                    j = q + 2;
                    continue;
                }
                j = q;
                break;
            }
            lit.length = (txt - textBase) - lit.offset;
            literals_.push_back(lit);
            *out++ = '?';
            i = j + 1;
        } else if (c == '"' || c == '`' || c == '[') {
            // Quoted names go into the shape whole.
            const char close = c == '[' ? ']' : c;
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
        } else if (c >= '0' && c <= '9' && (i == 0 || s[i - 1] != '.')) {
            qsizetype j = i;
            std::int64_t value = 0;
            while (j < n && s[j] >= '0' && s[j] <= '9') {
                value = std::int64_t(std::uint64_t(value) * 10u + std::uint64_t(s[j] - '0')); // a 19th digit wraps; unused then
                ++j;
                if (j - i > 18)
                    break;
            }
            const bool plain = j - i <= 18 && (j >= n || (!isWordChar(s[j]) && s[j] != '.'));
            if (plain && numbersBindable) {
                Literal lit{Literal::Kind::Integer};
                lit.integer = value;
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
        } else if (c == '.' && i + 1 < n && s[i + 1] >= '0' && s[i + 1] <= '9') {
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
            *out++ = c;
            ++i;
        }
    }
    shape_.truncate(out - shape_.constData());
    return true;
}

} // namespace db
