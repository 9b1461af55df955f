#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

struct sqlite3_stmt;

namespace db {

// The whole result of one query, fetched when the query opens, so that later
// statements on the same connection can neither add, remove nor reorder its
// rows. Cells are kept compact: a million forum rows must fit comfortably.
class ResultSet
{
public:
    ResultSet() = default;

    // Reads every remaining row of a statement that has just been stepped
    // once (firstStep is that step's result code). Returns the engine's
    // result code of the last step: SQLITE_DONE on success.
    // The column names may be given when already known for the statement.
    int fetchAll(sqlite3_stmt *stmt, int firstStep, const QStringList *names = nullptr);

    int columnCount() const noexcept { return int(columnNames_.size()); }
    const QStringList &columnNames() const noexcept { return columnNames_; }
    qsizetype rowCount() const noexcept { return columnCount() ? qsizetype(cells_.size()) / columnCount() : 0; }

    // First column whose name matches, ignoring letter case; -1 when none.
    int columnIndex(QStringView name) const;

    // The value's text: decimal digits for whole numbers, the stored text for
    // texts, the empty text for null.
    QString text(qsizetype row, int column) const;
    bool isNull(qsizetype row, int column) const;

    void clear();

private:
    enum class CellType : std::uint8_t { Null, Integer, Real, Text };
    struct Cell
    {
        std::int64_t value = 0; // integer, bit pattern of a real, or offset into text_
        std::uint32_t length = 0;
        CellType type = CellType::Null;
    };

    QStringList columnNames_;
    std::vector<Cell> cells_;
    QByteArray text_;
};

} // namespace db
