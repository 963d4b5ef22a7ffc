// The card search through the program's statement object against the bare client on 100,000
// cards: the time to fetch and walk every row as text, and the buffered result's size; and the
// same fetch, timed in turns, against the floor: the bare fetch loop that only touches each
// row's message buffer.

#include "benchcommon.h"
#include "carddatabase.h"
#include "cards.h"

#include <QCoreApplication>
#include <QTemporaryDir>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    configureEmbeddedEngine();
    QTemporaryDir dir;
    const int cards = 100000;
    const QString path = bench::makeCardDatabase(dir.path(), cards);

    std::size_t textBytes = 0;
    const double bare = bench::medianMs(3, [&] {
        std::vector<std::string> cells;
        textBytes = bench::bareNameSearch(path, cells);
    });

    std::size_t heapGrowth = 0;
    std::size_t resultBytes = 0;
    const auto fetchAndWalk = [&] {
        CardDatabase dm(dir.path());
        dm.open();
        DbStatement& q = dm.statement;
        const std::size_t before = bench::heapInUse();
        cards::prepareSearch(q, cards::SearchField::Name, QString());
        q.open();
        heapGrowth = bench::heapInUse() - before;
        resultBytes = q.resultBytes();
        std::size_t read = 0;
        static const char* const names[] = {"DEL_FLG1", "LYEAR",   "LMONTH", "LDAY",    "KEY1", "SYASYU",
                                            "HURIGANA", "KATABAN", "KYORI",  "KINGAKU", "MEMO"};
        q.last();
        while (!q.beforeFirst()) {
            for (const char* name : names)
                read += q.field(name).text().size();
            q.prior();
        }
        if (read == 0)
            std::abort();
    };
    const double program = bench::medianMs(3, fetchAndWalk);
    const std::vector<double> floorMs =
        bench::interleavedMediansMs(5, {fetchAndWalk, [&] { bench::bareTouchFetch(path); }});

    bench::report("store_fetch", program / bare, 1.2,
                  QStringLiteral("program=%1ms bare=%2ms rows=%3")
                      .arg(program, 0, 'f', 0)
                      .arg(bare, 0, 'f', 0)
                      .arg(cards));
    bench::report("store_fetch_floor", floorMs[0] / floorMs[1], 1.3,
                  QStringLiteral("program=%1ms bare_touch=%2ms rows=%3")
                      .arg(floorMs[0], 0, 'f', 0)
                      .arg(floorMs[1], 0, 'f', 0)
                      .arg(cards));
    bench::report("store_memory", double(heapGrowth) / double(textBytes), 2.0,
                  QStringLiteral("heap_growth=%1MB result_buffer=%2MB text=%3MB")
                      .arg(heapGrowth / 1e6, 0, 'f', 1)
                      .arg(resultBytes / 1e6, 0, 'f', 1)
                      .arg(textBytes / 1e6, 0, 'f', 1));
    return 0;
}
