#pragma once

#include <QByteArray>

// The system's own converter from a single-byte code page, as a second
// opinion on the program's tables: iconv (SystemConverterPosix.cpp) or
// Windows' own tables (SystemConverterWindows.cpp).
class SystemConverter
{
public:
    // `name` is iconv's name of the code page, `number` Windows'.
    SystemConverter(const QByteArray &name, unsigned number);
    ~SystemConverter();
    SystemConverter(const SystemConverter &) = delete;
    SystemConverter &operator=(const SystemConverter &) = delete;

    bool ok() const;
    // The character of one byte; 0 when the code page has none for it.
    char16_t character(unsigned char byte);

private:
    void *iconv_ = nullptr;
    unsigned number_ = 0;
};
