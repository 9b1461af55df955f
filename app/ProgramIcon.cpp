#include "ProgramIcon.h"

#ifdef Q_OS_WIN
#include <QImage>
#include <QPixmap>

#include <memory>
#include <type_traits>

#include <windows.h>

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

#include <Pictures.h>

QIcon programIcon()
{
    return Pictures::programIcon();
}

#endif
