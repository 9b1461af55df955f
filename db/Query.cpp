#include "Query.h"

#include "Connection.h"
#include "DbError.h"
#include "ParamMarkerScan.h"

namespace db {

namespace {

// Lines end at CR LF, a lone CR or a lone LF; reading back gives every line
// followed by CR LF, so the normalised text is the statement text itself.
// The text as it reads back. Most texts need nothing or only a final CR LF:
// those are taken over as they are, without a copy where they have room.
QString statementTextOf(QString text)
{
    const char16_t *s = reinterpret_cast<const char16_t *>(text.constData());
    const qsizetype n = text.size();
    bool regular = true; // every break a CR LF pair
    for (qsizetype i = 0; i < n && regular; ++i) {
        if (s[i] > u'\r')
            continue;
        if (s[i] == u'\r')
            regular = i + 1 < n && s[i + 1] == u'\n' && (++i, true);
        else if (s[i] == u'\n')
            regular = false;
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
