#include "Utf8Check.h"

#include <QtEndian>

#include <cstdint>
#include <cstring>

namespace run {

namespace {

constexpr std::uint64_t highs = 0x8080808080808080ull;

// Eight bytes with the first of them in the lowest, on any machine.
inline std::uint64_t load(const unsigned char *p)
{
    return qFromLittleEndian<quint64>(p);
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

// The high bit of every byte that is 00, and of no other: a byte below 80
// plus 7F reaches 80 unless it is 00, and one of 80 or more has it already.
inline std::uint64_t zeroBytes(std::uint64_t word)
{
    return ~(((word & ~highs) + ~highs) | word) & highs;
}

// The faults of eight bytes as plain ASCII and two-byte sequences: the high
// bit of every byte that is neither plain ASCII nor part of a well-formed
// two-byte sequence, or a sequence's byte out of its place (and perhaps of
// some bytes after it). `carry` is 80 when the byte before the eight starts
// a sequence; `carryOut` is the same for the next eight. Cyrillic and Latin
// titles hold no other bytes nearly throughout, and both kinds take the
// same path: no branch to mispredict where scripts alternate.
inline std::uint64_t twoByteFaults(std::uint64_t word, std::uint64_t carry, std::uint64_t &carryOut)
{
    const std::uint64_t high = word & highs;
    // The high bit of each byte stands for the byte; a shift brings the
    // byte's own bits 6 and 5 there, never a neighbour's.
    const std::uint64_t continuation = high & ~(word << 1);         // 10xxxxxx
    const std::uint64_t lead = high & (word << 1) & ~(word << 2)    // 110xxxxx
        & ((word & 0x1E1E1E1E1E1E1E1Eull) + 0x7F7F7F7F7F7F7F7Full); // not C0, C1
    // Every continuation right after a lead, every lead right before one.
    const std::uint64_t faults =
        (high & ~continuation & ~lead) | zeroBytes(word) | (continuation ^ ((lead << 8) | carry));
    carryOut = lead >> 56;
    return faults;
}

} // namespace

qsizetype firstNulOrIllFormedUtf8(QByteArrayView bytes)
{
    const auto *s = reinterpret_cast<const unsigned char *>(bytes.data());
    const qsizetype n = bytes.size();
    qsizetype i = 0;
    for (;;) {
        // Eight bytes at a time while they pass, always eight: a sequence
        // that a word cuts is carried into the next one, so that where the
        // next word starts never waits for this one's verdict.
        std::uint64_t carry = 0;
        while (i + 8 <= n) {
            std::uint64_t carryOut;
            if (twoByteFaults(load(s + i), carry, carryOut))
                break;
            carry = carryOut;
            i += 8;
        }
        // The last few bytes as a word of their own: a blank after them is
        // no continuation, so a sequence they cut short is a fault.
        if (i < n && i + 8 > n) {
            std::uint64_t carryOut;
            if (!twoByteFaults(tailWord(s, i, n), carry, carryOut))
                return -1;
        }
        // Back to the start of a sequence the last word began.
        if (carry)
            --i;
        if (i == n)
            return -1;

        // One sequence by the exact rule: the last few bytes, and words that
        // hold a NUL, a longer sequence or a fault.
        const unsigned char c = s[i];
        if (c < 0x80) {
            if (c == 0)
                return i;
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
