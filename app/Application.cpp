#include "Application.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QPointer>
#include <QTranslator>

#ifdef Q_OS_WIN
#include <QImage>
#include <QPixmap>

#include <memory>
#include <type_traits>

#include <windows.h>
#else
#include <Pictures.h>
#endif

QString applicationTitle(const QString &programPath)
{
    QString name = QFileInfo(programPath).fileName();
    const qsizetype dot = name.indexOf(u'.');
    if (dot >= 0)
        name.truncate(dot);
    if (name.isEmpty())
        return name;
    return name.left(1).toUpper() + name.mid(1).toLower();
}

const QString &applicationTitle()
{
    static const QString title = applicationTitle(QCoreApplication::applicationFilePath());
    return title;
}

void prepareApplication()
{
    applicationTitle();
    installToolkitTranslation();
}

bool installToolkitTranslation(const QLocale &locale)
{
    static QPointer<QTranslator> installed;
    if (installed) {
        QCoreApplication::removeTranslator(installed);
        delete installed;
    }
    // Owned by the application, so that it lives exactly as long as the texts
    // it translates can be asked for.
    auto *translator = new QTranslator(QCoreApplication::instance());
    // The translations of the Qt the program runs with: Debian keeps them in
    // its qt6-translations-l10n package, a Windows copy beside its Qt. The
    // "qt" catalog is the one both carry; it pulls in the base module's.
    if (!translator->load(locale, QStringLiteral("qt"), QStringLiteral("_"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    QCoreApplication::installTranslator(translator);
    installed = translator;
    return true;
}

#ifdef Q_OS_WIN

namespace {

struct IconDeleter
{
    void operator()(HICON icon) const { DestroyIcon(icon); }
};
using IconHandle = std::unique_ptr<std::remove_pointer_t<HICON>, IconDeleter>;

} // namespace

QIcon programIcon()
{
    QIcon icon;
    for (const int size : {16, 24, 32, 48, 128}) {
        const IconHandle handle(static_cast<HICON>(
            LoadImageW(GetModuleHandleW(nullptr), L"MAINICON", IMAGE_ICON, size, size, LR_DEFAULTCOLOR)));
        if (handle)
            icon.addPixmap(QPixmap::fromImage(QImage::fromHICON(handle.get())));
    }
    return icon;
}

#else

QIcon programIcon()
{
    return Pictures::programIcon();
}

#endif
