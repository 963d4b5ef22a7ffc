// The search that ignores kana and width on 100,000 cards: "表示" with a family name and 名前,
// folded (the cards that the engine finds may match fetched, the keyword looked up on the client
// in the name and the reading) against the plain search with the same keyword in the same run; a
// keyword of kana alone the same way, in the names and in the memos; and the heap each filled
// grid keeps.

#include "benchcommon.h"
#include "benchmessages.h"
#include "cardfolder.h"
#include "cardlistwindow.h"
#include "cardmatch.h"
#include "controls.h"
#include "formlook.h"
#include "messages.h"
#include "programundertest.h"
#include "startup.h"
#include "stringgrid.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    QStandardPaths::setTestModeEnabled(true);  // the user's own settings stay out of the run
    const WindowBench windows(argc, argv, "bench_search_fold");

    QTemporaryDir dir;
    const int cards = 100000;
    bench::makeCardDatabase(dir.path(), cards);
    program = composeProgram(CardFolder::local(dir.path()));
    program->cardList()->show();
    QApplication::processEvents();

    // One family name in ten cards; the generated readings never hold it.
    const QString keyword = QStringLiteral("田中");
    const auto fill = [&](bool folded, const QString& text) {
        program->searchOptions().foldKanaAndWidth = folded;
        ctl<QLineEdit>(program->cardList(), "Edit1")->setText(text);
        ctl<QPushButton>(program->cardList(), "SpeedButton1")->click();
        QApplication::processEvents();  // the view takes in the new rows and paints them
        return ctl<StringGrid>(program->cardList(), "SGrid1")->rowCount() - 2;
    };
    const auto plain = [&] { fill(false, keyword); };
    const auto folded = [&] { fill(true, keyword); };

    // Heap the grid keeps after each fill, from a grid emptied by a search that finds nothing.
    const auto heapOfFill = [&](bool foldedFill, int& rows) {
        fill(false, QStringLiteral("該当なし"));
        const std::size_t before = bench::heapInUse();
        rows = fill(foldedFill, keyword);
        return bench::heapInUse() - before;
    };
    // Warms the engine's page cache for both sides, and builds the fold's table of sources, which
    // is made once a run at the first folded search and kept, whatever is searched after.
    plain();
    folded();
    int plainRows = 0, foldedRows = 0;
    const std::size_t plainHeap = heapOfFill(false, plainRows);
    const std::size_t foldedHeap = heapOfFill(true, foldedRows);
    if (plainRows != cards / 10 || foldedRows != plainRows) {
        std::fprintf(stderr, "bench_search_fold: %d cards plain, %d folded, not %d\n", plainRows, foldedRows,
                     cards / 10);
        return 1;
    }

    const std::vector<double> keywordMs = bench::interleavedMediansMs(5, {plain, folded});
    const double plainMs = keywordMs[0], foldedMs = keywordMs[1];

    // A keyword of kana alone, which no card holds: the engine passes over every card on both
    // sides, with nothing to show; in the names and readings, then in the memos.
    const QString kana = QStringLiteral("タナカ");
    const auto kanaMedians = [&] {
        return bench::interleavedMediansMs(5, {[&] { fill(false, kana); }, [&] { fill(true, kana); }});
    };
    const std::vector<double> kanaMs = kanaMedians();
    ctl<QRadioButton>(program->cardList(), "RadioButton2")->setChecked(true);  // メモ
    const std::vector<double> memoMs = kanaMedians();
    ctl<QRadioButton>(program->cardList(), "RadioButton1")->setChecked(true);
    program->searchOptions().foldKanaAndWidth = false;

    bench::report("search_fold", foldedMs / plainMs, 1.5,
                  QStringLiteral("folded=%1ms plain=%2ms rows=%3 cards=%4")
                      .arg(foldedMs, 0, 'f', 0)
                      .arg(plainMs, 0, 'f', 0)
                      .arg(foldedRows)
                      .arg(cards));
    for (const auto& [line, ms] :
         {std::pair{"search_fold_kana", kanaMs}, std::pair{"search_fold_memo", memoMs}}) {
        bench::report(line, ms[1] / ms[0], 1.5,
                      QStringLiteral("folded=%1ms plain=%2ms keyword=%3 rows=0")
                          .arg(ms[1], 0, 'f', 0)
                          .arg(ms[0], 0, 'f', 0)
                          .arg(kana));
    }
    bench::report("search_fold_memory", double(foldedHeap) / double(plainHeap), 1.0,
                  QStringLiteral("folded_heap=%1MB plain_heap=%2MB")
                      .arg(foldedHeap / 1e6, 0, 'f', 2)
                      .arg(plainHeap / 1e6, 0, 'f', 2));

    program.reset();
    return 0;
}
