#include "Arguments.h"

#include <run/SystemName.h>

#include <QFile>

QStringList argumentsOf(int argc, char **argv, std::optional<QByteArray> &undecodable)
{
    QStringList out;
    for (int i = 1; i < argc; ++i) {
        const QByteArray bytes(argv[i]);
        const std::optional<QString> name = run::decodedName(bytes);
        if (!name && !undecodable)
            undecodable = bytes;
        out << name.value_or(QFile::decodeName(bytes));
    }
    return out;
}
