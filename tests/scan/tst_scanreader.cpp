// Reading card pictures: the picture turned upright, scaled and made grey; files that cannot be
// read; missing recognition data; the lines and boxes read from cards drawn by the card script;
// cancelling a reading from another thread.

#include "scanreader.h"

#include <QFile>
#include <QImageWriter>
#include <QPainter>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

#include <cstdio>
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
