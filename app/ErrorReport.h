#pragma once

#include <QString>

#include <exception>

// The application error report: a failure that escaped an event handler,
// shown in an error box captioned with the application title.
class ErrorReport
{
public:
    // The failure's message, or that of the innermost cause nested in it when
    // that one is not empty, with the report's full-stop rule applied.
    static QString text(const std::exception &failure);

    static void show(const std::exception &failure);
    // For a failure that is no std::exception at all.
    static void showUnknown();
};
