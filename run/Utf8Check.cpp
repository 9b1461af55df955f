#include "Utf8Check.h"

#include <cstdint>
#include <cstring>

namespace run {

qsizetype firstIllFormedUtf8(QByteArrayView bytes)
{
    const auto *s = reinterpret_cast<const unsigned char *>(bytes.data());
    const qsizetype n = bytes.size();
    qsizetype i = 0;
    while (i < n) {
        // Most board lists are largely ASCII: skip it eight bytes at a time.
        while (i + 8 <= n) {
            std::uint64_t word;
            std::memcpy(&word, s + i, 8);
            if (word & 0x8080808080808080ull)
                break;
            i += 8;
        }
        if (i >= n)
            break;
        const unsigned char c = s[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        int length;
        unsigned char lo = 0x80, hi = 0xBF; // allowed range of the second byte
        if (c >= 0xC2 && c <= 0xDF) {
            length = 2;
        } else if (c >= 0xE0 && c <= 0xEF) {
            length = 3;
            if (c == 0xE0)
                lo = 0xA0; // overlong
            else if (c == 0xED)
                hi = 0x9F; // surrogates
        } else if (c >= 0xF0 && c <= 0xF4) {
            length = 4;
            if (c == 0xF0)
                lo = 0x90; // overlong
            else if (c == 0xF4)
                hi = 0x8F; // above U+10FFFF
        } else {
            return i; // stray continuation, C0, C1, F5..FF
        }
        if (i + length > n)
            return i;
        if (s[i + 1] < lo || s[i + 1] > hi)
            return i;
        for (int k = 2; k < length; ++k) {
            if ((s[i + k] & 0xC0) != 0x80)
                return i;
        }
        i += length;
    }
    return -1;
}

} // namespace run
