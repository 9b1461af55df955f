#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

namespace db {

// UTF-8 to UTF-16 and back, exactly: unlike the toolkit's plain conversion,
// a U+FEFF at the start is kept as the character it is.
QString decodeUtf8(QByteArrayView bytes);

// Appends the UTF-8 of a text (an unpaired surrogate becomes U+FFFD).
void appendUtf8(QByteArray &out, QStringView text);
// The same into room for at least three bytes a unit; returns the end.
char *encodeUtf8(QStringView text, char *out) noexcept;

} // namespace db
