#include "SqlTokens.h"

#include <cstring>

namespace db {

namespace {

bool isWordChar(char c)
{
    const auto u = static_cast<unsigned char>(c);
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '$'
        || u >= 0x80;
}

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
}

char upper(char c)
{
    return c >= 'a' && c <= 'z' ? char(c - 32) : c;
}

} // namespace

bool SqlTokens::same(QByteArrayView a, QByteArrayView b) noexcept
{
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i) {
        if (upper(a[i]) != upper(b[i]))
            return false;
    }
    return true;
}

bool SqlTokens::isWord(const Token &t, const char *word) noexcept
{
    return t.kind == Token::Kind::Word && same(t.text, QByteArrayView(word, qsizetype(std::strlen(word))));
}

bool SqlTokens::isPunct(const Token &t, char c) noexcept
{
    return t.kind == Token::Kind::Punct && t.text.size() == 1 && t.text[0] == c;
}

std::optional<std::vector<SqlTokens::Token>> SqlTokens::statement(QByteArrayView sql)
{
    auto cut = split(sql);
    if (!cut)
        return std::nullopt;
    std::vector<Token> t = std::move(cut->tokens_);
    if (!t.empty() && isPunct(t.back(), ';'))
        t.pop_back();
    return t;
}

std::optional<SqlTokens> SqlTokens::split(QByteArrayView sql)
{
    SqlTokens out;
    const char *s = sql.data();
    const qsizetype n = sql.size();
    qsizetype i = 0;
    while (i < n) {
        const char c = s[i];
        if (isSpace(c)) {
            ++i;
        } else if (c == '-' && i + 1 < n && s[i + 1] == '-') {
            while (i < n && s[i] != '\n')
                ++i;
        } else if (c == '/' && i + 1 < n && s[i + 1] == '*') {
            const qsizetype from = i + 2;
            i = from;
            while (i + 1 < n && !(s[i] == '*' && s[i + 1] == '/'))
                ++i;
            if (i + 1 >= n)
                return std::nullopt;
            i += 2;
        } else if (c == '\'' || c == '"' || c == '`' || c == '[') {
            const char close = c == '[' ? ']' : c;
            qsizetype j = i + 1;
            while (j < n && s[j] != close)
                ++j;
            if (j >= n)
                return std::nullopt;
            if (close != ']' && j + 1 < n && s[j + 1] == close)
                return std::nullopt; // a doubled quote inside: not worth the risk
            const auto kind = c == '\'' ? Token::Kind::String : Token::Kind::Word;
            out.tokens_.push_back({kind, QByteArrayView(s + i + 1, j - i - 1)});
            i = j + 1;
        } else if (isWordChar(c)) {
            qsizetype j = i;
            while (j < n && isWordChar(s[j]))
                ++j;
            out.tokens_.push_back({Token::Kind::Word, QByteArrayView(s + i, j - i)});
            i = j;
        } else {
            out.tokens_.push_back({Token::Kind::Punct, QByteArrayView(s + i, 1)});
            ++i;
        }
    }
    return out;
}

} // namespace db
