// The card sheet read back from the written workbook: texts and places, frame, merge, row
// height, font size everywhere, the pictures' places and sizes, entries that are no pictures,
// one new file per press, and what a spreadsheet program makes of it.

#include "carddatabase.h"
#include "cardeditorwindow.h"
#include "controls.h"
#include "desktop.h"
#include "fakes.h"
#include "filemode.h"
#include "messages.h"
#include "picturefolder.h"
#include "programundertest.h"
#include "sheetexport.h"
#include "startup.h"
#include "testdb.h"
#include "testpictures.h"
#include "xlsxreader.h"

#include <QBuffer>
#include <QDir>
#include <QImage>
#include <QImageWriter>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <cstdio>

using namespace testpictures;

namespace {

constexpr qint64 kEmuPerPoint = 12700;

cards::CardTexts fullCard() {
    return {.name = QStringLiteral("山田 太郎"),
            .reading = QStringLiteral("やまだ たろう"),
            .organisation = QStringLiteral("株式会社オルヴェ商事"),
            .department = QStringLiteral("営業部"),
            .position = QStringLiteral("課長"),
            .memo = QStringLiteral("展示会で名刺交換\r\n次回は来月"),
            .year = QStringLiteral("2024"),
            .month = QStringLiteral("5"),
            .day = QStringLiteral("17")};
}

void writePicture(const QString& path, QSize size, const char* format, QColor colour = Qt::darkCyan) {
    QImage image(size, QImage::Format_RGB32);
    image.fill(colour);
    QVERIFY(image.save(path, format));
}

}  // namespace

class TestSheetExport final : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    int m_n = 0;

    QString newFolder() {
        const QString path = m_dir.filePath(QStringLiteral("pictures%1").arg(++m_n));
        QDir().mkpath(path);
        return path;
    }
    QString output() { return m_dir.filePath(QStringLiteral("sheet%1.xlsx").arg(++m_n)); }

    XlsxSheet write(const cards::CardTexts& texts, const QString& folder,
                    sheet::WrittenSheet* written = nullptr) {
        const QString path = output();
        const sheet::WrittenSheet w = sheet::writeCardSheet(texts, folder, path);
        if (written)
            *written = w;
        return readXlsx(path);
    }

private slots:
    void initTestCase() { useDesktopUmask(); }
    void cellTexts_data() {
        QTest::addColumn<bool>("empty");
        QTest::newRow("filled") << false;
        QTest::newRow("empty boxes") << true;
    }
    // Fixed texts as the sheet spells them, the boxes' texts beside them, nothing else: no date,
    // no key. Empty boxes give empty cells and change nothing of the rest.
    void cellTexts() {
        QFETCH(bool, empty);
        cards::CardTexts t = empty ? cards::CardTexts{} : fullCard();
        if (empty)
            t.year = QStringLiteral("2024");  // the date is never on the sheet
        const XlsxSheet s = write(t, m_dir.filePath(QStringLiteral("missing")));
        QVERIFY2(s.ok, qPrintable(s.error));
        QMap<QString, QString> expected{
            {"A1", "名刺情報"}, {"B2", "名前"}, {"B3", "ふりがな"}, {"E2", "組織名"},
            {"B4", "部署名"},   {"E3", "身分"}, {"B5", "メモ"},
        };
        if (!empty) {
            expected.insert("C2", t.name);
            expected.insert("C3", t.reading);
            expected.insert("F2", t.organisation);
            expected.insert("C4", t.department);
            expected.insert("F3", t.position);
            expected.insert("C5", t.memo);  // with its CR LF
        }
        QMap<QString, QString> nonEmpty;
        for (auto it = s.texts.cbegin(); it != s.texts.cend(); ++it)
            if (!it.value().isEmpty())
                nonEmpty.insert(it.key(), it.value());
        QCOMPARE(nonEmpty, expected);
        QCOMPARE(s.merges, QStringList{"C5:G5"});
        QCOMPARE(s.rowHeight.value(5), 100.0);
        QVERIFY(s.styleOf("C5").wrap);
        QVERIFY(s.anchors.isEmpty());
    }

    // Lines on the edges and inner lines of B2:G5 mean every cell there has all four sides;
    // nothing outside has any. Every cell is 8 points, empty ones included, far away ones too.
    void frameAndFontSize() {
        const XlsxSheet s = write(fullCard(), m_dir.filePath(QStringLiteral("missing")));
        QVERIFY2(s.ok, qPrintable(s.error));
        const QStringList thin{"thin", "thin", "thin", "thin"};
        const QStringList none{"", "", "", ""};
        for (int row = 1; row <= 7; ++row) {
            for (int col = 1; col <= 9; ++col) {
                const QString ref = cellRef(row, col);
                const bool inFrame = row >= 2 && row <= 5 && col >= 2 && col <= 7;
                const XlsxStyle& style = s.styleOf(ref);
                QVERIFY2(style.borders == (inFrame ? thin : none), qPrintable(ref));
                QVERIFY2(style.fontSize == 8.0, qPrintable(ref));
                if (inFrame)
                    QVERIFY2(s.cellStyle.contains(ref), qPrintable(ref + " is written with its lines"));
            }
        }
        for (const QString ref : {"Z100", "XFD1048576", "H1"})
            QCOMPARE(s.styleOf(ref).fontSize, 8.0);
        QVERIFY(s.columnOf(16384));
    }

    // The columns are fitted to their texts at the standard font before the 8 points apply;
    // the merged memo takes no part, and columns without text keep the standard width.
    void columnFit() {
        cards::CardTexts shortCard = fullCard();
        cards::CardTexts longCard = fullCard();
        longCard.name = QStringLiteral("寿限無寿限無五劫の擦り切れ海砂利水魚の水行末");
        longCard.memo = QString(200, QChar(u'長'));
        const XlsxSheet a = write(shortCard, m_dir.filePath(QStringLiteral("missing")));
        const XlsxSheet b = write(longCard, m_dir.filePath(QStringLiteral("missing")));
        QVERIFY(a.ok && b.ok);
        QVERIFY(b.columnOf(3)->width > a.columnOf(3)->width + 10);
        // 20 characters of 11-point type (14.67 pixels each) and the margins; a column of width
        // w in the file is w * 7 pixels wide.
        QVERIFY(b.columnOf(3)->width * 7 >= 20 * 14.6 + 5);
        QVERIFY(b.columnOf(3)->width < 100);                   // the memo's 200 characters are not counted
        QCOMPARE(a.columnOf(4)->width, b.columnOf(4)->width);  // D: no text
        QCOMPARE(a.columnOf(7)->width, b.columnOf(7)->width);
        QVERIFY(sheet::fittedColumnWidth({QStringLiteral("名刺情報")}) >= 4 * 14.6 / 7);
        QVERIFY(sheet::fittedColumnWidth({QStringLiteral("a"), QStringLiteral("wide text here")}) >
                sheet::fittedColumnWidth({QStringLiteral("a")}));
    }

    void picturePlaces_data() {
        QTest::addColumn<int>("count");
        QTest::newRow("none") << 0;
        QTest::newRow("one") << 1;
        QTest::newRow("four") << 4;
        QTest::newRow("seven") << 7;
    }
    // Three to a row from (10, 250) points, 150 apart and 100 lower for each new row; each 70
    // points high with its proportions kept; placed by position, not by cells; the data is the
    // file itself, stored uncompressed.
    void picturePlaces() {
        QFETCH(int, count);
        const QString folder = newFolder();
        const QList<QSize> sizes{{400, 300}, {300, 400}, {100, 100}, {4000, 3000},
                                 {640, 480}, {250, 500}, {90, 60}};
        QStringList names;
        for (int i = 0; i < count; ++i) {
            names << QStringLiteral("p%1.jpg").arg(i);
            writePicture(QDir(folder).filePath(names.last()), sizes[i], "jpeg",
                         QColor::fromHsv(i * 40, 200, 200));
        }
        QStringList listing;
        QVERIFY(picturefolder::listEntries(folder, listing));

        sheet::WrittenSheet written;
        const XlsxSheet s = write(fullCard(), folder, &written);
        QVERIFY2(s.ok, qPrintable(s.error));
        QCOMPARE(written.placed, listing);
        QCOMPARE(s.anchors.size(), count);
        const QList<QPoint> places{{10, 250},  {160, 250}, {310, 250}, {10, 350},
                                   {160, 350}, {310, 350}, {10, 450}};
        for (int k = 0; k < count; ++k) {
            const XlsxAnchor& a = s.anchors[k];
            const QString file = QDir(folder).filePath(written.placed[k]);
            const QSize pixels = QImage(file).size();
            QCOMPARE(a.kind, QStringLiteral("absoluteAnchor"));
            QCOMPARE(a.x, places[k].x() * kEmuPerPoint);
            QCOMPARE(a.y, places[k].y() * kEmuPerPoint);
            QCOMPARE(a.cy, 70 * kEmuPerPoint);
            QVERIFY2(qAbs(a.cx - 70.0 * kEmuPerPoint * pixels.width() / pixels.height()) <= 1,
                     qPrintable(file));
            QCOMPARE(a.description, written.placed[k]);
            QVERIFY2(s.entries.contains(a.media), qPrintable(a.media));
            QCOMPARE(s.entries[a.media].method, 0);
            QCOMPARE(s.entries[a.media].data, fileBytes(file));
        }
        // The texts and formats do not depend on the pictures.
        QCOMPARE(s.texts.value("C2"), fullCard().name);
        QCOMPARE(s.styleOf("G5").fontSize, 8.0);
    }

    // Whatever the boxes hold, every part of the workbook is well-formed XML and the texts
    // come back as they were; picture names with control characters too.
    void oddCharactersKeepTheWorkbookWellFormed_data() {
        QTest::addColumn<QString>("text");
        QTest::newRow("control characters") << QStringLiteral("a\x01b\x08c\x1f\x7f");
        QTest::newRow("non-characters") << QStringLiteral("x\uFFFEy\uFFFFz");
        QTest::newRow("tab and line breaks") << QStringLiteral("a\tb\r\nc");
        QTest::newRow("markup") << QStringLiteral("<b>&amp;\"'</b> ]]>");
        QTest::newRow("escape lookalike") << QStringLiteral("_x0041_ and _x005F_");
        QTest::newRow("emoji") << QStringLiteral("😀𠮷");
        QTest::newRow("zero-width no-break space") << QStringLiteral("a\uFEFFb");
    }
    void oddCharactersKeepTheWorkbookWellFormed() {
        QFETCH(QString, text);
        cards::CardTexts t = fullCard();
        t.name = text;
        t.organisation = text + QStringLiteral("商事");
        t.memo = QStringLiteral("一行目\r\n") + text;
        const QString folder = newFolder();
        QString pictureName = QStringLiteral("scan") + text + QStringLiteral(".jpg");
        pictureName.remove(QLatin1Char('/'));
        writePicture(QDir(folder).filePath(QStringLiteral("plain.jpg")), {40, 20}, "jpeg");
        QVERIFY(QFile::rename(QDir(folder).filePath(QStringLiteral("plain.jpg")),
                              QDir(folder).filePath(pictureName)));
        sheet::WrittenSheet written;
        const XlsxSheet s = write(t, folder, &written);
        QVERIFY2(s.ok, qPrintable(s.error));
        QCOMPARE(written.placed, QStringList{pictureName});
        QCOMPARE(s.anchors.size(), 1);
        QCOMPARE(s.texts.value("C2"), t.name);
        QCOMPARE(s.texts.value("F2"), t.organisation);
        QCOMPARE(s.texts.value("C5"), t.memo);
    }

    // The sheet takes what the editor's image area shows, checked the same way: entries that
    // never look like pictures are passed over silently, entries named like pictures that
    // cannot be shown (damaged, cut short, too large, of another format) are refused and
    // reported; k counts only the pictures placed, each in a form the workbook can hold.
    void entriesThatAreNoPictures() {
        const QString folder = newFolder();
        QDir dir(folder);
        writePicture(dir.filePath("a.jpg"), {200, 100}, "jpeg");
        QVERIFY(dir.mkdir("old"));
        QVERIFY(dir.mkdir("old.jpg"));
        writeBytes(dir.filePath(".thumbs.db"), "not a picture");
        writeBytes(dir.filePath("Thumbs.db"), "not a picture");
        writeBytes(dir.filePath("notes.txt"), "a note");
        writeBytes(dir.filePath("broken.jpg"), "\xff\xd8\xff garbage");
        writeBytes(dir.filePath("empty.png"), {});
        writePicture(dir.filePath("scan.jpg"), {100, 200}, "png");  // a PNG under a JPEG name
        writePicture(dir.filePath("c.bmp"), {120, 120}, "bmp");
        writePicture(dir.filePath("d.png"), {300, 100}, "png");
        writePicture(dir.filePath("half.png"), {300, 200}, "png");
        QFile(dir.filePath("half.png")).resize(QFileInfo(dir.filePath("half.png")).size() * 2 / 3);
        writePicture(dir.filePath("half.jpg"), {300, 200}, "jpeg");
        QFile(dir.filePath("half.jpg")).resize(QFileInfo(dir.filePath("half.jpg")).size() * 2 / 3);
        writeBytes(dir.filePath("huge.png"), pngHeaderOnly(30000, 30000));
        writeBytes(dir.filePath("huge.jpg"), jpegDeclaring(65000, 65000));

        QStringList listing;
        QVERIFY(picturefolder::listEntries(folder, listing));
        const QStringList pictures{"a.jpg", "c.bmp", "d.png"};
        const QStringList refused{"broken.jpg", "empty.png", "scan.jpg", "half.png",
                                  "half.jpg",   "huge.png",  "huge.jpg"};
        QStringList expectedPlaced, expectedSkipped, expectedRefused;
        for (const QString& name : listing)
            (pictures.contains(name)  ? expectedPlaced
             : refused.contains(name) ? expectedRefused
                                      : expectedSkipped)
                << name;

        sheet::WrittenSheet written;
        const XlsxSheet s = write(fullCard(), folder, &written);
        QVERIFY2(s.ok, qPrintable(s.error));
        QCOMPARE(written.placed, expectedPlaced);
        QCOMPARE(written.skipped, expectedSkipped);
        QCOMPARE(written.refused, expectedRefused);
        QCOMPARE(written.refusedReasons.size(), expectedRefused.size());
        for (int i = 0; i < expectedRefused.size(); ++i)
            QVERIFY2(written.refusedReasons[i].contains(expectedRefused[i]),
                     qPrintable(written.refusedReasons[i]));
        QCOMPARE(s.anchors.size(), 3);
        for (int k = 0; k < 3; ++k) {
            QCOMPARE(s.anchors[k].x, (10 + 150 * (k % 3)) * kEmuPerPoint);
            QCOMPARE(s.anchors[k].y, (250 + 100 * (k / 3)) * kEmuPerPoint);
            const QString name = written.placed[k];
            const QByteArray stored = s.entries[s.anchors[k].media].data;
            // JPEG and PNG as they are; the bitmap converted to PNG, with its size.
            if (name == "c.bmp") {
                QVERIFY(s.anchors[k].media.endsWith(".png"));
                QCOMPARE(QImage::fromData(stored).size(), QSize(120, 120));
            } else {
                QCOMPARE(stored, fileBytes(dir.filePath(name)));
            }
        }
        QCOMPARE(s.styleOf("A1").fontSize, 8.0);  // the sheet was completed
        QCOMPARE(s.rowHeight.value(5), 100.0);
    }

    // Pictures are checked by their structure from the header to the end instead of being
    // decoded: a whole picture goes on the sheet, a JPEG with data after its end too (phones
    // append a video so); one cut short or with a damaged checksum is refused with its name.
    void picturesCheckedByTheirStructure_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("placed");
        QImage picture(120, 80, QImage::Format_RGB32);
        for (int y = 0; y < picture.height(); ++y)
            for (int x = 0; x < picture.width(); ++x)
                picture.setPixel(x, y, qRgb(x * 2, y * 3, (x * y) % 256));
        const QByteArray jpeg = encoded(picture, "jpeg"), png = encoded(picture, "png"),
                         bmp = encoded(picture, "bmp");
        QByteArray progressive;
        {
            QBuffer buffer(&progressive);
            buffer.open(QIODevice::WriteOnly);
            QImageWriter writer(&buffer, "jpeg");
            writer.setProgressiveScanWrite(true);
            QVERIFY(writer.write(picture));
        }
        // One white pixel.
        const QByteArray gif(
            "GIF89a\x01\x00\x01\x00\x80\x00\x00\xff\xff\xff\x00\x00\x00\x2c\x00\x00\x00\x00"
            "\x01\x00\x01\x00\x00\x02\x02\x44\x01\x00\x3b",
            35);
        QByteArray badEndChecksum = png;
        badEndChecksum[badEndChecksum.size() - 1] = char(badEndChecksum.back() ^ 0x5a);
        QTest::newRow("JPEG") << "a.jpg" << jpeg << true;
        QTest::newRow("JPEG with data after its end")
            << "motion.jpg" << jpeg + QByteArray(70000, 'v') << true;
        QTest::newRow("JPEG without its end") << "a.jpg" << jpeg.chopped(2) << false;
        QTest::newRow("JPEG cut short, data after the cut")
            << "a.jpg" << jpeg.left(jpeg.size() / 2) + QByteArray(70000, 'v') << false;
        QTest::newRow("progressive JPEG") << "p.jpg" << progressive << true;
        QTest::newRow("progressive JPEG cut short")
            << "p.jpg" << progressive.left(progressive.size() * 2 / 3) << false;
        QTest::newRow("PNG") << "a.png" << png << true;
        QTest::newRow("PNG without its end") << "a.png" << png.chopped(12) << false;
        QTest::newRow("PNG with a damaged end") << "a.png" << badEndChecksum << false;
        QTest::newRow("GIF") << "a.gif" << gif << true;
        QTest::newRow("GIF cut short") << "a.gif" << gif.left(28) << false;
        QTest::newRow("bitmap") << "a.bmp" << bmp << true;
        QTest::newRow("bitmap cut short") << "a.bmp" << bmp.left(bmp.size() - 100) << false;
    }
    void picturesCheckedByTheirStructure() {
        QFETCH(QString, name);
        QFETCH(QByteArray, content);
        QFETCH(bool, placed);
        const QString folder = newFolder();
        writeBytes(QDir(folder).filePath(name), content);
        sheet::WrittenSheet written;
        const XlsxSheet s = write(fullCard(), folder, &written);
        QVERIFY2(s.ok, qPrintable(s.error));
        QCOMPARE(written.placed, placed ? QStringList{name} : QStringList());
        QCOMPARE(written.refused, placed ? QStringList() : QStringList{name});
        QCOMPARE(s.anchors.size(), placed ? 1 : 0);
        if (placed && !name.endsWith(QLatin1String(".gif")) && !name.endsWith(QLatin1String(".bmp")))
            QCOMPARE(s.entries[s.anchors[0].media].data, content);  // the file as it is
    }

    // Names from old archives in Shift-JIS go into the sheet by their real bytes, named readably.
    void picturesNamedInShiftJis() {
        const QString folder = newFolder();
        writePicture(QDir(folder).filePath("probe.jpg"), {80, 40}, "jpeg");
        const QByteArray sjis("\x96\xbc\x8e\x68.jpg", 8);  // 名刺.jpg
        QCOMPARE(::rename(QFile::encodeName(QDir(folder).filePath("probe.jpg")).constData(),
                          (QFile::encodeName(folder) + "/" + sjis).constData()),
                 0);
        sheet::WrittenSheet written;
        const XlsxSheet s = write(fullCard(), folder, &written);
        QVERIFY2(s.ok, qPrintable(s.error));
        QCOMPARE(written.placed, QStringList{QStringLiteral("名刺.jpg")});
        QCOMPARE(s.anchors.size(), 1);
        QCOMPARE(s.anchors[0].description, QStringLiteral("名刺.jpg"));
        QCOMPARE(QImage::fromData(s.entries[s.anchors[0].media].data).size(), QSize(80, 40));
    }

    // Phone photos keep their pixels as the sensor read them and say apart how to turn them.
    // The sheet shows them standing as taken: the anchor is the upright picture, 70 points
    // high, and the drawing turns the stored picture into it about the same centre.
    void turnedPhotos_data() {
        QTest::addColumn<int>("orientation");  // as the camera writes it
        QTest::addColumn<int>("rotation");
        QTest::addColumn<bool>("flipH");
        QTest::addColumn<bool>("flipV");
        QTest::newRow("upright") << 1 << 0 << false << false;
        QTest::newRow("mirrored") << 2 << 0 << true << false;
        QTest::newRow("upside down") << 3 << 0 << true << true;
        QTest::newRow("portrait, turned right") << 6 << 90 << false << false;
        QTest::newRow("portrait, turned left") << 8 << 270 << false << false;
        QTest::newRow("transposed") << 5 << 90 << false << true;
    }
    void turnedPhotos() {
        QFETCH(int, orientation);
        QFETCH(int, rotation);
        QFETCH(bool, flipH);
        QFETCH(bool, flipV);
        const QString folder = newFolder();
        const QString path = QDir(folder).filePath("photo.jpg");
        writePicture(path, {400, 200}, "jpeg");
        // An Exif block with the one orientation entry, right after the start of the image.
        QByteArray tiff("MM\x00\x2a\x00\x00\x00\x08\x00\x01\x01\x12\x00\x03\x00\x00\x00\x01", 18);
        tiff.append(char(0)).append(char(orientation)).append(QByteArray(6, '\0'));
        const QByteArray exif = QByteArray("Exif\0\0", 6) + tiff;
        QByteArray segment("\xff\xe1");
        segment.append(char((exif.size() + 2) >> 8)).append(char((exif.size() + 2) & 0xff)).append(exif);
        QByteArray data = fileBytes(path);
        data.insert(2, segment);
        QFile out(path);
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(data);
        out.close();

        const XlsxSheet s = write(fullCard(), folder);
        QVERIFY2(s.ok, qPrintable(s.error));
        QCOMPARE(s.anchors.size(), 1);
        const XlsxAnchor& a = s.anchors[0];
        const bool standing = rotation % 180 != 0;
        QCOMPARE(a.x, 10 * kEmuPerPoint);
        QCOMPARE(a.y, 250 * kEmuPerPoint);
        QCOMPARE(a.cy, 70 * kEmuPerPoint);
        QCOMPARE(a.cx, (standing ? 35 : 140) * kEmuPerPoint);
        QCOMPARE(a.rotation, rotation * 60000);
        QCOMPARE(a.flipH, flipH);
        QCOMPARE(a.flipV, flipV);
        QCOMPARE(QSize(a.boxCx, a.boxCy), standing ? QSize(a.cy, a.cx) : QSize(a.cx, a.cy));
        QCOMPARE(a.boxX + a.boxCx / 2, a.x + a.cx / 2);
        QCOMPARE(a.boxY + a.boxCy / 2, a.y + a.cy / 2);
        QCOMPARE(s.entries[a.media].data, data);
    }

    // A new name for every press in the same second; an existing file is never written over.
    void uniqueNames() {
        const QString folder = newFolder();
        const QDateTime at(QDate(2024, 5, 17), QTime(9, 30, 0));
        const QString first = sheet::reserveSheetFile(folder, "12", at);
        const QString second = sheet::reserveSheetFile(folder, "12", at);
        const QString third = sheet::reserveSheetFile(folder, "---", at);
        QCOMPARE(QFileInfo(first).fileName(), QStringLiteral("card-12-20240517-093000.xlsx"));
        QCOMPARE(QFileInfo(second).fileName(), QStringLiteral("card-12-20240517-093000-2.xlsx"));
        QCOMPARE(QFileInfo(third).fileName(), QStringLiteral("card-new-20240517-093000.xlsx"));
        // A base-ID that is no number still gives a plain file name in the folder.
        const QString odd = sheet::reserveSheetFile(folder, "../x", at);
        QCOMPARE(QFileInfo(odd).absolutePath(), QFileInfo(folder).absoluteFilePath());
    }

    // A failure to write is reported with the path and leaves no file behind.
    void writeFailure() {
        const QString path = m_dir.filePath(QStringLiteral("no-such-folder/sheet.xlsx"));
        try {
            sheet::writeCardSheet(fullCard(), m_dir.filePath(QStringLiteral("missing")), path);
            QFAIL("no failure reported");
        } catch (const std::exception& e) {
            QVERIFY2(QString::fromUtf8(e.what()).contains(QStringLiteral("no-such-folder")), e.what());
        }
        QVERIFY(!QFile::exists(path));
    }

    // The button on a real editor: the boxes as they stand (not saved), the card's pictures
    // below the card folder, a new workbook in sheets/ for each press, handed to the desktop;
    // where nothing opens it the user is told where it is. The editor is left as it was.
    void pressingTheButton() {
        QTemporaryDir cardFolder;
        testdb::create(cardFolder.path());
        MessageRecorder recorder;
        RecordingShell shellFake;
        RecordingShell* shell = &shellFake;
        platform::setShell(shell);
        QStandardPaths::setTestModeEnabled(true);  // the program's settings apart from the user's
        program = composeProgram(CardFolder::local(cardFolder.path()));
        CardEditorWindow* editor = program->cardEditor();
        auto cleanup = qScopeGuard([&] {
            program.reset();
            platform::setShell(nullptr);
        });
        if (!ctl<QLineEdit>(editor, "Edit4"))
            QSKIP("the editor window has no controls in this build");

        ctl<QLineEdit>(editor, "Edit4")->setText(QStringLiteral("佐藤 花子"));
        ctl<QLineEdit>(editor, "Edit5")->setText(QStringLiteral("オルヴェ工業"));
        ctl<QPlainTextEdit>(editor, "Memo1")->setPlainText(QStringLiteral("一行目\n二行目"));
        editor->setCardKey(12);
        const QDir folder(cardFolder.path());
        QDir().mkpath(folder.filePath("image/12/base"));
        writePicture(folder.filePath("image/12/base/card.jpg"), {300, 200}, "jpeg");
        writeBytes(folder.filePath("image/12/base/Thumbs.db"), "cache");
        // A card with pictures in a "---" folder must not pick them up when it has no key.
        QDir().mkpath(folder.filePath("image/---/base"));

        QTest::mouseClick(ctl<QPushButton>(editor, "Button1"), Qt::LeftButton);
        QTest::mouseClick(ctl<QPushButton>(editor, "Button1"), Qt::LeftButton);
        QCOMPARE(recorder.texts("error"), QStringList());
        QCOMPARE(shell->documents.size(), 2);
        QVERIFY(shell->documents[0] != shell->documents[1]);
        // The workbooks hold the card: its owner's alone, in a folder only the owner enters.
        QCOMPARE(fileMode(QDir(cardFolder.path()).filePath("sheets")), 0700);
        for (const QString& path : shell->documents) {
            QCOMPARE(QFileInfo(path).absolutePath(), QDir(cardFolder.path()).filePath("sheets"));
            QCOMPARE(fileMode(path), 0600);
            const XlsxSheet s = readXlsx(path);
            QVERIFY2(s.ok, qPrintable(s.error));
            QCOMPARE(s.texts.value("C2"), QStringLiteral("佐藤 花子"));
            QCOMPARE(s.texts.value("F2"), QStringLiteral("オルヴェ工業"));
            QCOMPARE(s.texts.value("C5"), QStringLiteral("一行目\r\n二行目"));
            QCOMPARE(s.anchors.size(), 1);
        }
        QCOMPARE(recorder.shown.size(), 0);  // Thumbs.db is passed over without a word
        QCOMPARE(ctl<QLineEdit>(editor, "Edit4")->text(), QStringLiteral("佐藤 花子"));

        // A picture that cannot be shown: one message naming it, after the workbook is handed on.
        writeBytes(folder.filePath("image/12/base/cut.jpg"),
                   fileBytes(folder.filePath("image/12/base/card.jpg")).left(300));
        qsizetype handedOnWhenTold = -1;
        recorder.onMessage = [&](const MessageRecorder::Shown&) {
            handedOnWhenTold = shell->documents.size();
        };
        QTest::mouseClick(ctl<QPushButton>(editor, "Button1"), Qt::LeftButton);
        recorder.onMessage = nullptr;
        QCOMPARE(recorder.texts("error"), QStringList());
        QCOMPARE(recorder.texts("show").size(), 1);
        QVERIFY2(recorder.texts("show")[0].contains(QStringLiteral("cut.jpg")),
                 qPrintable(recorder.texts("show")[0]));
        QVERIFY(!recorder.texts("show")[0].contains(QStringLiteral("Thumbs.db")));
        QCOMPARE(handedOnWhenTold, 3);
        QCOMPARE(readXlsx(shell->documents.last()).anchors.size(), 1);
        QFile::remove(folder.filePath("image/12/base/cut.jpg"));
        recorder.clear();
        QCOMPARE(ctl<QLabel>(editor, "Label13")->text(), QStringLiteral("12"));

        // No program for spreadsheets: the user learns where the file is.
        shell->documentOpens = false;
        QTest::mouseClick(ctl<QPushButton>(editor, "Button1"), Qt::LeftButton);
        QCOMPARE(recorder.texts("show").size(), 1);
        QVERIFY(recorder.texts("show")[0].contains(QDir::toNativeSeparators(shell->documents.last())));
        QCOMPARE(QDir(folder.filePath("sheets")).entryList(QDir::Files).size(), 4);
        QVERIFY(QGuiApplication::overrideCursor() == nullptr);

        // Sheets cannot be written: the default error box, no document handed on.
        QDir(folder.filePath("sheets")).removeRecursively();
        QFile blocker(folder.filePath("sheets"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        recorder.clear();
        QTest::mouseClick(ctl<QPushButton>(editor, "Button1"), Qt::LeftButton);
        QCOMPARE(recorder.texts("error").size(), 1);
        QCOMPARE(shell->documents.size(), 4);
        QVERIFY(QGuiApplication::overrideCursor() == nullptr);

        // Without a key the pictures are looked for in image/---/base, which holds none here.
        QFile::remove(folder.filePath("sheets"));
        editor->setCardKey(std::nullopt);
        recorder.clear();
        shell->documentOpens = true;
        QTest::mouseClick(ctl<QPushButton>(editor, "Button1"), Qt::LeftButton);
        QCOMPARE(recorder.texts("error"), QStringList());
        QVERIFY(QFileInfo(shell->documents.last()).fileName().startsWith(QStringLiteral("card-new-")));
        QCOMPARE(readXlsx(shell->documents.last()).anchors.size(), 0);
    }

    // What a spreadsheet program reads from the file: the cell texts survive a conversion.
    void spreadsheetProgramReadsIt() {
        const QString soffice = QStandardPaths::findExecutable(QStringLiteral("soffice"));
        if (soffice.isEmpty())
            QSKIP("soffice (LibreOffice) is not installed: the workbook is not converted");
        const QString folder = newFolder();
        writePicture(QDir(folder).filePath("a.jpg"), {400, 300}, "jpeg");
        const QString path = m_dir.filePath(QStringLiteral("converted.xlsx"));
        sheet::writeCardSheet(fullCard(), folder, path);
        QProcess p;
        const QString profile = QUrl::fromLocalFile(m_dir.filePath(QStringLiteral("profile"))).toString();
        p.start(soffice, {"-env:UserInstallation=" + profile, "--headless", "--convert-to",
                          "csv:Text - txt - csv (StarCalc):44,34,76", "--outdir", m_dir.path(), path});
        QVERIFY(p.waitForFinished(120000));
        const QString csv = QString::fromUtf8(fileBytes(m_dir.filePath(QStringLiteral("converted.csv"))));
        QVERIFY2(!csv.isEmpty(), p.readAllStandardError().constData());
        for (const QString& text :
             {QStringLiteral("名刺情報"), QStringLiteral("ふりがな"), QStringLiteral("山田 太郎"),
              QStringLiteral("株式会社オルヴェ商事"), QStringLiteral("課長"), QStringLiteral("次回は来月")})
            QVERIFY2(csv.contains(text), qPrintable(text));
    }
};

QTEST_MAIN(TestSheetExport)
#include "tst_sheetexport.moc"
