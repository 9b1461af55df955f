#include "EngineText.h"

namespace db {

QString trimEngineText(QString text)
{
    qsizetype n = text.size();
    while (n > 0) {
        const QChar c = text.at(n - 1);
        if (c == u'.' || c.unicode() <= 0x20 || c.unicode() == 0x7f || c.category() == QChar::Other_Control)
            --n;
        else
            break;
    }
    text.truncate(n);
    return text;
}

} // namespace db
