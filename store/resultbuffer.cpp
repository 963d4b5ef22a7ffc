// The rows a statement fetched, kept as UTF-8 cells in large blocks, and the field view on them.

#include "resultbuffer.h"

#include "dbconnection.h"

#include <cstring>

// ---- ResultBuffer --------------------------------------------------------------------------

ResultBuffer::ResultBuffer(QStringList columnNames) : m_columns(std::move(columnNames)) {
    for (const QString& name : m_columns)
        m_utf8Columns.push_back(name.toUtf8());
}

int ResultBuffer::columnIndex(QAnyStringView name) const {
    // Names written in the code arrive as 8-bit text: compare their bytes directly, folding
    // ASCII letter case, which is every column name's alphabet. This runs once per cell read.
    const int found = name.visit([this](auto view) {
        if constexpr (!std::is_same_v<decltype(view), QStringView>) {
            for (int i = 0; i < int(m_utf8Columns.size()); ++i) {
                const QByteArray& column = m_utf8Columns[std::size_t(i)];
                if (column.size() == view.size() &&
                    qstrnicmp(column.constData(), view.data(), std::size_t(view.size())) == 0)
                    return i;
            }
        }
        return -1;
    });
    if (found >= 0)
        return found;
    for (int i = 0; i < m_columns.size(); ++i) {
        if (QAnyStringView::compare(name, m_columns[i], Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

void ResultBuffer::appendRow(const char* const* cells, const std::uint16_t* lengths) {
    std::size_t bytes = 0;
    const int n = columnCount();
    for (int i = 0; i < n; ++i) {
        if (lengths[i] != kNull)
            bytes += lengths[i];
    }
    if (m_blocks.empty() || m_used + bytes > m_blockSizes.back()) {
        const std::size_t size = std::max(kBlockSize, bytes);
        m_blocks.push_back(std::make_unique<char[]>(size));
        m_blockSizes.push_back(size);
        m_used = 0;
    }
    m_rows.push_back(
        Row{std::uint32_t(m_blocks.size() - 1), std::uint32_t(m_used), std::uint32_t(m_lengths.size())});
    char* out = m_blocks.back().get() + m_used;
    for (int i = 0; i < n; ++i) {
        m_lengths.push_back(lengths[i]);
        if (lengths[i] != kNull) {
            std::memcpy(out, cells[i], lengths[i]);
            out += lengths[i];
        }
    }
    m_used += bytes;
}

bool ResultBuffer::isNull(int row, int column) const {
    return m_lengths[m_rows[row].lengths + column] == kNull;
}

QByteArrayView ResultBuffer::cell(int row, int column) const {
    const Row& r = m_rows[row];
    std::size_t offset = r.offset;
    for (int i = 0; i < column; ++i) {
        const std::uint16_t len = m_lengths[r.lengths + i];
        if (len != kNull)
            offset += len;
    }
    const std::uint16_t len = m_lengths[r.lengths + column];
    if (len == kNull)
        return {};
    return QByteArrayView(m_blocks[r.block].get() + offset, len);
}

std::size_t ResultBuffer::bytesAllocated() const {
    std::size_t total = sizeof(*this);
    for (std::size_t s : m_blockSizes)
        total += s;
    total += m_rows.capacity() * sizeof(Row) + m_lengths.capacity() * sizeof(std::uint16_t);
    total += m_blocks.capacity() * sizeof(void*) + m_blockSizes.capacity() * sizeof(std::size_t);
    return total;
}

// ---- DbField ------------------------------------------------------------------------------

bool DbField::isNull() const {
    return m_row < 0 || m_result->isNull(m_row, m_column);
}

QString DbField::text() const {
    if (isNull())
        return QString();
    const QByteArrayView bytes(m_result->cell(m_row, m_column));
    // fromUtf8 takes a leading U+FEFF for a byte-order mark and drops it; in a column it is text.
    if (!bytes.startsWith("\xEF\xBB\xBF"))
        return QString::fromUtf8(bytes);
    return QString(QChar(0xFEFF)) + QString::fromUtf8(bytes.sliced(3));
}

qint32 DbField::toInt() const {
    if (isNull())
        return 0;
    const QByteArrayView text = m_result->cell(m_row, m_column);
    bool ok = false;
    const qint32 value = text.trimmed().toInt(&ok);
    if (!ok)
        throw DbError(QStringLiteral("「%1」は整数として読めません。").arg(QString::fromUtf8(text)));
    return value;
}
