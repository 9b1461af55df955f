#include "MessageBoxes.h"

#include "Application.h"

#include <run/ReportText.h>

#include <QApplication>
#include <QFileInfo>

#include <typeinfo>

#if defined(__GNUC__) || defined(__clang__)
#include <cxxabi.h>

#include <cstdlib>
#include <memory>
#endif

namespace {

QString messageOf(const std::exception &failure)
{
    // The run's and the database's failures give their message as UTF-8 here too.
    return QString::fromUtf8(failure.what());
}

// The message of the innermost failure nested in `failure`, or its own when
// nothing is nested in it.
QString innermostMessage(const std::exception &failure)
{
    const auto *nested = dynamic_cast<const std::nested_exception *>(&failure);
    // rethrow_nested() on an empty holder would terminate the program.
    if (nested && nested->nested_ptr()) {
        try {
            nested->rethrow_nested();
        } catch (const std::exception &inner) {
            return innermostMessage(inner);
        } catch (...) {
        }
    }
    return messageOf(failure);
}

} // namespace

void showMessageBox(const QString &text, const QString &caption, QMessageBox::Icon icon)
{
    QMessageBox box(icon, caption, text, QMessageBox::Ok, QApplication::activeWindow());
    // Paths and engine texts are shown as they are, never as markup.
    box.setTextFormat(Qt::PlainText);
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
}

void prepareMessageBoxes()
{
    const QMessageBox unseen(QMessageBox::Information, QString(), QString(), QMessageBox::Ok);
}

QString ErrorReport::text(const std::exception &failure)
{
    const QString inner = innermostMessage(failure);
    return run::reportText(inner.isEmpty() ? messageOf(failure) : inner);
}

void ErrorReport::show(const std::exception &failure)
{
    showMessageBox(text(failure), applicationTitle(), QMessageBox::Critical);
}

void ErrorReport::showUnknown()
{
    showMessageBox(run::reportText(QStringLiteral("Unknown exception")), applicationTitle(), QMessageBox::Critical);
}

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

void showApplicationError(const std::exception &failure, quintptr address)
{
    const QString text = applicationErrorText(failureKindName(failure),
                                              QFileInfo(QCoreApplication::applicationFilePath()).fileName(), address,
                                              messageOf(failure));
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Application Error"), text, QMessageBox::Ok);
    box.setTextFormat(Qt::PlainText);
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
}
