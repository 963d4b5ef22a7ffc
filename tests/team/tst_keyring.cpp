// The password kept with "保存" in a real desktop keyring: kept apart for each person and card
// file, used at the next start without asking, and forgotten once the server refuses it.

#include "carddatabase.h"
#include "cardfolder.h"
#include "cards.h"
#include "controls.h"
#include "fakes.h"
#include "login.h"
#include "programundertest.h"
#include "startup.h"
#include "testserver.h"
#include "usersettings.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QLineEdit>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWidget>

class TestKeyring final : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void keptForEachPersonAndCardFile() {
        const QString a = QStringLiteral("127.0.0.1/3050:/srv/a.fdb"),
                      b = QStringLiteral("127.0.0.1/3050:/srv/b.fdb");
        login::keepPassword(a, QStringLiteral("ALICE"), QStringLiteral("パス１"));
        login::keepPassword(b, QStringLiteral("ALICE"), QStringLiteral("pass-b"));
        login::keepPassword(a, QStringLiteral("BOB"), QStringLiteral("pass-bob"));
        QCOMPARE(login::keptPassword(a, QStringLiteral("ALICE")),
                 std::optional<QString>(QStringLiteral("パス１")));
        QCOMPARE(login::keptPassword(b, QStringLiteral("ALICE")),
                 std::optional<QString>(QStringLiteral("pass-b")));
        QCOMPARE(login::keptPassword(a, QStringLiteral("BOB")),
                 std::optional<QString>(QStringLiteral("pass-bob")));
        login::forgetPassword(a, QStringLiteral("ALICE"));
        QCOMPARE(login::keptPassword(a, QStringLiteral("ALICE")), std::nullopt);
        QCOMPARE(login::keptPassword(b, QStringLiteral("ALICE")),
                 std::optional<QString>(QStringLiteral("pass-b")));
        QCOMPARE(login::keptPassword(a, QStringLiteral("CAROL")), std::nullopt);
    }

    // "保存" keeps the password, and the next start logs in with it without a dialog. A kept
    // password the server no longer takes is forgotten: the dialog comes with the message.
    void nextStartLogsInWithTheKeptPassword() {
        TestServer server;
        const QString database = server.makeCardFile();
        server.start();
        QTemporaryDir folderDir;
        const CardFolder folder = CardFolder::resolve(folderDir.path(), database);
        usersettings::UserSettings().remove(QStringLiteral("team/user"));
        MessageRecorder boxes;
        int dialogs = 0;
        boxes.onShowModal = [&](QDialog* dialog) {
            ++dialogs;
            ctl<QLineEdit>(dialog, "user")->setText(QStringLiteral("BOB"));
            ctl<QLineEdit>(dialog, "password")->setText(TestServer::password("BOB"));
            ctl<QCheckBox>(dialog, "remember")->setChecked(true);
            dialog->accept();
        };
        const auto start = [&] {
            program = composeProgram(folder);
            auto end = qScopeGuard([] { program.reset(); });
            return program->database()->connection.isConnected();
        };
        // Whenever the first start waits (for the keyring above all, which may ask for a new
        // keyring's password in a prompt of its own), a window of the program is on the screen.
        QStringList windowsWhileWaiting;
        QTimer waiting;
        waiting.setInterval(0);
        connect(&waiting, &QTimer::timeout, [&] {
            QStringList shown;
            for (const QWidget* w : QApplication::topLevelWidgets()) {
                if (w->isVisible())
                    shown << w->windowTitle();
            }
            windowsWhileWaiting << (shown.isEmpty() ? QStringLiteral("(none)")
                                                    : shown.join(QLatin1Char('+')));
        });
        waiting.start();
        QVERIFY(start());
        waiting.stop();
        QCOMPARE(dialogs, 1);
        QVERIFY(!windowsWhileWaiting.isEmpty());
        QVERIFY2(!windowsWhileWaiting.contains(QStringLiteral("(none)")),
                 qPrintable(windowsWhileWaiting.join(", ")));
        QCOMPARE(login::keptPassword(database, QStringLiteral("BOB")),
                 std::optional(TestServer::password("BOB")));

        QVERIFY(start());
        QCOMPARE(dialogs, 1);
        QVERIFY(boxes.texts("error").isEmpty());

        login::keepPassword(database, QStringLiteral("BOB"), QStringLiteral("changed-since"));
        QVERIFY(start());
        QCOMPARE(dialogs, 2);
        QCOMPARE(boxes.texts("error").size(), 1);
        QVERIFY(boxes.texts("error")[0].contains(QStringLiteral("パスワードが違います")));
        QCOMPARE(login::keptPassword(database, QStringLiteral("BOB")),
                 std::optional(TestServer::password("BOB")));
    }
};

QTEST_MAIN(TestKeyring)
#include "tst_keyring.moc"
