// The main menu's backup, restore, export and import items, with the file dialogs and the
// message boxes answered by the test.

#include "controls.h"
#include "programundertest.h"
#include "mainmenuwindow.h"
#include "startup.h"
#include "transferfixture.h"
#include "transferwindows.h"

#include "fakes.h"

#include <QAction>
#include <QDir>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>

namespace {

struct AnsweringChooser final : transferwindows::FileChooser {
    QString answer;
    QStringList captions;
    QString saveFile(QWidget*, const QString& caption, const QString&, const QString&) override {
        captions << caption;
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

    std::unique_ptr<QTemporaryDir> m_dir;
    AnsweringChooser m_chooser;

    QString path(const QString& name) const { return m_dir->filePath(name); }

private slots:
    void initTestCase() {
        configureEmbeddedEngine();
        transferwindows::setFileChooser(&m_chooser);
    }
    void cleanupTestCase() { transferwindows::setFileChooser(nullptr); }

    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        testdb::create(m_dir->path());
        MessageRecorder quiet;
        program = composeProgram(CardFolder::local(m_dir->path()));
        fixture::store(*program->database(), {fixture::texts(QStringLiteral("山田 太郎"), QStringLiteral("北星商事")),
                              fixture::texts(QStringLiteral("佐藤"), QStringLiteral("みなと物産"))});
        m_chooser.captions.clear();
    }
    void cleanup() {
        program.reset();
        m_dir.reset();
    }

    void itemsSitAboveTheEnd() {
        QStringList texts;
        const auto* fileMenu = qobject_cast<QMenu*>(ctl<QAction>(program->mainMenu(), "N2")->associatedObjects().value(0));
        QVERIFY(fileMenu);
        for (QAction* a : fileMenu->actions())
            texts << a->text();
        QCOMPARE(texts, (QStringList{"バックアップ…", "復元…", "書き出し…", "読み込み…", "", "終了"}));
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
        boxes.expectQuestion(QStringLiteral("画像フォルダもまとめてバックアップしますか？"), true);
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

    void nothingChosenDoesNothing() {
        MessageRecorder boxes;
        m_chooser.answer.clear();
        for (QAction* a : {ctl<QAction>(program->mainMenu(), "BackupAction"), ctl<QAction>(program->mainMenu(), "RestoreAction"),
                           ctl<QAction>(program->mainMenu(), "ExportAction"), ctl<QAction>(program->mainMenu(), "ImportAction")})
            a->trigger();
        QCOMPARE(m_chooser.captions.size(), 4);
        QVERIFY(boxes.shown.isEmpty());
    }
};

QTEST_MAIN(TestTransferMenu)
#include "tst_transfermenu.moc"
