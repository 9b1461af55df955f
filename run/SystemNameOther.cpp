#include "SystemName.h"

#include <QCoreApplication>
#include <QDir>

namespace run {

// The system names the program in its own characters (UTF-16 on Windows),
// so the toolkit's answer is the name whole: nothing is left undecoded.
std::optional<QString> programFolder(QByteArray *)
{
    return QDir::toNativeSeparators(QCoreApplication::applicationDirPath()) + QDir::separator();
}

} // namespace run
