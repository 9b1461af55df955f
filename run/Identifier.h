#pragma once

#include <QStringView>

namespace run {

// An identifier field may go into a statement unquoted only when it is an
// optional sign and decimal digits, with blanks and tabs around them: then no
// line of input can change what a statement does.
bool isPlainInteger(QStringView field);

} // namespace run
