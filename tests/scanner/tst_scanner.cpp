// Scanning through SANE with its own test backend as the scanner: the scanners listed, flatbed
// and feeder scans, the numbering of the pictures, the pictures of each mode against those SANE's
// own scanimage makes of the same settings, the scanner's failures, cancelling and a second scan
// at the same time. SANE reads the backend's settings (test.conf) once per process, so each scan
// with settings of its own runs in a child process of this program ("--scan-child").

#include "scanner.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <thread>

namespace {

const QString kChildOption = QStringLiteral("--scan-child");
const QString kLabel = QStringLiteral("Noname frontend-tester（virtual device）");

// A SANE configuration folder that knows the test backend alone, whatever scanners the machine has.
void writeConfig(const QString& folder, const QString& testSettings) {
    QDir().mkpath(folder);
    QFile dll(folder + QStringLiteral("/dll.conf"));
    QVERIFY(dll.open(QIODevice::WriteOnly));
    dll.write("test\n");
    QFile test(folder + QStringLiteral("/test.conf"));
    QVERIFY(test.open(QIODevice::WriteOnly));
    test.write(("number_of_devices 2\n" + testSettings + "\n").toUtf8());
}

QStringList everyEntry(const QString& folder) {
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                                  QDir::Name);
}

// The child: lists the scanners as the window does, scans, and prints what came of it as JSON.
// Arguments: folder device feeder(0/1) dpi colour(0/1) cancelAfterPages(-1: never) scans (one after
// another into the folder).
int runChild(const QStringList& args) {
    scanner::ScanRequest request;
    const QString folder = args.value(0);
    request.device = args.value(1);
    request.feeder = args.value(2) == QLatin1String("1");
    request.dpi = args.value(3).toInt();
    request.colour = args.value(4) == QLatin1String("1");
    const int cancelAfter = args.value(5).toInt();
    const int scans = std::max(1, args.value(6).toInt());
    scanner::ScanProgress progress;
    std::atomic<bool> done{false};
    std::thread watcher([&] {
        while (cancelAfter >= 0 && !done.load()) {
            if (progress.pages.load() >= cancelAfter) {
                // Into the next page, which the slow backend delivers over about a second.
                std::this_thread::sleep_for(std::chrono::milliseconds(300));
                progress.cancel = true;
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    QJsonObject result;
    QStringList paths;
    try {
        scanner::devices();
        for (int scan = 0; scan < scans; ++scan)
            paths += scanner::scanPages(request, folder, progress);
    } catch (const scanner::ScannerError& e) {
        result[QStringLiteral("error")] = e.text();
        paths += e.pages();
    }
    result[QStringLiteral("paths")] = QJsonArray::fromStringList(paths);
    done = true;
    watcher.join();
    result[QStringLiteral("progress")] = progress.pages.load();
    std::fputs(QJsonDocument(result).toJson(QJsonDocument::Compact).constData(), stdout);
    return 0;
}

struct ChildScan {
    QStringList paths;
    QString error;
    int progressPages = -1;
};

ChildScan scanOnce(const QString& configFolder, const QString& folder, const QStringList& args, bool& hung) {
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("SANE_CONFIG_DIR"), configFolder);
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(), QStringList{kChildOption, folder} + args);
    ChildScan scan;
    hung = !child.waitForFinished(30000);
    if (hung) {
        child.kill();
        child.waitForFinished();
    }
    if (hung || child.exitStatus() != QProcess::NormalExit || child.exitCode() != 0) {
        scan.error = QStringLiteral("child failed: ") + QString::fromUtf8(child.readAllStandardError());
        return scan;
    }
    const QJsonObject result = QJsonDocument::fromJson(child.readAllStandardOutput()).object();
    for (const QJsonValue& p : result.value(QStringLiteral("paths")).toArray())
        scan.paths << p.toString();
    scan.error = result.value(QStringLiteral("error")).toString();
    scan.progressPages = result.value(QStringLiteral("progress")).toInt(-1);
    return scan;
}

ChildScan scanInChild(const QString& configFolder, const QString& folder, const QString& device, bool feeder,
                      int dpi, bool colour, int cancelAfter = -1, int scans = 1) {
    const QStringList args{device,
                           feeder ? "1" : "0",
                           QString::number(dpi),
                           colour ? "1" : "0",
                           QString::number(cancelAfter),
                           QString::number(scans)};
    // The test backend reads the page on a thread that sane_cancel stops with an asynchronous
    // thread cancel; caught inside malloc or free, that thread never ends and sane_cancel waits for
    // it for ever (seen in about one of ten scans that fail on their first read). A scan into a
    // folder of its own that hangs so is run again on a fresh folder; a hang twice over fails.
    const bool freshFolder = !QFileInfo::exists(folder);
    bool hung = false;
    ChildScan scan = scanOnce(configFolder, folder, args, hung);
    for (int again = 0; hung && freshFolder && again < 2; ++again) {
        qWarning("The test backend hung in sane_cancel: scanning again");
        QDir(folder).removeRecursively();
        scan = scanOnce(configFolder, folder, args, hung);
    }
    return scan;
}

// The page SANE's own frontend scans with the same settings, as a picture.
QImage referencePage(const QString& configFolder, bool feeder, int dpi, bool colour, const QString& file) {
    QProcess scanimage;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("SANE_CONFIG_DIR"), configFolder);
    scanimage.setProcessEnvironment(env);
    scanimage.setStandardOutputFile(file);
    scanimage.start(QStringLiteral("scanimage"),
                    {"-d", "test:0", "--source", feeder ? "Automatic Document Feeder" : "Flatbed", "--mode",
                     colour ? "Color" : "Gray", "--resolution", QString::number(dpi), "--format=pnm"});
    if (!scanimage.waitForFinished(120000) || scanimage.exitCode() != 0)
        return {};
    return QImage(file);
}

// The largest difference of one channel between two pictures of the same size, or -1.
int largestDifference(const QImage& a, const QImage& b) {
    if (a.size() != b.size())
        return -1;
    const QImage x = a.convertToFormat(QImage::Format_RGB888);
    const QImage y = b.convertToFormat(QImage::Format_RGB888);
    int largest = 0;
    for (int row = 0; row < x.height(); ++row) {
        const uchar* p = x.constScanLine(row);
        const uchar* q = y.constScanLine(row);
        for (int i = 0; i < x.width() * 3; ++i)
            largest = std::max(largest, std::abs(int(p[i]) - int(q[i])));
    }
    return largest;
}

// -1 when the picture has several colours, else its one grey value (black 0, white 255).
int uniformGrey(const QImage& picture) {
    const QImage rgb = picture.convertToFormat(QImage::Format_RGB888);
    const int first = rgb.constScanLine(0)[0];
    for (int row = 0; row < rgb.height(); ++row) {
        const uchar* p = rgb.constScanLine(row);
        for (int i = 0; i < rgb.width() * 3; ++i) {
            if (p[i] != first)
                return -1;
        }
    }
    return first;
}

QStringList pictureNames(int first, int count) {
    QStringList names;
    for (int n = first; n < first + count; ++n)
        names << QStringLiteral("scan-%1.png").arg(n, 4, 10, QLatin1Char('0'));
    return names;
}

}  // namespace

class TestScanner final : public QObject {
    Q_OBJECT

    QTemporaryDir m_work;
    QString m_config;  // this process's SANE settings: slow pages, so that a scan can be caught running

private slots:
    void initTestCase() {
        QVERIFY(m_work.isValid());
        m_config = m_work.filePath(QStringLiteral("sane-here"));
        writeConfig(m_config, QStringLiteral("read-delay true\nread-delay-duration 200000\n"));
        qputenv("SANE_CONFIG_DIR", QFile::encodeName(m_config));
    }

    void devicesListsTheTestScanner() {
        const QList<scanner::Device> found = scanner::devices();
        QCOMPARE(found.size(), 2);
        QCOMPARE(found.at(0).name, QStringLiteral("test:0"));
        QCOMPARE(found.at(0).label, kLabel);
        QCOMPARE(found.at(1).name, QStringLiteral("test:1"));
    }

    void scan_data() {
        QTest::addColumn<QString>("settings");  // the test backend's test.conf
        QTest::addColumn<bool>("feeder");
        QTest::addColumn<bool>("colour");
        QTest::addColumn<int>("dpi");
        QTest::addColumn<QStringList>("existing");  // files in the folder before the scan
        QTest::addColumn<int>("firstNumber");
        QTest::addColumn<int>("pages");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<int>("grey");  // the one grey of a plain page, -1 for a pattern
        // The settings of scanimage's page to compare with: empty for the same, "-" for none.
        QTest::addColumn<QString>("referenceSettings");

        const QString pattern = QStringLiteral("test-picture \"Color pattern\"\n");
        const QString grid = QStringLiteral("test-picture \"Grid\"\n");
        // 80 x 100 mm, the backend's page
        const QSize at100(314, 393);
        QTest::newRow("flatbed at 300 dpi, one page")
            << grid << false << true << 300 << QStringList() << 1 << 1 << QSize(944, 1181) << -1 << QString();
        QTest::newRow("grey pattern")
            << pattern << false << false << 100 << QStringList() << 1 << 1 << at100 << -1 << QString();
        QTest::newRow("colour pattern")
            << pattern << false << true << 100 << QStringList() << 1 << 1 << at100 << -1 << QString();
        QTest::newRow("colour in three frames")
            << pattern + "three-pass true\nthree-pass-order BGR\n"
            << false << true << 100 << QStringList() << 1 << 1 << at100 << -1 << QString();
        QTest::newRow("line art grid")
            << grid + "depth 1\n"
            << false << false << 100 << QStringList() << 1 << 1 << at100 << -1 << QString();
        QTest::newRow("line art pattern")
            << pattern + "depth 1\n"
            << false << false << 100 << QStringList() << 1 << 1 << at100 << -1 << QString();
        // SANE's frontend writes no colour line art: plain pages show the bits' sense.
        QTest::newRow("colour line art black")
            << QStringLiteral("test-picture \"Solid black\"\ndepth 1\n") << false << true << 100
            << QStringList() << 1 << 1 << at100 << 0 << "-";
        QTest::newRow("colour line art white")
            << QStringLiteral("test-picture \"Solid white\"\ndepth 1\n") << false << true << 100
            << QStringList() << 1 << 1 << at100 << 255 << "-";
        QTest::newRow("grey 16 bits")
            << pattern + "depth 16\n"
            << false << false << 100 << QStringList() << 1 << 1 << at100 << -1 << QString();
        QTest::newRow("colour 16 bits")
            << pattern + "depth 16\n"
            << false << true << 100 << QStringList() << 1 << 1 << at100 << -1 << QString();
        QTest::newRow("solid black line art is black")
            << QStringLiteral("test-picture \"Solid black\"\ndepth 1\n") << false << false << 100
            << QStringList() << 1 << 1 << at100 << 0 << QString();
        QTest::newRow("solid white line art is white")
            << QStringLiteral("test-picture \"Solid white\"\ndepth 1\n") << false << false << 100
            << QStringList() << 1 << 1 << at100 << 255 << QString();
        QTest::newRow("solid black colour is black")
            << QStringLiteral("test-picture \"Solid black\"\n") << false << true << 100 << QStringList() << 1
            << 1 << at100 << 0 << QString();
        QTest::newRow("solid white in three frames is white")
            << QStringLiteral("test-picture \"Solid white\"\nthree-pass true\n") << false << true << 100
            << QStringList() << 1 << 1 << at100 << 255 << QString();
        // A hand scanner does not know the height: 110 x 170 mm come until the end of the data.
        QTest::newRow("height unknown")
            << grid + "hand-scanner true\n"
            << false << false << 100 << QStringList() << 1 << 1 << QSize(433, 669) << -1 << QString();
        // Lines longer than their pixels, and data handed over a few bytes at a time.
        QTest::newRow("padded lines")
            << pattern + "ppl-loss 7\n"
            << false << true << 100 << QStringList() << 1 << 1 << QSize(307, 393) << -1 << pattern;
        QTest::newRow("small reads") << pattern + "read-limit true\nread-limit-size 997\n"
                                     << false << true << 100 << QStringList() << 1 << 1 << at100 << -1
                                     << QString();
        // The backend's feeder holds ten sheets.
        QTest::newRow("feeder to its end")
            << grid << true << false << 100 << QStringList() << 1 << 10 << at100 << -1 << QString();
        QTest::newRow("numbers go on after scan-0003")
            << grid << false << false << 100
            << QStringList{"scan-0003.png", "scan-0001.png", "scan-0012.jpg", "scan-x.png"} << 4 << 1 << at100
            << -1 << QString();
        QTest::newRow("feeder pages after scan-0003")
            << grid << true << true << 100 << QStringList{"scan-0003.png"} << 4 << 10 << at100 << -1
            << QString();
    }

    void scan() {
        QFETCH(QString, settings);
        QFETCH(bool, feeder);
        QFETCH(bool, colour);
        QFETCH(int, dpi);
        QFETCH(QStringList, existing);
        QFETCH(int, firstNumber);
        QFETCH(int, pages);
        QFETCH(QSize, size);
        QFETCH(int, grey);
        QFETCH(QString, referenceSettings);

        QTemporaryDir work;
        const QString config = work.filePath(QStringLiteral("sane"));
        writeConfig(config, settings);
        const QString folder = work.filePath(QStringLiteral("scans"));
        QVERIFY(QDir().mkpath(folder));
        for (const QString& name : existing) {
            QFile f(folder + QLatin1Char('/') + name);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("earlier picture");
        }

        const ChildScan scan = scanInChild(config, folder, QStringLiteral("test:0"), feeder, dpi, colour);
        QVERIFY2(scan.error.isEmpty(), qPrintable(scan.error));
        QStringList expected;
        for (const QString& name : pictureNames(firstNumber, pages))
            expected << folder + QLatin1Char('/') + name;
        QCOMPARE(scan.paths, expected);
        QCOMPARE(scan.progressPages, pages);
        QStringList entries = existing + pictureNames(firstNumber, pages);
        entries.sort();
        QCOMPARE(everyEntry(folder), entries);  // no temporary file left, nothing earlier replaced
        for (const QString& name : existing) {
            QFile f(folder + QLatin1Char('/') + name);
            QVERIFY(f.open(QIODevice::ReadOnly));
            QCOMPARE(f.readAll(), QByteArray("earlier picture"));
        }

        QImage reference;
        if (referenceSettings != QLatin1String("-")) {
            const QString referenceConfig = work.filePath(QStringLiteral("sane-reference"));
            writeConfig(referenceConfig, referenceSettings.isEmpty() ? settings : referenceSettings);
            reference = referencePage(referenceConfig, feeder, dpi, colour,
                                      work.filePath(QStringLiteral("reference.pnm")));
            QVERIFY2(!reference.isNull(), "scanimage did not scan");
            // Lines padded beyond their pixels: the page is the picture's left part.
            reference = reference.copy(QRect(QPoint(0, 0), size));
        }
        for (const QString& path : scan.paths) {
            const QImage page(path);
            QVERIFY2(!page.isNull(), qPrintable(path));
            QCOMPARE(page.size(), size);
            QCOMPARE(page.format() == QImage::Format_RGB32, colour);
            // Sixteen-bit samples are brought to eight: one step of rounding apart.
            if (!reference.isNull()) {
                const int difference = largestDifference(page, reference);
                QVERIFY2(difference >= 0 && difference <= 1, qPrintable(QString::number(difference)));
            }
            if (grey >= 0)
                QCOMPARE(uniformGrey(page), grey);
        }
    }

    void failure_data() {
        QTest::addColumn<QString>("settings");
        QTest::addColumn<bool>("feeder");
        QTest::addColumn<QString>("message");

        const auto failing = [](const char* status) {
            return QStringLiteral("read-status-code \"%1\"\n").arg(QLatin1String(status));
        };
        const QString prefix = QStringLiteral("スキャナ「%1」が使えません：").arg(kLabel);
        QTest::newRow("jammed") << failing("SANE_STATUS_JAMMED") << true
                                << prefix + "紙が詰まりました（SANE_STATUS_JAMMED）";
        QTest::newRow("cover open") << failing("SANE_STATUS_COVER_OPEN") << false
                                    << prefix + "カバーが開いています（SANE_STATUS_COVER_OPEN）";
        QTest::newRow("no paper on the first page")
            << failing("SANE_STATUS_NO_DOCS") << true << prefix + "紙がありません（SANE_STATUS_NO_DOCS）";
        QTest::newRow("busy") << failing("SANE_STATUS_DEVICE_BUSY") << false
                              << prefix + "ほかのプログラムが使用中です（SANE_STATUS_DEVICE_BUSY）";
        QTest::newRow("input/output error") << failing("SANE_STATUS_IO_ERROR") << true
                                            << prefix + "通信中にエラーが起きました（SANE_STATUS_IO_ERROR）";
        QTest::newRow("access denied") << failing("SANE_STATUS_ACCESS_DENIED") << false
                                       << prefix + "使う権限がありません（SANE_STATUS_ACCESS_DENIED）";
        QTest::newRow("cancelled by the scanner")
            << failing("SANE_STATUS_CANCELLED") << false
            << prefix + "スキャナの側で中止されました（SANE_STATUS_CANCELLED）";
    }

    // A failing scanner is told in Japanese with the status, and leaves nothing in the folder.
    void failure() {
        QFETCH(QString, settings);
        QFETCH(bool, feeder);
        QFETCH(QString, message);

        QTemporaryDir work;
        const QString config = work.filePath(QStringLiteral("sane"));
        writeConfig(config, settings);
        const QString folder = work.filePath(QStringLiteral("scans"));
        const ChildScan scan = scanInChild(config, folder, QStringLiteral("test:0"), feeder, 100, true);
        QCOMPARE(scan.error, message);
        QVERIFY(scan.paths.isEmpty());
        QCOMPARE(everyEntry(folder), QStringList());
    }

    // Cancelled while the third sheet comes through the feeder: the two whole pages stay.
    void cancelKeepsTheWholePages() {
        QTemporaryDir work;
        const QString config = work.filePath(QStringLiteral("sane"));
        writeConfig(config,
                    QStringLiteral("test-picture \"Grid\"\nread-delay true\nread-delay-duration 200000\n"));
        const QString folder = work.filePath(QStringLiteral("scans"));
        const ChildScan scan = scanInChild(config, folder, QStringLiteral("test:0"), true, 100, true, 2);
        QVERIFY2(scan.error.isEmpty(), qPrintable(scan.error));
        QCOMPARE(scan.paths, (QStringList{folder + "/scan-0001.png", folder + "/scan-0002.png"}));
        QCOMPARE(everyEntry(folder), pictureNames(1, 2));
        for (const QString& path : scan.paths)
            QCOMPARE(QImage(path).size(), QSize(314, 393));
    }

    // A second stack scanned into the same folder by the same program follows the first one.
    void secondStackAddsPages() {
        QTemporaryDir work;
        const QString config = work.filePath(QStringLiteral("sane"));
        writeConfig(config, QStringLiteral("test-picture \"Grid\"\n"));
        const QString folder = work.filePath(QStringLiteral("scans"));
        const ChildScan scan = scanInChild(config, folder, QStringLiteral("test:0"), true, 50, false, -1, 2);
        QVERIFY2(scan.error.isEmpty(), qPrintable(scan.error));
        QStringList expected;
        for (const QString& name : pictureNames(1, 20))
            expected << folder + QLatin1Char('/') + name;
        QCOMPARE(scan.paths, expected);
        QCOMPARE(everyEntry(folder), pictureNames(1, 20));
    }

    void refused_data() {
        QTest::addColumn<QString>("device");
        QTest::addColumn<bool>("folderIsAFile");
        QTest::addColumn<QString>("message");
        QTest::newRow("unknown test scanner")
            << "test:9" << false << "スキャナ「test:9」が使えません：見つかりません（SANE_STATUS_INVAL）";
        QTest::newRow("unknown backend")
            << "nosuchscanner:0" << false
            << "スキャナ「nosuchscanner:0」が使えません：見つかりません（SANE_STATUS_INVAL）";
        QTest::newRow("no scanner chosen")
            << "" << false << "スキャナが選ばれていません。一覧から選んでください。";
        QTest::newRow("folder is a file") << "test:0" << true << "取り込み先のフォルダ「";
    }

    void refused() {
        QFETCH(QString, device);
        QFETCH(bool, folderIsAFile);
        QFETCH(QString, message);
        QTemporaryDir work;
        const QString folder = work.filePath(QStringLiteral("scans"));
        if (folderIsAFile) {
            QFile f(folder);
            QVERIFY(f.open(QIODevice::WriteOnly));
        }
        scanner::ScanRequest request;
        request.device = device;
        scanner::ScanProgress progress;
        try {
            scanner::scanPages(request, folder, progress);
            QFAIL("scanned");
        } catch (const scanner::ScannerError& e) {
            QVERIFY2(e.text().startsWith(message), qPrintable(e.text()));
            QVERIFY(e.pages().isEmpty());
        }
        if (!folderIsAFile)
            QCOMPARE(everyEntry(folder), QStringList());
    }

    // One scan at a time: a second one (or a listing) while a slow page comes in is refused with a
    // clear message; the first one, cancelled, leaves no half page.
    void secondScanMeanwhileIsRefused() {
        QTemporaryDir work;
        const QString folder = work.filePath(QStringLiteral("scans"));
        scanner::ScanRequest request;
        request.device = QStringLiteral("test:0");
        request.feeder = false;
        scanner::ScanProgress progress;
        QStringList firstPages;
        QString firstError;
        std::thread first([&] {
            try {
                firstPages = scanner::scanPages(request, folder, progress);
            } catch (const scanner::ScannerError& e) {
                firstError = e.text();
            }
        });
        QString busy;
        QElapsedTimer waited;
        waited.start();
        while (busy.isEmpty() && waited.elapsed() < 20000) {
            try {
                scanner::devices();
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            } catch (const scanner::ScannerError& e) {
                busy = e.text();
            }
        }
        QString second;
        try {
            scanner::ScanProgress otherProgress;
            scanner::scanPages(request, work.filePath(QStringLiteral("other")), otherProgress);
        } catch (const scanner::ScannerError& e) {
            second = e.text();
        }
        progress.cancel = true;
        first.join();
        QCOMPARE(busy, QStringLiteral(
                           "スキャナはほかの読み取りで使用中です。終わってからもう一度お試しください。"));
        QCOMPARE(second, busy);
        QVERIFY2(firstError.isEmpty(), qPrintable(firstError));
        QVERIFY(firstPages.isEmpty());
        QCOMPARE(everyEntry(folder), QStringList());
        QVERIFY(!QFileInfo::exists(work.filePath(QStringLiteral("other"))));
    }
};

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() > 1 && args.at(1) == kChildOption)
        return runChild(args.mid(2));
    TestScanner test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_scanner.moc"
