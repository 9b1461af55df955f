#include "SystemConverter.h"

#include <QtGlobal>

#include <iconv.h>

SystemConverter::SystemConverter(const QByteArray &name, unsigned)
{
    const iconv_t handle = iconv_open("UTF-16LE", name.constData());
    if (handle != iconv_t(-1))
        iconv_ = handle;
}

SystemConverter::~SystemConverter()
{
    if (iconv_)
        iconv_close(iconv_t(iconv_));
}

bool SystemConverter::ok() const
{
    return iconv_ != nullptr;
}

char16_t SystemConverter::character(unsigned char byte)
{
    const iconv_t handle = iconv_t(iconv_);
    iconv(handle, nullptr, nullptr, nullptr, nullptr);
    char in = char(byte);
    char out[8] = {};
    char *inp = &in;
    char *outp = out;
    size_t inLeft = 1;
    size_t outLeft = sizeof out;
    if (iconv(handle, &inp, &inLeft, &outp, &outLeft) == size_t(-1) || sizeof out - outLeft != 2)
        return 0;
    return char16_t(uchar(out[0]) | (uchar(out[1]) << 8));
}
