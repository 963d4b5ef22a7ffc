// The main menu's backup, restore, export and import items, with the file dialogs and the
// message boxes answered by the test.

#include "controls.h"
#include "mainmenuwindow.h"
#include "programundertest.h"
#include "startup.h"
#include "transferfixture.h"
#include "transferwindows.h"

#include "fakes.h"

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QStandardPaths>
#include <QTableWidget>

#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString kSameDisk = QStringLiteral(
    "バックアップ先はカードファイルと同じディスクにあります。ディスクが故障するとカードファイルとともに"
    "失われるため、別のディスクにも保存することをおすすめします。\r\n\r\n");

struct AnsweringChooser final : transferwindows::FileChooser {
    QString answer;
    QStringList captions;
    QStringList suggested;
    QString saveFile(QWidget*, const QString& caption, const QString& suggestion, const QString&) override {
        captions << caption;
        suggested << suggestion;
        return answer;
    }
    QString openFile(QWidget*, const QString& caption, const QString&) override {
        captions << caption;
        return answer;
    }
};

}  // namespace

class TestTransferMenu final : public QObject {
    Q_OBJECT

    QTemporaryDir m_home;
    std::unique_ptr<QTemporaryDir> m_dir;
    AnsweringChooser m_chooser;

    QString path(const QString& name) const { return m_dir->filePath(name); }

private slots:
    void initTestCase() {
        // A home of its own: the remembered backup folder goes to its test settings, and its
        // documents folder is where the backup window first opens.
        QVERIFY(m_home.isValid());
        qputenv("HOME", m_home.path().toUtf8());
        qunsetenv("XDG_CONFIG_HOME");
        QStandardPaths::setTestModeEnabled(true);
        QVERIFY(QDir(m_home.path()).mkpath("Documents"));
        configureEmbeddedEngine();
        transferwindows::setFileChooser(&m_chooser);
    }
    void cleanupTestCase() { transferwindows::setFileChooser(nullptr); }

    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        testdb::create(m_dir->path());
        MessageRecorder quiet;
        program = composeProgram(CardFolder::local(m_dir->path()));
        fixture::store(*program->database(),
                       {fixture::texts(QStringLiteral("山田 太郎"), QStringLiteral("北星商事")),
                        fixture::texts(QStringLiteral("佐藤"), QStringLiteral("みなと物産"))});
        m_chooser.captions.clear();
        m_chooser.suggested.clear();
    }
    void cleanup() {
        program.reset();
        m_dir.reset();
    }

    void itemsSitAboveTheEnd() {
        QStringList texts;
        const auto* fileMenu =
            qobject_cast<QMenu*>(ctl<QAction>(program->mainMenu(), "N2")->associatedObjects().value(0));
        QVERIFY(fileMenu);
        for (QAction* a : fileMenu->actions())
            texts << a->text();
        QCOMPARE(texts, (QStringList{"バックアップ…", "復元…", "書き出し…", "読み込み…", "まとめて取り込む…",
                                     "重複カードを探す…", "", "終了"}));
    }

    void exportThenImportWithADuplicateChosen() {
        MessageRecorder boxes;
        boxes.expectQuestion(QStringLiteral("削除した名刺も書き出しますか？"), false);
        m_chooser.answer = path("cards.csv");
        ctl<QAction>(program->mainMenu(), "ExportAction")->trigger();
        QCOMPARE(boxes.texts("show").value(0),
                 QStringLiteral("名刺 2 件を書き出しました。\r\n") + path("cards.csv"));
        QCOMPARE(fixture::python(fixture::kReadCsv, path("cards.csv")).size(), 3);

        // Importing the same file: both cards look stored; the user takes one of them.
        boxes.clear();
        boxes.onShowModal = [](QDialog* d) {
            auto* list = d->findChild<QListWidget*>("DuplicateList");
            QVERIFY(list && list->isVisibleTo(d));
            QCOMPARE(list->count(), 2);
            QVERIFY(list->item(0)->text().contains(QStringLiteral("佐藤")));
            list->item(0)->setCheckState(Qt::Checked);
            d->findChild<QPushButton*>("ImportButton")->click();
        };
        ctl<QAction>(program->mainMenu(), "ImportAction")->trigger();
        QCOMPARE(boxes.modals.size(), 1);
        QCOMPARE(boxes.texts("show").value(0), QStringLiteral("名刺 1 件を登録しました。"));
        QCOMPARE(fixture::storedCards(*program->database()).size(), 3);

        // Cancelled: nothing is written.
        boxes.clear();
        boxes.onShowModal = [](QDialog* d) { d->findChild<QPushButton*>("CancelButton")->click(); };
        ctl<QAction>(program->mainMenu(), "ImportAction")->trigger();
        QVERIFY(boxes.texts("show").isEmpty());
        QCOMPARE(fixture::storedCards(*program->database()).size(), 3);
    }

    // Before anything is written the window shows where each column goes and what each card
    // gets; the user sends a column elsewhere, and the import takes the choice. A choice that
    // leaves no name is refused with the error box and changes nothing.
    void importWindowShowsAndChangesWhereColumnsGo() {
        MessageRecorder boxes;
        fixture::writeFile(path("sheet.csv"), "名前,電話,謎\r\n鈴木 次郎,03-1111-2222,青葉商会\r\n");
        m_chooser.answer = path("sheet.csv");
        boxes.onShowModal = [&](QDialog* d) {
            auto* columns = d->findChild<QTableWidget*>("ColumnTable");
            auto* preview = d->findChild<QTableWidget*>("CardPreview");
            QVERIFY(columns && columns->isVisibleTo(d) && preview);
            QCOMPARE(columns->rowCount(), 3);
            QVERIFY(d->findChild<QLabel*>("Summary")->text().contains(QStringLiteral("読み込まない列: 謎")));
            QCOMPARE(preview->item(0, 1)->text(), QStringLiteral("鈴木 次郎"));
            QCOMPARE(preview->item(0, 6)->text(), QStringLiteral("電話: 03-1111-2222"));
            auto choose = [&](const char* name, const QString& caption) {
                auto* choice = d->findChild<QComboBox*>(name);
                QVERIFY(choice);
                const int index = choice->findText(caption);
                QVERIFY(index >= 0);
                choice->setCurrentIndex(index);
                emit choice->activated(index);
                QCoreApplication::processEvents();
            };
            choose("ColumnChoice2", QStringLiteral("組織名"));
            QCOMPARE(preview->item(0, 3)->text(), QStringLiteral("青葉商会"));
            QVERIFY(!d->findChild<QLabel*>("Summary")->text().contains(QStringLiteral("読み込まない列")));
            choose("ColumnChoice0", QStringLiteral("読み込まない"));
            QCOMPARE(boxes.texts("error").size(), 1);
            QCOMPARE(d->findChild<QComboBox*>("ColumnChoice0")->currentText(), QStringLiteral("名前"));
            d->findChild<QPushButton*>("ImportButton")->click();
        };
        ctl<QAction>(program->mainMenu(), "ImportAction")->trigger();
        QCOMPARE(boxes.modals.size(), 1);
        QCOMPARE(boxes.texts("show").value(0), QStringLiteral("名刺 1 件を登録しました。"));
        QVERIFY(fixture::storedCards(*program->database())
                    .first()
                    .contains(QStringLiteral("|鈴木 次郎|よみ|青葉商会|")) ||
                fixture::storedCards(*program->database())
                    .first()
                    .contains(QStringLiteral("|鈴木 次郎||青葉商会|")));
    }

    void badImportShowsTheErrorBox() {
        MessageRecorder boxes;
        fixture::writeFile(path("bad.csv"), "名前\r\n\"佐藤\r\n");
        m_chooser.answer = path("bad.csv");
        ctl<QAction>(program->mainMenu(), "ImportAction")->trigger();
        QCOMPARE(boxes.texts("error").size(), 1);
        QVERIFY2(boxes.texts("error")[0].contains(QStringLiteral("2 行目")),
                 qPrintable(boxes.texts("error")[0]));
        QCOMPARE(fixture::storedCards(*program->database()).size(), 2);
    }

    void backupThenRestoreWhileTheProgramRuns() {
        MessageRecorder boxes;
        boxes.expectQuestion(kSameDisk + QStringLiteral("画像フォルダもまとめてバックアップしますか？"),
                             true);
        m_chooser.answer = path("cards.fbk");
        ctl<QAction>(program->mainMenu(), "BackupAction")->trigger();
        QVERIFY2(boxes.texts("error").isEmpty(), qPrintable(boxes.texts("error").join("\n")));
        QVERIFY(boxes.texts("show").value(0).startsWith(QStringLiteral("名刺 2 件をバックアップしました。")));
        QVERIFY(QFile::exists(path("cards.pictures.tar")));

        const QStringList saved = fixture::storedCards(*program->database());
        cards::newCardInsert(*program->database(), fixture::texts(QStringLiteral("後から")));

        // Answered no: nothing changes.
        const QString restoreQuestion =
            QStringLiteral(
                "「%1」から名刺を復元します。\r\n今のカードファイルは"
                "「DATA.FDB.before-restore-日時」として残します。よろしいですか？")
                .arg(path("cards.fbk"));
        boxes.clear();
        boxes.expectQuestion(restoreQuestion, false);
        ctl<QAction>(program->mainMenu(), "RestoreAction")->trigger();
        QCOMPARE(fixture::storedCards(*program->database()).size(), 3);

        boxes.clear();
        boxes.expectQuestion(restoreQuestion, true);
        ctl<QAction>(program->mainMenu(), "RestoreAction")->trigger();
        QVERIFY2(boxes.texts("error").isEmpty(), qPrintable(boxes.texts("error").join("\n")));
        QVERIFY(boxes.texts("show").value(0).startsWith(QStringLiteral("名刺 2 件を復元しました。")));
        QVERIFY(program->database()->connection.isConnected());
        QCOMPARE(fixture::storedCards(*program->database()), saved);
        QCOMPARE(QDir(m_dir->path() + "/data").entryList({"DATA.FDB.before-restore-*"}).size(), 1);
    }

    // The backup window opens in the documents folder the first time, then in the folder last
    // chosen; a backup on the card file's disk is allowed, and the question says so once.
    void backupFolderAndItsDisk_data() {
        QTest::addColumn<QString>("target");  // folder of the backup; empty: the card folder's
        QTest::addColumn<bool>("sameDisk");
        QTest::newRow("beside the card file") << QString() << true;
        // A memory file system is a disk of its own.
        QTest::newRow("another disk") << "/dev/shm" << false;
    }
    void backupFolderAndItsDisk() {
        QFETCH(QString, target);
        QFETCH(bool, sameDisk);
        struct stat memory = {}, card = {};
        if (!target.isEmpty() &&
            (::stat(qPrintable(target), &memory) != 0 || ::access(qPrintable(target), W_OK) != 0 ||
             (::stat(qPrintable(m_dir->path()), &card) == 0 && card.st_dev == memory.st_dev)))
            QSKIP("no writable folder on another disk here");
        QTemporaryDir targetDir(target.isEmpty() ? m_dir->filePath("backups-XXXXXX")
                                                 : target + "/tavrona-XXXXXX");
        QFile::remove(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
                      "/Tavrona/Tavrona.conf");
        const QString documents = m_home.path() + "/Documents/";
        const QString question = QStringLiteral("画像フォルダもまとめてバックアップしますか？");

        MessageRecorder boxes;
        boxes.expectQuestion(sameDisk ? kSameDisk + question : question, false);
        m_chooser.answer = targetDir.filePath("first.fbk");
        ctl<QAction>(program->mainMenu(), "BackupAction")->trigger();
        QVERIFY2(boxes.texts("error").isEmpty(), qPrintable(boxes.texts("error").join("\n")));
        QVERIFY2(m_chooser.suggested.value(0).startsWith(documents),
                 qPrintable(m_chooser.suggested.value(0)));
        QVERIFY(m_chooser.suggested.value(0).endsWith(".fbk"));
        QVERIFY(QFile::exists(targetDir.filePath("first.fbk")));

        boxes.clear();
        boxes.expectQuestion(sameDisk ? kSameDisk + question : question, false);
        ctl<QAction>(program->mainMenu(), "BackupAction")->trigger();
        QCOMPARE(QFileInfo(m_chooser.suggested.value(1)).absolutePath(), targetDir.path());

        // The folder gone (a disk unplugged): the documents folder again, never the card folder.
        QVERIFY(targetDir.remove());
        boxes.clear();
        m_chooser.answer.clear();
        ctl<QAction>(program->mainMenu(), "BackupAction")->trigger();
        QVERIFY2(m_chooser.suggested.value(2).startsWith(documents),
                 qPrintable(m_chooser.suggested.value(2)));
    }

    void nothingChosenDoesNothing() {
        MessageRecorder boxes;
        m_chooser.answer.clear();
        for (QAction* a : {ctl<QAction>(program->mainMenu(), "BackupAction"),
                           ctl<QAction>(program->mainMenu(), "RestoreAction"),
                           ctl<QAction>(program->mainMenu(), "ExportAction"),
                           ctl<QAction>(program->mainMenu(), "ImportAction")})
            a->trigger();
        QCOMPARE(m_chooser.captions.size(), 4);
        QVERIFY(boxes.shown.isEmpty());
    }
};

QTEST_MAIN(TestTransferMenu)
#include "tst_transfermenu.moc"
