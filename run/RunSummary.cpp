#include "RunSummary.h"

#include <db/Session.h>

namespace run {

namespace {

qint64 count(db::Query &query, const QString &statement)
{
    query.close();
    query.setSql(statement);
    query.open();
    query.first();
    return query.fieldAsString(u"n").toLongLong();
}

} // namespace

RunSummary RunSummary::read(db::Session &session)
{
    db::Query &q = session.qTemp;
    RunSummary out;
    out.sections = count(q, QStringLiteral("SELECT COUNT(*) AS n FROM Razdel_table"));
    out.forums = count(q, QStringLiteral("SELECT COUNT(*) AS n FROM Forum_table"));
    // Section numbers start at 1, so 0 is left only where no section matched.
    out.forumsWithoutSection = count(q, QStringLiteral("SELECT COUNT(*) AS n FROM Forum_table WHERE new_id = 0"));
    q.close();
    q.setSql(QStringLiteral("SELECT old_id FROM Razdel_table GROUP BY old_id HAVING COUNT(*) > 1 ORDER BY MIN(id)"));
    q.open();
    for (q.first(); !q.eof(); q.next())
        out.repeatedIdentifiers << q.fieldAsString(u"old_id");
    q.close();
    return out;
}

} // namespace run
