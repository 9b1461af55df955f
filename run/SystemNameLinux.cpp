#include "SystemName.h"

#include <QCoreApplication>
#include <QDir>

#include <unistd.h>

namespace run {

std::optional<QString> programFolder(QByteArray *bytes)
{
    // The toolkit's own answer comes decoded already, a name it could not
    // decode turned into another or into none at all; the link to the
    // program keeps the bytes.
    QByteArray path(4096, Qt::Uninitialized);
    for (;;) {
        const ssize_t got = ::readlink("/proc/self/exe", path.data(), std::size_t(path.size()));
        if (got < 0) {
            path.clear();
            break;
        }
        if (got < path.size()) {
            path.truncate(got);
            break;
        }
        path.resize(path.size() * 2);
    }
    const qsizetype slash = path.lastIndexOf('/');
    if (slash >= 0) {
        const QByteArray folder = path.first(slash + 1);
        const std::optional<QString> name = decodedName(folder);
        if (!name && bytes)
            *bytes = folder;
        return name;
    }
    // Without /proc (a chroot, a sandbox) the toolkit works it out from how
    // the program was called.
    return QDir::toNativeSeparators(QCoreApplication::applicationDirPath()) + QDir::separator();
}

} // namespace run
