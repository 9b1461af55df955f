#include "Application.h"

#include <QCoreApplication>
#include <QFileInfo>

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
