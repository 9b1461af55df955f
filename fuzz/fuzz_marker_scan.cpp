// The parameter-marker scan: a text in which it finds no marker reaches the
// engine unchanged, and so does every statement the run builds around a text
// literal, whatever the text holds.
#include "FuzzCheck.h"

#include <db/Connection.h>
#include <db/ParamMarkerScan.h>
#include <db/Query.h>

#include <run/StatementText.h>

#include <cstdint>
#include <cstring>

namespace {

// The run's own literal for a text.
QString quoted(QStringView text)
{
    return run::StatementText::quoted(text);
}

QString withoutBreaks(QString text)
{
    text.remove(u'\r');
    text.remove(u'\n');
    return text;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    // The first byte picks how the rest becomes text: UTF-8 as the run's
    // texts are, or raw UTF-16 units so that any character can appear.
    QString text;
    if (data[0] & 1) {
        text = QString(qsizetype((size - 1) / 2), Qt::Uninitialized);
        std::memcpy(text.data(), data + 1, std::size_t(text.size()) * sizeof(QChar));
    } else {
        text = QString::fromUtf8(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));
    }

    const db::ScannedCommand scanned = db::scanParameterMarkers(text);
    if (scanned.parameterNames.isEmpty())
        FUZZ_CHECK_MSG(scanned.commandText == text, escapedForMessage(text));
    if (!text.contains(u':'))
        FUZZ_CHECK(scanned.parameterNames.isEmpty());
    // A marker, its colon and its name (empty when a blank follows the
    // colon), becomes a single "?": nothing is ever added.
    FUZZ_CHECK(scanned.commandText.size() <= text.size());
    FUZZ_CHECK(scanned.commandText.count(u'?') >= scanned.parameterNames.size());

    // The text as the run puts it into a statement: a literal, never a marker.
    const QString statement = QStringLiteral("INSERT INTO Razdel_table(old_id,str_value) VALUES(1,\r\n") + quoted(text)
        + QStringLiteral(")\r\n");
    const db::ScannedCommand asLiteral = db::scanParameterMarkers(statement);
    FUZZ_CHECK_MSG(asLiteral.parameterNames.isEmpty(), escapedForMessage(text));
    FUZZ_CHECK(asLiteral.commandText == statement);

    // Through a query object: the statement lines each end in CR LF, and
    // nothing but line breaks is added or lost.
    static db::Connection connection; // never opened
    static db::Query query(connection, QStringLiteral("qTemp"));
    query.setSql(text);
    const QString &lines = query.sql();
    FUZZ_CHECK(lines.isEmpty() || lines.endsWith(QLatin1String("\r\n")));
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (lines[i] == u'\r')
            FUZZ_CHECK(i + 1 < lines.size() && lines[i + 1] == u'\n');
        if (lines[i] == u'\n')
            FUZZ_CHECK(i > 0 && lines[i - 1] == u'\r');
    }
    FUZZ_CHECK(withoutBreaks(lines) == withoutBreaks(text));
    if (query.parameterNames().isEmpty())
        FUZZ_CHECK(query.commandText() == lines);
    return 0;
}
