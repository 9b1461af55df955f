#include "DeferrableColumn.h"

#include "SqlTokens.h"

#include <vector>

namespace db {

namespace {

using Token = SqlTokens::Token;
using Tokens = std::vector<Token>;

bool mentions(const Tokens &item, std::size_t from, QByteArrayView name)
{
    for (std::size_t i = from; i < item.size(); ++i) {
        if (item[i].kind == Token::Kind::Word && SqlTokens::same(item[i].text, name))
            return true;
    }
    return false;
}

bool isConstraintStart(const Token &t)
{
    for (const char *w : {"CONSTRAINT", "PRIMARY", "NOT", "NULL", "UNIQUE", "CHECK", "DEFAULT", "COLLATE",
                          "REFERENCES", "GENERATED", "AS"}) {
        if (SqlTokens::isWord(t, w))
            return true;
    }
    return false;
}

// A signed whole number of one or two tokens at t[i]; advances i past it.
std::optional<std::int64_t> number(const Tokens &t, std::size_t &i)
{
    bool negative = false;
    if (i < t.size() && (SqlTokens::isPunct(t[i], '-') || SqlTokens::isPunct(t[i], '+'))) {
        negative = t[i].text[0] == '-';
        ++i;
    }
    if (i >= t.size() || t[i].kind != Token::Kind::Word || t[i].text.size() > 19)
        return std::nullopt;
    std::uint64_t magnitude = 0;
    for (char c : t[i].text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        magnitude = magnitude * 10 + std::uint64_t(c - '0');
    }
    ++i;
    constexpr std::uint64_t limit = std::uint64_t(1) << 63;
    if (magnitude > limit || (!negative && magnitude == limit))
        return std::nullopt;
    return negative ? std::int64_t(0 - magnitude) : std::int64_t(magnitude);
}

// "column <type> [CONSTRAINT name] CHECK (column BETWEEN n AND m) ...".
std::optional<DeferrableColumn> valueColumn(const Tokens &t, QByteArrayView column)
{
    DeferrableColumn rule;
    std::size_t i = 1;
    bool integral = false;
    while (i < t.size() && t[i].kind == Token::Kind::Word && !isConstraintStart(t[i])) {
        // The engine's rule: a type naming "INT" keeps whole numbers as such.
        for (qsizetype k = 0; k + 3 <= t[i].text.size(); ++k)
            integral = integral || SqlTokens::same(t[i].text.sliced(k, 3), "INT");
        ++i;
    }
    if (!integral)
        return std::nullopt;
    while (i < t.size()) {
        if (SqlTokens::isWord(t[i], "CONSTRAINT")) {
            if (i + 1 >= t.size() || t[i + 1].kind != Token::Kind::Word)
                return std::nullopt;
            i += 2;
        }
        if (i + 4 >= t.size() || !SqlTokens::isWord(t[i], "CHECK") || !SqlTokens::isPunct(t[i + 1], '(')
            || t[i + 2].kind != Token::Kind::Word || !SqlTokens::same(t[i + 2].text, column)
            || !SqlTokens::isWord(t[i + 3], "BETWEEN"))
            return std::nullopt;
        i += 4;
        const auto low = number(t, i);
        if (!low || i >= t.size() || !SqlTokens::isWord(t[i], "AND"))
            return std::nullopt;
        ++i;
        const auto high = number(t, i);
        if (!high || i >= t.size() || !SqlTokens::isPunct(t[i], ')'))
            return std::nullopt;
        ++i;
        rule.lowest = std::max(rule.lowest, *low);
        rule.highest = std::min(rule.highest, *high);
    }
    return rule;
}

bool integerPrimaryKey(const Tokens &t)
{
    return t.size() >= 4 && SqlTokens::isWord(t[1], "INTEGER") && SqlTokens::isWord(t[2], "PRIMARY")
        && SqlTokens::isWord(t[3], "KEY");
}

} // namespace

std::optional<DeferrableColumn> DeferrableColumn::inspect(QByteArrayView createTable, QByteArrayView column,
                                                          QByteArrayView key)
{
    const auto cut = SqlTokens::split(createTable);
    if (!cut)
        return std::nullopt;
    const Tokens &t = cut->tokens();
    std::size_t i = 0;
    if (i < t.size() && SqlTokens::isWord(t[i], "CREATE"))
        ++i;
    if (i < t.size() && (SqlTokens::isWord(t[i], "TEMP") || SqlTokens::isWord(t[i], "TEMPORARY")))
        ++i;
    if (i >= t.size() || !SqlTokens::isWord(t[i], "TABLE"))
        return std::nullopt;
    while (i < t.size() && !SqlTokens::isPunct(t[i], '('))
        ++i;
    if (i >= t.size())
        return std::nullopt; // CREATE TABLE ... AS SELECT

    // The items between the outer parentheses, split at their own commas.
    std::vector<Tokens> items(1);
    int depth = 0;
    for (++i; i < t.size(); ++i) {
        if (SqlTokens::isPunct(t[i], '('))
            ++depth;
        if (SqlTokens::isPunct(t[i], ')') && depth-- == 0)
            break;
        if (depth == 0 && SqlTokens::isPunct(t[i], ','))
            items.emplace_back();
        else
            items.back().push_back(t[i]);
    }
    if (i >= t.size())
        return std::nullopt;

    std::optional<DeferrableColumn> rule;
    bool keyFound = false;
    for (const Tokens &item : items) {
        if (item.empty())
            return std::nullopt;
        const bool isColumn = item[0].kind == Token::Kind::Word && !isConstraintStart(item[0])
            && !SqlTokens::isWord(item[0], "FOREIGN");
        if (isColumn && SqlTokens::same(item[0].text, column)) {
            if (rule)
                return std::nullopt;
            rule = valueColumn(item, column);
            if (!rule)
                return std::nullopt;
            continue;
        }
        if (mentions(item, isColumn ? 1 : 0, column))
            return std::nullopt;
        if (isColumn && SqlTokens::same(item[0].text, key)) {
            if (keyFound || !integerPrimaryKey(item))
                return std::nullopt;
            keyFound = true;
        }
    }
    if (!keyFound)
        return std::nullopt;
    return rule;
}

} // namespace db
