#include "SystemName.h"

#include <QFile>

namespace run {

std::optional<QString> decodedName(const QByteArray &bytes)
{
    QString name = QFile::decodeName(bytes);
    if (QFile::encodeName(name) != bytes)
        return std::nullopt;
    return name;
}

} // namespace run
