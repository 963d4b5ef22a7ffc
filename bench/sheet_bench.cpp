// The card sheet with 30 phone-size photos against zip packing the same files, in one run:
// at zip's default level (what the workbook writer would do on its own) and stored; and, timed
// in turns with it, against storing them, the floor under any workbook that carries them.

#include "benchcommon.h"
#include "sheetexport.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <cstdio>

namespace {

constexpr int kPictures = 30;
constexpr int kRuns = 3;

// A photo-like picture: a smooth gradient with grain, which JPEG keeps at a few megabytes.
void writePhoto(const QString& path, int seed) {
    QImage image(4000, 3000, QImage::Format_RGB32);
    QRandomGenerator random(quint32(seed + 1));
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const int grain = int(random.generate() & 31) - 16;
            line[x] = qRgb(qBound(0, (x + seed * 40) / 16 + grain, 255), qBound(0, y / 12 + grain, 255),
                           qBound(0, (x + y) / 28 + grain, 255));
        }
    }
    image.save(path, "jpeg", 85);
}

void zip(const QString& folder, const QStringList& files, const QString& level, const QString& archive) {
    QFile::remove(archive);
    QProcess zip;
    zip.setWorkingDirectory(folder);
    zip.start(QStringLiteral("zip"), QStringList{QStringLiteral("-q"), level, archive} + files);
    zip.waitForFinished(-1);
    if (zip.exitCode() != 0)
        std::fprintf(stderr, "zip failed: %s\n", zip.readAllStandardError().constData());
}

double zipMs(const QString& folder, const QStringList& files, const QString& level, const QString& archive) {
    return bench::medianMs(kRuns, [&] { zip(folder, files, level, archive); });
}

}  // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if (QStandardPaths::findExecutable(QStringLiteral("zip")).isEmpty()) {
        std::printf("sheet_export: skipped (zip is not installed)\n");
        return 0;
    }
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("image/7/base"));
    QDir().mkpath(folder);
    QStringList files;
    qint64 bytes = 0;
    for (int i = 0; i < kPictures; ++i) {
        const QString name = QStringLiteral("IMG_%1.jpg").arg(1000 + i);
        writePhoto(QDir(folder).filePath(name), i);
        files << name;
        bytes += QFileInfo(QDir(folder).filePath(name)).size();
    }

    const cards::CardTexts texts{.name = QStringLiteral("山田 太郎"),
                                 .reading = QStringLiteral("やまだ たろう"),
                                 .organisation = QStringLiteral("株式会社オルヴェ商事"),
                                 .memo = QStringLiteral("展示会で名刺交換\r\n次回訪問は来月")};
    const QString output = dir.filePath(QStringLiteral("card.xlsx"));
    int placed = 0;
    const auto exportSheet = [&] {
        QFile::remove(output);
        placed = int(sheet::writeCardSheet(texts, folder, output).placed.size());
    };
    const double exportMs = bench::medianMs(kRuns, exportSheet);
    const double defaultMs =
        zipMs(folder, files, QStringLiteral("-6"), dir.filePath(QStringLiteral("d.zip")));
    const double storeMs = zipMs(folder, files, QStringLiteral("-0"), dir.filePath(QStringLiteral("s.zip")));

    const QString sizes = QStringLiteral("pictures=%1 input=%2MB sheet=%3MB")
                              .arg(placed)
                              .arg(bytes / 1e6, 0, 'f', 1)
                              .arg(QFileInfo(output).size() / 1e6, 0, 'f', 1);
    bench::report("sheet_export", exportMs / defaultMs, 1.2,
                  QStringLiteral("export=%1ms zip_default=%2ms %3")
                      .arg(exportMs, 0, 'f', 0)
                      .arg(defaultMs, 0, 'f', 0)
                      .arg(sizes));
    std::printf("sheet_export_vs_store: ratio %.2f export=%.0fms zip_store=%.0fms\n", exportMs / storeMs,
                exportMs, storeMs);

    const QString stored = dir.filePath(QStringLiteral("f.zip"));
    const std::vector<double> floorMs = bench::interleavedMediansMs(
        5, {exportSheet, [&] { zip(folder, files, QStringLiteral("-0"), stored); }});
    if (placed != kPictures) {
        std::fprintf(stderr, "sheet_export_floor: %d pictures placed, not %d\n", placed, kPictures);
        return 1;
    }
    bench::report("sheet_export_floor", floorMs[0] / floorMs[1], 1.5,
                  QStringLiteral("export=%1ms zip_store=%2ms %3")
                      .arg(floorMs[0], 0, 'f', 0)
                      .arg(floorMs[1], 0, 'f', 0)
                      .arg(sizes));
    return 0;
}
