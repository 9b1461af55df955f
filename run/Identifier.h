#pragma once

#include <db/Statement.h>

#include <QByteArrayView>

#include <optional>

namespace run {

// An identifier field is taken only when it is an optional sign and decimal
// digits, with blanks and tabs around them. Its value is the number those
// digits are: an integer when it fits in 64 bits, else the real number the
// engine would read (which no integer column takes). None when the field is
// anything else.
std::optional<db::Number> identifierValue(QByteArrayView field);

// The value when it is a whole number of 32 bits, as the tables hold them.
std::optional<qint32> asInt32(const db::Number &value);

} // namespace run
