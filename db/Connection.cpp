#include "Connection.h"

#include "DbError.h"
#include "EngineText.h"
#include "SqlTokens.h"
#include "SqliteStatement.h"
#include "Utf8Text.h"

#include <QScopeGuard>
#include <QStringList>

#include <sqlite3.h>

#include <cstdio>
#include <cstring>
#include <limits>

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace db {

namespace {

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
}

// The engine lacks the "DELETE * FROM <table>" form that the run uses to empty
// a table; that form, and only that form, becomes "DELETE FROM <table>".
void translate(QByteArray &sql)
{
    const auto n = sql.size();
    qsizetype i = 0;
    while (i < n && isSpace(sql[i]))
        ++i;
    auto keyword = [&](qsizetype at, const char *word) {
        const auto len = qsizetype(qstrlen(word));
        return at + len <= n && qstrnicmp(sql.constData() + at, word, len) == 0;
    };
    if (!keyword(i, "DELETE"))
        return;
    qsizetype j = i + 6;
    const qsizetype starFrom = j;
    while (j < n && isSpace(sql[j]))
        ++j;
    if (j == starFrom || j >= n || sql[j] != '*')
        return;
    ++j;
    const qsizetype fromFrom = j;
    while (j < n && isSpace(sql[j]))
        ++j;
    if (j == fromFrom || !keyword(j, "FROM"))
        return;
    const qsizetype after = j + 4;
    if (after < n && !isSpace(sql[after]))
        return;
    // Keep "DELETE", drop everything from the blank before "*" up to "FROM".
    sql.remove(starFrom, j - starFrom);
    sql.insert(starFrom, ' ');
}

bool onlySpace(const char *tail)
{
    for (; tail && *tail; ++tail) {
        if (!isSpace(*tail))
            return false;
    }
    return true;
}

} // namespace

std::chrono::milliseconds Connection::envInterval()
{
    bool ok = false;
    const int ms = qEnvironmentVariableIntValue("REINDEX_COMMIT_MS", &ok);
    // A few seconds: a crash loses no more than that of table rows, while
    // committing more often costs a large run much of its time.
    return std::chrono::milliseconds(ok && ms > 0 ? ms : 5000);
}

Connection::Connection(QString name) : name_(std::move(name)) {}

Connection::~Connection()
{
    try {
        close();
    } catch (...) {
        // A failed final commit has nowhere to go at destruction time.
    }
}

QString Connection::composeConnectionString(const QString &programDirectory)
{
    return QStringLiteral("Provider=%1;Data Source=").arg(QLatin1String(providerName)) + programDirectory
        + QStringLiteral("Database.mdb;Persist Security Info=False");
}

void Connection::setConnectionString(const QString &text)
{
    connectionString_ = text;
}

namespace {

// keyword=value pairs separated by ";". A directory may itself hold ";" or
// "=", so a piece that does not start with a known keyword, or repeats one
// already seen, belongs to the value before it.
QString valueOf(const QString &connectionString, QStringView wanted)
{
    static const char *const keywords[] = {"provider", "data source", "persist security info", "user id",
                                           "password", "mode", "extended properties"};
    QString found;
    bool inWanted = false;
    bool any = false;
    QStringList seen;
    const QStringList pieces = connectionString.split(u';');
    for (const QString &piece : pieces) {
        const qsizetype eq = piece.indexOf(u'=');
        bool known = false;
        if (eq > 0) {
            const QString key = piece.left(eq).trimmed().toLower();
            for (const char *k : keywords)
                known = known || key == QLatin1String(k);
            if (known && !seen.contains(key)) {
                seen.append(key);
                inWanted = key.compare(wanted, Qt::CaseInsensitive) == 0;
                if (inWanted) {
                    found = piece.mid(eq + 1);
                    any = true;
                }
                continue;
            }
        }
        if (inWanted)
            found += u';' + piece;
    }
    return any ? found : QString();
}

} // namespace

QString Connection::dataSource() const
{
    return valueOf(connectionString_, u"data source");
}

void Connection::open()
{
    if (isOpen())
        return;
    const QString provider = valueOf(connectionString_, u"provider").trimmed();
    if (provider.compare(QLatin1String(providerName), Qt::CaseInsensitive) != 0)
        throw DbError(DbError::Kind::Engine,
                      QStringLiteral("Provider cannot be found. It may not be properly installed"));
    const QString path = dataSource();
    if (path.isEmpty())
        throw DbError(DbError::Kind::Engine, QStringLiteral("No data source was given"));

    SqliteDatabase candidate = SqliteDatabase::openExisting(path);
    sqlite3 *h = candidate.handle();
    sqlite3_busy_timeout(h, 30000);
    // Both tables, with the columns the run reads, or the open fails. This also
    // rejects a file that is not a database of this engine.
    for (const char *probe : {"SELECT id, old_id, str_value FROM Razdel_table LIMIT 0",
                              "SELECT id, old_id, podrazdel_id, new_id, str_value FROM Forum_table LIMIT 0"}) {
        sqlite3_stmt *raw = nullptr;
        const int rc = sqlite3_prepare_v2(h, probe, -1, &raw, nullptr);
        SqliteStatement stmt(raw);
        if (rc != SQLITE_OK)
            throw DbError(DbError::Kind::Engine, candidate.lastError(), rc);
    }
    char *err = nullptr;
    bool ok = false;
    int cacheKb = qEnvironmentVariableIntValue("REINDEX_CACHE_KB", &ok);
    if (!ok || cacheKb <= 0)
        cacheKb = 73728; // the tables of a million forums fit, and a run stays within three times its input
    const QByteArray pragmas = "PRAGMA journal_mode=WAL;"
                               "PRAGMA synchronous=NORMAL;"
                               "PRAGMA temp_store=MEMORY;"
                               "PRAGMA cache_size=-" + QByteArray::number(cacheKb) + ";";
    cacheKb_ = cacheKb;
    openedCacheKb_ = cacheKb;
    const int rc = sqlite3_exec(h, pragmas.constData(), nullptr, nullptr, &err);
    if (rc != SQLITE_OK) {
        const QString text = err ? QString::fromUtf8(err) : candidate.lastError();
        sqlite3_free(err);
        throw DbError(DbError::Kind::Engine, trimEngineText(text), rc);
    }
    db_ = std::move(candidate);
    inGroup_ = false;
}

void Connection::close()
{
    if (!isOpen())
        return;
    // Reset before committing so that a failing commit cannot leave a handle behind.
    struct Closer
    {
        SqliteDatabase &db;
        ~Closer() { db.reset(); }
    } closer{db_};
    struct Releaser
    {
        Connection &c;
        ~Releaser()
        {
            c.dropImage();
            c.writeBehind_.reset();
            c.releaseShapes();
        }
    } releaser{*this};
    commit();
}

void Connection::exec(const char *sql)
{
    const int rc = sqlite3_exec(db_.handle(), sql, nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) {
        QString text = db_.lastError();
        if (text.isEmpty())
            text = QString::fromUtf8(sqlite3_errstr(rc));
        throw DbError(DbError::Kind::Engine, text, rc);
    }
}

void Connection::beginGroup()
{
    if (inGroup_)
        return;
    // The write lock from the start: held-back updates are writes that other
    // connections must wait for as for any other.
    exec("BEGIN IMMEDIATE");
    inGroup_ = true;
    groupStart_ = std::chrono::steady_clock::now();
    noteSchema();
    noteOtherWriters();
}

qint64 Connection::integerOf(const QByteArray &sql)
{
    sqlite3_stmt *raw = nullptr;
    qint64 value = -1;
    if (sqlite3_prepare_v2(db_.handle(), sql.constData(), int(sql.size()), &raw, nullptr) == SQLITE_OK
        && sqlite3_step(raw) == SQLITE_ROW)
        value = sqlite3_column_int64(raw, 0);
    sqlite3_finalize(raw);
    return value;
}

void Connection::noteOtherWriters()
{
    // Changes another connection committed since the last group: an image of
    // the rows would no longer be theirs.
    const qint64 version = integerOf("PRAGMA data_version");
    if (version != dataVersion_ || version < 0) {
        dataVersion_ = version;
        dropImage();
    }
}

void Connection::noteSchema()
{
    // Another connection may have changed the tables' definitions between two
    // groups, and statements of ours that are not plain row changes may
    // change them, temporary ones included.
    qint64 version = 0;
    for (const char *sql : {"PRAGMA main.schema_version", "PRAGMA temp.schema_version"})
        version = (version << 32) ^ quint32(integerOf(sql));
    if (version != schemaVersion_ || version < 0) {
        schemaVersion_ = version;
        ++schemaEpoch_;
        dropImage();
    }
}

void Connection::fitCacheTo(qint64 bytes)
{
    dropImage();
    const qint64 kb = qMax(bytes / 1024, openedCacheKb_);
    // About as many held rows as the cache holds rows of forty-odd bytes.
    writeBehind_.setCapacity(std::size_t(kb) * 1024 / 48);
    if (!isOpen() || kb == cacheKb_)
        return;
    setCacheKb(kb);
}

void Connection::setCacheKb(qint64 kb)
{
    cacheKb_ = kb;
    exec(QByteArray("PRAGMA cache_size=-" + QByteArray::number(kb)).constData());
}

void Connection::shrinkCacheTo(qint64 bytes)
{
    dropImage();
    const qint64 kb = qMax<qint64>(bytes / 1024, 1024);
    if (!isOpen() || kb >= cacheKb_)
        return;
    // Written pages stay in the cache until they are committed; the pass's
    // own result goes on reading from its statement.
    commitGroup();
    setCacheKb(kb);
    sqlite3_db_release_memory(db_.handle());
#ifdef __GLIBC__
    // The freed pages lie scattered in the heap; only this hands them back.
    malloc_trim(0);
#endif
}

void Connection::commit()
{
    if (!isOpen())
        return;
    // A statement still being read keeps the engine's log from starting over
    // after the commit: it would grow by every page written, for as long as
    // the statement lives. Its result fetches the rest first.
    settleAll();
    commitGroup();
}

void Connection::commitGroup()
{
    if (!writeBehind_.empty()) {
        if (sqlite3_get_autocommit(db_.handle())) {
            inGroup_ = false; // the engine ended the group itself
            dropImage();
            beginGroup();
        }
        applyHeld();
    }
    if (sqlite3_get_autocommit(db_.handle())) {
        // The engine may have rolled a group back itself (a full disk, say).
        inGroup_ = false;
        dropImage();
        return;
    }
    inGroup_ = false;
    exec("COMMIT");
}

void Connection::commitIfDue()
{
    // A statement takes a microsecond or two: the clock is read every few
    // dozen of them.
    if (!inGroup_ || (++sinceClock_ & 63) != 0)
        return;
    if (std::chrono::steady_clock::now() - groupStart_ >= commitInterval_)
        commit();
}

void Connection::fail(int rc, const QString &text)
{
    // What ran before a failure is kept, as if every statement had taken effect
    // by itself; the failure's own message wins over a failing commit.
    try {
        commit();
    } catch (const DbError &) {
    }
    writeBehind_.clear();
    dropImage();
    throw DbError(DbError::Kind::Engine, trimEngineText(text), rc);
}

namespace {

// Whether a statement can only change rows, never the tables' definitions:
// anything else has the connection look at the schema again afterwards.
bool changesRowsOnly(QByteArrayView shape)
{
    const auto cut = SqlTokens::split(shape);
    if (!cut || cut->tokens().empty())
        return false;
    const SqlTokens::Token &first = cut->tokens().front();
    for (const char *w : {"INSERT", "UPDATE", "DELETE", "REPLACE", "SELECT", "WITH", "VALUES"}) {
        if (SqlTokens::isWord(first, w))
            return true;
    }
    return false;
}

// Whether an index's definition does without the column: its text may name
// the column in its key or in a WHERE of a partial index.
bool indexLeavesOut(QByteArrayView createIndex, QByteArrayView column)
{
    const auto cut = SqlTokens::split(createIndex);
    if (!cut)
        return false;
    for (const SqlTokens::Token &t : cut->tokens()) {
        if (t.kind == SqlTokens::Token::Kind::Word && SqlTokens::same(t.text, column))
            return false;
    }
    return true;
}

// Compiles a command text as exactly one statement: anything but white space
// after it is refused, so an input line can never smuggle in a second one.
SqliteStatement compileOne(sqlite3 *h, const QByteArray &sql, int &rc, QString &error, int parameters = 0)
{
    sqlite3_stmt *raw = nullptr;
    const char *tail = nullptr;
    rc = sqlite3_prepare_v2(h, sql.constData(), int(sql.size()), &raw, &tail);
    SqliteStatement stmt(raw);
    if (rc != SQLITE_OK) {
        error = QString::fromUtf8(sqlite3_errmsg(h));
        return SqliteStatement();
    }
    if (!stmt) {
        rc = SQLITE_MISUSE;
        error = QStringLiteral("Command text contains no statement");
        return SqliteStatement();
    }
    if (!onlySpace(tail)) {
        rc = SQLITE_ERROR;
        error = QStringLiteral("Characters found after end of SQL statement");
        return SqliteStatement();
    }
    if (sqlite3_bind_parameter_count(stmt.handle()) != parameters) {
        rc = SQLITE_RANGE;
        error = QStringLiteral("No value given for one or more required parameters");
        return SqliteStatement();
    }
    return stmt;
}

} // namespace

Connection::Shaped *Connection::findShape(QStringView sql, bool forQuery)
{
    if (shapesStale_) {
        shapesStale_ = false;
        applyHeld();
        writeBehind_.reset();
        settleAll();
        forgetShapes();
    }
    if (!shape_.parse(sql) || shape_.literals().empty())
        return nullptr;
    // A run alternates between two or three shapes: the last ones used are
    // compared before any hashing.
    for (Shapes::value_type *recent : recent_) {
        if (recent && recent->first == shape_.shape())
            return usableShape(recent->second, forQuery);
    }
    auto it = shapes_.find(shape_.shape());
    if (it == shapes_.end()) {
        // Few shapes ever occur; a runaway variety only costs recompiling.
        if (shapes_.size() >= 64) {
            applyHeld();
            writeBehind_.reset();
            settleAll();
            forgetShapes();
        }
        Shaped shaped;
        int rc = SQLITE_OK;
        QString ignored;
        shaped.statement = compileOne(db_.handle(), shape_.shape(), rc, ignored, int(shape_.literals().size()));
        if (shaped.statement) {
            sqlite3_stmt *st = shaped.statement.handle();
            shaped.usable = true;
            shaped.readOnly = sqlite3_stmt_readonly(st) != 0;
            // A literal in the result columns would lend its text to a column's
            // name; such statements keep their literals.
            shaped.namesOk = true;
            for (int c = 0; c < sqlite3_column_count(st); ++c) {
                const char *name = sqlite3_column_name(st, c);
                if (std::strchr(name, '?'))
                    shaped.namesOk = false;
                shaped.columnNames.append(QString::fromUtf8(name));
            }
            if (shaped.readOnly)
                shaped.read = KeyedRead::match(shape_.shape());
            else
                shaped.update = KeyedUpdate::match(shape_.shape());
            shaped.changesRowsOnly = changesRowsOnly(shape_.shape());
        }
        it = shapes_.emplace(shape_.shape(), std::move(shaped)).first;
    }
    std::move_backward(recent_.begin(), recent_.end() - 1, recent_.end());
    recent_.front() = &*it; // elements stay where they are when the table grows
    return usableShape(it->second, forQuery);
}

Connection::Shaped *Connection::usableShape(Shaped &shaped, bool forQuery)
{
    if (!shaped.usable || (forQuery && !shaped.namesOk))
        return nullptr;
    return &shaped;
}

void Connection::forgetShapes() noexcept
{
    recent_.fill(nullptr);
    shapes_.clear();
}

void Connection::bind(Shaped &shaped, bool forQuery)
{
    if (shaped.heldBy)
        settle(shaped.heldBy); // its bindings are still in use
    // A result may step its statement again long after the next statement has
    // been taken apart over these texts: it gets copies of its own.
    bindLiterals(shaped.statement.handle(), forQuery ? SQLITE_TRANSIENT : SQLITE_STATIC);
}

void Connection::bindLiterals(sqlite3_stmt *st, void (*lifetime)(void *))
{
    int index = 1;
    for (const StatementShape::Literal &l : shape_.literals()) {
        if (l.kind == StatementShape::Literal::Kind::Integer)
            sqlite3_bind_int64(st, index, l.integer);
        else
            sqlite3_bind_text(st, index, shape_.text(l), int(l.length), lifetime);
        ++index;
    }
}

const DeferrableColumn *Connection::ruleFor(Shaped &shaped)
{
    if (shaped.ruleEpoch == schemaEpoch_)
        return shaped.rule ? &*shaped.rule : nullptr;
    shaped.rule.reset();
    shaped.ruleEpoch = schemaEpoch_;
    const KeyedUpdate &form = *shaped.update;
    sqlite3 *h = db_.handle();
    // Triggers could act on the held rows, a temporary table could stand in
    // for the table, checked references would need the value at once, and an
    // index holding the column could refuse a value or order a read by it.
    const char *const look[] = {
        "SELECT type, sql FROM sqlite_temp_schema WHERE type = 'trigger' OR name = ?1 COLLATE NOCASE",
        "SELECT type, sql FROM sqlite_schema WHERE tbl_name = ?1 COLLATE NOCASE AND type IN ('table', 'trigger', 'index')",
        "SELECT 'checked references', NULL FROM pragma_foreign_keys WHERE foreign_keys",
    };
    QByteArray definition;
    int tables = 0;
    for (const char *sql : look) {
        sqlite3_stmt *raw = nullptr;
        if (sqlite3_prepare_v2(h, sql, -1, &raw, nullptr) != SQLITE_OK) {
            sqlite3_finalize(raw);
            return nullptr;
        }
        SqliteStatement stmt(raw);
        if (sqlite3_bind_parameter_count(raw) > 0)
            sqlite3_bind_text(raw, 1, form.table.constData(), int(form.table.size()), SQLITE_STATIC);
        const bool temporary = sql == look[0];
        int rc;
        while ((rc = sqlite3_step(raw)) == SQLITE_ROW) {
            const char *type = reinterpret_cast<const char *>(sqlite3_column_text(raw, 0));
            const QByteArray text(reinterpret_cast<const char *>(sqlite3_column_text(raw, 1)));
            if (!temporary && type && std::strcmp(type, "index") == 0) {
                // Indexes the table's own constraints make have no text; those
                // constraints are in the table's definition.
                if (!text.isNull() && !indexLeavesOut(text, form.column))
                    return nullptr;
                continue;
            }
            if (temporary || !type || std::strcmp(type, "table") != 0)
                return nullptr;
            ++tables;
            definition = text;
        }
        if (rc != SQLITE_DONE)
            return nullptr;
    }
    if (tables != 1)
        return nullptr;
    shaped.rule = DeferrableColumn::inspect(definition, form.column, form.key);
    return shaped.rule ? &*shaped.rule : nullptr;
}

bool Connection::tryHold(Shaped &shaped)
{
    if (!shaped.update)
        return false;
    const auto &literals = shape_.literals();
    using Kind = StatementShape::Literal::Kind;
    if (literals.size() != 2 || literals[0].kind != Kind::Integer || literals[1].kind != Kind::Integer)
        return false;
    const std::int64_t value = literals[0].integer;
    const std::int64_t key = literals[1].integer;
    sqlite3_stmt *st = shaped.statement.handle();
    if (writeBehind_.statement() != st)
        applyHeld();
    // In the group first: it notices a changed schema before the rule is trusted.
    settleReadersOf(shaped.update->table);
    beginGroup();
    const DeferrableColumn *rule = ruleFor(shaped);
    if (!rule || !rule->accepts(value))
        return false;
    if (writeBehind_.statement() != st)
        writeBehind_.retarget(*shaped.update, st);
    writeBehind_.hold(key, value);
    if (writeBehind_.full())
        applyHeld();
    return true;
}

std::optional<ResultSet::Overlay> Connection::overlayFor(Shaped &shaped) const
{
    // Worked out once for each form held, not for every read.
    if (shaped.overlayOf != writeBehind_.statement()) {
        shaped.overlayOf = writeBehind_.statement();
        shaped.overlay = std::nullopt;
        const KeyedUpdate &held = writeBehind_.form();
        if (!shaped.read || !SqlTokens::same(shaped.read->table, held.table) || shaped.read->uses(held.column))
            return std::nullopt;
        ResultSet::Overlay overlay;
        overlay.held = &writeBehind_;
        for (int c = 0; c < shaped.columnNames.size(); ++c) {
            const QByteArray name = shaped.columnNames.at(c).toUtf8();
            if (overlay.keyColumn < 0 && SqlTokens::same(name, held.key))
                overlay.keyColumn = c;
            if (overlay.valueColumn < 0 && SqlTokens::same(name, held.column))
                overlay.valueColumn = c;
        }
        if (overlay.keyColumn >= 0 && overlay.valueColumn >= 0)
            shaped.overlay = overlay;
    }
    return shaped.overlay;
}

void Connection::applyHeld()
{
    if (writeBehind_.empty())
        return;
    // Results still reading from their statements take their rows, with the
    // held values laid over them, before the table changes under them.
    settleReadersOf(writeBehind_.form().table);
    if (!patchImage())
        dropImage();
    const int rc = writeBehind_.apply();
    if (rc != SQLITE_OK)
        fail(rc, db_.lastError());
}

namespace {

// Keyed reads go on being answered by the engine until this many of them
// have sought Shaped::imageAfterRows rows one by one: by then one pass over a
// table that the cache could hold costs less than what they have cost.
constexpr std::uint64_t imageAfterReads = 1024;
// The cache while an image stands in for it: the image serves the reads, and
// the updates it follows go through the table in order.
constexpr qint64 imageCacheKb = 8192;
// A larger group is left to a streaming result, as it would be without the
// image.
constexpr std::size_t imageGroupLimit = 4096;

// The first result column a statement's name for a column stands for, or -1.
int columnNamed(const QStringList &columns, QByteArrayView name)
{
    for (int c = 0; c < columns.size(); ++c) {
        if (SqlTokens::same(columns.at(c).toUtf8(), name))
            return c;
    }
    return -1;
}

} // namespace

std::optional<std::span<const std::uint32_t>> Connection::imageRowsFor(const Shaped &shaped)
{
    // Any change of the tables' definitions has dropped the image. Only
    // inside a group does the write lock keep every other connection from
    // changing the table under it.
    if (!image_ || !shaped.read || !inGroup_ || sqlite3_get_autocommit(db_.handle()))
        return std::nullopt;
    const KeyedRead &read = *shaped.read;
    if (!SqlTokens::same(read.table, imageForm_.table) || !SqlTokens::same(read.where, imageForm_.where)
        || !SqlTokens::same(read.order, imageForm_.order) || read.descending != imageForm_.descending
        || shaped.columnNames != imageColumns_)
        return std::nullopt;
    const auto &literals = shape_.literals();
    if (literals.size() != 1 || literals[0].kind != StatementShape::Literal::Kind::Integer)
        return std::nullopt;
    const std::span<const std::uint32_t> rows = image_->group(literals[0].integer);
    if (rows.size() > imageGroupLimit)
        return std::nullopt;
    ++imageServed_;
    return rows;
}

void Connection::noteKeyedRead(Shaped &shaped, qsizetype rows)
{
    if (image_ || shaped.read->order.isEmpty() || shaped.read->descending)
        return;
    ++shaped.reads;
    shaped.readRows += std::uint64_t(rows);
    if (shaped.reads < imageAfterReads * imageBackoff_ || shaped.readRows < shaped.imageAfterRows * imageBackoff_)
        return;
    if (!inGroup_ || sqlite3_get_autocommit(db_.handle()) || cacheKb_ <= imageCacheKb)
        return;
    // Counted afresh from here; a table that allows no image is tried again
    // only after reads that cost a few times more than the try did.
    shaped.reads = 0;
    shaped.readRows = 0;
    if (!buildImage(shaped))
        shaped.imageAfterRows *= 4;
}

bool Connection::buildImage(Shaped &shaped)
{
    const KeyedRead form = *shaped.read;
    const QStringList columns = shaped.columnNames;
    const int groupColumn = columnNamed(columns, form.where);
    const int orderColumn = columnNamed(columns, form.order);
    // A table of the main database only: a view's rows, a temporary object's
    // or an attached database's may change in ways that no write of this
    // connection to the table shows, nor the version of the main file.
    if (groupColumn < 0 || orderColumn < 0 || !isMainTable(form.table))
        return false;
    const QByteArray table = "main.\"" + QByteArray(form.table).replace('"', "\"\"") + '"';
    sqlite3 *h = db_.handle();
    // Counted through the smallest index: the image takes its room in one
    // piece.
    const qint64 expectedRows = integerOf("SELECT count(*) FROM " + table);
    const QByteArray sql = "SELECT * FROM " + table;
    sqlite3_stmt *raw = nullptr;
    if (expectedRows < 0 || sqlite3_prepare_v2(h, sql.constData(), int(sql.size()), &raw, nullptr) != SQLITE_OK) {
        sqlite3_finalize(raw);
        return false;
    }
    SqliteStatement scan(raw);
    QStringList names;
    for (int c = 0; c < sqlite3_column_count(raw); ++c)
        names.append(QString::fromUtf8(sqlite3_column_name(raw, c)));
    // The image takes the cache's place and never more room than it had.
    const qint64 restoreKb = cacheKb_;
    const std::size_t budget = std::size_t(restoreKb - imageCacheKb) * 1024;
    // A table too large for that is seen from its first rows, before the
    // cache lets go of anything.
    const bool fits = RowImage::projectedBytes(raw, std::size_t(expectedRows), groupColumn, orderColumn) <= budget;
    sqlite3_reset(raw);
    if (names != columns || !fits)
        return false;
    const std::uint64_t epoch = schemaEpoch_;
    // The cache gives its memory back first, so the two are never held
    // together; it grows back whatever ends the try but an image.
    commitGroup();
    const auto regrow = qScopeGuard([this, restoreKb] {
        if (!image_) {
            try {
                setCacheKb(restoreKb);
            } catch (const DbError &) {
                // A failure of the engine's own is being raised, or will be.
            }
        }
    });
    setCacheKb(imageCacheKb);
    sqlite3_db_release_memory(h);
#ifdef __GLIBC__
    malloc_trim(0);
#endif
    try {
        beginGroup(); // the image and the lock that keeps it true start together
    } catch (const DbError &) {
        // Another connection holds the lock: the next write will say so.
        return false;
    }
    int rc = SQLITE_DONE;
    std::unique_ptr<RowImage> image;
    if (schemaEpoch_ == epoch) {
        try {
            image = RowImage::build(raw, std::size_t(expectedRows), groupColumn, orderColumn, budget, rc);
        } catch (const std::bad_alloc &) {
            image.reset(); // the reads go on without one
        }
    }
    // The table could not be read: the engine may have ended the group.
    if (rc != SQLITE_DONE && rc != SQLITE_ROW)
        fail(rc, db_.lastError());
    if (!image)
        return false;
    image_ = std::move(image);
    imageForm_ = form;
    imageColumns_ = columns;
    imageRestoreKb_ = restoreKb;
    imageServed_ = 0;
    return true;
}

bool Connection::patchImage()
{
    const KeyedUpdate &held = writeBehind_.form();
    if (!image_ || !SqlTokens::same(held.table, imageForm_.table))
        return true;
    const int keyColumn = columnNamed(imageColumns_, held.key);
    const int valueColumn = columnNamed(imageColumns_, held.column);
    bool ok = keyColumn >= 0 && valueColumn >= 0;
    writeBehind_.forEach([&](std::int64_t key, std::int64_t value) {
        ok = ok && image_->patch(keyColumn, key, valueColumn, value);
    });
    return ok;
}

void Connection::dropImage() noexcept
{
    if (!image_)
        return;
    image_.reset();
    // An image that served few reads before it went is not worth its pass
    // again soon: the next waits for more reads, until one lasts.
    imageBackoff_ = imageServed_ < imageAfterReads ? std::min<std::uint64_t>(imageBackoff_ * 4, 1u << 20) : 1;
    // The cache grows back, unless the connection has sized it meanwhile.
    if (isOpen() && cacheKb_ == imageCacheKb && imageRestoreKb_ > cacheKb_) {
        cacheKb_ = imageRestoreKb_;
        char pragma[64];
        std::snprintf(pragma, sizeof pragma, "PRAGMA cache_size=-%lld", static_cast<long long>(cacheKb_));
        sqlite3_exec(db_.handle(), pragma, nullptr, nullptr, nullptr);
    }
}

void Connection::releaseShapes() noexcept
{
    // Closing: a result read to its end keeps its last row and lets go; one
    // in the middle fetches the rest first.
    for (ResultSet *r : std::vector<ResultSet *>(live_)) {
        if (!r->atEnd())
            (void)r->materialize();
        r->releaseStatement();
    }
    forgetShapes();
}

void Connection::failRead(int rc)
{
    const QString error = db_.lastError();
    fail(rc, error.isEmpty() ? QString::fromUtf8(sqlite3_errstr(rc)) : error);
}

void Connection::settle(ResultSet *result)
{
    const int rc = result->materialize();
    if (rc != SQLITE_DONE) {
        const QString error = db_.lastError();
        fail(rc, error);
    }
}

void Connection::settleReadersOf(const QByteArray &table)
{
    // A result of another plain table may go on reading from its statement:
    // the renumbering reads the sections while it changes the forums.
    // Called for every held update: no copy of the list; settling a result
    // takes it off the list, so the walk goes from the end.
    for (std::size_t i = live_.size(); i-- > 0;) {
        if (i >= live_.size())
            continue;
        ResultSet *r = live_[i];
        if (r->onlyTable().isEmpty() || SqlTokens::same(r->onlyTable(), table))
            settle(r);
    }
}

QByteArray Connection::onlyTableOf(sqlite3_stmt *statement)
{
    // "SELECT * FROM <name> ..." with nothing after the name that could bring
    // in another table, and the name one of a table, not of a view.
    const char *sql = sqlite3_sql(statement);
    const auto cut = SqlTokens::split(sql ? QByteArrayView(sql) : QByteArrayView());
    if (!cut)
        return QByteArray();
    const auto &t = cut->tokens();
    using Kind = SqlTokens::Token::Kind;
    if (t.size() < 4 || !SqlTokens::isWord(t[0], "SELECT") || !SqlTokens::isPunct(t[1], '*')
        || !SqlTokens::isWord(t[2], "FROM") || t[3].kind != Kind::Word)
        return QByteArray();
    for (std::size_t i = 4; i < t.size(); ++i) {
        const auto &k = t[i];
        const bool plain = k.kind == Kind::String
            || (k.kind == Kind::Word && !SqlTokens::isWord(k, "SELECT") && !SqlTokens::isWord(k, "FROM")
                && !SqlTokens::isWord(k, "JOIN"))
            || SqlTokens::isPunct(k, '=') || SqlTokens::isPunct(k, '?') || SqlTokens::isPunct(k, '<')
            || SqlTokens::isPunct(k, '>') || SqlTokens::isPunct(k, '!');
        if (!plain)
            return QByteArray();
    }
    const QByteArray name = t[3].text.toByteArray();
    return isMainTable(name) ? name : QByteArray();
}

bool Connection::isMainTable(const QByteArray &name)
{
    const char *look = "SELECT (SELECT count(*) FROM sqlite_temp_schema WHERE name = ?1 COLLATE NOCASE), "
                       "(SELECT type FROM main.sqlite_schema WHERE name = ?1 COLLATE NOCASE)";
    sqlite3_stmt *raw = nullptr;
    if (sqlite3_prepare_v2(db_.handle(), look, -1, &raw, nullptr) != SQLITE_OK) {
        sqlite3_finalize(raw);
        return false;
    }
    SqliteStatement check(raw);
    sqlite3_bind_text(raw, 1, name.constData(), int(name.size()), SQLITE_STATIC);
    if (sqlite3_step(raw) != SQLITE_ROW || sqlite3_column_int(raw, 0) != 0)
        return false;
    const char *type = reinterpret_cast<const char *>(sqlite3_column_text(raw, 1));
    return type && std::strcmp(type, "table") == 0;
}

void Connection::settleAll()
{
    while (!live_.empty())
        settle(live_.back());
}

void Connection::forget(ResultSet *result) noexcept
{
    std::erase(live_, result);
}

// One statement on its way through the engine: its shape bound or the text
// compiled, the results that could see its changes settled, and the statement
// put back or finalized whatever happens.
class Connection::Running
{
public:
    Running(Connection &connection, const QString &commandText, bool forQuery) : connection_(connection)
    {
        if (!connection.isOpen())
            connection.open();
        // "DELETE * FROM" has a shape that does not compile: it goes the
        // ordinary way below, translated.
        shaped = connection.findShape(commandText, forQuery);
        if (shaped && !forQuery && connection.tryHold(*shaped)) {
            held = true;
            shaped = nullptr;
            return;
        }
        if (!connection.writeBehind_.empty()) {
            if (shaped && forQuery)
                overlay = connection.overlayFor(*shaped);
            if (!overlay)
                connection.applyHeld();
        }
        if (shaped && forQuery && (imageRows = connection.imageRowsFor(*shaped)))
            return;
        if (shaped) {
            connection.bind(*shaped, forQuery);
            statement = shaped->statement.handle();
            readOnly = shaped->readOnly;
        } else {
            QByteArray &sql = connection.utf8_;
            sql.clear();
            appendUtf8(sql, commandText);
            translate(sql);
            int rc = SQLITE_OK;
            QString error;
            own = compileOne(connection.db_.handle(), sql, rc, error);
            if (!own)
                connection.fail(rc, error);
            statement = own.handle();
            readOnly = sqlite3_stmt_readonly(statement) != 0;
        }
        rowsOnly = shaped ? shaped->changesRowsOnly : changesRowsOnly(connection.utf8_);
        if (!readOnly) {
            connection.dropImage();
            connection.settleAll();
        }
        if (!rowsOnly) {
            // Settings and definitions take effect as on their own, outside
            // any group: some of them the engine ignores inside one.
            connection.commit();
        } else if (!readOnly) {
            connection.beginGroup();
        }
    }

    ~Running() { putBack(); }

    Running(const Running &) = delete;
    Running &operator=(const Running &) = delete;

    // The statement now belongs to a result that reads from it.
    void handOver() noexcept
    {
        own.release();
        statement = nullptr;
    }

    [[noreturn]] void fail(int rc) { fail(rc, connection_.db_.lastError()); }

    [[noreturn]] void fail(int rc, const QString &error)
    {
        putBack(); // before the commit that precedes the failure
        connection_.fail(rc, error);
    }

    sqlite3_stmt *statement = nullptr;
    Shaped *shaped = nullptr;
    bool readOnly = false;
    bool held = false; // the update is held back: nothing to run now
    // The read's rows in the image, when it answers: nothing to run.
    std::optional<std::span<const std::uint32_t>> imageRows;
    bool rowsOnly = true;
    std::optional<ResultSet::Overlay> overlay;
    SqliteStatement own;

private:
    void putBack() noexcept
    {
        if (shaped && statement) {
            sqlite3_reset(statement);
            sqlite3_clear_bindings(statement);
        }
        own = SqliteStatement();
        statement = nullptr;
    }

    Connection &connection_;
};

void Connection::definitionsMayHaveChanged()
{
    // Whatever it changed, the rules are looked at again and the shapes
    // compiled afresh, with the columns as they now are.
    ++schemaEpoch_;
    shapesStale_ = true;
    dropImage();
}

void Connection::execute(const QString &commandText)
{
    Running running(*this, commandText, false);
    if (running.held) {
        commitIfDue();
        return;
    }
    int rc;
    do {
        rc = sqlite3_step(running.statement);
    } while (rc == SQLITE_ROW);
    if (rc != SQLITE_DONE)
        running.fail(rc);
    if (!running.rowsOnly)
        definitionsMayHaveChanged();
    commitIfDue();
}

void Connection::query(const QString &commandText, ResultSet &result)
{
    result.clear();
    Running running(*this, commandText, true);
    Shaped *shaped = running.shaped;
    if (running.imageRows) {
        result.beginRows(shaped->columnNames, running.overlay ? &*running.overlay : nullptr);
        for (std::uint32_t row : *running.imageRows)
            image_->appendRow(row, result);
        result.endRows();
        return;
    }
    ResultSet::Release release;
    if (shaped) {
        release = [this, shaped, &result](sqlite3_stmt *stmt) {
            sqlite3_reset(stmt);
            sqlite3_clear_bindings(stmt);
            shaped->heldBy = nullptr;
            forget(&result);
        };
    } else {
        release = [this, &result](sqlite3_stmt *stmt) {
            sqlite3_finalize(stmt);
            forget(&result);
        };
    }
    // Results up to this many rows are fetched whole; larger ones stream.
    // A statement that writes is never run twice: its rows are all kept.
    const qsizetype keepLimit = running.readOnly ? 4096 : std::numeric_limits<qsizetype>::max();
    sqlite3_stmt *st = running.statement;
    // A streaming result is counted first. The engine counts the rows of a
    // plain read of one table, taken as a subquery, without making them; any
    // other statement is stepped through.
    QByteArray onlyTable; // looked up once, when the result turns out large
    const ResultSet::Counter counter = [this, shaped, st, &onlyTable]() -> std::optional<qsizetype> {
        // Only the stored rows of one table as they are: the count must not
        // skip anything that could fail while a row is made.
        onlyTable = onlyTableOf(st);
        if (onlyTable.isEmpty())
            return std::nullopt;
        const QByteArray text = QByteArray("SELECT count(*) FROM (") + sqlite3_sql(st) + "\n)";
        sqlite3_stmt *raw = nullptr;
        if (sqlite3_prepare_v2(db_.handle(), text.constData(), int(text.size()), &raw, nullptr) != SQLITE_OK) {
            sqlite3_finalize(raw);
            return std::nullopt;
        }
        SqliteStatement count(raw);
        if (sqlite3_bind_parameter_count(raw) != sqlite3_bind_parameter_count(st))
            return std::nullopt;
        if (shaped)
            bindLiterals(raw, SQLITE_STATIC);
        if (sqlite3_step(raw) != SQLITE_ROW)
            return std::nullopt;
        return qsizetype(sqlite3_column_int64(raw, 0));
    };
    const int firstStep = sqlite3_step(st);
    if (shaped) {
        // The engine compiles a statement again by itself when another
        // connection changed the table's columns: its names are read again.
        const int reprepared = sqlite3_stmt_status(st, SQLITE_STMTSTATUS_REPREPARE, 0);
        if (reprepared != shaped->reprepared) {
            shaped->reprepared = reprepared;
            shaped->columnNames.clear();
            for (int c = 0; c < sqlite3_column_count(st); ++c)
                shaped->columnNames.append(QString::fromUtf8(sqlite3_column_name(st, c)));
            shaped->overlayOf = nullptr;
            shaped->overlay.reset();
            if (running.overlay)
                running.overlay = overlayFor(*shaped);
        }
    }
    const int rc = result.open(st, firstStep, shaped ? &shaped->columnNames : nullptr, keepLimit, release,
                               running.overlay ? &*running.overlay : nullptr, counter);
    if (result.isStreaming()) {
        // The result keeps the statement; it gives it back when done with it.
        running.handOver();
        result.setOnlyTable(onlyTable);
        live_.push_back(&result);
        if (shaped)
            shaped->heldBy = &result;
    }
    if (rc != SQLITE_DONE) {
        const QString error = db_.lastError();
        result.clear(); // gives a streaming statement back
        running.fail(rc, error);
    }
    if (!running.rowsOnly)
        definitionsMayHaveChanged();
    if (!running.readOnly)
        commitIfDue();
    else if (shaped && shaped->read && rc == SQLITE_DONE)
        noteKeyedRead(*shaped, result.rowCount());
}

} // namespace db
