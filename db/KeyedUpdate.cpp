#include "KeyedUpdate.h"

#include "SqlTokens.h"

namespace db {

std::optional<KeyedUpdate> KeyedUpdate::match(QByteArrayView shape)
{
    const auto tokens = SqlTokens::statement(shape);
    if (!tokens)
        return std::nullopt;
    const auto &t = *tokens;
    using Kind = SqlTokens::Token::Kind;
    if (t.size() != 10 || !SqlTokens::isWord(t[0], "UPDATE") || t[1].kind != Kind::Word
        || !SqlTokens::isWord(t[2], "SET") || t[3].kind != Kind::Word || !SqlTokens::isPunct(t[4], '=')
        || !SqlTokens::isPunct(t[5], '?') || !SqlTokens::isWord(t[6], "WHERE") || t[7].kind != Kind::Word
        || !SqlTokens::isPunct(t[8], '=') || !SqlTokens::isPunct(t[9], '?'))
        return std::nullopt;
    // Setting the key itself would move rows between keys.
    if (SqlTokens::same(t[3].text, t[7].text))
        return std::nullopt;
    return KeyedUpdate{t[1].text.toByteArray(), t[3].text.toByteArray(), t[7].text.toByteArray()};
}

} // namespace db
