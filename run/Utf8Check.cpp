#include "Utf8Check.h"

#include <QtEndian>

#include <bit>
#include <cstdint>
#include <cstring>

namespace run {

namespace {

constexpr std::uint64_t ones = 0x0101010101010101ull;
constexpr std::uint64_t highs = 0x8080808080808080ull;

// Eight bytes with the first of them in the lowest, on any machine.
inline std::uint64_t load(const unsigned char *p)
{
    return qFromLittleEndian<quint64>(p);
}

// The high bit of every byte that is not 01..7F, and perhaps of bytes after
// such a one, never before it. A byte with its high bit set shows in `word`
// itself; of the others, a zero byte is the only one that borrows when one is
// taken from every byte, so no byte before the first zero byte is touched.
inline std::uint64_t notPlainAscii(std::uint64_t word)
{
    return (word | (word - ones)) & highs;
}

// The bytes from `i` to the end, fewer than eight, then blanks up to eight.
inline std::uint64_t tailWord(const unsigned char *s, qsizetype i, qsizetype n)
{
    constexpr std::uint64_t blanks = 0x2020202020202020ull;
    if (n >= 8) {
        // The last eight bytes, those before `i` shifted out.
        const int before = int(8 - (n - i)) * 8;
        return (load(s + n - 8) >> before) | (blanks << (64 - before));
    }
    unsigned char tail[8];
    std::memset(tail, ' ', sizeof tail);
    std::memcpy(tail, s + i, std::size_t(n - i));
    return load(tail);
}

// True when the eight bytes are four two-byte sequences, each well-formed:
// a first byte C2..DF (110xxxxx but not C0 or C1, whose bits 1 to 4 are all
// zero) and a continuation byte 80..BF after it.
inline bool fourTwoByteSequences(std::uint64_t word)
{
    constexpr std::uint64_t form = 0xC0E0C0E0C0E0C0E0ull, pairs = 0x80C080C080C080C0ull;
    constexpr std::uint64_t notOverlong = 0x001E001E001E001Eull, lanes = 0x8000800080008000ull;
    // Each 16-bit lane's bits 1..4 of the first byte, plus 7FFF: bit 15 set
    // exactly when one of them is, and no carry out of the lane.
    return (word & form) == pairs && (((word & notOverlong) + 0x7FFF7FFF7FFF7FFFull) & lanes) == lanes;
}

// Where in `word` its first byte that is not 01..7F stands, given that one does.
inline int firstNotPlain(std::uint64_t mask)
{
    return std::countr_zero(mask) >> 3;
}

} // namespace

qsizetype firstNulOrIllFormedUtf8(QByteArrayView bytes)
{
    const auto *s = reinterpret_cast<const unsigned char *>(bytes.data());
    const qsizetype n = bytes.size();
    qsizetype i = 0;
    for (;;) {
        // Most of a list is ASCII (identifiers, separators, Latin titles, the
        // blanks between words): eight bytes at a time up to the first that
        // is not, so that the exact rule below sees only what needs it.
        std::uint64_t mask = 0;
        while (i + 8 <= n) {
            mask = notPlainAscii(load(s + i));
            if (mask)
                break;
            i += 8;
        }
        if (!mask) {
            if (i == n)
                return -1;
            // The last few bytes as a word of their own, blanks after them.
            mask = notPlainAscii(tailWord(s, i, n));
            if (!mask)
                return -1;
        }
        i += firstNotPlain(mask);

        // Here stands a NUL or the first byte of a sequence: the exact rule.
        // Cyrillic titles are runs of two-byte sequences; take them together.
        while (i + 8 <= n && fourTwoByteSequences(load(s + i)))
            i += 8;
        if (i == n)
            return -1;
        unsigned char c = s[i];
        while (c >= 0xC2 && c <= 0xDF) {
            if (i + 2 > n || (s[i + 1] & 0xC0) != 0x80)
                return i;
            i += 2;
            if (i == n)
                return -1;
            c = s[i];
        }
        if (c < 0x80) {
            if (c == 0)
                return i;
            continue;
        }
        int length;
        unsigned char lo = 0x80, hi = 0xBF; // allowed range of the second byte
        if (c >= 0xE0 && c <= 0xEF) {
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
        if (i + length > n || s[i + 1] < lo || s[i + 1] > hi)
            return i;
        for (int k = 2; k < length; ++k) {
            if ((s[i + k] & 0xC0) != 0x80)
                return i;
        }
        i += length;
    }
}

} // namespace run
