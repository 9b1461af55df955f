#include "SystemConverter.h"

#include <windows.h>

SystemConverter::SystemConverter(const QByteArray &, unsigned number) : number_(number) {}

SystemConverter::~SystemConverter() = default;

bool SystemConverter::ok() const
{
    return IsValidCodePage(number_);
}

char16_t SystemConverter::character(unsigned char byte)
{
    const char in = char(byte);
    wchar_t out[4] = {};
    if (MultiByteToWideChar(number_, MB_ERR_INVALID_CHARS, &in, 1, out, 4) != 1)
        return 0;
    // Windows gives a byte its code page leaves undefined the C1 control of
    // the same number (0x98 in 1251 is U+0098), where iconv refuses it: no
    // character of these code pages is a C1 control.
    if (byte >= 0x80 && byte < 0xA0 && out[0] == wchar_t(byte))
        return 0;
    return char16_t(out[0]);
}
