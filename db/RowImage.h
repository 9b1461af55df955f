#pragma once

#include <QByteArray>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

struct sqlite3_stmt;

namespace db {

class ResultSet;

// A copy of one table's rows in memory, grouped by one column and ordered by
// another within each group: what "SELECT * FROM t WHERE g = n ORDER BY o"
// returns, found without a seek into the table for every row. Read many
// times over, such a select costs a walk down the index and one down the
// table for each row it returns, at random across a table that no cache
// holds; one pass over the table in its stored order costs less than a few
// thousand of them.
//
// Only as good as the rows it was read from: the connection drops it at any
// change of the table that it does not patch in.
class RowImage
{
public:
    // Reads every row of `scan` (a "SELECT * FROM t" of the table, stepped
    // here from its start; about `expectedRows` of them). Gives nothing when
    // the rows don't allow an exact image: a group value that isn't a whole
    // number or null, an order value that isn't a whole number, two rows of a
    // group with the same order value, or more than `budget` bytes. `rc` is
    // the code of the scan's last step: SQLITE_DONE when it read every row,
    // SQLITE_ROW when the image was given up before the end, or the engine's
    // failure.
    static std::unique_ptr<RowImage> build(sqlite3_stmt *scan, std::size_t expectedRows, int groupColumn,
                                           int orderColumn, std::size_t budget, int &rc);

    // About what build() would take for `expectedRows` rows like the first
    // few thousand of `scan` (stepped here; reset it before building), or
    // the most a size_t holds when those rows already refuse an image.
    static std::size_t projectedBytes(sqlite3_stmt *scan, std::size_t expectedRows, int groupColumn,
                                      int orderColumn);

    int columnCount() const noexcept { return int(columns_.size()); }
    std::size_t rowCount() const noexcept { return rows_; }
    std::size_t bytes() const noexcept;

    // The rows whose group column holds `value`, in order.
    std::span<const std::uint32_t> group(std::int64_t value) const noexcept;
    // Appends one row to a result being filled (ResultSet::beginRows).
    void appendRow(std::uint32_t row, ResultSet &result) const;

    // Sets the value column of the row whose key column holds `key`, as an
    // update of that row by its key does; a key no row holds changes nothing.
    // False when the image can't follow: the key column isn't ascending
    // whole numbers, or a column used for grouping or order would change.
    bool patch(int keyColumn, std::int64_t key, int valueColumn, std::int64_t value);

private:
    enum class Type : std::uint8_t { Null, Integer, Real, Text };
    struct Cell
    {
        std::int64_t value = 0; // integer, bits of a real, or offset into text_
        std::uint32_t length = 0;
        Type type = Type::Null;
    };
    // A column takes the narrowest form that holds every value it has:
    // whole numbers within 32 bits four bytes a row; texts (and blobs) four
    // bytes a row besides their bytes, kept in blocks with no gaps; anything
    // else cells of sixteen bytes.
    enum class Form : std::uint8_t { Narrow, Texts, Cells };
    // Text bytes in blocks of about a megabyte, a row's text never split.
    struct Block
    {
        std::unique_ptr<char[]> bytes;
        std::size_t size = 0;
        std::size_t used = 0;
        std::uint32_t firstRow = 0;
    };
    struct Column
    {
        Form form = Form::Narrow;
        std::vector<std::int32_t> ints;
        std::vector<std::uint32_t> ends; // Texts: where each row's bytes end in its block
        std::vector<Block> blocks;
        std::vector<Cell> cells;
        // Every value a whole number, each greater than the one before.
        bool ascending = true;
        std::int64_t last = 0;
    };

    RowImage() = default;
    std::size_t usedBytes() const noexcept;
    bool integerAt(int column, std::size_t row, std::int64_t &value) const noexcept;
    bool isNull(int column, std::size_t row) const noexcept;
    // Every row's group value a whole number or null, and its order value a
    // whole number where the group's is not null.
    bool numbersWhereNeeded(int groupColumn, int orderColumn) const noexcept;
    void store(int column, sqlite3_stmt *scan);
    void appendText(int column, const char *bytes, std::size_t length);
    QByteArrayView textAt(int column, std::size_t row) const noexcept;
    void toCells(int column);
    bool findRow(int keyColumn, std::int64_t key, std::size_t &row) const noexcept;

    std::vector<Column> columns_;
    std::size_t reserve_ = 0;
    QByteArray text_; // of cells
    std::size_t rows_ = 0;
    int groupColumn_ = -1;
    int orderColumn_ = -1;
    // Row numbers by group, then order; a group's value and where it starts.
    std::vector<std::uint32_t> order_;
    std::vector<std::int64_t> groupValues_;
    std::vector<std::uint32_t> groupStarts_;
};

} // namespace db
