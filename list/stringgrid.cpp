#include "stringgrid.h"

#include <QEvent>
#include <QFocusEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QVarLengthArray>

#include <algorithm>

namespace {

// Cells show on one line: a memo's line breaks would otherwise be cut off by the fixed row height.
QString oneLine(QStringView text) {
    QString shown = text.toString();
    for (QChar& c : shown) {
        if (c == QLatin1Char('\r') || c == QLatin1Char('\n'))
            c = QLatin1Char(' ');
    }
    return shown;
}

}  // namespace

// ---- StringGridModel -----------------------------------------------------------------------

StringGridModel::StringGridModel(QObject* parent) : QAbstractTableModel(parent) {}

void StringGridModel::setColCount(int count) {
    beginResetModel();
    m_colCount = std::max(0, count);
    for (QString& row : m_rows)
        row = QString();
    endResetModel();
}

void StringGridModel::setGridRowCount(int count) {
    count = std::max(0, count);
    const int old = gridRowCount();
    if (count == old)
        return;
    if (m_bulkDepth > 0) {
        resizeRows(count);
        return;
    }
    const int oldTable = std::max(0, old - m_fixedRows);
    const int newTable = std::max(0, count - m_fixedRows);
    if (newTable > oldTable)
        beginInsertRows({}, oldTable, newTable - 1);
    else if (newTable < oldTable)
        beginRemoveRows({}, newTable, oldTable - 1);
    resizeRows(count);
    if (newTable > oldTable)
        endInsertRows();
    else if (newTable < oldTable)
        endRemoveRows();
    if (std::min(old, count) < m_fixedRows && m_colCount > 0)
        emit headerDataChanged(Qt::Horizontal, 0, m_colCount - 1);
}

void StringGridModel::resizeRows(int count) {
    m_rows.resize(std::size_t(count));
    // A short list after a long one gives back the long one's row table.
    if (m_rows.capacity() > 4 * m_rows.size() + 1024)
        m_rows.shrink_to_fit();
}

void StringGridModel::setFixedRows(int count) {
    beginResetModel();
    m_fixedRows = std::max(0, count);
    endResetModel();
}

void StringGridModel::setFixedCols(int count) {
    beginResetModel();
    m_fixedCols = std::max(0, count);
    endResetModel();
}

QStringView StringGridModel::cellOf(const QString& packed, int colCount, int col) {
    if (packed.isNull())
        return {};
    const auto endOf = [&](int c) {
        return (std::uint32_t(packed[2 * qsizetype(c)].unicode()) << 16) |
               packed[2 * qsizetype(c) + 1].unicode();
    };
    const std::uint32_t start = col == 0 ? 0 : endOf(col - 1);
    const std::uint32_t end = endOf(col);
    return QStringView(packed).mid(2 * qsizetype(colCount) + qsizetype(start), qsizetype(end - start));
}

QString StringGridModel::pack(std::span<const QStringView> cells) const {
    qsizetype total = 0;
    for (int c = 0; c < m_colCount && c < int(cells.size()); ++c)
        total += cells[c].size();
    if (total == 0)
        return QString();
    QString packed(2 * qsizetype(m_colCount) + total, Qt::Uninitialized);
    QChar* lengths = packed.data();
    QChar* text = lengths + 2 * qsizetype(m_colCount);
    std::uint32_t end = 0;
    for (int c = 0; c < m_colCount; ++c) {
        if (c < int(cells.size())) {
            const QStringView cell = cells[c];
            std::copy(cell.begin(), cell.end(), text + end);
            end += std::uint32_t(cell.size());
        }
        lengths[2 * qsizetype(c)] = QChar(char16_t(end >> 16));
        lengths[2 * qsizetype(c) + 1] = QChar(char16_t(end & 0xFFFF));
    }
    return packed;
}

QString StringGridModel::cell(int col, int row) const {
    if (col < 0 || col >= m_colCount || row < 0 || row >= gridRowCount())
        return QString();
    return cellOf(m_rows[std::size_t(row)], m_colCount, col).toString();
}

void StringGridModel::setCell(int col, int row, const QString& text) {
    if (col < 0 || col >= m_colCount || row < 0 || row >= gridRowCount())
        return;
    const QString& old = m_rows[std::size_t(row)];
    std::vector<QStringView> cells(static_cast<std::size_t>(m_colCount));
    for (int c = 0; c < m_colCount; ++c)
        cells[std::size_t(c)] = c == col ? QStringView(text) : cellOf(old, m_colCount, c);
    m_rows[std::size_t(row)] = pack(cells);
    rowChanged(row);
}

void StringGridModel::setRowCells(int row, std::span<const QString> cells) {
    const std::size_t n = std::min(cells.size(), std::size_t(m_colCount));
    QVarLengthArray<QStringView, 16> views(static_cast<qsizetype>(n));
    std::copy(cells.begin(), cells.begin() + qsizetype(n), views.begin());
    setRowCells(row, std::span<const QStringView>(views.constData(), n));
}

void StringGridModel::setRowCells(int row, std::span<const QStringView> cells) {
    if (row < 0 || row >= gridRowCount())
        return;
    m_rows[std::size_t(row)] = pack(cells);
    rowChanged(row);
}

void StringGridModel::emptyAll() {
    for (QString& row : m_rows)
        row = QString();
    if (m_bulkDepth > 0 || m_colCount == 0)
        return;
    emit headerDataChanged(Qt::Horizontal, 0, m_colCount - 1);
    if (rowCount() > 0)
        emit dataChanged(index(0, 0), index(rowCount() - 1, m_colCount - 1));
}

void StringGridModel::beginBulk() {
    if (m_bulkDepth++ == 0)
        beginResetModel();
}

void StringGridModel::endBulk() {
    if (m_bulkDepth > 0 && --m_bulkDepth == 0)
        endResetModel();
}

void StringGridModel::rowChanged(int row) {
    if (m_bulkDepth > 0 || m_colCount == 0)
        return;
    if (row < m_fixedRows) {
        if (row == 0)
            emit headerDataChanged(Qt::Horizontal, 0, m_colCount - 1);
        return;
    }
    const int tableRow = row - m_fixedRows;
    emit dataChanged(index(tableRow, 0), index(tableRow, m_colCount - 1));
}

int StringGridModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : std::max(0, gridRowCount() - m_fixedRows);
}

int StringGridModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : m_colCount;
}

QVariant StringGridModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || role != Qt::DisplayRole)
        return {};
    const std::size_t row = std::size_t(index.row()) + std::size_t(m_fixedRows);
    if (row >= m_rows.size())
        return {};
    return oneLine(cellOf(m_rows[row], m_colCount, index.column()));
}

QVariant StringGridModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal || m_fixedRows == 0)
        return {};
    return oneLine(cell(section, 0));
}

Qt::ItemFlags StringGridModel::flags(const QModelIndex& index) const {
    if (!index.isValid())
        return Qt::NoItemFlags;
    // Fixed columns can be neither selected nor edited; no cell is ever edited.
    if (index.column() < m_fixedCols)
        return Qt::ItemIsEnabled;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}

// ---- StringGrid ----------------------------------------------------------------------------

StringGrid::StringGrid(QWidget* parent) : QTableView(parent) {
    setModel(&m_model);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectItems);
    setTabKeyNavigation(false);  // Tab leaves the grid for the next control
    setWordWrap(false);
    setCornerButtonEnabled(false);

    QHeaderView* header = horizontalHeader();
    header->setMinimumSectionSize(0);  // the key columns are one pixel wide
    header->setSectionResizeMode(QHeaderView::Fixed);
    header->setSectionsClickable(false);
    header->setHighlightSections(false);
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    header->viewport()->installEventFilter(this);

    // Uniform, fixed row heights keep scrolling through many rows cheap.
    QHeaderView* rows = verticalHeader();
    rows->setSectionResizeMode(QHeaderView::Fixed);
    rows->hide();
}

void StringGrid::setColWidth(int col, int width) {
    setColumnWidth(col, width);
}

int StringGrid::selectedRow() const {
    const QModelIndex current = currentIndex();
    return current.isValid() ? current.row() + m_model.fixedRows() : -1;
}

QPoint StringGrid::cellAtGlobal(const QPoint& globalPos) const {
    const QPoint inView = viewport()->mapFromGlobal(globalPos);
    if (viewport()->rect().contains(inView)) {
        const QModelIndex index = indexAt(inView);
        if (index.isValid())
            return {index.column(), index.row() + m_model.fixedRows()};
        return {-1, -1};
    }
    const QHeaderView* header = horizontalHeader();
    const QPoint inHeader = header->viewport()->mapFromGlobal(globalPos);
    if (header->isVisible() && header->viewport()->rect().contains(inHeader) && m_model.fixedRows() > 0) {
        const int col = header->logicalIndexAt(inHeader);
        if (col >= 0)
            return {col, 0};
    }
    return {-1, -1};
}

void StringGrid::mouseDoubleClickEvent(QMouseEvent* event) {
    QTableView::mouseDoubleClickEvent(event);
    emit gridDoubleClicked();
}

void StringGrid::keyPressEvent(QKeyEvent* event) {
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (enter && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        // Taken here, so that the window's default button does not see it.
        event->accept();
        if (!event->isAutoRepeat())
            emit rowEntered();
        return;
    }
    QTableView::keyPressEvent(event);
}

QModelIndex StringGrid::moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) {
    // The fixed columns are a pixel wide: the keyboard's cell stays where it can be seen.
    const QModelIndex next = QTableView::moveCursor(action, modifiers);
    const int firstShown = std::min(m_model.fixedCols(), m_model.colCount() - 1);
    if (next.isValid() && next.column() < firstShown)
        return m_model.index(next.row(), firstShown);
    return next;
}

void StringGrid::focusInEvent(QFocusEvent* event) {
    QTableView::focusInEvent(event);
    // Reached with Tab, the grid shows which row Enter opens: the current row's first shown
    // cell, or the first row's. A click, or the window coming back, leaves the choice as it is.
    const bool tabbed = event->reason() == Qt::TabFocusReason || event->reason() == Qt::BacktabFocusReason;
    if (!tabbed || m_model.rowCount() == 0)
        return;
    QModelIndex current = currentIndex();
    const int firstShown = std::min(m_model.fixedCols(), m_model.colCount() - 1);
    if (!current.isValid() || current.column() < firstShown)
        current = m_model.index(current.isValid() ? current.row() : 0, firstShown);
    if (!selectionModel()->isSelected(current))
        selectionModel()->setCurrentIndex(current, QItemSelectionModel::ClearAndSelect);
}

bool StringGrid::eventFilter(QObject* watched, QEvent* event) {
    if (watched == horizontalHeader()->viewport() && event->type() == QEvent::MouseButtonDblClick)
        emit gridDoubleClicked();
    return QTableView::eventFilter(watched, event);
}
