// How the card list's "表示", the folded search and the CSV export grow from 10,000 to 100,000 to
// 300,000 cards, each printed as the exponent of a power law fitted to the three times (1 is
// linear); and the card list of 300,000 cards (an office's card file): the first view and "表示"
// against the bare fetch's floor, and the heap the filled grid keeps against its text.

#include "benchcommon.h"
#include "benchmessages.h"
#include "carddatabase.h"
#include "cardfolder.h"
#include "cardlistwindow.h"
#include "cardmatch.h"
#include "controls.h"
#include "exporter.h"
#include "formlook.h"
#include "messages.h"
#include "programundertest.h"
#include "startup.h"
#include "stringgrid.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>

namespace {

constexpr int kSizes[] = {10000, 100000, 300000};
constexpr int kRuns = 3;

// The shortest of kRuns runs: the time least disturbed by other work on the machine, which
// otherwise bends a fit over sizes measured minutes apart.
double shortestMs(const std::function<void()>& work) {
    double shortest = 0;
    for (int i = 0; i < kRuns; ++i) {
        const double ms = bench::medianMs(1, work);
        shortest = i == 0 ? ms : std::min(shortest, ms);
    }
    return shortest;
}

// "表示" with the keyword in the name search; returns the rows the grid lists.
int fill(bool folded, const QString& keyword) {
    program->searchOptions().foldKanaAndWidth = folded;
    ctl<QLineEdit>(program->cardList(), "Edit1")->setText(keyword);
    ctl<QPushButton>(program->cardList(), "SpeedButton1")->click();
    QApplication::processEvents();  // the view takes in the new rows and paints them
    return ctl<StringGrid>(program->cardList(), "SGrid1")->rowCount() - 2;
}

void fail(const char* what, int cards, int got) {
    std::fprintf(stderr, "bench_growth: %s on %d cards gave %d\n", what, cards, got);
    std::exit(1);
}

}  // namespace

int main(int argc, char** argv) {
    QStandardPaths::setTestModeEnabled(true);  // the user's own settings stay out of the run
    const WindowBench windows(argc, argv, "bench_growth");

    std::vector<double> sizes, listMs, foldMs, exportMs;
    for (const int cards : kSizes) {
        QTemporaryDir dir;
        QElapsedTimer made;
        made.start();
        const QString path = bench::makeCardDatabase(dir.path(), cards);
        std::fprintf(stderr, "bench_growth: %d cards made in %.1f s\n", cards, made.nsecsElapsed() / 1e9);
        program = composeProgram(CardFolder::local(dir.path()));
        program->cardList()->show();
        QApplication::processEvents();
        bench::bareTouchFetch(path);  // warms the engine's page cache

        int rows = 0;
        const QString keyword = QStringLiteral("田中");  // one family name in ten cards
        sizes.push_back(cards);
        listMs.push_back(shortestMs([&] { rows = fill(false, QString()); }));
        if (rows != cards)
            fail("表示", cards, rows);
        foldMs.push_back(shortestMs([&] { rows = fill(true, keyword); }));
        if (rows != cards / 10)
            fail("the folded search", cards, rows);
        program->searchOptions().foldKanaAndWidth = false;
        const QString csv = dir.filePath(QStringLiteral("cards.csv"));
        exportMs.push_back(shortestMs([&] {
            rows = transfer::exportCards(*program->database(), csv, transfer::FileFormat::Csv, false);
        }));
        if (rows != cards)
            fail("the export", cards, rows);

        if (cards == kSizes[std::size(kSizes) - 1]) {
            // The heap the grid keeps, from a grid emptied by a search that finds nothing.
            fill(false, QStringLiteral("該当なし"));
            const std::size_t before = bench::heapInUse();
            rows = fill(false, QString());
            const std::size_t growth = bench::heapInUse() - before;
            const std::size_t text = gridTextBytes(*ctl<StringGrid>(program->cardList(), "SGrid1"));

            const auto touch = [&] { bench::bareTouchFetch(path); };
            const auto search = [&] { fill(false, QString()); };
            const auto firstView = [&] {
                program->cardList()->openCardList();
                QApplication::processEvents();
            };
            const std::vector<double> ms = bench::interleavedMediansMs(kRuns, {touch, search, firstView});
            const double ratio = std::max(ms[1], ms[2]) / ms[0];
            bench::report("list_fill_300k", ratio, 1.5,
                          QStringLiteral("fill=%1ms first_view=%2ms bare_touch=%3ms rows=%4")
                              .arg(ms[1], 0, 'f', 0)
                              .arg(ms[2], 0, 'f', 0)
                              .arg(ms[0], 0, 'f', 0)
                              .arg(rows));
            bench::report("list_memory_300k", double(growth) / double(text), 2.0,
                          QStringLiteral("heap_growth=%1MB row_text=%2MB")
                              .arg(growth / 1e6, 0, 'f', 1)
                              .arg(text / 1e6, 0, 'f', 1));
        }
        program.reset();
    }

    const auto times = [](const std::vector<double>& ms) {
        QStringList parts;
        for (std::size_t i = 0; i < ms.size(); ++i)
            parts << QStringLiteral("%1k=%2ms").arg(kSizes[i] / 1000).arg(ms[i], 0, 'f', 0);
        return parts.join(QLatin1Char(' '));
    };
    for (const auto& [name, ms] :
         {std::pair{"list_fill_growth", listMs}, std::pair{"search_fold_growth", foldMs},
          std::pair{"export_growth", exportMs}})
        bench::report(name, bench::powerFitExponent(sizes, ms), 1.1, times(ms));

    return 0;
}
