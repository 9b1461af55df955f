#pragma once

#include "SqliteStatement.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

struct sqlite3_stmt;

namespace db {

class WriteBehind;

// The rows of one open query and the position in them. Its rows are fixed
// when it opens: later statements on the connection can neither add, remove,
// change nor reorder them. A small result is fetched whole; a large one is
// counted, then read row by row from its statement, and the connection has it
// fetch the rest (materialize) before anything could change what it reads.
class ResultSet
{
public:
    // Hands the statement back to its owner when the result lets go of it.
    using Release = std::function<void(sqlite3_stmt *)>;

    // Values held back for a column, laid over the rows read: a row whose key
    // column holds a held key shows the held value in the value column.
    struct Overlay
    {
        const WriteBehind *held = nullptr;
        int keyColumn = -1;
        int valueColumn = -1;
    };

    ResultSet() = default;
    ~ResultSet();
    ResultSet(const ResultSet &) = delete;
    ResultSet &operator=(const ResultSet &) = delete;

    // Reads the result of a statement stepped once (firstStep is that step's
    // result code). Up to `keepLimit` rows are kept in memory; beyond that the
    // result streams and keeps the statement, which it gives back through
    // `release`. Returns the engine's result code: SQLITE_DONE on success.
    // Counts the whole result some cheaper way than stepping through it, or
    // gives nothing.
    using Counter = std::function<std::optional<qsizetype>()>;
    int open(sqlite3_stmt *stmt, int firstStep, const QStringList *names, qsizetype keepLimit, Release release,
             const Overlay *overlay = nullptr, const Counter &counter = {});

    // A result made from rows held elsewhere rather than from a statement:
    // each row is its cells in column order, then endRow(); endRows() makes
    // the first row current. Held values are laid over the rows as they are
    // over a statement's.
    void beginRows(const QStringList &names, const Overlay *overlay = nullptr);
    void addNull() { cells_.push_back(Cell()); }
    void addInteger(std::int64_t value) { cells_.push_back(Cell{value, 0, CellType::Integer}); }
    void addReal(double value);
    void addText(QByteArrayView bytes);
    void endRow();
    void endRows() noexcept;

    // The one table a streaming result is known to read, or empty.
    const QByteArray &onlyTable() const noexcept { return onlyTable_; }
    void setOnlyTable(QByteArray table) { onlyTable_ = std::move(table); }

    int columnCount() const noexcept { return int(columnNames_.size()); }
    const QStringList &columnNames() const noexcept { return columnNames_; }
    qsizetype rowCount() const noexcept { return rowCount_; }
    bool isStreaming() const noexcept { return stmt_ != nullptr; }

    // First column whose name matches, ignoring letter case; -1 when none.
    int columnIndex(QStringView name) const;

    bool atEnd() const noexcept { return atEnd_; }
    // Both return the engine's result code of any read they needed.
    int first();
    int next();

    // The current row's value as text: decimal digits for whole numbers, the
    // stored text for texts, the empty text for null. The last row stays
    // current at the end; an empty result gives the empty text.
    QString text(int column) const;

    // Fetches every row into memory and lets go of the statement.
    int materialize();
    // Lets go of the statement without fetching: for a result read to its end.
    void releaseStatement() noexcept;

    void clear() noexcept;

private:
    enum class CellType : std::uint8_t { Null, Integer, Real, Text };
    struct Cell
    {
        std::int64_t value = 0; // integer, bit pattern of a real, or offset into text_
        std::uint32_t length = 0;
        CellType type = CellType::Null;
    };

    void storeRow(sqlite3_stmt *stmt);
    void layOverlay(std::size_t rowStart);
    int readCurrentRow(int rc); // streaming: the statement's row becomes the only one kept
    int rewind();

    QStringList columnNames_;
    std::vector<Cell> cells_;
    QByteArray text_;
    qsizetype rowCount_ = 0;
    qsizetype row_ = 0;     // the current row's number
    qsizetype keptFrom_ = 0; // number of the first row held in cells_
    bool atEnd_ = true;

    sqlite3_stmt *stmt_ = nullptr;
    Release release_;
    Overlay overlay_;
    QByteArray onlyTable_;
};

} // namespace db
