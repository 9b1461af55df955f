#include "ApplicationErrorText.h"

#include <typeinfo>

#if defined(__GNUC__) || defined(__clang__)
#include <cxxabi.h>

#include <cstdlib>
#include <memory>
#endif

QString applicationErrorText(const QString &kind, const QString &module, quintptr address, const QString &message)
{
    const QString at = QStringLiteral("%1").arg(address, int(2 * sizeof(void *)), 16, QLatin1Char('0')).toUpper();
    const QString stop = message.endsWith(u'.') ? QString() : QStringLiteral(".");
    // One pass over the pattern, so a "%" in the message stays as it is.
    return QStringLiteral("Exception %1 in module %2 at %3.\r\n%4%5\r\n").arg(kind, module, at, message, stop);
}

QString failureKindName(const std::exception &failure)
{
    QString name;
#if defined(__GNUC__) || defined(__clang__)
    int status = 0;
    const std::unique_ptr<char, void (*)(void *)> demangled(
        abi::__cxa_demangle(typeid(failure).name(), nullptr, nullptr, &status), std::free);
    name = QString::fromLatin1(status == 0 && demangled ? demangled.get() : typeid(failure).name());
#else
    name = QString::fromLatin1(typeid(failure).name());
    for (const QLatin1String prefix : {QLatin1String("class "), QLatin1String("struct ")}) {
        if (name.startsWith(prefix))
            name.remove(0, prefix.size());
    }
#endif
    const qsizetype scope = name.lastIndexOf(QLatin1String("::"));
    return scope >= 0 ? name.mid(scope + 2) : name;
}
