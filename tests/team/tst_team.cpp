// Several people on one card file through a real Firebird server: every new card gets the key
// its own insert was given, a change made by someone else is never silently overwritten, a
// deletion is seen by the others, the folded search finds their cards, a wrong password and a
// lost server are told plainly.

#include "carddatabase.h"
#include "cardeditorwindow.h"
#include "cardlistwindow.h"
#include "cards.h"
#include "cardsearch.h"
#include "controls.h"
#include "duplicateswindow.h"
#include "fakes.h"
#include "programundertest.h"
#include "startup.h"
#include "stringgrid.h"
#include "testserver.h"
#include "usersettings.h"

#include <QCheckBox>
#include <QCursor>
#include <QDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QStandardPaths>

#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <thread>

using cards::CardTexts;

namespace {

CardTexts texts(const QString& name) {
    return {.name = name,
            .organisation = QStringLiteral("北星商事"),
            .year = QStringLiteral("2026"),
            .month = QStringLiteral("12"),
            .day = QStringLiteral("09")};
}

}  // namespace

class TestTeam final : public QObject {
    Q_OBJECT

    std::unique_ptr<TestServer> m_server;
    QString m_database;
    QTemporaryDir m_folder;

    // One person's desk: their own connection with their own database user.
    std::unique_ptr<CardDatabase> desk(const QString& user, const QString& password = {}) {
        auto dm = std::make_unique<CardDatabase>(CardFolder::resolve(m_folder.path(), m_database));
        dm->setCredentials(user, password.isNull() ? TestServer::password(user) : password);
        dm->open();
        return dm;
    }

private slots:
    // The remembered login name goes to a test folder, never to the user's settings.
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void init() {
        m_server = std::make_unique<TestServer>();
        m_database = m_server->makeCardFile();
        m_server->start();
    }
    void cleanup() { m_server.reset(); }

    void newCardsOfTwoPeopleGetTheirOwnKeys() {
        constexpr int kEach = 40;
        QList<int> keys[2];
        QString failures[2];
        auto work = [&](int who) {
            try {
                auto dm = desk(who ? "BOB" : "ALICE");
                for (int i = 0; i < kEach; ++i) {
                    const auto key =
                        cards::newCardInsert(*dm, texts(QStringLiteral("%1-%2").arg(who).arg(i)));
                    keys[who] << cards::newCardKey(*dm, key);
                }
            } catch (const std::exception& e) {
                failures[who] = QString::fromUtf8(e.what());
            }
        };
        std::thread bob(work, 1);
        work(0);
        bob.join();
        QVERIFY2(failures[0].isEmpty() && failures[1].isEmpty(), qPrintable(failures[0] + failures[1]));
        auto dm = desk("ALICE");
        QSet<int> all;
        for (int who : {0, 1}) {
            for (int i = 0; i < kEach; ++i) {
                const int key = keys[who][i];
                QVERIFY(!all.contains(key));
                all.insert(key);
                // The key names the card this person wrote, never the other's.
                QCOMPARE(cards::fetchCard(*dm, key)->texts.name, QStringLiteral("%1-%2").arg(who).arg(i));
            }
        }
        QVERIFY(!dm->transaction.isActive());  // nothing stays open between actions
    }

    void changeBySomeoneElseIsNeverOverwrittenSilently() {
        auto alice = desk("ALICE");
        auto bob = desk("BOB");
        const int key = cards::newCardKey(*alice, cards::newCardInsert(*alice, texts("first")));
        const auto aliceLoaded = cards::fetchCard(*alice, key);
        const auto bobLoaded = cards::fetchCard(*bob, key);
        QVERIFY(aliceLoaded && bobLoaded);

        cards::cardRewrite(*alice, QString::number(key), texts("alice"), cards::CardState::Live,
                           &*aliceLoaded);
        try {
            cards::cardRewrite(*bob, QString::number(key), texts("bob"), cards::CardState::Live, &*bobLoaded);
            QFAIL("Bob's change overwrote Alice's without a word");
        } catch (const cards::CardChanged& e) {
            QCOMPARE(e.current.texts.name, QStringLiteral("alice"));
        }
        QCOMPARE(cards::fetchCard(*bob, key)->texts.name, QStringLiteral("alice"));
        // A change of letter case alone is a change too, whatever the column's collation.
        const auto reloaded = cards::fetchCard(*bob, key);
        cards::cardRewrite(*alice, QString::number(key), texts("ALICE"), cards::CardState::Live, &*reloaded);
        QVERIFY_THROWS_EXCEPTION(
            cards::CardChanged,
            cards::cardRewrite(*bob, QString::number(key), texts("bob"), cards::CardState::Live, &*reloaded));
        cards::cardRewrite(*bob, QString::number(key), texts("bob"),
                           cards::CardState::Live);  // overwrite, chosen
        QCOMPARE(cards::fetchCard(*alice, key)->texts.name, QStringLiteral("bob"));
    }

    void deletionIsSeenByTheOthers() {
        auto alice = desk("ALICE");
        auto bob = desk("BOB");
        const int key = cards::newCardKey(*alice, cards::newCardInsert(*alice, texts("card")));
        const auto loaded = cards::fetchCard(*bob, key);
        QCOMPARE(loaded->state, cards::CardState::Live);
        cards::cardRewrite(*alice, QString::number(key), loaded->texts, cards::CardState::Deleted, &*loaded);
        QCOMPARE(cards::fetchCard(*bob, key)->state, cards::CardState::Deleted);
        cards::prepareSearch(bob->statement, cards::SearchField::Name, "");
        bob->statement.open();
        QCOMPARE(bob->statement.rowCount(), 1);
        QVERIFY(!bob->transaction.isActive());
    }

    // The search that ignores kana and width asks the server the same as the embedded engine,
    // and finds another person's cards in every form.
    void foldedSearchThroughTheServer() {
        auto alice = desk("ALICE");
        auto bob = desk("BOB");
        CardTexts reading = texts(QStringLiteral("田中"));
        reading.reading = QStringLiteral("たなか");
        const int first = cards::newCardKey(*alice, cards::newCardInsert(*alice, reading));
        const int second =
            cards::newCardKey(*alice, cards::newCardInsert(*alice, texts(QStringLiteral("ﾀﾅｶ商店"))));
        cards::newCardInsert(*alice, texts(QStringLiteral("佐藤")));
        const auto found = search::findCards(bob->statement, cards::SearchField::Name,
                                             QStringLiteral("タナカ"), true, cards::CardState::Deleted);
        QCOMPARE(found.size(), std::size_t(2));
        QCOMPARE(found[0].key, QString::number(second));
        QCOMPARE(found[1].key, QString::number(first));
        QVERIFY(!bob->transaction.isActive());
    }

    void wrongPasswordIsRefusedPlainly() {
        try {
            desk("ALICE", "wrong");
            QFAIL("logged in with a wrong password");
        } catch (const DbError& e) {
            QCOMPARE(e.problem(), DbProblem::Login);
            QVERIFY2(QString::fromUtf8(e.what()).contains(QStringLiteral("パスワードが違います")), e.what());
        }
        qputenv("ISC_USER", "BOB");  // the client library's own way to log in
        qputenv("ISC_PASSWORD", TestServer::password("BOB").toUtf8());
        auto dm = std::make_unique<CardDatabase>(CardFolder::resolve(m_folder.path(), m_database));
        dm->open();
        qunsetenv("ISC_USER");
        qunsetenv("ISC_PASSWORD");
        QVERIFY(cards::newCardInsert(*dm, texts("env")));
    }

    // Without ISC_USER the program asks who logs in: a wrong password is told plainly and the
    // dialog comes again with the name typed; the right one connects, and the name is offered
    // at the next start. With no keyring on this desk, "保存" keeps nothing and connects all the
    // same. Cancelling connects nothing and says so.
    void loginDialogUntilTheRightPassword() {
        usersettings::UserSettings().remove(QStringLiteral("team/user"));
        const CardFolder folder = CardFolder::resolve(m_folder.path(), m_database);
        MessageRecorder boxes;
        QStringList passwords{QStringLiteral("wrong"), TestServer::password("BOB")};
        QStringList namesOffered;
        boxes.onShowModal = [&](QDialog* dialog) {
            namesOffered << ctl<QLineEdit>(dialog, "user")->text();
            ctl<QLineEdit>(dialog, "user")->setText(QStringLiteral("BOB"));
            ctl<QLineEdit>(dialog, "password")->setText(passwords.takeFirst());
            ctl<QCheckBox>(dialog, "remember")->setChecked(true);
            dialog->accept();
        };
        program = composeProgram(folder);
        {
            auto end = qScopeGuard([] { program.reset(); });
            QCOMPARE(namesOffered, (QStringList{QString(), QStringLiteral("BOB")}));
            QCOMPARE(boxes.texts("error").size(), 1);
            QVERIFY(boxes.texts("error")[0].contains(QStringLiteral("パスワードが違います")));
            QVERIFY(cards::newCardInsert(*program->database(), texts("logged in")));
        }
        // The name is remembered in the one settings file the search option is kept in too.
        QCOMPARE(QSettings(usersettings::filePath(), QSettings::IniFormat).value("team/user").toString(),
                 QStringLiteral("BOB"));
        QVERIFY(!QFileInfo::exists(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
                                   "/Unknown Organization/Tavrona.conf"));

        boxes.clear();
        namesOffered.clear();
        boxes.onShowModal = [&](QDialog* dialog) {
            namesOffered << ctl<QLineEdit>(dialog, "user")->text();
            dialog->reject();
        };
        program = composeProgram(folder);
        auto end = qScopeGuard([] { program.reset(); });
        QCOMPARE(namesOffered, QStringList{QStringLiteral("BOB")});
        QCOMPARE(boxes.texts("error").size(), 1);
        QVERIFY2(boxes.texts("error")[0].contains(QStringLiteral("への接続をやめました")),
                 qPrintable(boxes.texts("error")[0]));
        QVERIFY(!program->database()->connection.isConnected());
    }

    // A server that cannot be reached at start is told as such, not as a connection lost.
    void unreachableServerIsToldPlainly() {
        CardDatabase dm(
            CardFolder::resolve(m_folder.path(), QStringLiteral("127.0.0.1/1:/nowhere/DATA.FDB")));
        dm.setCredentials(QStringLiteral("BOB"), TestServer::password("BOB"));
        try {
            dm.open();
            QFAIL("connected to a server that is not there");
        } catch (const DbError& e) {
            QCOMPARE(e.problem(), DbProblem::Network);
            QVERIFY2(QString::fromUtf8(e.what()).startsWith(
                         QStringLiteral("カードファイル「127.0.0.1/1:/nowhere/"
                                        "DATA.FDB」のデータベースサーバーに接続できません。")),
                     e.what());
        }
    }

    // The editor on a second desk: Bob's save of a card Alice changed or deleted meanwhile asks
    // him which it is. "いいえ" writes nothing and shows the card as Alice left it (changed, or
    // deleted with only データ復元 offered); "はい" writes Bob's texts, a deleted card live again.
    void editorAsksBeforeOverwritingAChange_data() {
        const QString overwrite = QStringLiteral(
            "ほかの人がこのカードを変更しました。\r\n"
            "この内容で上書きしますか？\r\n"
            "「いいえ」を選ぶと、ほかの人の変更を読み込みます。");
        const QString restore = QStringLiteral(
            "このカードはほかの人が削除しました。\r\n"
            "この内容でカードを復元しますか？\r\n"
            "「いいえ」を選ぶと、カードは削除されたままになります。");
        QTest::addColumn<bool>("aliceDeletes");
        QTest::addColumn<QString>("question");
        QTest::addColumn<bool>("answer");
        QTest::addColumn<QString>("storedName");
        QTest::addColumn<bool>("storedDeleted");
        QTest::addColumn<QString>("shownName");
        QTest::addColumn<bool>("shownDeleted");
        QTest::newRow("changed, いいえ loads her change")
            << false << overwrite << false << "alice" << false << "alice" << false;
        QTest::newRow("changed, はい overwrites it")
            << false << overwrite << true << "bob" << false << "bob" << false;
        QTest::newRow("deleted, いいえ leaves it deleted")
            << true << restore << false << "alice" << true << "alice" << true;
        QTest::newRow("deleted, はい restores it with the change")
            << true << restore << true << "bob" << false << "bob" << false;
    }
    void editorAsksBeforeOverwritingAChange() {
        QFETCH(bool, aliceDeletes);
        QFETCH(QString, question);
        QFETCH(bool, answer);
        QFETCH(QString, storedName);
        QFETCH(bool, storedDeleted);
        QFETCH(QString, shownName);
        QFETCH(bool, shownDeleted);
        auto alice = desk("ALICE");
        const int key = cards::newCardKey(*alice, cards::newCardInsert(*alice, texts("first")));
        qputenv("ISC_USER", "BOB");
        qputenv("ISC_PASSWORD", TestServer::password("BOB").toUtf8());
        MessageRecorder boxes;
        program = composeProgram(CardFolder::resolve(m_folder.path(), m_database));
        auto end = qScopeGuard([] {
            program.reset();
            qunsetenv("ISC_USER");
            qunsetenv("ISC_PASSWORD");
        });
        QVERIFY(boxes.texts("error").isEmpty());
        program->cardEditor()->showCard(key, *cards::fetchCard(*program->database(), key));
        const auto aliceLoaded = cards::fetchCard(*alice, key);
        cards::cardRewrite(*alice, QString::number(key), texts("alice"),
                           aliceDeletes ? cards::CardState::Deleted : cards::CardState::Live, &*aliceLoaded);

        ctl<QLineEdit>(program->cardEditor(), "Edit4")->setText("bob");
        boxes.expectQuestion(QStringLiteral("登録しますか？"), true);
        boxes.expectQuestion(question, answer);
        ctl<QPushButton>(program->cardEditor(), "SpeedButton3")->click();
        QCOMPARE(boxes.texts("ask").size(), 2);
        const auto stored = cards::fetchCard(*alice, key);
        QCOMPARE(stored->texts.name, storedName);
        QCOMPARE(stored->state == cards::CardState::Deleted, storedDeleted);
        QCOMPARE(ctl<QLineEdit>(program->cardEditor(), "Edit4")->text(), shownName);
        QCOMPARE(ctl<QPushButton>(program->cardEditor(), "SpeedButton6")->isEnabled(),
                 shownDeleted);  // データ復元
        QCOMPARE(ctl<QPushButton>(program->cardEditor(), "SpeedButton5")->isEnabled(),
                 !shownDeleted);  // データ削除
        QCOMPARE(boxes.texts("show").contains(program->cardEditor()->savedMessage()), answer);
        QVERIFY(!program->database()->transaction.isActive());
    }

    // Bob's list still shows a card that Alice deleted meanwhile: opening it says so, and the
    // editor shows it as deleted.
    void openingACardSomeoneDeletedSaysSo() {
        auto alice = desk("ALICE");
        const int key = cards::newCardKey(*alice, cards::newCardInsert(*alice, texts("card")));
        qputenv("ISC_USER", "BOB");
        qputenv("ISC_PASSWORD", TestServer::password("BOB").toUtf8());
        MessageRecorder boxes;
        boxes.onShowModal = [](QDialog*) {};
        program = composeProgram(CardFolder::resolve(m_folder.path(), m_database));
        auto end = qScopeGuard([] {
            program.reset();
            qunsetenv("ISC_USER");
            qunsetenv("ISC_PASSWORD");
        });
        program->cardList()->openCardList();
        program->cardList()->show();
        QVERIFY(QTest::qWaitForWindowExposed(program->cardList()));
        const auto loaded = cards::fetchCard(*alice, key);
        cards::cardRewrite(*alice, QString::number(key), loaded->texts, cards::CardState::Deleted, &*loaded);

        StringGrid* grid = ctl<StringGrid>(program->cardList(), "SGrid1");
        const QModelIndex cell = grid->model()->index(0, 3);
        const QRect r = grid->visualRect(cell);
        QCursor::setPos(grid->viewport()->mapToGlobal(r.center()));
        QTest::mouseDClick(grid->viewport(), Qt::LeftButton, {}, r.center());
        QCOMPARE(boxes.texts("show"), QStringList{QStringLiteral("このカードはほかの人が削除しました。")});
        QVERIFY(ctl<QPushButton>(program->cardEditor(), "SpeedButton6")->isEnabled());  // データ復元
        QVERIFY(!ctl<QPushButton>(program->cardEditor(), "SpeedButton5")->isEnabled());
    }

    // Bob merges two cards while Alice changes one of them: the merge is refused in the error box
    // and both cards, with Alice's change, stay as they were.
    void mergeMeetsAChangeBySomeoneElse() {
        auto alice = desk("ALICE");
        auto bob = desk("BOB");
        QList<int> keys;
        for (const QString& memo : {QStringLiteral("一枚目"), QStringLiteral("二枚目")}) {
            CardTexts t = texts(QStringLiteral("山田"));
            t.memo = memo;
            keys << cards::newCardKey(*alice, cards::newCardInsert(*alice, t));
        }
        DuplicatesWindow window(*bob);
        window.refresh();
        QCOMPARE(window.groups().size(), 1);
        MessageRecorder boxes;
        boxes.onShowModal = [&](QDialog* merge) {
            const auto loaded = cards::fetchCard(*alice, keys[1]);
            CardTexts changed = loaded->texts;
            changed.memo = QStringLiteral("アリスの書き足し");
            cards::cardRewrite(*alice, QString::number(keys[1]), changed, cards::CardState::Live, &*loaded);
            merge->findChild<QPushButton*>("MergeButton")->click();
        };
        window.m_mergeButton->click();
        QCOMPARE(boxes.modals.size(), 1);
        QCOMPARE(boxes.texts("error").size(), 1);
        QVERIFY2(boxes.texts("error")[0].contains(QStringLiteral("ほかの人が変更しました")),
                 qPrintable(boxes.texts("error")[0]));
        const auto first = cards::fetchCard(*alice, keys[0]);
        const auto second = cards::fetchCard(*alice, keys[1]);
        QCOMPARE(first->texts.memo, QStringLiteral("一枚目"));
        QCOMPARE(first->state, cards::CardState::Live);
        QCOMPARE(second->texts.memo, QStringLiteral("アリスの書き足し"));
        QCOMPARE(second->state, cards::CardState::Live);
        QVERIFY(!bob->transaction.isActive());
    }

    void lostServerLosesNothing() {
        auto alice = desk("ALICE");
        const int key = cards::newCardKey(*alice, cards::newCardInsert(*alice, texts("kept")));
        const auto loaded = cards::fetchCard(*alice, key);
        m_server->kill();
        m_server->start();
        try {
            cards::cardRewrite(*alice, QString::number(key), texts("during the outage"),
                               cards::CardState::Live, &*loaded);
        } catch (const DbError& e) {
            QCOMPARE(e.problem(), DbProblem::Network);
            QVERIFY2(QString::fromUtf8(e.what()).contains(QStringLiteral("サーバー")), e.what());
        }
        // The next action attaches again and finds the card as last committed.
        const auto after = cards::fetchCard(*alice, key);
        QVERIFY(after);
        QVERIFY(after->texts.name == QStringLiteral("kept") ||
                after->texts.name == QStringLiteral("during the outage"));
        cards::cardRewrite(*alice, QString::number(key), texts("after"), cards::CardState::Live, &*after);
        QCOMPARE(cards::fetchCard(*alice, key)->texts.name, QStringLiteral("after"));
    }
};

QTEST_MAIN(TestTeam)
#include "tst_team.moc"
