// The card statements and the two write sequences: what they find, and what survives a failure
// or a killed process at every step.

#include "carddatabase.h"
#include "cards.h"
#include "crashrecovery.h"
#include "testdb.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using cards::CardTexts;

namespace {

CardTexts card(const QString& name, const QString& organisation = {}, const QString& memo = {}) {
    return {.name = name,
            .organisation = organisation,
            .memo = memo,
            .year = QStringLiteral("2026"),
            .month = QStringLiteral("01"),
            .day = QStringLiteral("31")};
}

}  // namespace

class TestCards final : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<CardDatabase> m_dm;

    void open() {
        m_dm = std::make_unique<CardDatabase>(m_dir.path());
        m_dm->open();
    }
    DbStatement& q() { return m_dm->statement; }

    // Keys found by a search, highest first, as the card list walks them.
    QStringList search(cards::SearchField field, const QString& keyword) {
        cards::prepareSearch(q(), field, keyword);
        q().open();
        QStringList keys;
        q().last();
        while (!q().beforeFirst()) {
            keys << q().field("KEY1").text();
            q().prior();
        }
        return keys;
    }

    QString column(const QString& key, const char* name) {
        cards::prepareFetch(q(), key);
        q().open();
        const QString v = q().field(name).text();
        q().close();
        return v;
    }

    int count() {
        q().sql.clear();
        q().sql.add("SELECT COUNT(*) AS N FROM MST_CAR");
        q().open();
        return q().field("N").toInt();
    }

    bool triggerActive() { return cards::triggerState(q()) == cards::TriggerState::Active; }

    void exec(const char* sql) {
        q().sql.clear();
        q().sql.add(sql);
        q().execute();
        m_dm->transaction.commit();
    }

    // A row with exactly this key, whatever the file's trigger would make of it.
    void rawInsert(const QString& key, const QVariant& name, const QString& flag, const QString& org = {}) {
        exec("ALTER TRIGGER TRG_CAR INACTIVE");
        q().sql.clear();
        q().sql.add(
            "INSERT INTO MST_CAR (KEY1, SYASYU, KATABAN, MEMO, DEL_FLG1) VALUES (:K, :N, :O, :M, :F)");
        q().param("K").setText(key);
        if (!name.isNull())
            q().param("N").setText(name.toString());
        q().param("O").setText(org);
        q().param("M").setText(QStringLiteral("memo ") + key);
        q().param("F").setText(flag);
        q().open();
        exec("ALTER TRIGGER TRG_CAR ACTIVE");
    }

    int runWriter(const QStringList& args) {
        m_dm.reset();  // the engine opens the file exclusively: let the child have it
        QProcess child;
        child.start(QCoreApplication::applicationDirPath() + "/cardwriter", QStringList{m_dir.path()} + args);
        if (!child.waitForFinished(60000))
            return -1;
        open();
        return child.exitStatus() == QProcess::CrashExit ? 9 : child.exitCode();
    }

private slots:
    void init() {
        QVERIFY(m_dir.isValid());
        testdb::create(m_dir.path());
        open();
    }
    void cleanup() {
        cards::setStepObserver({});
        m_dm.reset();
    }

    void searchesMatchAnywhereInTheField() {
        rawInsert("1", QStringLiteral("山田 太郎"), "1", QStringLiteral("北星商事"));
        rawInsert("2", QStringLiteral("Tanaka"), "1", QStringLiteral("星野工業"));
        rawInsert("3", QStringLiteral("100%_done"), "-1", QStringLiteral("東京星"));
        rawInsert("4", QVariant(), "1", QStringLiteral("星"));  // null name
        rawInsert("5", QString(), "1", QString());              // empty name
        using F = cards::SearchField;
        QCOMPARE(search(F::Name, ""), (QStringList{"5", "3", "2", "1"}));  // null never matches
        QCOMPARE(search(F::Organisation, QStringLiteral("星")), (QStringList{"4", "3", "2", "1"}));
        if (testdb::defaultKind() == testdb::Kind::Ours) {          // the file's collation decides
            QCOMPARE(search(F::Name, "tanaka"), QStringList{"2"});  // letter case is ignored
            QCOMPARE(search(F::Name, QStringLiteral("ＴＡＮＡＫＡ")), QStringList{});  // width is not
        }
        QCOMPARE(search(F::Name, "%"), (QStringList{"5", "3", "2", "1"}));  // wildcards work as such
        QCOMPARE(search(F::Name, "_"), (QStringList{"3", "2", "1"}));
        QCOMPARE(search(F::Name, "0%_d"), QStringList{"3"});
        QCOMPARE(search(F::Memo, "memo 4"), QStringList{"4"});
        QCOMPARE(search(F::Name, QStringLiteral("該当なし")), QStringList{});
        // Flags come back exactly as written.
        QCOMPARE(column("3", "DEL_FLG1"), QStringLiteral("-1"));
        QCOMPARE(column("1", "del_flg1"), QStringLiteral("1"));
        QCOMPARE(column("99", "SYASYU"), QString());  // a key without a row reads empty
    }

    void newCardsGetIncreasingKeysAndRewritesKeepThem() {
        rawInsert("41", "old", "1");
        cards::newCardInsert(*m_dm, card(QStringLiteral("新規")));
        QCOMPARE(cards::newestKey(q()), 42);
        CardTexts changed =
            card(QStringLiteral("変更後"), QStringLiteral("組織"), QStringLiteral("一行目\r\n二行目"));
        changed.month = QStringLiteral("00");
        changed.day = QStringLiteral("99");
        cards::cardRewrite(*m_dm, "42", changed, cards::CardState::Deleted);
        QCOMPARE(count(), 2);
        QCOMPARE(column("42", "SYASYU"), QStringLiteral("変更後"));
        QCOMPARE(column("42", "MEMO"), QStringLiteral("一行目\r\n二行目"));
        QCOMPARE(column("42", "LMONTH"), QStringLiteral("00"));
        QCOMPARE(column("42", "LDAY"), QStringLiteral("99"));
        QCOMPARE(column("42", "DEL_FLG1"), QStringLiteral("-1"));
        QVERIFY(triggerActive());
        cards::newCardInsert(*m_dm, card("next"));
        QCOMPARE(cards::newestKey(q()), 43);
        QVERIFY_THROWS_EXCEPTION(DbError, cards::cardRewrite(*m_dm, "---", changed, cards::CardState::Live));
        QCOMPARE(count(), 3);
    }

    // A step that fails anywhere in a rewrite leaves the old row and an active trigger.
    void failedRewriteChangesNothing_data() {
        QTest::addColumn<QString>("step");
        for (const char* s : {"update", "commit"})
            QTest::newRow(s) << s;
    }
    void failedRewriteChangesNothing() {
        QFETCH(QString, step);
        cards::newCardInsert(*m_dm, card("before"));
        cards::setStepObserver([&](const char* s) {
            if (step == s)
                throw DbError("injected");
        });
        QVERIFY_THROWS_EXCEPTION(DbError,
                                 cards::cardRewrite(*m_dm, "1", card("after"), cards::CardState::Deleted));
        cards::setStepObserver({});
        QCOMPARE(column("1", "SYASYU"), QStringLiteral("before"));
        QCOMPARE(column("1", "DEL_FLG1"), QStringLiteral("1"));
        QVERIFY(triggerActive());
        cards::newCardInsert(*m_dm, card("later"));
        QCOMPARE(cards::newestKey(q()), 2);
        m_dm->connection.reconnect();
        QCOMPARE(count(), 2);
    }

    // A real process killed at each step: the old row survives every kill before the commit,
    // and the rewritten row every kill after it.
    void killedRewriteLeavesOldOrNewRow_data() {
        QTest::addColumn<QString>("killAt");
        QTest::addColumn<QString>("expectedName");
        for (const char* s : {"update", "commit"})
            QTest::newRow(s) << s << "before";
        QTest::newRow("committed") << "committed" << QStringLiteral("書き換え後");
    }
    void killedRewriteLeavesOldOrNewRow() {
        QFETCH(QString, killAt);
        QFETCH(QString, expectedName);
        cards::newCardInsert(*m_dm, card("before"));
        QCOMPARE(runWriter({"rewrite", killAt, "1"}), 9);
        QCOMPARE(column("1", "SYASYU"), expectedName);
        QVERIFY(triggerActive());
        cards::newCardInsert(*m_dm, card("later"));
        QCOMPARE(cards::newestKey(q()), 2);
    }

    // The card keeps its key under any trigger: nothing is inserted again.
    void rewriteKeepsTheKeyAndTheRowCount() {
        for (int i = 0; i < 3; ++i)
            cards::newCardInsert(*m_dm, card(QStringLiteral("カード%1").arg(i)));
        using cards::CardState;
        for (const auto& [state, flag] :
             {std::pair{CardState::Deleted, "-1"}, {CardState::Live, "1"}, {CardState::Live, "1"}}) {
            cards::cardRewrite(*m_dm, "2", card(QStringLiteral("二枚目 ") + QLatin1String(flag)), state);
            QCOMPARE(column("2", "DEL_FLG1"), QLatin1String(flag));  // the flag as stored
        }
        QCOMPARE(count(), 3);
        QCOMPARE(search(cards::SearchField::Name, ""), (QStringList{"3", "2", "1"}));
        QCOMPARE(column("2", "SYASYU"), QStringLiteral("二枚目 1"));
        cards::newCardInsert(*m_dm, card("next"));
        QCOMPARE(cards::newestKey(q()), 4);
    }

    // A card whose row has gone (removed by another program) is not written back under a new key.
    void rewriteOfAVanishedCardWritesNothing() {
        cards::newCardInsert(*m_dm, card("only"));
        try {
            cards::cardRewrite(*m_dm, "7", card("ghost"), cards::CardState::Live);
            QFAIL("a card without a row was written");
        } catch (const DbError& e) {
            QVERIFY2(QString::fromUtf8(e.what()).contains(QStringLiteral("もうありません")), e.what());
        }
        QCOMPARE(count(), 1);
        QCOMPARE(search(cards::SearchField::Name, ""), QStringList{"1"});
    }

    // A file left with the key trigger off (an older program interrupted in a rewrite) gets it back
    // before a new card is inserted; a file without the trigger takes no new card at all.
    void newCardNeverTakesKeyZero() {
        rawInsert("5", "old", "1");
        exec("ALTER TRIGGER TRG_CAR INACTIVE");
        QVERIFY(!triggerActive());
        cards::newCardInsert(*m_dm, card("new"));
        QVERIFY(triggerActive());
        QCOMPARE(search(cards::SearchField::Name, "new"), QStringList{"6"});
        QVERIFY(!cards::ensureTriggerActive(*m_dm));
        exec("DROP TRIGGER TRG_CAR");
        QVERIFY_THROWS_EXCEPTION(DbError, cards::newCardInsert(*m_dm, card("keyless")));
        QCOMPARE(count(), 2);
    }

    void cardFilesOfOursAreNeverSweptAutomatically() {
        if (testdb::defaultKind() != testdb::Kind::Ours)
            QSKIP("only files made by the creation tool");
        q().sql.clear();
        q().sql.add("SELECT MON$SWEEP_INTERVAL AS S FROM MON$DATABASE");
        q().open();
        QCOMPARE(q().field("S").toInt(), 0);
    }

    // Failures with the file itself are named in plain words before the client's text.
    void fileFailuresSayWhatIsWrong() {
        m_dm.reset();
        const QString dataFile = m_dir.filePath("data/DATA.FDB");
        auto openError = [&]() -> QString {
            CardDatabase dm(m_dir.path());
            try {
                dm.open();
            } catch (const DbError& e) {
                return QString::fromUtf8(e.what());
            }
            return {};
        };
        QProcess holder;  // another program with the file open
        holder.start(QCoreApplication::applicationDirPath() + "/cardwriter", {m_dir.path(), "churn", "1"});
        QVERIFY(holder.waitForReadyRead(30000));
        QString text = openError();
        holder.kill();
        holder.waitForFinished();
        QVERIFY2(text.startsWith(QStringLiteral("カードファイル「%1」は別のプログラムが使っています。\n")
                                     .arg(QDir::toNativeSeparators(dataFile))),
                 qPrintable(text));
        QVERIFY(text.contains("Database already opened"));  // the client's own text follows
        // The killed program's run did not end: its marker stays until an open settles the file.
        const QString marker = crashrecovery::markerPath(dataFile);
        QVERIFY(QFile::exists(marker));
        QVERIFY(openError().isEmpty());
        QVERIFY(!QFile::exists(marker));

        QFile::remove(dataFile);
        QFile garbage(dataFile);
        QVERIFY(garbage.open(QIODevice::WriteOnly));
        garbage.write(QByteArray(16384, 'x'));
        garbage.close();
        text = openError();
        QVERIFY2(text.contains(QStringLiteral("壊れているか")) && text.contains("not a valid database"),
                 qPrintable(text));
        QFile::remove(dataFile);
        text = openError();
        QVERIFY2(text.contains(QStringLiteral("見つかりません")) && text.contains("No such file"),
                 qPrintable(text));
        testdb::create(m_dir.path());
        open();
    }

    // A new card is committed before the program can say it is saved.
    void killedNewCardIsKeptOnceCommitted_data() {
        QTest::addColumn<QString>("killAt");
        QTest::addColumn<int>("cards");
        QTest::newRow("insert") << "insert" << 0;
        QTest::newRow("commit") << "commit" << 0;
        QTest::newRow("committed") << "committed" << 1;
    }
    void killedNewCardIsKeptOnceCommitted() {
        QFETCH(QString, killAt);
        QCOMPARE(runWriter({"new", killAt}), 9);
        QTEST(count(), "cards");
    }
};

QTEST_GUILESS_MAIN(TestCards)
#include "tst_cards.moc"
