#include "Query.h"

#include "Connection.h"
#include "DbError.h"
#include "ParamMarkerScan.h"

#include <cstdint>
#include <cstring>

namespace db {

namespace {

// Lines end at CR LF, a lone CR or a lone LF; reading back gives every line
// followed by CR LF, so the normalised text is the statement text itself.
// The text as it reads back. Most texts need nothing or only a final CR LF:
// those are taken over as they are, without a copy where they have room.
// The first unit at or after i that could be a line break (at most CR), or n.
// Statement texts are long and have few: four units are tested at a time.
qsizetype nextControl(const char16_t *s, qsizetype i, qsizetype n)
{
    constexpr std::uint64_t ones = 0x0001000100010001ULL;
    constexpr std::uint64_t highs = 0x8000800080008000ULL;
    for (;;) {
        for (; i + 4 <= n; i += 4) {
            std::uint64_t x;
            std::memcpy(&x, s + i, sizeof x);
            if (((x - ones * (u'\r' + 1)) & ~x & highs) != 0)
                break; // some unit is below CR + 1
        }
        for (const qsizetype stop = qMin(i + 4, n); i < stop; ++i) {
            if (s[i] <= u'\r')
                return i;
        }
        if (i >= n)
            return n;
    }
}

QString statementTextOf(QString text)
{
    const char16_t *s = reinterpret_cast<const char16_t *>(text.constData());
    const qsizetype n = text.size();
    bool regular = true; // every break a CR LF pair
    for (qsizetype i = nextControl(s, 0, n); i < n && regular; i = nextControl(s, i, n)) {
        if (s[i] == u'\r')
            regular = i + 1 < n && s[i + 1] == u'\n' && (++i, true);
        else if (s[i] == u'\n')
            regular = false;
        ++i;
    }
    if (regular) {
        if (n > 0 && !(n >= 2 && s[n - 2] == u'\r' && s[n - 1] == u'\n'))
            text.append(QLatin1String("\r\n"));
        return text;
    }
    QString out;
    out.reserve(n + 2);
    qsizetype runStart = 0;
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = s[i];
        if (c != u'\r' && c != u'\n')
            continue;
        out.append(QStringView(s + runStart, i - runStart));
        out.append(QLatin1String("\r\n"));
        if (c == u'\r' && i + 1 < n && s[i + 1] == u'\n')
            ++i;
        runStart = i + 1;
    }
    if (runStart < n) {
        out.append(QStringView(s + runStart, n - runStart));
        out.append(QLatin1String("\r\n"));
    }
    return out;
}

} // namespace

Query::Query(Connection &connection, QString name) : connection_(connection), name_(std::move(name)) {}

void Query::setSql(QString text)
{
    close();
    QString statement = statementTextOf(std::move(text));
    if (statement == statementText_)
        return;
    statementText_ = std::move(statement);
    scanned_ = false;
}

const QString &Query::commandText() const
{
    if (!scanned_) {
        ScannedCommand scanned = scanParameterMarkers(statementText_);
        commandText_ = std::move(scanned.commandText);
        parameterNames_ = std::move(scanned.parameterNames);
        scanned_ = true;
    }
    return commandText_;
}

const QStringList &Query::parameterNames() const
{
    (void)commandText();
    return parameterNames_;
}

void Query::close()
{
    if (!active_)
        return;
    active_ = false;
    result_.clear();
}

void Query::failSession(const QString &message) const
{
    throw DbError(DbError::Kind::Session, name_ + QStringLiteral(": ") + message);
}

void Query::requireText() const
{
    if (statementText_.isEmpty())
        failSession(QStringLiteral("Missing SQL property"));
}

void Query::execSql()
{
    close();
    requireText();
    connection_.execute(commandText());
}

void Query::open()
{
    close();
    requireText();
    connection_.query(commandText(), result_);
    if (result_.columnCount() == 0) {
        result_.clear();
        failSession(QStringLiteral("CommandText does not return a result set"));
    }
    active_ = true;
}

void Query::first()
{
    if (active_)
        check(result_.first());
}

void Query::next()
{
    if (active_)
        check(result_.next());
}

bool Query::eof() const noexcept
{
    return !active_ || result_.atEnd();
}

int Query::recordCount() const
{
    if (!active_)
        failSession(QStringLiteral("Cannot perform this operation on a closed dataset"));
    return int(result_.rowCount());
}

QString Query::fieldAsString(QStringView fieldName) const
{
    const int column = active_ ? result_.columnIndex(fieldName) : -1;
    if (column < 0)
        failSession(QStringLiteral("Field '%1' not found").arg(fieldName));
    return result_.text(column);
}

void Query::check(int rc)
{
    if (rc != 0 && rc != 100 && rc != 101) // SQLITE_OK, SQLITE_ROW, SQLITE_DONE
        connection_.failRead(rc);
}

} // namespace db
