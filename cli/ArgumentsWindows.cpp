#include "Arguments.h"

#include <QCoreApplication>

// The system passes the arguments as UTF-16, and the application's list has
// them whole: every one decodes.
QStringList argumentsOf(int, char **, std::optional<QByteArray> &)
{
    return QCoreApplication::arguments().mid(1);
}
