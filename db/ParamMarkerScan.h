#pragma once

#include <QString>
#include <QStringList>

namespace db {

// What the engine is handed for a statement text: every parameter marker
// (":name" outside quotes) replaced by "?", and the markers' names in order.
struct ScannedCommand
{
    QString commandText;
    QStringList parameterNames;
};

// Quotes (' " `) open literals that run to the same character again or to
// the end; nothing inside a literal is a marker. "::" is kept as it stands.
ScannedCommand scanParameterMarkers(const QString &statementText);

} // namespace db
