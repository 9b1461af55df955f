#include "StartupShow.h"

#include <windows.h>

std::optional<int> startupShowCommand()
{
    STARTUPINFOW info = {};
    info.cb = sizeof info;
    GetStartupInfoW(&info);
    if (!(info.dwFlags & STARTF_USESHOWWINDOW))
        return std::nullopt;
    return int(info.wShowWindow);
}
