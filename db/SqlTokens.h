#pragma once

#include <QByteArrayView>

#include <optional>
#include <vector>

namespace db {

// A statement or schema text cut into the tokens that the write-behind needs
// to recognise a few fixed statement forms and column definitions. Comments
// and white space vanish; quoted names become words of their inner text, so
// that a name is found however it is written.
class SqlTokens
{
public:
    struct Token
    {
        enum class Kind { Word, Punct, String } kind;
        QByteArrayView text;
    };

    // Nothing when the text holds something the cut does not take apart with
    // certainty (an unterminated quote or comment, a quote doubled inside one).
    static std::optional<SqlTokens> split(QByteArrayView sql);

    const std::vector<Token> &tokens() const noexcept { return tokens_; }
    // The tokens of one statement, without a closing ";".
    static std::optional<std::vector<Token>> statement(QByteArrayView sql);

    // Case-insensitive, as the engine compares keywords and names.
    static bool same(QByteArrayView a, QByteArrayView b) noexcept;
    static bool isWord(const Token &t, const char *word) noexcept;
    static bool isPunct(const Token &t, char c) noexcept;

private:
    std::vector<Token> tokens_;
};

} // namespace db
