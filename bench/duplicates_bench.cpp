// Finding the groups of likely duplicates among 100,000 cards against the plain fetch of every
// card through the store, on the same connection and in turns with it.

#include "benchcommon.h"
#include "carddatabase.h"
#include "duplicates.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <cstdlib>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    configureEmbeddedEngine();
    QTemporaryDir dir;
    const int count = 100000;
    bench::makeCardDatabase(dir.path(), count);
    CardDatabase dm(dir.path());
    dm.open();

    qsizetype fetched = 0, groups = 0;
    const std::vector<double> times = bench::interleavedMediansMs(
        3, {[&] {
                QList<transfer::Card> all;
                transfer::forEachStoredCard(dm, false, [&](const transfer::Card& c) { all << c; });
                fetched = all.size();
            },
            [&] { groups = transfer::findDuplicates(dm).size(); }});
    if (fetched != count || groups == 0)
        std::abort();
    bench::report("duplicates_find", times[1] / times[0], 2,
                  QStringLiteral("find=%1ms fetch=%2ms cards=%3 groups=%4")
                      .arg(times[1], 0, 'f', 0)
                      .arg(times[0], 0, 'f', 0)
                      .arg(count)
                      .arg(groups));
    return 0;
}
