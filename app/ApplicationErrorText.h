#pragma once

#include <QString>

#include <exception>

// The text of the box shown when the main window cannot be created:
// "Exception <kind> in module <program> at <address>." CR LF, the message with a
// full stop unless it already ends in one, CR LF.
QString applicationErrorText(const QString &kind, const QString &module, quintptr address, const QString &message);

// The unqualified class name of a failure, as the box above names its kind.
QString failureKindName(const std::exception &failure);
