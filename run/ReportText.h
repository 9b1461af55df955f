#pragma once

#include <QString>

namespace run {

// The text of the application error report: a full stop is added when the
// message ends in a character whose code is above that of ".".
QString reportText(const QString &message);

} // namespace run
