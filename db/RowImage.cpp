#include "RowImage.h"

#include "ResultSet.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <utility>

namespace db {

namespace {

constexpr std::size_t blockSize = std::size_t(1) << 20;

bool fits32(std::int64_t n)
{
    return n >= std::numeric_limits<std::int32_t>::min() && n <= std::numeric_limits<std::int32_t>::max();
}

template<typename T>
std::size_t bytesOf(const std::vector<T> &v)
{
    return v.capacity() * sizeof(T);
}

constexpr std::uint32_t signBit = 0x80000000u;

} // namespace

std::size_t RowImage::bytes() const noexcept
{
    std::size_t total = std::size_t(text_.capacity()) + bytesOf(order_) + bytesOf(groupValues_)
        + bytesOf(groupStarts_);
    for (const Column &c : columns_) {
        total += bytesOf(c.ints) + bytesOf(c.ends) + bytesOf(c.cells) + bytesOf(c.blocks);
        for (const Block &b : c.blocks)
            total += b.size;
    }
    return total;
}

std::size_t RowImage::projectedBytes(sqlite3_stmt *scan, std::size_t expectedRows, int groupColumn,
                                     int orderColumn)
{
    constexpr std::size_t sample = 4096;
    RowImage image;
    const int count = sqlite3_column_count(scan);
    if (groupColumn < 0 || groupColumn >= count || orderColumn < 0 || orderColumn >= count)
        return std::numeric_limits<std::size_t>::max();
    image.columns_.resize(std::size_t(count));
    image.reserve_ = sample;
    while (image.rows_ < sample && sqlite3_step(scan) == SQLITE_ROW) {
        for (int c = 0; c < count; ++c)
            image.store(c, scan);
        ++image.rows_;
    }
    if (image.rows_ == 0)
        return 0;
    // Rows no image can be made of show among the first as a rule.
    if (!image.numbersWhereNeeded(groupColumn, orderColumn))
        return std::numeric_limits<std::size_t>::max();
    // A row's share of the columns and texts, its place in the order, and
    // what sorting it takes for a moment.
    const std::size_t perRow = image.usedBytes() / image.rows_ + 1 + 4 + 8;
    return perRow * expectedRows;
}

std::size_t RowImage::usedBytes() const noexcept
{
    std::size_t total = std::size_t(text_.size());
    for (const Column &c : columns_) {
        total += (c.ints.size() + c.ends.size()) * 4 + c.cells.size() * sizeof(Cell);
        for (const Block &b : c.blocks)
            total += b.used;
    }
    return total;
}

void RowImage::appendText(int index, const char *bytes, std::size_t length)
{
    Column &column = columns_[std::size_t(index)];
    if (column.blocks.empty() || column.blocks.back().size - column.blocks.back().used < length) {
        Block block;
        block.size = std::max(blockSize, length);
        block.bytes.reset(new char[block.size]);
        block.firstRow = std::uint32_t(rows_);
        column.blocks.push_back(std::move(block));
    }
    Block &block = column.blocks.back();
    if (length > 0)
        std::memcpy(block.bytes.get() + block.used, bytes, length);
    block.used += length;
    column.ends.push_back(std::uint32_t(block.used));
}

QByteArrayView RowImage::textAt(int index, std::size_t row) const noexcept
{
    const Column &column = columns_[std::size_t(index)];
    // The last block whose first row is at or before the row.
    const auto it = std::upper_bound(column.blocks.begin(), column.blocks.end(), row,
                                     [](std::size_t r, const Block &b) { return r < b.firstRow; });
    const Block &block = *(it - 1);
    const std::size_t start = row == block.firstRow ? 0 : column.ends[row - 1];
    return QByteArrayView(block.bytes.get() + start, qsizetype(column.ends[row] - start));
}

void RowImage::toCells(int index)
{
    Column &column = columns_[std::size_t(index)];
    std::vector<Cell> cells;
    cells.reserve(std::max(reserve_, rows_ + 1));
    for (std::size_t r = 0; r < rows_; ++r) {
        if (column.form == Form::Narrow) {
            cells.push_back(Cell{column.ints[r], 0, Type::Integer});
        } else {
            const QByteArrayView text = textAt(index, r);
            cells.push_back(Cell{text_.size(), std::uint32_t(text.size()), Type::Text});
            text_.append(text);
        }
    }
    column.cells = std::move(cells);
    column.ints = std::vector<std::int32_t>();
    column.ends = std::vector<std::uint32_t>();
    column.blocks = std::vector<Block>();
    column.form = Form::Cells;
}

void RowImage::store(int index, sqlite3_stmt *scan)
{
    Column &column = columns_[std::size_t(index)];
    Cell cell;
    const char *bytes = nullptr;
    switch (sqlite3_column_type(scan, index)) {
    case SQLITE_INTEGER:
        cell.type = Type::Integer;
        cell.value = sqlite3_column_int64(scan, index);
        break;
    case SQLITE_FLOAT: {
        cell.type = Type::Real;
        const double d = sqlite3_column_double(scan, index);
        std::memcpy(&cell.value, &d, sizeof d);
        break;
    }
    case SQLITE_NULL:
        break;
    default: // text, and blobs as their bytes, as a result keeps them
        bytes = static_cast<const char *>(sqlite3_column_blob(scan, index));
        cell.type = Type::Text;
        cell.length = std::uint32_t(sqlite3_column_bytes(scan, index));
        break;
    }
    if (column.ascending) {
        column.ascending = cell.type == Type::Integer && (rows_ == 0 || cell.value > column.last);
        column.last = cell.value;
    }
    if (column.form == Form::Narrow && rows_ == 0 && cell.type == Type::Text) {
        column.form = Form::Texts;
        column.ints = std::vector<std::int32_t>();
        column.ends.reserve(reserve_);
    }
    if (column.form == Form::Narrow && cell.type == Type::Integer && fits32(cell.value)) {
        column.ints.push_back(std::int32_t(cell.value));
        return;
    }
    if (column.form == Form::Texts && cell.type == Type::Text
        && std::size_t(cell.length) < std::numeric_limits<std::uint32_t>::max()) {
        appendText(index, bytes, cell.length);
        return;
    }
    if (column.form != Form::Cells)
        toCells(index);
    if (cell.type == Type::Text) {
        cell.value = text_.size();
        text_.append(bytes, qsizetype(cell.length));
    }
    column.cells.push_back(cell);
}

bool RowImage::isNull(int index, std::size_t row) const noexcept
{
    const Column &column = columns_[std::size_t(index)];
    return column.form == Form::Cells && column.cells[row].type == Type::Null;
}

bool RowImage::numbersWhereNeeded(int groupColumn, int orderColumn) const noexcept
{
    for (std::size_t r = 0; r < rows_; ++r) {
        std::int64_t v = 0;
        // A group value of another kind compares by other rules than numbers
        // do; a null one equals nothing, and its row's order doesn't matter.
        if (isNull(groupColumn, r))
            continue;
        if (!integerAt(groupColumn, r, v) || !integerAt(orderColumn, r, v))
            return false;
    }
    return true;
}

bool RowImage::integerAt(int index, std::size_t row, std::int64_t &value) const noexcept
{
    const Column &column = columns_[std::size_t(index)];
    if (column.form == Form::Narrow) {
        value = column.ints[row];
        return true;
    }
    if (column.form == Form::Texts)
        return false;
    const Cell &cell = column.cells[row];
    value = cell.value;
    return cell.type == Type::Integer;
}

std::unique_ptr<RowImage> RowImage::build(sqlite3_stmt *scan, std::size_t expectedRows, int groupColumn,
                                          int orderColumn, std::size_t budget, int &rc)
{
    rc = SQLITE_DONE;
    std::unique_ptr<RowImage> image(new RowImage());
    const int count = sqlite3_column_count(scan);
    if (groupColumn < 0 || groupColumn >= count || orderColumn < 0 || orderColumn >= count)
        return nullptr;
    image->columns_.resize(std::size_t(count));
    image->groupColumn_ = groupColumn;
    image->orderColumn_ = orderColumn;
    // Room for every row from the start: grown by doubling, the columns would
    // hold twice their size for a moment and up to twice for good.
    image->reserve_ = expectedRows + 1;
    for (Column &c : image->columns_)
        c.ints.reserve(image->reserve_);
    if (image->bytes() > budget)
        return nullptr;
    while ((rc = sqlite3_step(scan)) == SQLITE_ROW) {
        for (int c = 0; c < count; ++c)
            image->store(c, scan);
        ++image->rows_;
        if (image->rows_ >= std::numeric_limits<std::uint32_t>::max())
            return nullptr;
        if ((image->rows_ & 1023) == 0 && image->bytes() > budget)
            return nullptr;
    }
    if (rc != SQLITE_DONE)
        return nullptr;
    for (Column &c : image->columns_) {
        c.ints.shrink_to_fit();
        c.ends.shrink_to_fit();
    }

    // Sorted by group, then order. When the groups are 32-bit numbers and the
    // rows come in the order's order, a row's group and number make one
    // 64-bit word that sorts so; otherwise all three go in.
    const Column &groups = image->columns_[std::size_t(groupColumn)];
    const Column &orders = image->columns_[std::size_t(orderColumn)];
    if (!image->numbersWhereNeeded(groupColumn, orderColumn))
        return nullptr;
    auto nullGroup = [&](std::size_t r) { return image->isNull(groupColumn, r); };
    auto addGroup = [&image](std::int64_t value, std::size_t start) {
        image->groupValues_.push_back(value);
        image->groupStarts_.push_back(std::uint32_t(start));
    };
    if (groups.form == Form::Narrow && orders.ascending) {
        std::vector<std::uint64_t> words;
        if (image->bytes() + image->rows_ * (sizeof(std::uint64_t) + sizeof(std::uint32_t)) > budget)
            return nullptr;
        words.reserve(image->rows_);
        for (std::size_t r = 0; r < image->rows_; ++r)
            words.push_back((std::uint64_t(std::uint32_t(groups.ints[r]) ^ signBit) << 32) | std::uint32_t(r));
        std::sort(words.begin(), words.end());
        image->order_.reserve(words.size());
        for (std::size_t i = 0; i < words.size(); ++i) {
            const std::uint32_t high = std::uint32_t(words[i] >> 32);
            if (i == 0 || high != std::uint32_t(words[i - 1] >> 32))
                addGroup(std::int32_t(high ^ signBit), i);
            image->order_.push_back(std::uint32_t(words[i]));
        }
    } else {
        struct Entry
        {
            std::int64_t group;
            std::int64_t order;
            std::uint32_t row;
        };
        std::vector<Entry> entries;
        if (image->bytes() + image->rows_ * (sizeof(Entry) + sizeof(std::uint32_t)) > budget)
            return nullptr;
        entries.reserve(image->rows_);
        for (std::size_t r = 0; r < image->rows_; ++r) {
            if (nullGroup(r))
                continue;
            Entry e{0, 0, std::uint32_t(r)};
            image->integerAt(groupColumn, r, e.group);
            image->integerAt(orderColumn, r, e.order);
            entries.push_back(e);
        }
        std::sort(entries.begin(), entries.end(), [](const Entry &a, const Entry &b) {
            return a.group != b.group ? a.group < b.group : a.order < b.order;
        });
        image->order_.reserve(entries.size());
        for (std::size_t i = 0; i < entries.size(); ++i) {
            const Entry &e = entries[i];
            if (i == 0 || e.group != entries[i - 1].group)
                addGroup(e.group, i);
            else if (e.order == entries[i - 1].order)
                return nullptr; // the engine may give such rows in either order
            image->order_.push_back(e.row);
        }
    }
    image->groupStarts_.push_back(std::uint32_t(image->order_.size()));
    image->groupValues_.shrink_to_fit();
    image->groupStarts_.shrink_to_fit();
    return image;
}

std::span<const std::uint32_t> RowImage::group(std::int64_t value) const noexcept
{
    const auto it = std::lower_bound(groupValues_.begin(), groupValues_.end(), value);
    if (it == groupValues_.end() || *it != value)
        return {};
    const std::size_t g = std::size_t(it - groupValues_.begin());
    return std::span<const std::uint32_t>(order_.data() + groupStarts_[g], groupStarts_[g + 1] - groupStarts_[g]);
}

void RowImage::appendRow(std::uint32_t row, ResultSet &result) const
{
    for (int c = 0; c < columnCount(); ++c) {
        const Column &column = columns_[std::size_t(c)];
        if (column.form == Form::Narrow) {
            result.addInteger(column.ints[row]);
            continue;
        }
        if (column.form == Form::Texts) {
            result.addText(textAt(c, row));
            continue;
        }
        const Cell &cell = column.cells[row];
        switch (cell.type) {
        case Type::Null:
            result.addNull();
            break;
        case Type::Integer:
            result.addInteger(cell.value);
            break;
        case Type::Real: {
            double d;
            std::memcpy(&d, &cell.value, sizeof d);
            result.addReal(d);
            break;
        }
        case Type::Text:
            result.addText(QByteArrayView(text_.constData() + cell.value, qsizetype(cell.length)));
            break;
        }
    }
    result.endRow();
}

bool RowImage::findRow(int keyColumn, std::int64_t key, std::size_t &row) const noexcept
{
    if (rows_ == 0)
        return false;
    std::int64_t first = 0;
    std::int64_t last = 0;
    integerAt(keyColumn, 0, first);
    integerAt(keyColumn, rows_ - 1, last);
    if (key < first || key > last)
        return false;
    // Keys with no gaps, as row ids of a table only ever added to are.
    if (std::uint64_t(last) - std::uint64_t(first) == rows_ - 1) {
        row = std::size_t(std::uint64_t(key) - std::uint64_t(first));
        return true;
    }
    std::size_t low = 0;
    std::size_t high = rows_;
    while (low < high) {
        const std::size_t mid = low + (high - low) / 2;
        std::int64_t v = 0;
        integerAt(keyColumn, mid, v);
        if (v < key)
            low = mid + 1;
        else
            high = mid;
    }
    std::int64_t found = 0;
    if (low == rows_ || !integerAt(keyColumn, low, found) || found != key)
        return false;
    row = low;
    return true;
}

bool RowImage::patch(int keyColumn, std::int64_t key, int valueColumn, std::int64_t value)
{
    if (keyColumn < 0 || keyColumn >= columnCount() || valueColumn < 0 || valueColumn >= columnCount()
        || valueColumn == groupColumn_ || valueColumn == orderColumn_ || valueColumn == keyColumn
        || !columns_[std::size_t(keyColumn)].ascending)
        return false;
    std::size_t row = 0;
    if (!findRow(keyColumn, key, row))
        return true;
    Column &column = columns_[std::size_t(valueColumn)];
    column.ascending = false; // no longer known to be
    if (column.form == Form::Narrow && fits32(value)) {
        column.ints[row] = std::int32_t(value);
        return true;
    }
    if (column.form != Form::Cells)
        toCells(valueColumn);
    column.cells[row] = Cell{value, 0, Type::Integer};
    return true;
}

} // namespace db
