// Backup and CSV export of 100,000 cards against their baselines in the same run: the engine's
// own command-line backup of the same file, and the bare fetch of the same rows.

#include "backup.h"
#include "benchcommon.h"
#include "carddatabase.h"
#include "exporter.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdlib>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    configureEmbeddedEngine();
    QTemporaryDir dir;
    const int cards = 100000;
    const QString path = bench::makeCardDatabase(dir.path(), cards);

    const QString gbakFile = dir.filePath("gbak.fbk");
    const double gbak = bench::medianMs(3, [&] {
        QFile::remove(gbakFile);
        QProcess tool;
        tool.start(QStringLiteral("gbak"), {"-b", "-user", "SYSDBA", path, gbakFile});
        if (!tool.waitForFinished(600000) || tool.exitCode() != 0) {
            std::fprintf(stderr, "gbak failed: %s\n", tool.readAllStandardError().constData());
            std::exit(1);
        }
    });
    const double backup =
        bench::medianMs(3, [&] { transfer::backupCardFolder(dir.path(), dir.filePath("cards.fbk"), false); });
    bench::report("backup", backup / gbak, 1.2,
                  QStringLiteral("program=%1ms gbak=%2ms cards=%3 backup=%4MB")
                      .arg(backup, 0, 'f', 0)
                      .arg(gbak, 0, 'f', 0)
                      .arg(cards)
                      .arg(QFile(dir.filePath("cards.fbk")).size() / 1e6, 0, 'f', 1));

    const double bare = bench::medianMs(3, [&] {
        std::vector<std::string> cells;
        bench::bareNameSearch(path, cells);
    });
    int written = 0;
    const double exported = bench::medianMs(3, [&] {
        CardDatabase dm(dir.path());
        dm.open();
        written = transfer::exportCards(dm, dir.filePath("cards.csv"), transfer::FileFormat::Csv, false);
    });
    if (written != cards)
        std::abort();
    bench::report("export_csv", exported / bare, 1.5,
                  QStringLiteral("program=%1ms bare=%2ms rows=%3 file=%4MB")
                      .arg(exported, 0, 'f', 0)
                      .arg(bare, 0, 'f', 0)
                      .arg(cards)
                      .arg(QFile(dir.filePath("cards.csv")).size() / 1e6, 0, 'f', 1));
    return 0;
}
