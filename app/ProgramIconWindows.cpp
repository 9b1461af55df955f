#include "ProgramIcon.h"

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

// The very icon Explorer and the taskbar show for the program file, so that
// the window's own cannot differ from it.
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
