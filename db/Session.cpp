#include "Session.h"

namespace db {

Session::Session()
    : qTemp(ADOConnection1, QStringLiteral("qTemp")),
      qTempEx(ADOConnection1, QStringLiteral("qTempEx")),
      qExec(ADOConnection1, QStringLiteral("qExec"))
{
}

void Session::open(const QString &programDirectory)
{
    const QString text = Connection::composeConnectionString(programDirectory);
    if (text != ADOConnection1.connectionString())
        ADOConnection1.setConnectionString(text);
    ADOConnection1.open();
}

} // namespace db
