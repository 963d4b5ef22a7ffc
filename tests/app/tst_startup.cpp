// Start-up and the main menu: the order of creation, a missing database, the web links, the
// end of the program, and a second copy in the same card folder.

#include "cards.h"
#include "dm1.h"
#include "fakes.h"
#include "kihon_ichiran.h"
#include "menu.h"
#include "mst_car.h"
#include "startup.h"
#include "testdb.h"
#include "varsion.h"
#include "visualstyle.h"

#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

class TestStartup final : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_startDir;
    std::unique_ptr<RecordingShell> m_shellFake;
    RecordingShell* m_shell = nullptr;

private slots:
    void initTestCase() {
        configureEmbeddedEngine();
        m_startDir = QDir::currentPath();
    }

    void init() {
        QVERIFY(QDir::setCurrent(m_dir.path()));
        m_shellFake = std::make_unique<RecordingShell>();
        m_shell = m_shellFake.get();
        platform::setShell(m_shell);
    }

    void cleanup() {
        endProgram();
        platform::setShell(nullptr);
        QDir::setCurrent(m_startDir);
        QDir(m_dir.path() + "/data").removeRecursively();
    }

    void missingDatabaseShowsOneErrorAndTheMenuStillOpens() {
        MessageRecorder boxes;
        startProgram(CardFolder::local(QDir::currentPath()));
        QCOMPARE(boxes.texts("error").size(), 1);
        QVERIFY2(boxes.texts("error")[0].contains("DATA.FDB"), qPrintable(boxes.texts("error")[0]));
        QVERIFY(menu->isVisible());
        QVERIFY(mst_car && kihon_ichiran && varsion && DM1);
        QVERIFY(!DM1->IBDatabase1.Connected());

        // The next statement tries again: still missing, then found once the file exists.
        messages::guarded(menu, [] { cards::newestKey(DM1->IBQuery1); });
        QCOMPARE(boxes.texts("error").size(), 2);
        testdb::create(m_dir.path());
        int key = -1;
        messages::guarded(menu, [&] { key = cards::newestKey(DM1->IBQuery1); });
        QCOMPARE(boxes.texts("error").size(), 2);
        QCOMPARE(key, 0);
    }

    void databasePathIsFixedAtStartUp() {
        testdb::create(m_dir.path());
        MessageRecorder boxes;
        startProgram(CardFolder::local(QDir::currentPath()));
        QVERIFY(boxes.shown.isEmpty());
        QDir::setCurrent(m_startDir);
        DM1->IBDatabase1.reconnect();  // still the card folder's file
        QCOMPARE(DM1->databasePath(), QDir::toNativeSeparators(m_dir.path() + "/data/DATA.FDB"));
    }

    void mainMenuLooksAsDesigned() {
        MessageRecorder boxes;
        startProgram(CardFolder::local(QDir::currentPath()));
        QCOMPARE(menu->windowTitle(), QStringLiteral("メインメニュー"));
        QCOMPARE(menu->centralWidget()->size(), QSize(384, 291));
        QCOMPARE(menu->minimumSize(), menu->maximumSize());
        const struct {
            const char* name;
            const char* caption;
            QRect geometry;
        } buttons[] = {{"SpeedButton3", "名刺登録", {35, 38, 137, 78}},
                       {"SpeedButton1", "名刺一覧", {203, 38, 137, 78}},
                       {"SpeedButton8", "ヘルプ", {35, 142, 137, 78}},
                       {"SpeedButton6", "閉じる", {203, 142, 137, 78}}};
        for (const auto& b : buttons) {
            auto* button = menu->findChild<QPushButton*>(b.name);
            QVERIFY(button);
            QCOMPARE(button->text(), QString::fromUtf8(b.caption));
            QCOMPARE(button->geometry(), b.geometry);
            QCOMPARE(button->focusPolicy(), Qt::NoFocus);
        }
        QCOMPARE(menu->N2->text(), QStringLiteral("終了"));
        QCOMPARE(menu->N4->text(), QStringLiteral("バージョン"));
        QVERIFY(menu->Label4->text().startsWith("olvemark :  http://"));
    }

    void webLinksGoToTheShell() {
        MessageRecorder boxes;
        startProgram(CardFolder::local(QDir::currentPath()));
        QTest::mouseClick(menu->Label4, Qt::LeftButton);
        menu->SpeedButton8->click();
        QCOMPARE(m_shell->urls, (QStringList{Tmenu::kHomePage, Tmenu::kManualPage}));
        QVERIFY(Tmenu::kManualPage.endsWith("/olvemark/soft/Manual/Business_card001.html"));
        QVERIFY(menu->isVisible());
    }

    void closingEndsTheProgram_data() {
        QTest::addColumn<int>("how");
        QTest::newRow("閉じる") << 0;
        QTest::newRow("終了") << 1;
        QTest::newRow("title bar") << 2;
    }
    void closingEndsTheProgram() {
        QFETCH(int, how);
        testdb::create(m_dir.path());
        MessageRecorder boxes;
        startProgram(CardFolder::local(QDir::currentPath()));
        if (how == 0)
            menu->SpeedButton6->click();
        else if (how == 1)
            menu->N2->trigger();
        else
            menu->close();
        QVERIFY(!menu->isVisible());
        QVERIFY(boxes.shown.isEmpty());
    }

    void styleIsFoundWithoutRegardToCase() {
        QVERIFY(applyVisualStyle("aqua light SLATE"));
        QVERIFY(!applyVisualStyle("Nonexistent Style"));
    }
};

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
