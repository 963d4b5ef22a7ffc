// Reading card pictures: the picture turned upright, scaled and made grey; files that cannot be
// read; missing recognition data; the lines and boxes read from cards drawn by the card script;
// cancelling a reading from another thread; straightening turned scans and desk photos; finding
// lines and columns and the order of lines in blocks.

#include "cardgeometry.h"
#include "layout.h"
#include "scanreader.h"

#include <QFile>
#include <QImageWriter>
#include <QPainter>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <sys/stat.h>

#include <csignal>
#include <cstdio>
#include <random>
#include <thread>

using scan::Box;

namespace {

// Runs `work` with TESSDATA_PREFIX set to `value` and puts the old value back.
template <class F>
void withDataFolder(const QString& value, F&& work) {
    const QByteArray saved = qgetenv("TESSDATA_PREFIX");
    const bool had = qEnvironmentVariableIsSet("TESSDATA_PREFIX");
    qputenv("TESSDATA_PREFIX", value.toLocal8Bit());
    try {
        work();
    } catch (...) {
        had ? qputenv("TESSDATA_PREFIX", saved) : qunsetenv("TESSDATA_PREFIX");
        throw;
    }
    had ? qputenv("TESSDATA_PREFIX", saved) : qunsetenv("TESSDATA_PREFIX");
}

QString errorOf(const std::function<void()>& work) {
    try {
        work();
    } catch (const scan::ScanError& e) {
        return QString::fromUtf8(e.what());
    }
    return {};
}

// A card of `size` with dark bars where lines of text would be (a dark band along the top when
// `band`), white elsewhere.
QImage barCard(QSize size, bool band) {
    QImage card(size, QImage::Format_Grayscale8);
    card.fill(255);
    QPainter p(&card);
    const int h = size.height();
    if (band)
        p.fillRect(0, 0, size.width(), h / 5, QColor(40, 40, 40));
    for (int line = 0; line < 6; ++line) {
        const int y = h / 4 + line * h / 9;
        for (int word = 0; word < 5 - line % 3; ++word)
            p.fillRect(size.width() / 12 + word * size.width() / 7, y, size.width() / 9, h / 30, Qt::black);
    }
    return card;
}

// `card` drawn onto a darker, noisy desk of `size` with its corners at `corners`.
QImage onDesk(const QImage& card, QSize size, const QPolygonF& corners) {
    QImage desk(size, QImage::Format_Grayscale8);
    std::mt19937 random(7);
    std::normal_distribution<double> noise(90, 18);
    for (int y = 0; y < size.height(); ++y) {
        for (int x = 0; x < size.width(); ++x)
            desk.scanLine(y)[x] = uchar(std::clamp(noise(random), 0.0, 255.0));
    }
    QTransform toDesk;
    const QPolygonF cardCorners{{0, 0},
                                {double(card.width()), 0},
                                {double(card.width()), double(card.height())},
                                {0, double(card.height())}};
    QTransform::quadToQuad(cardCorners, corners, toDesk);
    QPainter p(&desk);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.setTransform(toDesk);
    p.drawImage(0, 0, card);
    return desk;
}

}  // namespace

class TestScanReader final : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    QString cards;  // pictures drawn by the card script

    QString path(const QString& name) const { return dir.filePath(name); }

private slots:
    void initTestCase() {
        QVERIFY(dir.isValid());
        cards = dir.filePath(QStringLiteral("cards"));
        QProcess script;
        script.start(QStringLiteral("bash"),
                     {QStringLiteral(MAKE_CARDS_SCRIPT), cards, QStringLiteral("quick")});
        QVERIFY(script.waitForFinished(120000));
        QVERIFY2(script.exitCode() == 0, script.readAllStandardError().constData());
        // The Japanese card turned 4 degrees, and photographed at a slant on a desk.
        const QImage card =
            QImage(cards + QStringLiteral("/jp-h-1.png")).convertToFormat(QImage::Format_Grayscale8);
        QVERIFY(scan::rotated(card, 4).save(cards + QStringLiteral("/turned-jp-h-1.png")));
        const double w = card.width(), h = card.height();
        const QPolygonF corners{
            {0.20 * w, 0.22 * h}, {1.12 * w, 0.26 * h}, {1.10 * w, 1.20 * h}, {0.17 * w, 1.15 * h}};
        QVERIFY(onDesk(card, QSize(int(1.3 * w), int(1.4 * h)), corners)
                    .save(cards + QStringLiteral("/desk-jp-h-1.jpg"), "jpeg", 85));
    }

    // A phone photo stored on its side with an orientation tag comes out upright.
    void orientationApplied() {
        QImage upright(300, 600, QImage::Format_RGB32);
        upright.fill(Qt::white);
        QPainter(&upright).fillRect(0, 0, 300, 200, Qt::black);  // dark top
        const QImage stored = upright.transformed(QTransform().rotate(-90));
        QImageWriter writer(path(QStringLiteral("turned.jpg")), "jpeg");
        writer.setTransformation(QImageIOHandler::TransformationRotate90);
        QVERIFY(writer.write(stored));

        const QImage grey = scan::loadForRecognition(path(QStringLiteral("turned.jpg")));
        QCOMPARE(grey.format(), QImage::Format_Grayscale8);
        QCOMPARE(grey.size(), QSize(1000, 2000));
        QVERIFY(qGray(grey.pixel(500, 100)) < 64);
        QVERIFY(qGray(grey.pixel(500, 1900)) > 192);
    }

    void workingSize_data() {
        QTest::addColumn<QSize>("declared");
        QTest::addColumn<QSize>("working");
        QTest::newRow("large scan is made smaller") << QSize(4000, 3000) << QSize(2000, 1500);
        QTest::newRow("small picture is enlarged") << QSize(500, 300) << QSize(2000, 1200);
        QTest::newRow("upright card") << QSize(650, 1075) << QSize(1209, 2000);
    }
    void workingSize() {
        QFETCH(QSize, declared);
        QFETCH(QSize, working);
        QImage picture(declared, QImage::Format_RGB32);
        picture.fill(QColor(200, 40, 40));
        QVERIFY(picture.save(path(QStringLiteral("size.png"))));
        const QImage grey = scan::loadForRecognition(path(QStringLiteral("size.png")));
        QCOMPARE(grey.size(), working);
        QCOMPARE(grey.format(), QImage::Format_Grayscale8);
    }

    void unreadableFiles_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("says");
        QTest::newRow("missing") << "missing.png" << QByteArray() << "見つかりません";
        QTest::newRow("named pipe") << "pipe.png" << QByteArray() << "通常のファイルではない";
        QTest::newRow("not a picture") << "memo.png" << QByteArray("just some text\n") << "読み込めません";
        // A PNG header declaring 40000 x 40000 pixels: refused before any decoding.
        QTest::newRow("declared huge") << "huge.png"
                                       << QByteArray::fromHex(
                                              "89504e470d0a1a0a0000000d4948445200009c4000009c400806000000510c"
                                              "0e05000000004944415435af061e0000000049454e44ae426082")
                                       << "大きすぎる";
    }
    void unreadableFiles() {
        QFETCH(QString, name);
        QFETCH(QByteArray, content);
        QFETCH(QString, says);
        if (!content.isEmpty()) {
            QFile f(path(name));
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(content);
        }
        if (name == QLatin1String("pipe.png"))
            QCOMPARE(::mkfifo(QFile::encodeName(path(name)).constData(), 0600), 0);
        const QString message = errorOf([&] { scan::loadForRecognition(path(name)); });
        QVERIFY2(message.contains(says) && message.contains(name), qPrintable(message));
    }

    // A file whose name is no valid UTF-8 (a Shift-JIS name from an old archive) is opened by
    // its bytes.
    void nameInShiftJis() {
        const QByteArray raw = QFile::encodeName(dir.path()) + "/\x96\xbc\x8e\x68.png";
        QImage picture(100, 60, QImage::Format_RGB32);
        picture.fill(Qt::white);
        QFile source(path(QStringLiteral("plain.png")));
        QVERIFY(picture.save(&source, "png"));
        QCOMPARE(::rename(QFile::encodeName(source.fileName()).constData(), raw.constData()), 0);
        QCOMPARE(scan::loadForRecognition(raw, QStringLiteral("名刺.png")).size(), QSize(2000, 1200));
    }

    // Without the Japanese models the reading says which packages to install, and nothing runs.
    void missingData() {
        QTemporaryDir models;
        QFile eng(models.filePath(QStringLiteral("eng.traineddata")));
        QVERIFY(eng.open(QIODevice::WriteOnly));
        eng.close();
        withDataFolder(models.path(), [&] {
            QCOMPARE(scan::missingPackages(), QStringList({QStringLiteral("tesseract-ocr-jpn"),
                                                           QStringLiteral("tesseract-ocr-jpn-vert")}));
            scan::ScanProgress progress;
            const QString message =
                errorOf([&] { scan::readScan(cards + QStringLiteral("/jp-h-1.png"), progress); });
            QVERIFY2(
                message.contains(QStringLiteral("tesseract-ocr-jpn、tesseract-ocr-jpn-vert をインストール")),
                qPrintable(message));
        });
        QVERIFY2(scan::missingPackages().isEmpty(), "the machine lacks recognition data");
    }

    // A scan turned a little is turned back level, whether its lines run across or in columns.
    void skewTakenOut_data() {
        QTest::addColumn<double>("degrees");
        QTest::addColumn<bool>("columns");
        QTest::newRow("level") << 0.0 << false;
        QTest::newRow("2 degrees clockwise") << 2.0 << false;
        QTest::newRow("5 degrees anticlockwise") << -5.0 << false;
        QTest::newRow("columns 3.5 degrees clockwise") << 3.5 << true;
    }
    void skewTakenOut() {
        QFETCH(double, degrees);
        QFETCH(bool, columns);
        QImage card = barCard({1000, 600}, false);
        if (columns)
            card = card.transformed(QTransform().rotate(90));
        const QImage turned = scan::rotated(card, degrees);
        QVERIFY2(std::abs(scan::skewDegrees(turned) - degrees) < 0.3,
                 qPrintable(QString::number(scan::skewDegrees(turned))));
        const QImage straight = scan::straighten(turned);
        QVERIFY(std::abs(scan::skewDegrees(straight)) < 0.3);
    }

    // A card photographed on a desk at an angle is found by its outline and warped to an upright
    // rectangle of a card's proportions, without the desk; a dark band along its edge stays.
    void cardOnDesk_data() {
        QTest::addColumn<QPolygonF>("corners");
        QTest::addColumn<bool>("band");
        QTest::newRow("slanted") << QPolygonF{{330, 260}, {1280, 300}, {1250, 880}, {300, 860}} << false;
        QTest::newRow("in perspective")
            << QPolygonF{{380, 260}, {1220, 280}, {1290, 860}, {300, 850}} << false;
        QTest::newRow("dark band along the top")
            << QPolygonF{{330, 260}, {1280, 300}, {1250, 880}, {300, 860}} << true;
    }
    void cardOnDesk() {
        QFETCH(QPolygonF, corners);
        QFETCH(bool, band);
        const QImage photo = onDesk(barCard({910, 550}, band), {1600, 1200}, corners);
        const std::optional<scan::Quad> outline = scan::findCardOutline(photo);
        QVERIFY(outline);
        if (!band) {
            for (int i = 0; i < 4; ++i) {
                const QPointF miss = (*outline)[size_t(i)] - corners[i];
                QVERIFY2(std::hypot(miss.x(), miss.y()) < 16, qPrintable(QString::number(i)));
            }
        }
        const QImage straight = scan::straighten(photo);
        const double ratio = double(straight.width()) / straight.height();
        QVERIFY2(ratio > 1.5 && ratio < 1.8, qPrintable(QString::number(ratio)));
        QVERIFY(std::abs(scan::skewDegrees(straight)) < 0.5);
        // No desk left at the corners; the band is still at the top.
        for (const QPoint corner : {QPoint(3, straight.height() - 4), QPoint(straight.width() - 4, 3)})
            QVERIFY(qGray(straight.pixel(corner)) > 200);
        const int bandGrey = qGray(straight.pixel(straight.width() / 2, straight.height() / 10));
        QVERIFY2(band ? bandGrey < 100 : bandGrey > 200, qPrintable(QString::number(bandGrey)));
    }

    // Pictures without a desk around the card are left to the skew check alone.
    void noOutline_data() {
        QTest::addColumn<QString>("kind");
        QTest::newRow("card filling the scan") << "scan";
        QTest::newRow("card on white") << "white";
        QTest::newRow("dark picture") << "dark";
    }
    void noOutline() {
        QFETCH(QString, kind);
        QImage picture = barCard({1000, 600}, false);
        if (kind == QLatin1String("white")) {
            QImage white(1600, 1200, QImage::Format_Grayscale8);
            white.fill(255);
            QPainter(&white).drawImage(300, 300, picture);
            picture = white;
        } else if (kind == QLatin1String("dark")) {
            picture.fill(20);
        }
        QVERIFY(!scan::findCardOutline(picture));
        QCOMPARE(scan::straighten(picture).size(), picture.size());
    }

    // Letters drawn as dark squares: "c X Y N" a column of N letters downwards from (X, Y), "l X Y N"
    // a line of N letters across, "s X Y N" a column of N small letters (12 pixels, 3 apart), "f X Y"
    // a flat letter (一); 40-pixel letters, 8 pixels apart.
    // The regions found, as "V" or "H" with the number of letters each holds, in the order given.
    void textRegions_data() {
        QTest::addColumn<QStringList>("drawn");
        QTest::addColumn<QString>("found");
        QTest::newRow("card in columns with contact lines across")
            << QStringList{"c 900 60 8",  "c 820 120 3",  "c 750 120 2",
                           "c 560 150 5", "l 60 1400 12", "l 60 1460 16"}
            << "V8 V3 V2 V5 H12 H16";
        QTest::newRow("card written across")
            << QStringList{"l 60 60 9", "l 60 160 4", "l 60 260 2", "l 60 460 6"} << "H9 H4 H2 H6";
        QTest::newRow("small stack at a line's end")
            << QStringList{"c 900 60 6", "l 60 1400 10", "s 540 1396 3"} << "V6 H13";
        QTest::newRow("flat letter ends a column")
            << QStringList{"c 700 100 4", "f 700 300", "l 60 1400 10"} << "V5 H10";
    }
    void textRegions() {
        QFETCH(QStringList, drawn);
        QFETCH(QString, found);
        QImage picture(1000, 1600, QImage::Format_Grayscale8);
        picture.fill(255);
        QPainter p(&picture);
        std::vector<QRect> letters;
        for (const QString& d : drawn) {
            const QStringList f = d.split(QLatin1Char(' '));
            const int x = f[1].toInt(), y = f[2].toInt();
            if (f[0] == QLatin1String("f")) {
                letters.emplace_back(x, y + 16, 40, 8);
                continue;
            }
            if (f[0] == QLatin1String("s")) {
                for (int i = 0; i < f[3].toInt(); ++i)
                    letters.emplace_back(x, y + i * 15, 12, 12);
                continue;
            }
            for (int i = 0; i < f[3].toInt(); ++i)
                letters.emplace_back(f[0] == QLatin1String("c") ? QRect(x, y + i * 48, 40, 40)
                                                                : QRect(x + i * 48, y, 40, 40));
        }
        for (const QRect& r : letters)
            p.fillRect(r, Qt::black);
        p.end();
        QStringList got;
        for (const scan::TextRegion& r : scan::findTextRegions(picture)) {
            const auto inside = std::count_if(letters.begin(), letters.end(), [&](const QRect& l) {
                return r.box.adjusted(-3, -3, 3, 3).contains(l);
            });
            got << QStringLiteral("%1%2").arg(r.vertical ? 'V' : 'H').arg(inside);
        }
        QCOMPARE(got.join(QLatin1Char(' ')), found);
    }

    // Lines given as "x,y,w,h" in the order the engine found them; the order to read them in.
    void readingOrder_data() {
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<QString>("order");
        QTest::newRow("one block") << QStringList{"70,100,400,40", "70,170,120,30", "70,400,300,76"}
                                   << "0 1 2";
        QTest::newRow("two columns read one after the other")
            << QStringList{"620,100,120,22", "60,100,400,40", "620,145,300,22",
                           "60,170,120,30",  "60,220,80,30",  "70,290,200,24",
                           "620,380,200,22", "60,400,300,76", "620,425,380,22"}
            << "1 3 4 5 7 0 2 6 8";
        QTest::newRow("reading after a gap stays above its name")
            << QStringList{"219,156,637,70", "205,299,318,51", "206,542,380,40", "176,643,832,128",
                           "150,939,367,36"}
            << "0 1 2 3 4";
        QTest::newRow("logo beside the organisation")
            << QStringList{"210,80,400,40", "60,40,120,120", "210,150,200,30", "210,400,300,76"} << "1 0 2 3";
    }
    void readingOrder() {
        QFETCH(QStringList, lines);
        QFETCH(QString, order);
        std::vector<QRect> boxes;
        for (const QString& l : lines) {
            const QStringList f = l.split(QLatin1Char(','));
            boxes.emplace_back(f[0].toInt(), f[1].toInt(), f[2].toInt(), f[3].toInt());
        }
        QStringList got;
        for (size_t i : scan::readingOrder(boxes))
            got << QString::number(i);
        QCOMPARE(got.join(QLatin1Char(' ')), order);
    }

    // Lines the recogniser found, as "x,y,w,h" ("-" before one that may not join), the first one
    // misread; which of them are read again as one row with it.
    void rowOfPieces_data() {
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<QString>("row");
        QTest::newRow("a line broken into pieces and specks")
            << QStringList{"334,378,94,50", "177,146,623,68", "171,379,98,50", "282,412,7,16",
                           "275,379,46,29", "491,378,96,50",  "167,954,381,36"}
            << "0 2 3 4 5";
        QTest::newRow("the next column of a card in two stays apart")
            << QStringList{"171,378,150,50", "700,380,300,40"} << "0";
        QTest::newRow("a larger line level with it stays apart")
            << QStringList{"171,400,150,40", "340,380,300,90"} << "0";
        QTest::newRow("the lines above and below stay apart")
            << QStringList{"171,378,150,50", "171,300,300,50", "171,440,300,50"} << "0";
        QTest::newRow("a contact line level with it stays apart")
            << QStringList{"171,378,150,50", "-340,380,300,40"} << "0";
    }
    void rowOfPieces() {
        QFETCH(QStringList, lines);
        QFETCH(QString, row);
        std::vector<QRect> boxes;
        std::vector<bool> leftOut;
        for (QString l : lines) {
            leftOut.push_back(l.startsWith(QLatin1Char('-')));
            const QStringList f = l.remove(QLatin1Char('-')).split(QLatin1Char(','));
            boxes.emplace_back(f[0].toInt(), f[1].toInt(), f[2].toInt(), f[3].toInt());
        }
        std::vector<size_t> got = scan::rowOfPieces(boxes, 0, leftOut);
        std::sort(got.begin(), got.end());
        QStringList text;
        for (size_t i : got)
            text << QString::number(i);
        QCOMPARE(text.join(QLatin1Char(' ')), row);
    }

    // Two boxes of lines as "x,y,w,h": whether they are pieces of one letter cut across.
    void cutAcross_data() {
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("second");
        QTest::addColumn<bool>("cut");
        QTest::newRow("top and bottom of one letter") << "388,727,118,59"
                                                      << "389,773,120,81" << true;
        QTest::newRow("a speck inside the letter") << "389,773,120,81"
                                                   << "476,770,21,27" << true;
        QTest::newRow("a line under another") << "171,378,313,50"
                                              << "190,440,300,37" << false;
        QTest::newRow("two words side by side") << "171,378,150,50"
                                                << "330,378,150,50" << false;
        QTest::newRow("overlapping at a corner only") << "100,100,100,50"
                                                      << "180,140,100,50" << false;
    }
    void cutAcross() {
        QFETCH(QString, first);
        QFETCH(QString, second);
        QFETCH(bool, cut);
        const auto box = [](const QString& text) {
            const QStringList f = text.split(QLatin1Char(','));
            return QRect(f[0].toInt(), f[1].toInt(), f[2].toInt(), f[3].toInt());
        };
        QCOMPARE(scan::cutAcross(box(first), box(second)), cut);
        QCOMPARE(scan::cutAcross(box(second), box(first)), cut);
    }

    // A line of letters 60 pixels high drawn as ink and blank widths in turn ("60,6,60": two
    // letters close together): after how many letters its space stands.
    void spaceInName_data() {
        QTest::addColumn<QString>("widths");
        QTest::addColumn<int>("letters");
        QTest::addColumn<int>("before");
        QTest::newRow("two letters a space apart") << "60,24,60" << 2 << 1;
        QTest::newRow("two letters close together") << "60,6,60" << 2 << -1;
        QTest::newRow("family name of two, given name of two") << "60,6,60,22,60,5,60" << 4 << 2;
        QTest::newRow("family name of one, given name of two") << "60,22,60,6,60" << 3 << 1;
        QTest::newRow("a letter in two parts, no space") << "25,14,25,6,60" << 2 << -1;
        QTest::newRow("gaps all alike") << "60,16,60,16,60" << 3 << -1;
    }
    void spaceInName() {
        QFETCH(QString, widths);
        QFETCH(int, letters);
        QFETCH(int, before);
        QImage line(600, 100, QImage::Format_Grayscale8);
        line.fill(255);
        int x = 40;
        bool ink = true;
        for (const QString& w : widths.split(QLatin1Char(','))) {
            if (ink)
                QPainter(&line).fillRect(x, 20, w.toInt(), 60, Qt::black);
            x += w.toInt();
            ink = !ink;
        }
        QCOMPARE(scan::spaceAfterLetters(line, QRect(30, 20, x - 20, 60), letters), before);
    }

    void readsCards_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<bool>("vertical");
        QTest::addColumn<QStringList>("expected");  // "box<TAB>text" rows that must be among the lines
        QTest::newRow("japanese") << "jp-h-1.png" << false
                                  << QStringList{"組織名\t株式会社青葉商事",
                                                 "部署名\t営業部",
                                                 "身分\t課長",
                                                 "名前\t佐藤 健一",
                                                 "その他\tTEL 03-3123-4567",
                                                 "その他\tsato@aoba-shoji.example.jp"};
        QTest::newRow("latin") << "en-h-1.png" << false
                               << QStringList{"組織名\tNorthwind Trading Co., Ltd.", "身分\tSales Manager",
                                              "部署名\tSales Department", "名前\tEmily Carter"};
        QTest::newRow("columns") << "jp-v-1.png" << true
                                 << QStringList{"組織名\t有限会社山本製作所", "身分\t代表取締役"};
        QTest::newRow("turned") << "turned-jp-h-1.png" << false
                                << QStringList{"組織名\t株式会社青葉商事", "身分\t課長", "名前\t佐藤 健一",
                                               "その他\tsato@aoba-shoji.example.jp"};
        QTest::newRow("on a desk at a slant")
            << "desk-jp-h-1.jpg" << false
            << QStringList{"組織名\t株式会社青葉商事", "身分\t課長", "名前\t佐藤 健一",
                           "その他\tsato@aoba-shoji.example.jp"};
        QTest::newRow("photo") << "photo-jp-h-1.jpg" << false
                               << QStringList{"組織名\t株式会社青葉商事", "身分\t課長", "名前\t佐藤 健一",
                                              "その他\tsato@aoba-shoji.example.jp"};
    }
    void readsCards() {
        QFETCH(QString, file);
        QFETCH(bool, vertical);
        QFETCH(QStringList, expected);
        scan::ScanProgress progress;
        const scan::ScanResult r = scan::readScan(cards + QLatin1Char('/') + file, progress);
        QCOMPARE(r.vertical, vertical);
        QCOMPARE(r.boxes.size(), r.lines.size());
        QCOMPARE(progress.percent.load(), 100);
        QStringList got;
        for (size_t i = 0; i < r.lines.size(); ++i)
            got << scan::boxLabel(r.boxes[i]) + QLatin1Char('\t') + r.lines[i].text;
        for (const QString& row : expected) {
            QVERIFY2(got.contains(row),
                     qPrintable(QStringLiteral("%1 not in:\n%2").arg(row, got.join('\n'))));
        }
        if (vertical)
            QVERIFY(std::count(r.boxes.begin(), r.boxes.end(), Box::Name) == 1);
    }

    // The command's output: one line per recognised line, box, tab, text; failures on the error
    // side with a failed status.
    void command() {
        QStringList out, err;
        const auto toOut = [&](const QString& l) { out << l; };
        const auto toErr = [&](const QString& l) { err << l; };
        QCOMPARE(scan::readScanCommand(cards + QStringLiteral("/jp-h-1.png"), toOut, toErr), 0);
        QVERIFY(err.isEmpty());
        QCOMPARE(out.size(), 6);
        QCOMPARE(out[0], QStringLiteral("組織名\t株式会社青葉商事"));
        QVERIFY(out.contains(QStringLiteral("名前\t佐藤 健一")));

        out.clear();
        QCOMPARE(scan::readScanCommand(path(QStringLiteral("none.jpg")), toOut, toErr), 1);
        QVERIFY(out.isEmpty());
        QCOMPARE(err.size(), 1);
        QVERIFY(err[0].contains(QStringLiteral("none.jpg")));
    }

    // The same through tavrona-cards read-scan, a process of its own.
    void commandLineTool_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("out");  // a line of standard output, or of standard error
        QTest::newRow("card") << QStringList{"jp-h-1.png"} << 0 << "名前\t佐藤 健一";
        QTest::newRow("missing") << QStringList{"none.png"} << 1 << "「none.png」が見つかりません";
        QTest::newRow("no picture named") << QStringList{} << 2 << "PICTURE";
    }
    // A termination signal stops the reading: nothing printed, 128 + the signal.
    void commandInterrupted_data() {
        QTest::addColumn<int>("signal");
        QTest::newRow("TERM") << int(SIGTERM);
        QTest::newRow("INT") << int(SIGINT);
    }
    void commandInterrupted() {
        QFETCH(int, signal);
        QProcess p;
        p.start(QStringLiteral(CARDS_TOOL_PATH),
                {QStringLiteral("read-scan"), cards + QStringLiteral("/jp-v-1.png")});
        QVERIFY(p.waitForStarted());
        QThread::msleep(400);  // not the event loop: the process is not reaped, its id stays valid
        QVERIFY(p.processId() > 0);
        ::kill(pid_t(p.processId()), signal);
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitCode(), 128 + signal);  // a reading run to its end would exit 0
        QVERIFY(p.readAllStandardOutput().isEmpty());
        QVERIFY(QString::fromUtf8(p.readAllStandardError()).contains(QStringLiteral("中断しました")));
    }
    void commandLineTool() {
        QFETCH(QStringList, args);
        QFETCH(int, code);
        QFETCH(QString, out);
        QProcess p;
        p.setWorkingDirectory(cards);
        p.start(QStringLiteral(CARDS_TOOL_PATH), QStringList{QStringLiteral("read-scan")} + args);
        QVERIFY(p.waitForFinished(60000));
        QCOMPARE(p.exitCode(), code);
        const QString text =
            QString::fromUtf8(code == 0 ? p.readAllStandardOutput() : p.readAllStandardError());
        QVERIFY2(text.contains(out), qPrintable(text));
        if (code == 0)
            QCOMPARE(text.count(QLatin1Char('\n')), 6);
    }

    void cancelBeforeStart() {
        scan::ScanProgress progress;
        progress.cancel = true;
        const scan::ScanResult r = scan::readScan(cards + QStringLiteral("/en-h-1.png"), progress);
        QVERIFY(r.cancelled);
        QVERIFY(r.lines.empty());
    }

    // Cancelled from another thread once words are being recognised.
    void cancelWhileReading() {
        scan::ScanProgress progress;
        scan::ScanResult r;
        {
            std::jthread reader([&] { r = scan::readScan(cards + QStringLiteral("/en-h-1.png"), progress); });
            // Declared after the thread, so it runs first: cancel, then the thread's join.
            const auto stop = qScopeGuard([&] { progress.cancel = true; });
            QTRY_VERIFY_WITH_TIMEOUT(progress.percent > 0, 20000);
        }
        QVERIFY(r.cancelled);
        QVERIFY(r.lines.empty());
    }
};

QTEST_GUILESS_MAIN(TestScanReader)
#include "tst_scanreader.moc"
