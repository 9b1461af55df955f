#include "KeyedRead.h"

#include "SqlTokens.h"

namespace db {

std::optional<KeyedRead> KeyedRead::match(QByteArrayView shape)
{
    const auto tokens = SqlTokens::statement(shape);
    if (!tokens)
        return std::nullopt;
    const auto &t = *tokens;
    using Kind = SqlTokens::Token::Kind;
    if (t.size() < 8 || !SqlTokens::isWord(t[0], "SELECT") || !SqlTokens::isPunct(t[1], '*')
        || !SqlTokens::isWord(t[2], "FROM") || t[3].kind != Kind::Word || !SqlTokens::isWord(t[4], "WHERE")
        || t[5].kind != Kind::Word || !SqlTokens::isPunct(t[6], '=') || !SqlTokens::isPunct(t[7], '?'))
        return std::nullopt;
    KeyedRead read{t[3].text.toByteArray(), t[5].text.toByteArray(), QByteArray()};
    std::size_t i = 8;
    if (i < t.size()) {
        // A bare number after ORDER BY would name a result column: not a name.
        if (t.size() - i < 3 || !SqlTokens::isWord(t[i], "ORDER") || !SqlTokens::isWord(t[i + 1], "BY")
            || t[i + 2].kind != Kind::Word || (t[i + 2].text[0] >= '0' && t[i + 2].text[0] <= '9'))
            return std::nullopt;
        read.order = t[i + 2].text.toByteArray();
        i += 3;
        if (i < t.size() && (SqlTokens::isWord(t[i], "ASC") || SqlTokens::isWord(t[i], "DESC"))) {
            read.descending = SqlTokens::isWord(t[i], "DESC");
            ++i;
        }
        if (i != t.size())
            return std::nullopt;
    }
    return read;
}

bool KeyedRead::uses(QByteArrayView column) const noexcept
{
    return SqlTokens::same(where, column) || SqlTokens::same(order, column);
}

} // namespace db
