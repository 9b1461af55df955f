#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace run {

// A name as the system passes it, in bytes (an argument, the program's own
// path), decoded as the file functions will encode it again. None when that
// would not give the same bytes back: the decoded name would then reach
// another file or none, as with a name in a legacy code page on a UTF-8
// system.
std::optional<QString> decodedName(const QByteArray &bytes);

// The folder of the running program, with its trailing separator. None when
// its name does not decode; `bytes`, when given, then receives that name as
// the system holds it, for the message. Each system tells it in its own way
// (SystemNameLinux.cpp, SystemNameOther.cpp).
std::optional<QString> programFolder(QByteArray *bytes = nullptr);

} // namespace run
