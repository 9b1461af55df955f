#pragma once

#include <QByteArray>
#include <QStringList>

#include <optional>

// The arguments after the program's name, as the names they stand for. The
// application's own list turns bytes that are not UTF-8 into U+FFFD, so a
// name in a legacy code page would name another file, or none: where the
// system passes bytes they are decoded here, and the first argument that
// does not decode goes to `undecodable`.
// The one place where the systems differ (ArgumentsPosix.cpp, ArgumentsWindows.cpp).
QStringList argumentsOf(int argc, char **argv, std::optional<QByteArray> &undecodable);
