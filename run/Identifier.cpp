#include "Identifier.h"

#include <limits>

namespace run {

std::optional<db::Number> identifierValue(QByteArrayView field)
{
    const qsizetype n = field.size();
    const char *s = field.data();
    qsizetype i = 0;
    auto skipBlanks = [&] {
        while (i < n && (s[i] == ' ' || s[i] == '\t'))
            ++i;
    };
    skipBlanks();
    bool negative = false;
    if (i < n && (s[i] == '+' || s[i] == '-')) {
        negative = s[i] == '-';
        ++i;
        skipBlanks();
    }
    const qsizetype digitsFrom = i;
    // The magnitude as an unsigned 64-bit number while it fits; beyond that
    // only the real value is kept.
    quint64 magnitude = 0;
    bool overflow = false;
    double real = 0;
    for (; i < n && s[i] >= '0' && s[i] <= '9'; ++i) {
        const unsigned digit = unsigned(s[i] - '0');
        real = real * 10 + digit;
        if (magnitude > (std::numeric_limits<quint64>::max() - digit) / 10)
            overflow = true;
        else
            magnitude = magnitude * 10 + digit;
    }
    if (i == digitsFrom)
        return std::nullopt;
    skipBlanks();
    if (i != n)
        return std::nullopt;

    db::Number value;
    constexpr quint64 maxPositive = quint64(std::numeric_limits<qint64>::max());
    if (!overflow && magnitude <= maxPositive) {
        value.integer = negative ? -qint64(magnitude) : qint64(magnitude);
    } else if (!overflow && negative && magnitude == maxPositive + 1) {
        value.integer = std::numeric_limits<qint64>::min();
    } else {
        value.isReal = true;
        value.real = negative ? -real : real;
    }
    return value;
}

std::optional<qint32> asInt32(const db::Number &value)
{
    if (value.isReal || value.integer < std::numeric_limits<qint32>::min()
        || value.integer > std::numeric_limits<qint32>::max())
        return std::nullopt;
    return qint32(value.integer);
}

} // namespace run
