#include "Identifier.h"

namespace run {

bool isPlainInteger(QStringView field)
{
    const qsizetype n = field.size();
    qsizetype i = 0;
    auto skipBlanks = [&] {
        while (i < n && (field[i] == u' ' || field[i] == u'\t'))
            ++i;
    };
    skipBlanks();
    if (i < n && (field[i] == u'+' || field[i] == u'-')) {
        ++i;
        skipBlanks();
    }
    const qsizetype digitsFrom = i;
    while (i < n && field[i] >= u'0' && field[i] <= u'9')
        ++i;
    if (i == digitsFrom)
        return false;
    skipBlanks();
    return i == n;
}

} // namespace run
