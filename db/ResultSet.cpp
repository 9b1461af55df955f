#include "ResultSet.h"

#include "Utf8Text.h"
#include "WriteBehind.h"

#include <QLocale>

#include <sqlite3.h>

#include <cstring>

namespace db {

ResultSet::~ResultSet()
{
    clear();
}

void ResultSet::storeRow(sqlite3_stmt *stmt)
{
    const int columns = columnCount();
    const std::size_t rowStart = cells_.size();
    for (int c = 0; c < columns; ++c) {
        Cell cell;
        switch (sqlite3_column_type(stmt, c)) {
        case SQLITE_INTEGER:
            cell.type = CellType::Integer;
            cell.value = sqlite3_column_int64(stmt, c);
            break;
        case SQLITE_FLOAT: {
            cell.type = CellType::Real;
            const double d = sqlite3_column_double(stmt, c);
            std::memcpy(&cell.value, &d, sizeof d);
            break;
        }
        case SQLITE_NULL:
            break;
        default: { // text, and blobs read as their bytes
            const auto *bytes = static_cast<const char *>(sqlite3_column_blob(stmt, c));
            const int length = sqlite3_column_bytes(stmt, c);
            cell.type = CellType::Text;
            cell.value = text_.size();
            cell.length = std::uint32_t(length);
            if (length > 0)
                text_.append(bytes, length);
            break;
        }
        }
        cells_.push_back(cell);
    }
    layOverlay(rowStart);
}

void ResultSet::layOverlay(std::size_t rowStart)
{
    if (overlay_.held) {
        const Cell &key = cells_[rowStart + std::size_t(overlay_.keyColumn)];
        std::int64_t value;
        if (key.type == CellType::Integer && overlay_.held->lookup(key.value, value)) {
            Cell &cell = cells_[rowStart + std::size_t(overlay_.valueColumn)];
            cell = Cell();
            cell.type = CellType::Integer;
            cell.value = value;
        }
    }
}

void ResultSet::beginRows(const QStringList &names, const Overlay *overlay)
{
    clear();
    if (overlay)
        overlay_ = *overlay;
    columnNames_ = names;
}

void ResultSet::addReal(double value)
{
    Cell cell;
    cell.type = CellType::Real;
    std::memcpy(&cell.value, &value, sizeof value);
    cells_.push_back(cell);
}

void ResultSet::addText(QByteArrayView bytes)
{
    cells_.push_back(Cell{text_.size(), std::uint32_t(bytes.size()), CellType::Text});
    text_.append(bytes);
}

void ResultSet::endRow()
{
    layOverlay(std::size_t(rowCount_) * std::size_t(columnCount()));
    ++rowCount_;
}

void ResultSet::endRows() noexcept
{
    row_ = 0;
    keptFrom_ = 0;
    atEnd_ = rowCount_ == 0;
}

int ResultSet::open(sqlite3_stmt *stmt, int rc, const QStringList *names, qsizetype keepLimit, Release release,
                    const Overlay *overlay, const Counter &counter)
{
    clear();
    if (overlay)
        overlay_ = *overlay;
    const int columns = sqlite3_column_count(stmt);
    if (names) {
        columnNames_ = *names;
    } else {
        for (int c = 0; c < columns; ++c)
            columnNames_.append(QString::fromUtf8(sqlite3_column_name(stmt, c)));
    }
    qsizetype kept = 0;
    while (rc == SQLITE_ROW && kept < keepLimit) {
        storeRow(stmt);
        ++kept;
        rc = sqlite3_step(stmt);
    }
    if (rc != SQLITE_ROW) {
        rowCount_ = kept;
        atEnd_ = kept == 0;
        return rc;
    }
    // Too large to keep: count the rest, then read it again row by row.
    qsizetype count = kept + 1;
    if (const std::optional<qsizetype> counted = counter ? counter() : std::nullopt) {
        count = *counted;
    } else {
        while ((rc = sqlite3_step(stmt)) == SQLITE_ROW)
            ++count;
        if (rc != SQLITE_DONE)
            return rc;
    }
    stmt_ = stmt;
    release_ = std::move(release);
    rowCount_ = count;
    const int first = rewind();
    return first == SQLITE_ROW ? SQLITE_DONE : first;
}

int ResultSet::rewind()
{
    sqlite3_reset(stmt_);
    row_ = 0;
    const int rc = sqlite3_step(stmt_);
    readCurrentRow(rc);
    return rc;
}

int ResultSet::readCurrentRow(int rc)
{
    if (rc != SQLITE_ROW) {
        atEnd_ = true;
        return rc;
    }
    cells_.clear();
    text_.clear();
    storeRow(stmt_);
    keptFrom_ = row_;
    atEnd_ = false;
    return rc;
}

int ResultSet::first()
{
    if (rowCount_ == 0)
        return SQLITE_DONE;
    if (stmt_ && row_ != 0) {
        const int rc = rewind();
        return rc == SQLITE_ROW ? SQLITE_DONE : rc;
    }
    row_ = 0;
    atEnd_ = false;
    return SQLITE_DONE;
}

int ResultSet::next()
{
    if (atEnd_)
        return SQLITE_DONE;
    if (row_ + 1 >= rowCount_) {
        atEnd_ = true; // the last row stays current
        if (stmt_) {
            // Step to the end so that the statement holds no read open.
            const int rc = sqlite3_step(stmt_);
            if (rc != SQLITE_DONE && rc != SQLITE_ROW)
                return rc;
        }
        return SQLITE_DONE;
    }
    ++row_;
    if (!stmt_)
        return SQLITE_DONE;
    const int rc = readCurrentRow(sqlite3_step(stmt_));
    return rc == SQLITE_ROW ? SQLITE_DONE : rc;
}

int ResultSet::materialize()
{
    if (!stmt_)
        return SQLITE_DONE;
    const qsizetype current = row_;
    const bool wasAtEnd = atEnd_;
    cells_.clear();
    text_.clear();
    sqlite3_reset(stmt_);
    int rc;
    qsizetype n = 0;
    while ((rc = sqlite3_step(stmt_)) == SQLITE_ROW) {
        storeRow(stmt_);
        ++n;
    }
    releaseStatement();
    if (rc != SQLITE_DONE)
        return rc;
    rowCount_ = n;
    keptFrom_ = 0;
    row_ = qMin(current, qMax<qsizetype>(n - 1, 0));
    atEnd_ = wasAtEnd || n == 0;
    return SQLITE_DONE;
}

void ResultSet::releaseStatement() noexcept
{
    if (!stmt_)
        return;
    sqlite3_stmt *stmt = stmt_;
    stmt_ = nullptr;
    if (release_)
        release_(stmt);
    release_ = nullptr;
}

int ResultSet::columnIndex(QStringView name) const
{
    for (int c = 0; c < columnNames_.size(); ++c) {
        if (name == columnNames_.at(c))
            return c;
    }
    for (int c = 0; c < columnNames_.size(); ++c) {
        if (name.compare(columnNames_.at(c), Qt::CaseInsensitive) == 0)
            return c;
    }
    return -1;
}

QString ResultSet::text(int column) const
{
    if (rowCount_ == 0)
        return QString();
    const qsizetype index = (row_ - keptFrom_) * columnCount() + column;
    if (index < 0 || std::size_t(index) >= cells_.size())
        return QString();
    const Cell &cell = cells_[std::size_t(index)];
    switch (cell.type) {
    case CellType::Null:
        return QString();
    case CellType::Integer:
        return QString::number(cell.value);
    case CellType::Real: {
        double d;
        std::memcpy(&d, &cell.value, sizeof d);
        QLocale locale = QLocale::system();
        locale.setNumberOptions(QLocale::OmitGroupSeparator);
        return locale.toString(d, 'g', 15);
    }
    case CellType::Text:
        return decodeUtf8(QByteArrayView(text_.constData() + cell.value, qsizetype(cell.length)));
    }
    return QString();
}

void ResultSet::clear() noexcept
{
    releaseStatement();
    columnNames_.clear();
    cells_.clear();
    text_.clear();
    rowCount_ = 0;
    row_ = 0;
    keptFrom_ = 0;
    atEnd_ = true;
    overlay_ = Overlay();
    onlyTable_.clear();
    // Small results come and go by the hundred thousand: keep their room.
    if (cells_.capacity() > 65536) {
        cells_.shrink_to_fit();
        text_.squeeze();
    }
}

} // namespace db
