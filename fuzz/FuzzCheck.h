#pragma once

#include <QByteArray>
#include <QString>

#include <cstdio>
#include <cstdlib>

// An invariant that an input broke. The message goes to stderr and the
// process aborts, so that libFuzzer keeps the input as a crash and the replay
// driver fails its test.
[[noreturn]] inline void fuzzFailure(const char *condition, const char *file, int line, const QString &detail)
{
    std::fprintf(stderr, "%s:%d: invariant broken: %s\n", file, line, condition);
    if (!detail.isEmpty())
        std::fprintf(stderr, "  %s\n", detail.toUtf8().constData());
    std::fflush(stderr);
    std::abort();
}

#define FUZZ_CHECK(condition)                                                                                          \
    do {                                                                                                               \
        if (!(condition))                                                                                              \
            fuzzFailure(#condition, __FILE__, __LINE__, QString());                                                    \
    } while (false)

#define FUZZ_CHECK_MSG(condition, detail)                                                                              \
    do {                                                                                                               \
        if (!(condition))                                                                                              \
            fuzzFailure(#condition, __FILE__, __LINE__, (detail));                                                     \
    } while (false)

// Shows a text with every character outside printable ASCII escaped, so that
// a failure message names the exact input.
inline QString escapedForMessage(QStringView text)
{
    QString out;
    for (const QChar c : text) {
        if (c.unicode() >= 0x20 && c.unicode() < 0x7f)
            out += c;
        else
            out += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
    }
    return out;
}
