// Start-up and the main menu: the order of creation, a missing database, the web links, the
// end of the program, and a second copy in the same card folder.

#include "carddatabase.h"
#include "cardeditorwindow.h"
#include "cardlistwindow.h"
#include "cardmatch.h"
#include "cards.h"
#include "controls.h"
#include "fakes.h"
#include "japanese.h"
#include "mainmenuwindow.h"
#include "messages.h"
#include "openwait.h"
#include "programundertest.h"
#include "startup.h"
#include "stringgrid.h"
#include "testdb.h"
#include "transferwindows.h"
#include "usersettings.h"
#include "versionwindow.h"
#include "visualstyle.h"

#include <QAccessible>
#include <QApplication>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeView>

#include <atomic>
#include <csignal>
#include <thread>

class TestStartup final : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_startDir;
    std::unique_ptr<RecordingShell> m_shellFake;
    RecordingShell* m_shell = nullptr;

private slots:
    void initTestCase() {
        QStandardPaths::setTestModeEnabled(true);  // the search option is kept apart from the user's
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
        program.reset();
        platform::setShell(nullptr);
        QDir::setCurrent(m_startDir);
        QDir(m_dir.path() + "/data").removeRecursively();
    }

    void missingDatabaseShowsOneErrorAndTheMenuStillOpens() {
        MessageRecorder boxes;
        program = startProgram(CardFolder::local(QDir::currentPath()));
        QCOMPARE(boxes.texts("error").size(), 1);
        QVERIFY2(boxes.texts("error")[0].contains("DATA.FDB"), qPrintable(boxes.texts("error")[0]));
        QVERIFY(program->mainMenu()->isVisible());
        QVERIFY(program->cardEditor() && program->cardList() && program->versionWindow() &&
                program->database());
        QVERIFY(!program->database()->connection.isConnected());

        // The next statement tries again: still missing, then found once the file exists.
        messages::guarded(program->mainMenu(), [] { cards::newestKey(program->database()->statement); });
        QCOMPARE(boxes.texts("error").size(), 2);
        testdb::create(m_dir.path());
        int key = -1;
        messages::guarded(program->mainMenu(),
                          [&] { key = cards::newestKey(program->database()->statement); });
        QCOMPARE(boxes.texts("error").size(), 2);
        QCOMPARE(key, 0);
    }

    void databasePathIsFixedAtStartUp() {
        testdb::create(m_dir.path());
        MessageRecorder boxes;
        program = startProgram(CardFolder::local(QDir::currentPath()));
        QVERIFY(boxes.shown.isEmpty());
        QDir::setCurrent(m_startDir);
        program->database()->connection.reconnect();  // still the card folder's file
        QCOMPARE(program->database()->databasePath(),
                 QDir::toNativeSeparators(m_dir.path() + "/data/DATA.FDB"));
    }

    void mainMenuLooksAsDesigned() {
        MessageRecorder boxes;
        program = startProgram(CardFolder::local(QDir::currentPath()));
        QCOMPARE(program->mainMenu()->windowTitle(), QStringLiteral("メインメニュー"));
        QCOMPARE(program->mainMenu()->centralWidget()->size(), QSize(384, 291));
        QCOMPARE(program->mainMenu()->minimumSize(), program->mainMenu()->maximumSize());
        for (const auto& row : MainMenuWindow::buttonRows()) {
            auto* button = program->mainMenu()->findChild<QPushButton*>(row.spec.name());
            QVERIFY(button);
            QCOMPARE(button->text(), row.spec.caption);
            QCOMPARE(button->geometry(), row.spec.rect);
            QCOMPARE(button->focusPolicy(), Qt::TabFocus);  // Tab reaches it, a click does not focus it
        }
        QCOMPARE(ctl<QAction>(program->mainMenu(), "N2")->text(), QStringLiteral("終了"));
        QCOMPARE(ctl<QAction>(program->mainMenu(), "N4")->text(), QStringLiteral("バージョン"));
        QVERIFY(ctl<LinkLabel>(program->mainMenu(), "Label4")->text().startsWith("olvemark :  http://"));
    }

    // Tab goes round the four buttons and the home page link; Enter, Return or Space presses the
    // one that has the focus.
    void menuButtonsFromTheKeyboard_data() {
        QTest::addColumn<QString>("button");
        QTest::addColumn<int>("key");
        QTest::addColumn<QStringList>("tabOrder");  // from 名刺登録, Tab or Shift+Tab until the button
        const QStringList forward{"SpeedButton3", "SpeedButton1", "SpeedButton8", "SpeedButton6"};
        QTest::newRow("名刺登録, Return")
            << "SpeedButton3" << int(Qt::Key_Return) << QStringList{"SpeedButton3"};
        QTest::newRow("名刺一覧, Enter") << "SpeedButton1" << int(Qt::Key_Enter) << forward.mid(0, 2);
        QTest::newRow("ヘルプ, Space") << "SpeedButton8" << int(Qt::Key_Space) << forward.mid(0, 3);
        QTest::newRow("閉じる, Return") << "SpeedButton6" << int(Qt::Key_Return) << forward;
        QTest::newRow("閉じる backwards, Return")
            << "SpeedButton6" << int(Qt::Key_Return) << QStringList{"SpeedButton3", "Label4", "SpeedButton6"};
        QTest::newRow("home page link, Return")
            << "Label4" << int(Qt::Key_Return) << forward + QStringList{"Label4"};
        QTest::newRow("ヘルプ backwards, Enter")
            << "SpeedButton8" << int(Qt::Key_Enter)
            << QStringList{"SpeedButton3", "Label4", "SpeedButton6", "SpeedButton8"};
    }
    void menuButtonsFromTheKeyboard() {
        QFETCH(QString, button);
        QFETCH(int, key);
        QFETCH(QStringList, tabOrder);
        testdb::create(m_dir.path());
        MessageRecorder boxes;
        program = startProgram(CardFolder::local(QDir::currentPath()));
        MainMenuWindow* menu = program->mainMenu();
        menu->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(menu));
        const bool backwards = tabOrder.size() > 1 && tabOrder[1] == "Label4";
        ctl<QPushButton>(menu, "SpeedButton3")->setFocus();
        QStringList walked{QApplication::focusWidget()->objectName()};
        while (walked.size() < tabOrder.size()) {
            QTest::keyClick(QApplication::focusWidget(), backwards ? Qt::Key_Backtab : Qt::Key_Tab,
                            backwards ? Qt::ShiftModifier : Qt::NoModifier);
            walked << QApplication::focusWidget()->objectName();
        }
        QCOMPARE(walked, tabOrder);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key(key));
        if (button == "SpeedButton3")
            QCOMPARE(boxes.modals, QList<QDialog*>{program->cardEditor()});
        else if (button == "SpeedButton1")
            QCOMPARE(boxes.modals, QList<QDialog*>{program->cardList()});
        else if (button == "SpeedButton8")
            QCOMPARE(m_shell->urls, QStringList{MainMenuWindow::kManualPage});
        else if (button == "Label4")
            QCOMPARE(m_shell->urls, QStringList{MainMenuWindow::kHomePage});
        QCOMPARE(menu->isVisible(), button != "SpeedButton6");
        QVERIFY(boxes.texts("error").isEmpty());
    }

    // What a screen reader finds in the main menu: the buttons with their names and press
    // action, and the search option as an item that can be checked (a check box in its menu),
    // whether it is or not, in its place among the menu's items.
    void menuSpeaksToScreenReaders_data() {
        QTest::addColumn<QString>("control");
        QTest::addColumn<int>("role");
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("checkedBefore");
        QTest::newRow("名刺登録") << "SpeedButton3" << int(QAccessible::Button) << "名刺登録" << false;
        QTest::newRow("閉じる") << "SpeedButton6" << int(QAccessible::Button) << "閉じる" << false;
        QTest::newRow("home page link")
            << "Label4" << int(QAccessible::Link)
            << QStringLiteral("olvemark :  ") + MainMenuWindow::kHomePage << false;
        QTest::newRow("search option, off")
            << "N5" << int(QAccessible::CheckBox) << "かな・全角半角を区別せずに検索" << false;
        QTest::newRow("search option, on")
            << "N5" << int(QAccessible::CheckBox) << "かな・全角半角を区別せずに検索" << true;
    }
    void menuSpeaksToScreenReaders() {
        QFETCH(QString, control);
        QFETCH(int, role);
        QFETCH(QString, name);
        QFETCH(bool, checkedBefore);
        QFile::remove(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
                      "/Tavrona/Tavrona.conf");
        testdb::create(m_dir.path());
        MessageRecorder boxes;
        program = startProgram(CardFolder::local(QDir::currentPath()));
        QAccessibleInterface* iface = nullptr;
        if (control == "N5") {
            // Found as a screen reader finds it: among the children of the option menu.
            auto* option = ctl<QAction>(program->mainMenu(), "N5");
            option->setChecked(checkedBefore);
            QAccessibleInterface* optionMenu =
                QAccessible::queryAccessibleInterface(ctl<QMenu>(program->mainMenu(), "N3"));
            QVERIFY(optionMenu);
            for (int i = 0; i < optionMenu->childCount(); ++i) {
                if (optionMenu->child(i)->object() == option)
                    iface = optionMenu->child(i);
            }
            QVERIFY(iface);
            QCOMPARE(optionMenu->indexOfChild(iface), 0);
            QCOMPARE(iface->parent(), optionMenu);
            // The menu's other items read as before.
            QCOMPARE(optionMenu->childCount(), 3);
            QCOMPARE(optionMenu->child(1)->role(), QAccessible::Separator);
            QCOMPARE(optionMenu->child(2)->role(), QAccessible::MenuItem);
            QCOMPARE(optionMenu->child(2)->text(QAccessible::Name), QStringLiteral("バージョン"));
            QVERIFY(!optionMenu->child(2)->state().checkable);
            QCOMPARE(optionMenu->indexOfChild(optionMenu->child(2)), 2);
        } else {
            iface = QAccessible::queryAccessibleInterface(program->mainMenu()->findChild<QWidget*>(control));
        }
        QVERIFY(iface);
        QCOMPARE(int(iface->role()), role);
        QCOMPARE(iface->text(QAccessible::Name), name);
        QVERIFY(iface->actionInterface());
        QVERIFY(iface->actionInterface()->actionNames().contains(QAccessibleActionInterface::pressAction()));
        if (control == "N5") {
            QVERIFY(iface->state().checkable);
            QCOMPARE(bool(iface->state().checked), checkedBefore);
            iface->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
            QCOMPARE(bool(iface->state().checked), !checkedBefore);
            QCOMPARE(usersettings::foldedSearchOn(), !checkedBefore);  // remembered as a click does
            usersettings::setFoldedSearchOn(false);
        } else if (control == "Label4") {
            iface->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
            QCOMPARE(m_shell->urls, QStringList{MainMenuWindow::kHomePage});
        }
        QVERIFY(boxes.texts("error").isEmpty());
    }

    void webLinksGoToTheShell() {
        MessageRecorder boxes;
        program = startProgram(CardFolder::local(QDir::currentPath()));
        QTest::mouseClick(ctl<LinkLabel>(program->mainMenu(), "Label4"), Qt::LeftButton);
        ctl<QPushButton>(program->mainMenu(), "SpeedButton8")->click();
        QCOMPARE(m_shell->urls, (QStringList{MainMenuWindow::kHomePage, MainMenuWindow::kManualPage}));
        QVERIFY(MainMenuWindow::kManualPage.endsWith("/olvemark/soft/Manual/Business_card001.html"));
        QVERIFY(program->mainMenu()->isVisible());
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
        program = startProgram(CardFolder::local(QDir::currentPath()));
        if (how == 0)
            ctl<QPushButton>(program->mainMenu(), "SpeedButton6")->click();
        else if (how == 1)
            ctl<QAction>(program->mainMenu(), "N2")->trigger();
        else
            program->mainMenu()->close();
        QVERIFY(!program->mainMenu()->isVisible());
        QVERIFY(boxes.shown.isEmpty());
    }

    // The menu's search option: off at first, remembered between runs, and in force in the list.
    void foldedSearchOptionFromTheMenu() {
        QFile::remove(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
                      "/Tavrona/Tavrona.conf");
        testdb::create(m_dir.path());
        MessageRecorder boxes;
        program = startProgram(CardFolder::local(QDir::currentPath()));
        const cards::CardTexts card{"田中 太郎", "たなか たろう", "", "", "", "", "2024", "1", "1"};
        cards::insertCard(program->database()->statement, "1", card, cards::CardState::Live);
        QCOMPARE(ctl<QAction>(program->mainMenu(), "N5")->text(),
                 QStringLiteral("かな・全角半角を区別せずに検索"));
        QVERIFY(ctl<QAction>(program->mainMenu(), "N5")->isCheckable());
        QVERIFY(!ctl<QAction>(program->mainMenu(), "N5")->isChecked());

        ctl<QLineEdit>(program->cardList(), "Edit1")->setText(QStringLiteral("タナカ"));
        ctl<QPushButton>(program->cardList(), "SpeedButton1")->click();
        QCOMPARE(ctl<StringGrid>(program->cardList(), "SGrid1")->cell(0, 1), QString());
        ctl<QAction>(program->mainMenu(), "N5")->trigger();
        ctl<QPushButton>(program->cardList(), "SpeedButton1")->click();
        QCOMPARE(ctl<StringGrid>(program->cardList(), "SGrid1")->cell(0, 1), QStringLiteral("1"));

        program.reset();
        program = startProgram(CardFolder::local(QDir::currentPath()));
        QVERIFY(ctl<QAction>(program->mainMenu(), "N5")->isChecked());
        ctl<QAction>(program->mainMenu(), "N5")->trigger();
        program.reset();
        program = startProgram(CardFolder::local(QDir::currentPath()));
        QVERIFY(!ctl<QAction>(program->mainMenu(), "N5")->isChecked());
        QVERIFY(boxes.texts("error").isEmpty());
    }

    // Opening the card file runs beside a live event loop: an open that takes long shows the file
    // it waits for with 中止, which ends the wait at once; a quick open shows nothing.
    void openShowsItsWait_data() {
        QTest::addColumn<QString>("open");  // quick, failing, slow (ends once the window shows), stuck
        QTest::addColumn<bool>("windowShown");
        QTest::addColumn<QString>("outcome");  // done, stopped, thrown
        QTest::newRow("quick open: no window") << "quick" << false << "done";
        QTest::newRow("failure comes back to the caller") << "failing" << false << "thrown";
        QTest::newRow("slow open: the window, then on") << "slow" << true << "done";
        QTest::newRow("stuck open: 中止 ends the wait") << "stuck" << true << "stopped";
    }

    void openShowsItsWait() {
        QFETCH(QString, open);
        QFETCH(bool, windowShown);
        QFETCH(QString, outcome);
        auto release = std::make_shared<std::atomic<bool>>(false);
        auto work = [open, release] {
            if (open == "failing")
                throw DbError(QStringLiteral("開けません"));
            if (open == "quick")
                return;
            while (!*release)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
        };
        bool shown = false;
        QString text;
        QTimer watch;
        connect(&watch, &QTimer::timeout, this, [&] {
            for (QWidget* w : QApplication::topLevelWidgets()) {
                if (w->objectName() != "openWaitWindow" || !w->isVisible() || shown)
                    continue;
                shown = true;
                text = ctl<QLabel>(w, "openWaitText")->text();
                if (open == "stuck")
                    ctl<QPushButton>(w, "openWaitStop")->click();
                else
                    *release = true;
            }
        });
        watch.start(20);
        QString got;
        try {
            got = openwait::runWhileWaiting("/cards/data/DATA.FDB", work, std::chrono::milliseconds(200)) ==
                          openwait::Outcome::Done
                      ? "done"
                      : "stopped";
        } catch (const DbError&) {
            got = "thrown";
        }
        *release = true;
        QCOMPARE(got, outcome);
        QCOMPARE(shown, windowShown);
        if (shown)
            QVERIFY2(text.contains("/cards/data/DATA.FDB"), qPrintable(text));
        for (QWidget* w : QApplication::topLevelWidgets())
            QVERIFY(w->objectName() != "openWaitWindow" || !w->isVisible());
    }

    // The program blocks its termination signals in every thread; a document opened on the desktop
    // must not inherit that, or the spreadsheet would ignore a logout.
    void desktopProgramsGetTheSignalsBack() {
        platform::setShell(nullptr);
        const QString bin = m_dir.path() + "/bin", seen = m_dir.path() + "/blocked";
        QVERIFY(QDir().mkpath(bin));
        auto script = [&](const QString& name, const QByteArray& body) {
            QFile f(bin + "/" + name);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("#!/bin/sh\n" + body);
            f.close();
            f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        };
        script("xdg-mime", "echo application/x-card-sheet\n");
        script("xdg-open", "grep SigBlk /proc/self/status > " + QFile::encodeName(seen) + ".part && mv " +
                               QFile::encodeName(seen) + ".part " + QFile::encodeName(seen) + "\n");
        const QByteArray path = qgetenv("PATH");
        qputenv("PATH", QFile::encodeName(bin) + ":" + path);
        sigset_t set, old;
        sigemptyset(&set);
        sigaddset(&set, SIGTERM);
        ::pthread_sigmask(SIG_BLOCK, &set, &old);
        const bool opened = platform::shell().openDocument(m_dir.path() + "/sheet.xlsx", nullptr);
        ::pthread_sigmask(SIG_SETMASK, &old, nullptr);
        qputenv("PATH", path);
        QVERIFY(opened);
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(seen), 10000);
        QFile f(seen);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray mask = f.readAll().split(':').value(1).trimmed();
        QCOMPARE(mask.toULongLong(nullptr, 16) & (1ull << (SIGTERM - 1)), 0ull);
    }

    // Under the C locale (LANG=C.UTF-8, as this test runs) the file window of バックアップ and
    // the others speaks Japanese: Qt's buttons and labels, file types and dates.
    void fileWindowIsJapaneseWhateverTheLocale() {
        QCOMPARE(qgetenv("LC_ALL"), QByteArray("C.UTF-8"));
        QVERIFY(QLocale::system().language() != QLocale::Japanese);
        useJapaneseInterface();
        QTemporaryDir folder;
        QVERIFY(QDir(folder.path()).mkdir("backups"));
        QStringList seen;
        QTimer poll;
        poll.setInterval(20);
        QElapsedTimer waited;
        waited.start();
        connect(&poll, &QTimer::timeout, [&] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            auto* files = dialog->findChild<QTreeView*>("treeView");
            const QModelIndex root = files ? files->rootIndex() : QModelIndex();
            if (root.isValid() && files->model()->rowCount(root) == 1) {
                const QModelIndex backups = files->model()->index(0, 0, root);
                auto* buttons = dialog->findChild<QDialogButtonBox*>("buttonBox");
                seen = QStringList{buttons->button(QDialogButtonBox::Save)->text(),
                                   buttons->button(QDialogButtonBox::Cancel)->text(),
                                   ctl<QLabel>(dialog, "fileNameLabel")->text(),
                                   files->model()->headerData(2, Qt::Horizontal).toString(),
                                   backups.data().toString(),
                                   backups.siblingAtColumn(2).data().toString(),
                                   backups.siblingAtColumn(3).data().toString()};
            }
            if (!seen.isEmpty() || waited.elapsed() > 10000)
                dialog->reject();
        });
        poll.start();
        QVERIFY(transferwindows::fileChooser()
                    .saveFile(nullptr, QStringLiteral("バックアップ"), folder.filePath("名刺.fbk"),
                              QStringLiteral("バックアップ (*.fbk)"))
                    .isEmpty());
        QCOMPARE(seen.size(), 7);
        QCOMPARE(seen[0], QStringLiteral("保存(&S)"));
        QCOMPARE(seen[1], QStringLiteral("キャンセル"));
        QVERIFY2(seen[2].startsWith(QStringLiteral("ファイル名")), qPrintable(seen[2]));
        QCOMPARE(seen[3], QStringLiteral("タイプ"));
        QCOMPARE(seen[4], QStringLiteral("backups"));
        QCOMPARE(seen[5], QStringLiteral("フォルダ"));
        // Dates as Japanese write them: year first.
        QVERIFY2(seen[6].startsWith(QString::number(QDate::currentDate().year()) + QLatin1Char('/')),
                 qPrintable(seen[6]));
    }

    // A box's first line is Japanese whatever words a failure brought from the system; the
    // system's own text follows it, and a text already Japanese is shown as it is.
    void boxesBeginInJapanese_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("firstLine");
        QTest::newRow("permission") << "Permission denied"
                                    << "ファイルまたはフォルダにアクセスする権限がありません。";
        QTest::newRow("missing, in a longer text")
            << "open /home/u/cards.csv: No such file or directory\nmore"
            << "ファイルまたはフォルダが見つかりません。";
        QTest::newRow("disk full") << "No space left on device"
                                   << "ディスクがいっぱいです。";
        QTest::newRow("unknown words") << "Error creating output xlsx file"
                                       << "処理を完了できませんでした。";
        QTest::newRow("Japanese after an empty line") << "\r\n　登録しました。\r\n"
                                                      << "\r";
        QTest::newRow("already Japanese") << "ファイル「a.csv」に書き込めません: Permission denied"
                                          << "ファイル「a.csv」に書き込めません: Permission denied";
    }
    void boxesBeginInJapanese() {
        QFETCH(QString, text);
        QFETCH(QString, firstLine);
        MessageRecorder boxes;
        messages::error(nullptr, text);
        messages::show(nullptr, text);
        for (const QString& shown : boxes.texts("error") + boxes.texts("show")) {
            QCOMPARE(shown.section(QLatin1Char('\n'), 0, 0), firstLine);
            QVERIFY(shown.endsWith(text));
        }
        QCOMPARE(boxes.shown.size(), 2);
    }

    void styleIsFoundWithoutRegardToCase() {
        QVERIFY(applyVisualStyle("aqua light SLATE"));
        QVERIFY(!applyVisualStyle("Nonexistent Style"));
    }
};

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
