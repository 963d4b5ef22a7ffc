// The string grid: cells survive packing whatever their length, the row count keeps the header
// row, cells never leak from one fill into the next, and the hit test tells header, fixed
// columns, cells and empty space apart.

#include "stringgrid.h"

#include <QHeaderView>
#include <QSignalSpy>
#include <QTest>

#include <array>

class TestStringGrid final : public QObject {
    Q_OBJECT

    static void setUpGrid(StringGridModel& m, int rows) {
        m.setColCount(4);
        m.setGridRowCount(rows);
        m.setFixedRows(1);
        m.setFixedCols(2);
        const std::array<QString, 4> header{QString(), "KEY", "A", "B"};
        m.setRowCells(0, header);
    }

private slots:
    void cellsKeepTheirTextAndNeighbours_data() {
        QTest::addColumn<QString>("text");
        QTest::newRow("empty") << QString();
        QTest::newRow("japanese") << QStringLiteral("株式会社ひかり印刷");
        QTest::newRow("line breaks") << QStringLiteral("一行目\r\n二行目");
        QTest::newRow("surrogate pair") << QStringLiteral("𠮷野家");
        QTest::newRow("nul character") << QString(QChar(0)) + QStringLiteral("x");
        // Longer than one 16-bit offset can count: the offsets must not wrap.
        QTest::newRow("70000 characters") << QString(70000, QLatin1Char('m'));
    }
    void cellsKeepTheirTextAndNeighbours() {
        QFETCH(QString, text);
        StringGridModel m;
        setUpGrid(m, 3);
        const std::array<QString, 4> row{"12", "", "left", "right"};
        m.setRowCells(1, row);
        m.setCell(2, 1, text);
        QCOMPARE(m.cell(2, 1), text);
        QCOMPARE(m.cell(0, 1), QStringLiteral("12"));
        QCOMPARE(m.cell(1, 1), QString());
        QCOMPARE(m.cell(3, 1), QStringLiteral("right"));
        // The same text written in one step reads back alike.
        const std::array<QString, 4> whole{text, text, text, text};
        m.setRowCells(2, whole);
        for (int c = 0; c < 4; ++c)
            QCOMPARE(m.cell(c, 2), text);
    }

    void outsideCellsAreEmptyAndIgnored() {
        StringGridModel m;
        setUpGrid(m, 2);
        m.setCell(4, 1, "x");
        m.setCell(0, 2, "x");
        m.setCell(-1, 0, "x");
        QCOMPARE(m.cell(4, 1), QString());
        QCOMPARE(m.cell(0, 2), QString());
        QCOMPARE(m.cell(0, -1), QString());
        QCOMPARE(m.gridRowCount(), 2);
    }

    void rowCountIncludesTheHeaderRow() {
        StringGridModel m;
        setUpGrid(m, 16);
        QCOMPARE(m.gridRowCount(), 16);
        QCOMPARE(m.rowCount(), 15);  // the table shows the rows below the header
        QCOMPARE(m.headerData(2, Qt::Horizontal, Qt::DisplayRole).toString(), QStringLiteral("A"));
        m.setCell(2, 1, "first");
        QCOMPARE(m.data(m.index(0, 2), Qt::DisplayRole).toString(), QStringLiteral("first"));
        m.setGridRowCount(1);
        QCOMPARE(m.rowCount(), 0);
        m.setGridRowCount(0);
        QCOMPARE(m.rowCount(), 0);
        QCOMPARE(m.headerData(2, Qt::Horizontal, Qt::DisplayRole).toString(), QString());
    }

    void noTextOutlivesAFill() {
        StringGridModel m;
        setUpGrid(m, 5);
        const std::array<QString, 4> row{"7", "", "a", "b"};
        for (int r = 1; r < 5; ++r)
            m.setRowCells(r, row);
        // Rows cut off by a smaller row count come back empty.
        m.setGridRowCount(2);
        m.setGridRowCount(5);
        QCOMPARE(m.cell(2, 4), QString());
        QCOMPARE(m.cell(2, 1), QStringLiteral("a"));
        m.emptyAll();
        for (int r = 0; r < 5; ++r) {
            for (int c = 0; c < 4; ++c)
                QCOMPARE(m.cell(c, r), QString());
        }
    }

    void viewsSeeEditsAndBulkFillsOnce() {
        StringGridModel m;
        setUpGrid(m, 2);
        QSignalSpy inserted(&m, &QAbstractItemModel::rowsInserted);
        QSignalSpy removed(&m, &QAbstractItemModel::rowsRemoved);
        QSignalSpy changed(&m, &QAbstractItemModel::dataChanged);
        QSignalSpy header(&m, &QAbstractItemModel::headerDataChanged);
        QSignalSpy reset(&m, &QAbstractItemModel::modelReset);
        m.setGridRowCount(10);
        QCOMPARE(inserted.size(), 1);
        QCOMPARE(inserted[0][1].toInt(), 1);  // table rows 1..8 follow the one already there
        QCOMPARE(inserted[0][2].toInt(), 8);
        m.setCell(3, 4, "x");
        QCOMPARE(changed.size(), 1);
        QCOMPARE(changed[0][0].toModelIndex().row(), 3);
        m.setCell(2, 0, "header");
        QCOMPARE(header.size(), 1);
        m.setGridRowCount(3);
        QCOMPARE(removed.size(), 1);

        inserted.clear();
        changed.clear();
        m.beginBulk();
        m.emptyAll();
        for (int r = 1; r < 1000; ++r) {
            m.setGridRowCount(r + 1);
            m.setCell(2, r, "y");
        }
        m.endBulk();
        QCOMPARE(reset.size(), 1);
        QCOMPARE(inserted.size(), 0);
        QCOMPARE(changed.size(), 0);
        QCOMPARE(m.rowCount(), 999);
    }

    void cellsAreNeverEditableAndFixedColumnsNotSelectable() {
        StringGridModel m;
        setUpGrid(m, 3);
        QVERIFY(!(m.flags(m.index(0, 0)) & Qt::ItemIsSelectable));
        QVERIFY(!(m.flags(m.index(0, 1)) & Qt::ItemIsSelectable));
        QVERIFY(m.flags(m.index(0, 2)) & Qt::ItemIsSelectable);
        for (int c = 0; c < 4; ++c)
            QVERIFY(!(m.flags(m.index(1, c)) & Qt::ItemIsEditable));
    }

    void hitTestFromScreenPosition_data() {
        QTest::addColumn<QString>("where");
        QTest::addColumn<QPoint>("cell");
        QTest::newRow("header over column A") << "header" << QPoint(2, 0);
        QTest::newRow("first key column") << "col0" << QPoint(0, 1);
        QTest::newRow("second key column") << "col1" << QPoint(1, 2);
        QTest::newRow("card cell") << "cell" << QPoint(3, 2);
        QTest::newRow("below the last row") << "below" << QPoint(-1, -1);
        QTest::newRow("right of the last column") << "right" << QPoint(-1, -1);
        QTest::newRow("outside the grid") << "outside" << QPoint(-1, -1);
    }
    void hitTestFromScreenPosition() {
        QFETCH(QString, where);
        QFETCH(QPoint, cell);
        StringGrid view;
        setUpGrid(view.grid(), 3);
        view.setColWidth(0, 1);
        view.setColWidth(1, 1);
        view.setColWidth(2, 100);
        view.setColWidth(3, 100);
        view.resize(400, 300);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        QCOMPARE(view.columnWidth(0), 1);

        QWidget* vp = view.viewport();
        const int rowH = view.rowHeight(0);
        QPoint global;
        if (where == "header")
            global = view.horizontalHeader()->viewport()->mapToGlobal(QPoint(2 + 50, 5));
        else if (where == "col0")
            global = vp->mapToGlobal(QPoint(0, rowH / 2));
        else if (where == "col1")
            global = vp->mapToGlobal(QPoint(1, rowH + rowH / 2));
        else if (where == "cell")
            global = vp->mapToGlobal(QPoint(2 + 100 + 50, rowH + rowH / 2));
        else if (where == "below")
            global = vp->mapToGlobal(QPoint(50, 2 * rowH + 5));
        else if (where == "right")
            global = vp->mapToGlobal(QPoint(2 + 200 + 20, rowH / 2));
        else
            global = view.mapToGlobal(QPoint(-20, -20));
        QCOMPARE(view.cellAtGlobal(global), cell);
    }

    void doubleClickOnHeaderOrEmptySpaceIsReported() {
        StringGrid view;
        setUpGrid(view.grid(), 2);
        view.resize(400, 300);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        QSignalSpy spy(&view, &StringGrid::gridDoubleClicked);
        QTest::mouseDClick(view.horizontalHeader()->viewport(), Qt::LeftButton, {}, QPoint(30, 5));
        QTest::mouseDClick(view.viewport(), Qt::LeftButton, {}, QPoint(30, 200));
        QCOMPARE(spy.size(), 2);
    }
};

QTEST_MAIN(TestStringGrid)
#include "tst_stringgrid.moc"
