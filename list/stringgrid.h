#pragma once
// A grid of text cells with a row count, fixed (header) rows and columns and a hit test, built
// on Qt's model/view so that a hundred thousand rows stay fluent.
//
// Grid coordinates are (column, row) and include the fixed rows and columns: row 0 is the header
// row. The model shows the rows below the fixed ones as table rows and the first fixed row as the
// horizontal header, so the header stays in place while the rows scroll.

#include <QAbstractTableModel>
#include <QPoint>
#include <QString>
#include <QStringView>
#include <QTableView>

#include <span>
#include <vector>

class StringGridModel final : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit StringGridModel(QObject* parent = nullptr);

    int colCount() const { return m_colCount; }
    // Changing the column count empties every cell.
    void setColCount(int count);
    int gridRowCount() const { return int(m_rows.size()); }
    // Rows added are empty; rows cut off lose their cells.
    void setGridRowCount(int count);
    int fixedRows() const { return m_fixedRows; }
    void setFixedRows(int count);
    int fixedCols() const { return m_fixedCols; }
    void setFixedCols(int count);

    // Cells outside the grid read as empty text; writing one is ignored.
    QString cell(int col, int row) const;
    void setCell(int col, int row, const QString& text);
    // Replaces a whole row in one step; missing cells become empty.
    void setRowCells(int row, std::span<const QString> cells);
    void setRowCells(int row, std::span<const QStringView> cells);
    // Every cell loses its text; the row count stays.
    void emptyAll();

    // Changes made between beginBulk and endBulk reach the views as one model reset.
    void beginBulk();
    void endBulk();
    // Reserves room for rows about to be added (a fill that knows its result size).
    void reserveRows(int count) { m_rows.reserve(std::size_t(std::max(0, count))); }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    // One QString per row: for each column its end offset as two UTF-16 units (high, low), then
    // the cell texts one after another. An empty row is a null string and costs no allocation.
    static QStringView cellOf(const QString& packed, int colCount, int col);
    QString pack(std::span<const QStringView> cells) const;
    void rowChanged(int row);
    void resizeRows(int count);

    std::vector<QString> m_rows;
    int m_colCount = 0;
    int m_fixedRows = 0;
    int m_fixedCols = 0;
    int m_bulkDepth = 0;
};

// The grid control: a read-only table view over a StringGridModel, with the grid's own API.
class StringGrid final : public QTableView {
    Q_OBJECT
public:
    explicit StringGrid(QWidget* parent = nullptr);

    StringGridModel& grid() { return m_model; }
    const StringGridModel& grid() const { return m_model; }

    int colCount() const { return m_model.colCount(); }
    int rowCount() const { return m_model.gridRowCount(); }
    void setRowCount(int count) { m_model.setGridRowCount(count); }
    QString cell(int col, int row) const { return m_model.cell(col, row); }
    void setColWidth(int col, int width);
    int colWidth(int col) const { return columnWidth(col); }

    // The grid row of the selected cell, -1 when nothing is selected.
    int selectedRow() const;
    // The grid cell (column, row) under a point given in screen coordinates; (-1, -1) when the
    // point lies outside every cell, as below the last row or beside the last column.
    QPoint cellAtGlobal(const QPoint& globalPos) const;

signals:
    // A double click anywhere on the grid, its header included.
    void gridDoubleClicked();
    // Enter or Return pressed while the grid has the focus.
    void rowEntered();

protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    StringGridModel m_model;
};
