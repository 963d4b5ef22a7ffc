// The card list on 100,000 cards: "表示" with the empty keyword and 名前 until the grid holds
// every row, and the first view (名刺一覧), each against the same statement fetched with the
// bare client into strings and against the floor, the bare fetch that only touches each row's
// message buffer; and the heap the filled grid takes against the text of its rows.

#include "benchcommon.h"
#include "benchmessages.h"
#include "carddatabase.h"
#include "cardeditorwindow.h"
#include "cardlistwindow.h"
#include "controls.h"
#include "formlook.h"
#include "messages.h"
#include "programundertest.h"
#include "startup.h"
#include "stringgrid.h"

#include <QApplication>
#include <QDir>
#include <QPushButton>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    const WindowBench windows(argc, argv, "bench_list");

    QTemporaryDir dir;
    const int cards = 100000;
    const QString path = bench::makeCardDatabase(dir.path(), cards);
    program = composeProgram(CardFolder::local(dir.path()));
    program->cardList()->show();
    QApplication::processEvents();

    const auto bare = [&] {
        std::vector<std::string> cells;
        bench::bareNameSearch(path, cells);
    };
    const auto search = [&] {
        ctl<QPushButton>(program->cardList(), "SpeedButton1")->click();
        QApplication::processEvents();  // the view takes in the new rows and paints them
    };
    const auto firstView = [&] {
        program->cardList()->openCardList();
        QApplication::processEvents();
    };
    bare();  // warms the engine's page cache for both sides

    // The heap figure comes from the first fill, into the grid as the window starts.
    const std::size_t before = bench::heapInUse();
    search();
    const std::size_t growth = bench::heapInUse() - before;
    const int rows = ctl<StringGrid>(program->cardList(), "SGrid1")->rowCount() - 2;
    if (rows != cards) {
        std::fprintf(stderr, "bench_list: the grid holds %d cards, not %d\n", rows, cards);
        return 1;
    }
    const std::size_t text = gridTextBytes(*ctl<StringGrid>(program->cardList(), "SGrid1"));

    const auto touch = [&] { bench::bareTouchFetch(path); };
    const std::vector<double> ms = bench::interleavedMediansMs(5, {bare, search, firstView, touch});
    const double bareMs = ms[0], fillMs = ms[1], firstMs = ms[2], touchMs = ms[3];

    bench::report("list_fill", fillMs / bareMs, 1.2,
                  QStringLiteral("fill=%1ms bare=%2ms rows=%3")
                      .arg(fillMs, 0, 'f', 0)
                      .arg(bareMs, 0, 'f', 0)
                      .arg(rows));
    bench::report("list_memory", double(growth) / double(text), 2.0,
                  QStringLiteral("heap_growth=%1MB row_text=%2MB")
                      .arg(growth / 1e6, 0, 'f', 1)
                      .arg(text / 1e6, 0, 'f', 1));
    bench::report("first_view", firstMs / bareMs, 1.2,
                  QStringLiteral("first_view=%1ms bare=%2ms").arg(firstMs, 0, 'f', 0).arg(bareMs, 0, 'f', 0));

    bench::report("list_fill_floor", fillMs / touchMs, 1.5,
                  QStringLiteral("fill=%1ms bare_touch=%2ms first_view=%3ms rows=%4")
                      .arg(fillMs, 0, 'f', 0)
                      .arg(touchMs, 0, 'f', 0)
                      .arg(firstMs, 0, 'f', 0)
                      .arg(rows));

    program.reset();
    return 0;
}
