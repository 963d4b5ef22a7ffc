// Showing a 6000 x 4000 photo in the card editor's image area (choosing it in the picture list,
// which reads it scaled to the area, and painting it) against decoding the same file whole
// with Qt's reader, in one run.

#include "benchcommon.h"
#include "controls.h"
#include "carddatabase.h"
#include "cardeditorwindow.h"
#include "picturearea.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QFont>
#include <QImage>
#include <QImageReader>
#include <QLabel>
#include <QLinearGradient>
#include <QListWidget>
#include <QPainter>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <cstdio>

namespace {

constexpr int kRuns = 7;

// A photo-like picture: smooth gradients, shapes with sharp edges, printed text and sensor
// grain of +-grain levels. The grain decides most of the file size and of the time spent on
// decoding the entropy-coded data, which no scaling can skip.
bool writePhoto(const QString& path, int grain) {
    QImage image(6000, 4000, QImage::Format_RGB32);
    QLinearGradient sky(0, 0, 6000, 4000);
    sky.setColorAt(0, QColor(40, 90, 160));
    sky.setColorAt(1, QColor(230, 200, 150));
    QPainter p(&image);
    p.fillRect(image.rect(), sky);
    p.setRenderHint(QPainter::Antialiasing);
    QRandomGenerator random(7);
    for (int i = 0; i < 60; ++i) {
        p.setBrush(QColor::fromHsv(random.bounded(360), 80 + random.bounded(150), 90 + random.bounded(160)));
        p.setPen(QPen(Qt::black, 6));
        const QRect r(random.bounded(5600), random.bounded(3600), 200 + random.bounded(1400),
                      200 + random.bounded(900));
        if (i % 2)
            p.drawEllipse(r);
        else
            p.drawRect(r);
    }
    QFont font;
    font.setPixelSize(120);
    p.setFont(font);
    for (int line = 0; line < 12; ++line)
        p.drawText(300, 400 + line * 300, QStringLiteral("Tavrona 名刺 0123456789 line %1").arg(line));
    p.end();
    for (int y = 0; y < image.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const int g = random.bounded(2 * grain + 1) - grain;
            const QRgb c = row[x];
            row[x] = qRgb(qBound(0, qRed(c) + g, 255), qBound(0, qGreen(c) + g, 255),
                          qBound(0, qBlue(c) + g, 255));
        }
    }
    return image.save(path, "jpeg", 90);
}

// Median times of showing the photo through the editor and of decoding it whole.
struct Timing {
    double showMs = 0, fullMs = 0;
    QSize shown;
    qint64 bytes = 0;
};

Timing measure(const QString& cardFolder, const QString& path) {
    CardDatabase database(cardFolder);  // never opened: the pictures need no card
    CardEditorWindow editor(CardFolder::local(cardFolder), database);
    editor.setCardKey(1);
    editor.refreshPictureList();
    Timing t;
    t.bytes = QFileInfo(path).size();
    t.showMs = bench::medianMs(kRuns, [&] {
        ctl<PictureArea>(&editor, "Image1")->clear();
        ctl<QListWidget>(&editor, "ListBox1")->setCurrentRow(0);
        editor.onPictureChosen();
        ctl<PictureArea>(&editor, "Image1")->grab();
        t.shown = ctl<PictureArea>(&editor, "Image1")->picture().size();
    });
    QSize full;
    t.fullMs = bench::medianMs(kRuns, [&] {
        QImageReader reader(path);
        full = reader.read().size();
    });
    if (full != QSize(6000, 4000))
        t.shown = QSize();
    return t;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("image/1/base"));
    QDir().mkpath(folder);
    const QString path = folder + QStringLiteral("/photo.jpg");

    // A phone photo with light grain (the goal), then a very grainy one of several megabytes
    // more, where entropy decoding dominates whatever the scale.
    struct Case {
        const char* name;
        int grain;
        bool hasGoal;
    };
    for (const Case& c : {Case{"picture_show", 3, true}, Case{"picture_show_grainy", 16, false}}) {
        if (!writePhoto(path, c.grain)) {
            std::fprintf(stderr, "%s: cannot write the test photo\n", c.name);
            return 1;
        }
        const Timing t = measure(dir.path(), path);
        if (t.shown.isEmpty()) {
            std::fprintf(stderr, "%s: decoding failed\n", c.name);
            return 1;
        }
        const QString details = QStringLiteral("show=%1ms full=%2ms shown=%3x%4 file=%5MB")
                                    .arg(t.showMs, 0, 'f', 1)
                                    .arg(t.fullMs, 0, 'f', 1)
                                    .arg(t.shown.width())
                                    .arg(t.shown.height())
                                    .arg(t.bytes / 1e6, 0, 'f', 1);
        if (c.hasGoal)
            bench::report(c.name, t.showMs / t.fullMs, 0.35, details);
        else
            std::printf("%s: ratio %.2f (no goal) %s\n", c.name, t.showMs / t.fullMs, qPrintable(details));
    }
    return 0;
}
