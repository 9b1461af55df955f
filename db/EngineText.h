#pragma once

#include <QString>

namespace db {

// An engine's description as the user sees it: trailing blanks, control
// characters and full stops removed.
QString trimEngineText(QString text);

} // namespace db
