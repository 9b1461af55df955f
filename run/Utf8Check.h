#pragma once

#include <QByteArrayView>

namespace run {

// Offset of the first byte that does not start a well-formed UTF-8 sequence
// (overlong forms, surrogates, values above U+10FFFF, cut-short sequences,
// stray continuation bytes, C0, C1, F5..FF), or -1 when all of it is well-formed.
qsizetype firstIllFormedUtf8(QByteArrayView bytes);

} // namespace run
