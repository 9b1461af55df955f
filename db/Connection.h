#pragma once

#include "DeferrableColumn.h"
#include "KeyedRead.h"
#include "KeyedUpdate.h"
#include "ResultSet.h"
#include "RowImage.h"
#include "SqliteDatabase.h"
#include "SqliteStatement.h"
#include "StatementShape.h"
#include "WriteBehind.h"

#include <QString>

#include <array>
#include <chrono>
#include <memory>
#include <optional>
#include <span>
#include <unordered_map>
#include <vector>

namespace db {

// The one link to the database file. Statements run one by one and each takes
// effect by itself as far as anyone reading the tables can tell; underneath,
// writes are grouped into engine transactions that are committed a few
// seconds apart, before any failure is raised, on commit() and on close.
// Updates of one column of rows found by their key may be held back and
// applied in key order (see WriteBehind); reads see them all the same.
class Connection
{
public:
    static constexpr const char *providerName = "SQLite";

    explicit Connection(QString name = QStringLiteral("ADOConnection1"));
    ~Connection();
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

    // "Provider=SQLite;Data Source=<programDir>Database.mdb;Persist Security Info=False"
    static QString composeConnectionString(const QString &programDirectory);

    const QString &name() const noexcept { return name_; }
    void setConnectionString(const QString &text);
    const QString &connectionString() const noexcept { return connectionString_; }

    // The value of "Data Source" in the connection string.
    QString dataSource() const;

    // Opens the database named by the connection string. The file must exist,
    // be a database of this engine and hold both tables; nothing is created.
    // Throws DbError(Engine).
    void open();
    void close();
    bool isOpen() const noexcept { return bool(db_); }

    // Runs a command text that returns no rows. Throws DbError(Engine).
    void execute(const QString &commandText);
    // Runs a command text and opens its result. A statement that yields no
    // columns gives a result with no columns. Throws DbError(Engine).
    void query(const QString &commandText, ResultSet &result);

    // Raises the engine failure of a read that failed on a streaming result.
    [[noreturn]] void failRead(int rc);

    // Lets the page cache grow to hold about this much of the tables: a large
    // run whose tables outgrow the cache spends its time reading pages back.
    // Never below what the connection opened with, so that it also undoes
    // shrinkCacheTo for the next run.
    void fitCacheTo(qint64 bytes);
    // Lets the page cache shrink to about this much and gives the memory back
    // to the system: for a last pass in order, which needs no cache, while
    // the memory is wanted for what the pass produces.
    void shrinkCacheTo(qint64 bytes);

    // Whether keyed reads are being answered from an image of their table.
    bool hasImage() const noexcept { return image_ != nullptr; }

    // Makes every statement so far durable.
    void commit();
    void setCommitInterval(std::chrono::milliseconds interval) { commitInterval_ = interval; }

private:
    struct ByteArrayHash
    {
        std::size_t operator()(const QByteArray &b) const noexcept { return qHash(b); }
    };
    // A compiled shape, or none when the shape does not compile (the text
    // then goes to the engine as it stands, which reports its own failure).
    struct Shaped
    {
        SqliteStatement statement;
        bool usable = false;
        bool readOnly = false;
        bool namesOk = false;
        QStringList columnNames;
        int reprepared = 0; // the engine's count of its own recompilations, when the names were read
        ResultSet *heldBy = nullptr; // a streaming result reading from it
        std::optional<KeyedUpdate> update;
        std::optional<KeyedRead> read;
        bool changesRowsOnly = false;
        // How held values of the form with this statement lie over its rows.
        sqlite3_stmt *overlayOf = nullptr;
        std::optional<ResultSet::Overlay> overlay;
        // Whether updates of this form may be held back, as of ruleEpoch.
        std::optional<DeferrableColumn> rule;
        std::uint64_t ruleEpoch = 0;
        // What reads of this form have cost so far in rows sought one by one,
        // and how many it takes before an image of their table is tried.
        std::uint64_t reads = 0;
        std::uint64_t readRows = 0;
        std::uint64_t imageAfterRows = 65536;
    };

    // Results that still read from their statement: before anything could
    // change what they read, they fetch the rest.
    void settle(ResultSet *result);
    void settleAll();
    // Only those that could read the table.
    void settleReadersOf(const QByteArray &table);
    QByteArray onlyTableOf(sqlite3_stmt *statement);
    // Whether the name is a table of the main database that no temporary
    // object stands in for.
    bool isMainTable(const QByteArray &name);
    void forget(ResultSet *result) noexcept;
    std::vector<ResultSet *> live_;

    class Running;
    Shaped *findShape(QStringView sql, bool forQuery);
    static Shaped *usableShape(Shaped &shaped, bool forQuery);
    void forgetShapes() noexcept;
    void bind(Shaped &shaped, bool forQuery);
    void bindLiterals(sqlite3_stmt *statement, void (*lifetime)(void *));
    // Holds the update just taken apart back if its form and value allow it.
    bool tryHold(Shaped &shaped);
    const DeferrableColumn *ruleFor(Shaped &shaped);
    std::optional<ResultSet::Overlay> overlayFor(Shaped &shaped) const;
    void applyHeld();
    // The rows of a keyed read may come from an image of its table (see
    // RowImage), made once such reads have sought enough rows one by one.
    // The rows of the read just taken apart, when the image answers it.
    std::optional<std::span<const std::uint32_t>> imageRowsFor(const Shaped &shaped);
    void noteKeyedRead(Shaped &shaped, qsizetype rows);
    bool buildImage(Shaped &shaped);
    bool patchImage();
    void dropImage() noexcept;
    void setCacheKb(qint64 kb);
    void noteOtherWriters();
    void definitionsMayHaveChanged();
    // The whole number the statement's first row starts with, or -1.
    qint64 integerOf(const QByteArray &sql);
    void noteSchema();
    void releaseShapes() noexcept;
    [[noreturn]] void fail(int rc, const QString &text);
    void beginGroup();
    void commitGroup();
    void commitIfDue();
    void exec(const char *sql);
    static std::chrono::milliseconds envInterval();

    QString name_;
    QString connectionString_;
    SqliteDatabase db_;
    bool inGroup_ = false;
    std::chrono::steady_clock::time_point groupStart_;
    std::chrono::milliseconds commitInterval_{envInterval()};
    unsigned sinceClock_ = 0;
    qint64 cacheKb_ = 0;
    qint64 openedCacheKb_ = 0;
    QByteArray utf8_; // the command text being run, reused from statement to statement
    StatementShape shape_;
    using Shapes = std::unordered_map<QByteArray, Shaped, ByteArrayHash>;
    Shapes shapes_;
    std::array<Shapes::value_type *, 3> recent_{};
    WriteBehind writeBehind_;
    // Moves on whenever the tables' definitions may have changed.
    std::uint64_t schemaEpoch_ = 1;
    bool shapesStale_ = false;
    qint64 schemaVersion_ = -1;
    qint64 dataVersion_ = -1;
    std::unique_ptr<RowImage> image_;
    KeyedRead imageForm_;
    QStringList imageColumns_;
    qint64 imageRestoreKb_ = 0; // the cache's size before the image stood in for it
    std::uint64_t imageServed_ = 0;
    std::uint64_t imageBackoff_ = 1;
};

} // namespace db
