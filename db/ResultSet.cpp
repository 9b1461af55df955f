#include "ResultSet.h"

#include <QLocale>
#include "Utf8Text.h"

#include <sqlite3.h>

#include <cstring>

namespace db {

int ResultSet::fetchAll(sqlite3_stmt *stmt, int rc, const QStringList *names)
{
    clear();
    const int columns = sqlite3_column_count(stmt);
    if (names) {
        columnNames_ = *names;
    } else {
        for (int c = 0; c < columns; ++c)
            columnNames_.append(QString::fromUtf8(sqlite3_column_name(stmt, c)));
    }
    while (rc == SQLITE_ROW) {
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
        rc = sqlite3_step(stmt);
    }
    return rc;
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

bool ResultSet::isNull(qsizetype row, int column) const
{
    return cells_[std::size_t(row * columnCount() + column)].type == CellType::Null;
}

QString ResultSet::text(qsizetype row, int column) const
{
    const Cell &cell = cells_[std::size_t(row * columnCount() + column)];
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
    case CellType::Text: {
        return decodeUtf8(QByteArrayView(text_.constData() + cell.value, qsizetype(cell.length)));
    }
    }
    return QString();
}

void ResultSet::clear()
{
    columnNames_.clear();
    cells_.clear();
    text_.clear();
    // Small results come and go by the hundred thousand: keep their room.
    if (cells_.capacity() > 65536) {
        cells_.shrink_to_fit();
        text_.squeeze();
    }
}

} // namespace db
