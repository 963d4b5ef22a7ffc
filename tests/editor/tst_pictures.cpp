// The picture folder below the working directory: creating and opening it, listing it in the
// file system's order, and showing its pictures in the image area, including the files people
// actually leave there (huge, empty, broken, misnamed).

#include "controls.h"
#include "editorfixture.h"
#include "filemode.h"
#include "picturearea.h"
#include "picturefolder.h"
#include "pictureloader.h"
#include "programundertest.h"
#include "testpictures.h"

#include <QApplication>
#include <QBuffer>
#include <QCoreApplication>
#include <QFile>
#include <QImageWriter>
#include <QLabel>
#include <QListWidget>
#include <QMouseEvent>
#include <QProcess>
#include <QPushButton>
#include <QTest>

#include <fcntl.h>
#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <cstring>

using namespace testpictures;

namespace {

void writeImage(const QString& path, const QSize& size, const char* format, QColor colour = Qt::darkCyan) {
    QImage img(size, QImage::Format_RGB32);
    img.fill(colour);
    QImageWriter writer(path, format);
    QVERIFY2(writer.write(img), qPrintable(writer.errorString()));
}

// Root reads every file whatever its permissions; this takes that power from the calling
// thread for a while, so that a file without read permission is unreadable as for any user.
class WithoutFileOverride final {
public:
    WithoutFileOverride() {
        if (::geteuid() != 0 || ::syscall(SYS_capget, &m_header, m_saved) != 0)
            return;
        __user_cap_data_struct reduced[2];
        std::memcpy(reduced, m_saved, sizeof reduced);
        reduced[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
        m_active = ::syscall(SYS_capset, &m_header, reduced) == 0;
    }
    ~WithoutFileOverride() {
        if (m_active)
            ::syscall(SYS_capset, &m_header, m_saved);
    }
    WithoutFileOverride(const WithoutFileOverride&) = delete;
    WithoutFileOverride& operator=(const WithoutFileOverride&) = delete;

private:
    __user_cap_header_struct m_header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct m_saved[2]{};
    bool m_active = false;
};

}  // namespace

class TestPictures final : public QObject {
    Q_OBJECT

    EditorFixture f;
    CardEditorWindow* w = nullptr;

    QString base(const QString& key = QStringLiteral("12")) const { return f.cardFolder(key); }

    // Selects an entry as a user would; the change of the current entry shows it.
    void choose(const QString& name) {
        const auto items = ctl<QListWidget>(w, "ListBox1")->findItems(name, Qt::MatchExactly);
        QCOMPARE(items.size(), 1);
        QVERIFY(ctl<QListWidget>(w, "ListBox1")->currentItem() != items.first());
        ctl<QListWidget>(w, "ListBox1")->setCurrentItem(items.first());
    }

private slots:
    void initTestCase() { useDesktopUmask(); }
    void init() {
        QVERIFY(f.setUp());
        w = program->cardEditor();
        w->setCardKey(12);
    }
    void cleanup() { f.tearDown(); }

    void openFolderCreatesOnlyMissingLevels_data() {
        QTest::addColumn<QStringList>("folders");  // present before, below the card folder root
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<bool>("baseExistsAfter");
        QTest::addColumn<QStringList>("made");  // by the program: its owner's alone (0700)
        QTest::newRow("nothing yet") << QStringList{} << QStringList{} << true
                                     << QStringList{"image", "image/12", "image/12/base"};
        QTest::newRow("image only") << QStringList{"image"} << QStringList{} << true
                                    << QStringList{"image/12", "image/12/base"};
        QTest::newRow("card folder without base")
            << QStringList{"image/12"} << QStringList{} << true << QStringList{"image/12/base"};
        QTest::newRow("all there") << QStringList{"image/12/base"} << QStringList{"image/12/base/a.jpg"}
                                   << true << QStringList{};
        QTest::newRow("plain file named like the key")
            << QStringList{"image"} << QStringList{"image/12"} << false << QStringList{};
        QTest::newRow("plain file named base")
            << QStringList{"image/12"} << QStringList{"image/12/BASE"} << false << QStringList{};
    }
    void openFolderCreatesOnlyMissingLevels() {
        QFETCH(QStringList, folders);
        QFETCH(QStringList, files);
        QFETCH(bool, baseExistsAfter);
        QFETCH(QStringList, made);
        QDir root(f.folder->path());
        for (const QString& d : folders)
            QVERIFY(root.mkpath(d));
        for (const QString& file : files)
            writeBytes(root.filePath(file), "x");
        w->onOpenFolderClicked();
        QCOMPARE(f.shell->folders, QStringList{root.filePath("image/12/base/")});
        QCOMPARE(QFileInfo(root.filePath("image/12/base")).isDir(), baseExistsAfter);
        for (const QString& file : files)
            QVERIFY(QFileInfo(root.filePath(file)).isFile());  // never replaced
        QVERIFY(!QFileInfo::exists(root.filePath("image/12/base/base")));
        for (const QString& d : made)
            QCOMPARE(fileMode(root.filePath(d)), 0700);
        for (const QString& d : folders)
            QCOMPARE(fileMode(root.filePath(d)), 0755);  // the user's own folders as they were
    }

    void openFolderWithoutKeyDoesNothing() {
        w->setCardKey(std::nullopt);
        ctl<QPushButton>(w, "SpeedButton1")->setEnabled(true);
        ctl<QPushButton>(w, "SpeedButton1")->click();
        QVERIFY(f.shell->folders.isEmpty());
        QVERIFY(!QFileInfo::exists(f.folder->filePath("image")));
        QVERIFY(f.messages->shown.isEmpty());
    }

    // The program's own folder (where the test binary lives) is not the card folder: pictures
    // must be created, listed and shown below the one working directory.
    void allPictureOperationsShareTheCardFolder() {
        QVERIFY(QDir(f.folder->path()) != QDir::current());  // the card folder is not the working directory
        w->onOpenFolderClicked();
        QVERIFY(QFileInfo(base()).isDir());
        QVERIFY(!QFileInfo::exists(QCoreApplication::applicationDirPath() + "/image/12"));
        writeImage(base() + "/scan.png", {40, 20}, "png");
        QVERIFY(w->refreshPictureList());
        choose("scan.png");
        QVERIFY(f.messages->texts("error").isEmpty());
        QVERIFY(!ctl<PictureArea>(w, "Image1")->picture().isNull());
    }

    void refreshListsEveryEntryInTheFileSystemsOrder() {
        QVERIFY(QDir().mkpath(base() + "/old"));
        for (const char* name : {"a.jpg", ".hidden", "Thumbs.db", "名刺 表.png", "z y.txt", "b.JPG"})
            writeBytes(base() + "/" + QString::fromUtf8(name), "x");
        for (int i = 0; i < 40; ++i)
            writeBytes(base() + QStringLiteral("/n%1").arg(i), "x");
        QProcess ls;
        ls.start("ls", {"-f", "-a", base()});  // -f: the directory's own order, unsorted
        QVERIFY(ls.waitForFinished());
        QStringList expected = QString::fromUtf8(ls.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
        expected.removeAll(".");
        expected.removeAll("..");

        ctl<QListWidget>(w, "ListBox1")->addItem(QStringLiteral("stale"));
        QVERIFY(w->refreshPictureList());
        QStringList listed;
        for (int i = 0; i < ctl<QListWidget>(w, "ListBox1")->count(); ++i)
            listed << ctl<QListWidget>(w, "ListBox1")->item(i)->text();
        QCOMPARE(listed, expected);
        QCOMPARE(listed.size(), 47);
        QVERIFY(ctl<QListWidget>(w, "ListBox1")->selectedItems().isEmpty());
        QCOMPARE(ctl<QListWidget>(w, "ListBox1")->currentRow(), -1);
    }

    void refreshOfAMissingFolderGivesAnEmptyList() {
        ctl<QListWidget>(w, "ListBox1")->addItem(QStringLiteral("stale"));
        QVERIFY(!w->refreshPictureList());
        QCOMPARE(ctl<QListWidget>(w, "ListBox1")->count(), 0);
        w->setCardKey(std::nullopt);
        ctl<QPushButton>(w, "SpeedButton4")->click();
        QCOMPARE(ctl<QListWidget>(w, "ListBox1")->count(), 0);
        QVERIFY(f.messages->shown.isEmpty());
    }

    void showFollowsTheEndingRules_data() {
        QTest::addColumn<QString>("entry");
        QTest::addColumn<QString>("content");  // "jpeg", "png", "empty", "truncated", "folder"
        QTest::addColumn<QString>("outcome");  // "shown", "ignored" or "error"
        QTest::newRow("jpeg extension") << "scan.jpeg"
                                        << "jpeg"
                                        << "shown";
        QTest::newRow("upper case") << "SCAN.PNG"
                                    << "png"
                                    << "shown";
        QTest::newRow("spaces and Japanese") << "名刺 スキャン.png"
                                             << "png"
                                             << "shown";
        QTest::newRow("mixed-case ending") << "scan.Jpg"
                                           << "jpeg"
                                           << "ignored";
        QTest::newRow("tif") << "scan.tif"
                             << "png"
                             << "ignored";
        QTest::newRow("hidden system file") << "Thumbs.db"
                                            << "empty"
                                            << "ignored";
        QTest::newRow("no extension") << "scanjpg"
                                      << "jpeg"
                                      << "error";
        QTest::newRow("no decoder for it") << "clip.mpeg"
                                           << "jpeg"
                                           << "error";
        QTest::newRow("zero bytes") << "empty.jpg"
                                    << "empty"
                                    << "error";
        QTest::newRow("folder named like a picture") << "old.jpg"
                                                     << "folder"
                                                     << "error";
        QTest::newRow("PNG named jpg") << "wrong.jpg"
                                       << "png"
                                       << "error";
        QTest::newRow("truncated") << "cut.jpg"
                                   << "truncated"
                                   << "error";
    }
    void showFollowsTheEndingRules() {
        QFETCH(QString, entry);
        QFETCH(QString, content);
        QFETCH(QString, outcome);
        QVERIFY(QDir().mkpath(base()));
        const QString path = base() + "/" + entry;
        if (content == "jpeg" || content == "png") {
            writeImage(path, {300, 200}, content.toLatin1());
        } else if (content == "empty") {
            writeBytes(path, {});
        } else if (content == "folder") {
            QVERIFY(QDir().mkpath(path));
        } else {
            writeImage(path, {300, 200}, "jpeg");
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadWrite));
            file.resize(file.size() * 2 / 3);
        }
        writeImage(base() + "/before.png", {10, 10}, "png", Qt::red);
        w->refreshPictureList();
        choose("before.png");
        const QImage before = ctl<PictureArea>(w, "Image1")->picture();
        QVERIFY(!before.isNull());

        choose(entry);
        QCOMPARE(ctl<QLabel>(w, "Label14")->text(), entry);
        const QStringList errors = f.messages->texts("error");
        if (outcome == "shown") {
            QVERIFY2(errors.isEmpty(), qPrintable(errors.join('\n')));
            QVERIFY(ctl<PictureArea>(w, "Image1")->picture().cacheKey() != before.cacheKey());
        } else {
            QCOMPARE(ctl<PictureArea>(w, "Image1")->picture().cacheKey(), before.cacheKey());
            QCOMPARE(errors.size(), outcome == "error" ? 1 : 0);
            if (outcome == "error")
                QVERIFY2(errors.first().contains(entry), qPrintable(errors.first()));
        }
    }

    void showWithoutSelectionLoadsNothing() {
        ctl<QLabel>(w, "Label14")->setText(QStringLiteral("---"));
        ctl<QListWidget>(w, "ListBox1")->clear();
        w->onPictureChosen();
        QCOMPARE(ctl<QLabel>(w, "Label14")->text(), QStringLiteral("---"));
        QVERIFY(ctl<PictureArea>(w, "Image1")->picture().isNull());
    }

    void keyboardAndMouseChoicesShowThePicture() {
        QVERIFY(QDir().mkpath(base()));
        writeImage(base() + "/a.png", {40, 20}, "png");
        writeImage(base() + "/b.png", {40, 20}, "png");
        w->refreshPictureList();
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w));
        ctl<QListWidget>(w, "ListBox1")->setFocus();
        ctl<QListWidget>(w, "ListBox1")->setCurrentRow(1);  // any change of the current entry shows it
        QCOMPARE(ctl<QLabel>(w, "Label14")->text(), ctl<QListWidget>(w, "ListBox1")->item(1)->text());
        QTest::keyClick(ctl<QListWidget>(w, "ListBox1"), Qt::Key_Up);
        QCOMPARE(ctl<QLabel>(w, "Label14")->text(), ctl<QListWidget>(w, "ListBox1")->item(0)->text());
        const QRect second =
            ctl<QListWidget>(w, "ListBox1")->visualItemRect(ctl<QListWidget>(w, "ListBox1")->item(1));
        QCOMPARE(second.height(), 13);
        QTest::mouseClick(ctl<QListWidget>(w, "ListBox1")->viewport(), Qt::LeftButton, {}, second.center());
        QCOMPARE(ctl<QLabel>(w, "Label14")->text(), ctl<QListWidget>(w, "ListBox1")->item(1)->text());
        QVERIFY(!ctl<PictureArea>(w, "Image1")->picture().isNull());
        QVERIFY(f.messages->texts("error").isEmpty());
    }

    // Dragging the mouse over the list shows each entry it passes, as a click does.
    void draggingOverTheListShowsTheEntry() {
        QVERIFY(QDir().mkpath(base()));
        writeImage(base() + "/a.png", {40, 20}, "png", Qt::red);
        writeImage(base() + "/b.png", {20, 40}, "png", Qt::blue);
        w->refreshPictureList();
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w));
        QWidget* viewport = ctl<QListWidget>(w, "ListBox1")->viewport();
        const QPoint first = ctl<QListWidget>(w, "ListBox1")
                                 ->visualItemRect(ctl<QListWidget>(w, "ListBox1")->item(0))
                                 .center();
        const QPoint second = ctl<QListWidget>(w, "ListBox1")
                                  ->visualItemRect(ctl<QListWidget>(w, "ListBox1")->item(1))
                                  .center();
        QTest::mousePress(viewport, Qt::LeftButton, {}, first);
        QCOMPARE(ctl<QLabel>(w, "Label14")->text(), ctl<QListWidget>(w, "ListBox1")->item(0)->text());
        QMouseEvent move(QEvent::MouseMove, second, viewport->mapToGlobal(second), Qt::NoButton,
                         Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(viewport, &move);
        QCOMPARE(ctl<QListWidget>(w, "ListBox1")->currentRow(), 1);
        QCOMPARE(ctl<QLabel>(w, "Label14")->text(), ctl<QListWidget>(w, "ListBox1")->item(1)->text());
        QTest::mouseRelease(viewport, Qt::LeftButton, {}, second);
        const QString shown = ctl<QListWidget>(w, "ListBox1")->item(1)->text();
        QCOMPARE(ctl<PictureArea>(w, "Image1")->picture().height() >
                     ctl<PictureArea>(w, "Image1")->picture().width(),
                 shown == QStringLiteral("b.png"));
        QVERIFY(f.messages->texts("error").isEmpty());
    }

    // A named pipe bearing a picture's name would block any reader that opens it.
    void namedPipeIsRefusedWithoutBlocking() {
        QVERIFY(QDir().mkpath(base()));
        QCOMPARE(::mkfifo(QFile::encodeName(base() + "/pipe.jpg").constData(), 0600), 0);
        w->refreshPictureList();
        choose("pipe.jpg");
        QCOMPARE(f.messages->texts("error").size(), 1);
    }

    void largePhotoIsShownScaledToTheArea() {
        // 48 megapixels: beyond Qt's default allocation limit when decoded whole.
        QVERIFY(QDir().mkpath(base()));
        writeImage(base() + "/photo.jpg", {8000, 6000}, "jpeg");
        w->refreshPictureList();
        choose("photo.jpg");
        QVERIFY2(f.messages->texts("error").isEmpty(), qPrintable(f.messages->texts("error").join('\n')));
        QCOMPARE(ctl<PictureArea>(w, "Image1")->picture().size(), QSize(321, 241));
        QCOMPARE(ctl<PictureArea>(w, "Image1")->pictureRect(), QRect(55, 0, 321, 241));
    }

    // Phone photos store their orientation apart from the pixels: a portrait photo must fit the
    // area standing up, not lying on its side.
    void photoOrientationIsApplied() {
        QVERIFY(QDir().mkpath(base()));
        QImage landscape(600, 400, QImage::Format_RGB32);
        landscape.fill(Qt::darkGreen);
        QImageWriter writer(base() + "/portrait.jpg", "jpeg");
        writer.setTransformation(QImageIOHandler::TransformationRotate90);
        QVERIFY(writer.write(landscape));
        w->refreshPictureList();
        choose("portrait.jpg");
        QVERIFY(f.messages->texts("error").isEmpty());
        QCOMPARE(ctl<PictureArea>(w, "Image1")->picture().size(), QSize(160, 241));
    }

    void absurdDeclaredSizesAreRefusedBeforeDecoding_data() {
        QTest::addColumn<QString>("entry");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("30000 square") << "bomb.png" << pngHeaderOnly(30000, 30000);
        QTest::newRow("one long side") << "bomb.png" << pngHeaderOnly(40000, 10);
        QTest::newRow("too many pixels") << "bomb.png" << pngHeaderOnly(12000, 9000);
        QTest::newRow("tiny GIF of 10000 square") << "bomb.gif" << gifHeaderOnly(10000, 10000);
        QTest::newRow("tiny bitmap of 9000 square") << "bomb.bmp" << bmpHeaderOnly(9000, 9000);
        QTest::newRow("JPEG of 65000 square") << "bomb.jpg" << jpegDeclaring(65000, 65000);
    }
    void absurdDeclaredSizesAreRefusedBeforeDecoding() {
        QFETCH(QString, entry);
        QFETCH(QByteArray, bytes);
        QVERIFY(bytes.size() < 1000);
        QVERIFY(QDir().mkpath(base()));
        writeBytes(base() + "/" + entry, bytes);
        w->refreshPictureList();
        choose(entry);
        const QStringList errors = f.messages->texts("error");
        QCOMPARE(errors.size(), 1);
        QVERIFY2(errors.first().contains(QStringLiteral("大きすぎる")), qPrintable(errors.first()));
        QVERIFY(ctl<PictureArea>(w, "Image1")->picture().isNull());
    }

    // Damaged data is refused with the file's name, the picture shown before stays; a file the
    // user may not read is named as such, not as damaged.
    void damagedAndUnreadablePicturesSayWhy_data() {
        QTest::addColumn<QString>("entry");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("says");
        QTest::newRow("JPEG cut short") << "half.jpg"
                                        << "cut"
                                        << "壊れ";
        QTest::newRow("PNG cut short") << "half.png"
                                       << "cut"
                                       << "読み込めません";
        QTest::newRow("no permission") << "locked.jpg"
                                       << "locked"
                                       << "権限";
    }
    void damagedAndUnreadablePicturesSayWhy() {
        QFETCH(QString, entry);
        QFETCH(QString, kind);
        QFETCH(QString, says);
        QVERIFY(QDir().mkpath(base()));
        const QString path = base() + "/" + entry;
        writeImage(path, {600, 400}, pictureloader::formatForName(entry).constData());
        if (kind == "cut") {
            QFile file(path);
            QVERIFY(file.resize(file.size() * 2 / 3));
        } else {
            QVERIFY(QFile::setPermissions(path, {}));
        }
        writeImage(base() + "/before.png", {10, 10}, "png", Qt::red);
        w->refreshPictureList();
        choose("before.png");
        const qint64 before = ctl<PictureArea>(w, "Image1")->picture().cacheKey();
        {
            const WithoutFileOverride asOrdinaryUser;
            if (kind == "locked") {
                const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY);
                if (fd >= 0) {
                    ::close(fd);
                    QSKIP("a file without read permission is still readable here");
                }
            }
            choose(entry);
        }
        const QStringList errors = f.messages->texts("error");
        QCOMPARE(errors.size(), 1);
        QVERIFY2(errors.first().contains(entry) && errors.first().contains(says), qPrintable(errors.first()));
        if (kind == "locked")
            QVERIFY2(!errors.first().contains(QStringLiteral("壊れ")), qPrintable(errors.first()));
        QCOMPARE(ctl<QLabel>(w, "Label14")->text(), entry);
        QCOMPARE(ctl<PictureArea>(w, "Image1")->picture().cacheKey(), before);
    }

    // Names from old archives in Shift-JIS: listed readably, shown by their real bytes.
    void namesThatAreNoUtf8AreListedAndShown() {
        QVERIFY(QDir().mkpath(base()));
        const QByteArray sjis("\x96\xbc\x8e\x68.jpg", 8);  // 名刺.jpg
        writeImage(base() + "/probe.jpg", {60, 40}, "jpeg");
        QVERIFY(::rename(QFile::encodeName(base() + "/probe.jpg").constData(),
                         (QFile::encodeName(base()) + "/" + sjis).constData()) == 0);
        w->refreshPictureList();
        QCOMPARE(ctl<QListWidget>(w, "ListBox1")->count(), 1);
        QCOMPARE(ctl<QListWidget>(w, "ListBox1")->item(0)->text(), QStringLiteral("名刺.jpg"));
        choose(QStringLiteral("名刺.jpg"));
        QVERIFY2(f.messages->texts("error").isEmpty(), qPrintable(f.messages->texts("error").join('\n')));
        QCOMPARE(ctl<QLabel>(w, "Label14")->text(), QStringLiteral("名刺.jpg"));
        QVERIFY(!ctl<PictureArea>(w, "Image1")->picture().isNull());
    }

    void pictureIsFittedWholeAndCentred_data() {
        QTest::addColumn<QSize>("picture");
        QTest::addColumn<QRect>("drawn");  // in the 432 x 241 image area
        QTest::newRow("small, wide: scaled up") << QSize(100, 50) << QRect(0, 12, 432, 216);
        QTest::newRow("tall") << QSize(50, 100) << QRect(156, 0, 120, 241);
        QTest::newRow("exact") << QSize(432, 241) << QRect(0, 0, 432, 241);
    }
    void pictureIsFittedWholeAndCentred() {
        QFETCH(QSize, picture);
        QFETCH(QRect, drawn);
        QImage img(picture, QImage::Format_RGB32);
        img.fill(Qt::blue);
        ctl<PictureArea>(w, "Image1")->setPicture(img);
        QCOMPARE(ctl<PictureArea>(w, "Image1")->pictureRect(), drawn);
    }
};

QTEST_MAIN(TestPictures)
#include "tst_pictures.moc"
