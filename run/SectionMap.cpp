#include "SectionMap.h"

#include <db/Session.h>

namespace run {

QByteArray SectionMap::read(db::Session &session)
{
    db::Query &q = session.qTemp;
    q.close();
    // The order in which the run numbers the sections.
    q.setSql(QStringLiteral("SELECT old_id FROM Razdel_table ORDER BY id"));
    q.open();
    QByteArray out;
    qint64 number = 1;
    for (q.first(); !q.eof(); q.next(), ++number) {
        out += q.fieldAsString(u"old_id").toUtf8();
        out += '|';
        out += QByteArray::number(number);
        out += "\r\n";
    }
    q.close();
    return out;
}

} // namespace run
