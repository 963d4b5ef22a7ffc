// Showing a 6000 x 4000 photo in the card editor's image area (choosing it in the picture list,
// which reads it scaled to the area, and painting it) against decoding the same file whole
// with Qt's reader, in one run; and showing a card's first picture (the card opened, its picture
// list read, the picture read scaled and painted) against the floor under it: the JPEG library
// decoding the same file, read into memory, at the scale the image area needs.

#include "benchcommon.h"
#include "carddatabase.h"
#include "cardeditorwindow.h"
#include "controls.h"
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
#include <cstring>
#include <vector>

#include <jpeglib.h>

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

// Median times of showing the photo through the editor and of decoding it whole; of showing it
// as the card's first picture and of the library's own scaled decode, interleaved.
struct Timing {
    double showMs = 0, fullMs = 0;
    double firstMs = 0, floorMs = 0;
    int floorDenominator = 1;
    QSize shown;
    qint64 bytes = 0;
};

// Reads the file and decodes it with the JPEG library at the smallest DCT scale (1/8, 1/4, 1/2)
// whose result still covers `fitted`, into 32-bit pixels as a picture for the screen holds them.
// Returns the scale's denominator, 0 on failure.
int libraryDecode(const QString& path, const QSize& fitted, std::vector<unsigned char>& pixels) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray data = file.readAll();
    jpeg_decompress_struct cinfo;
    jpeg_error_mgr jerr;
    cinfo.err = jpeg_std_error(&jerr);
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, reinterpret_cast<const unsigned char*>(data.constData()), data.size());
    jpeg_read_header(&cinfo, TRUE);
    int denominator = 8;
    while (denominator > 1 && (int(cinfo.image_width) / denominator < fitted.width() ||
                               int(cinfo.image_height) / denominator < fitted.height()))
        denominator /= 2;
    cinfo.scale_num = 1;
    cinfo.scale_denom = unsigned(denominator);
    cinfo.out_color_space = JCS_EXT_BGRX;
    jpeg_start_decompress(&cinfo);
    const std::size_t stride = std::size_t(cinfo.output_width) * 4;
    pixels.resize(stride * cinfo.output_height);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = pixels.data() + stride * cinfo.output_scanline;
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return denominator;
}

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

    std::vector<unsigned char> pixels;
    const std::vector<double> ms = bench::interleavedMediansMs(
        kRuns, {[&] {
                    editor.showCard(1, cards::Card{});
                    ctl<PictureArea>(&editor, "Image1")->grab();
                    if (ctl<PictureArea>(&editor, "Image1")->picture().size() != t.shown)
                        t.shown = QSize();
                },
                [&] { t.floorDenominator = libraryDecode(path, t.shown, pixels); }});
    t.firstMs = ms[0];
    t.floorMs = ms[1];
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
        const QString floorDetails = QStringLiteral("first_picture=%1ms library_scaled=%2ms scale=1/%3")
                                         .arg(t.firstMs, 0, 'f', 1)
                                         .arg(t.floorMs, 0, 'f', 1)
                                         .arg(t.floorDenominator);
        const QByteArray floorName = QByteArray(c.name).replace("picture_show", "picture_show_floor");
        if (c.hasGoal) {
            bench::report(c.name, t.showMs / t.fullMs, 0.35, details);
            bench::report(floorName.constData(), t.firstMs / t.floorMs, 1.3, floorDetails);
        } else {
            std::printf("%s: ratio %.2f (no goal) %s\n", c.name, t.showMs / t.fullMs, qPrintable(details));
            std::printf("%s: ratio %.2f (no goal) %s\n", floorName.constData(), t.firstMs / t.floorMs,
                        qPrintable(floorDetails));
        }
    }
    return 0;
}
