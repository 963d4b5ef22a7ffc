#pragma once
// The rows a statement fetched, every column as UTF-8 text.

#include <QAnyStringView>
#include <QByteArrayView>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>
#include <vector>

// Rows fetched by one statement, every column as UTF-8 text. Cells live in large blocks with
// a two-byte length each, so the buffer stays close to the size of the text it holds.
class ResultBuffer final {
public:
    static constexpr std::uint16_t kNull = 0xFFFF;

    explicit ResultBuffer(QStringList columnNames);
    const QStringList& columnNames() const { return m_columns; }
    int columnCount() const { return int(m_columns.size()); }
    int rowCount() const { return int(m_rows.size()); }
    int columnIndex(QAnyStringView name) const;  // -1 when absent; letter case ignored

    // Appends one row; lengths[i] == kNull marks a null cell.
    void appendRow(const char* const* cells, const std::uint16_t* lengths);
    bool isNull(int row, int column) const;
    QByteArrayView cell(int row, int column) const;
    std::size_t bytesAllocated() const;

private:
    struct Row {
        std::uint32_t block;
        std::uint32_t offset;
        std::uint32_t lengths;  // index of the row's first length in m_lengths
    };
    static constexpr std::size_t kBlockSize = 1 << 20;
    QStringList m_columns;
    std::vector<QByteArray> m_utf8Columns;
    std::vector<std::unique_ptr<char[]>> m_blocks;
    std::vector<std::size_t> m_blockSizes;
    std::size_t m_used = kBlockSize;  // bytes used in the last block
    std::vector<Row> m_rows;
    std::vector<std::uint16_t> m_lengths;
};

// A column of the current row. Null reads as "" or 0.
class DbField final {
public:
    DbField(const ResultBuffer* result, int row, int column)
        : m_result(result), m_row(row), m_column(column) {}
    QString text() const;
    qint32 toInt() const;
    bool isNull() const;

private:
    const ResultBuffer* m_result;
    int m_row;
    int m_column;
};
