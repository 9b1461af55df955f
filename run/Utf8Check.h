#pragma once

#include <QByteArrayView>

namespace run {

// Offset of the first byte that a list in UTF-8 may not hold: a NUL, or a
// byte that does not start a well-formed UTF-8 sequence (overlong forms,
// surrogates, values above U+10FFFF, cut-short sequences, stray continuation
// bytes, C0, C1, F5..FF); -1 when there is none.
qsizetype firstNulOrIllFormedUtf8(QByteArrayView bytes);

} // namespace run
