// tavrona-cards find run as a separate process on a real card folder: plain and folded, the
// fields, the deleted cards, the list's order, and wrong use.

#include "carddatabase.h"
#include "cards.h"
#include "commandrun.h"
#include "testdb.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

class TestFindCommand final : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

    CommandRun run(QStringList args) const {
        return runCommand(QStringLiteral(CARDS_TOOL_PATH),
                          args << QStringLiteral("--card-folder") << m_dir.path());
    }

private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        testdb::create(m_dir.path());
        CardDatabase dm(m_dir.path());
        dm.open();
        const auto add = [&](const char* key, const char* name, const char* reading, const char* organisation,
                             const char* memo, cards::CardState state) {
            const cards::CardTexts t{.name = name,
                                     .reading = reading,
                                     .organisation = organisation,
                                     .memo = memo,
                                     .year = "2024",
                                     .month = "1",
                                     .day = "1"};
            cards::insertCard(dm.statement, key, t, state);
            dm.statement.close();
        };
        add("1", "田中 太郎", "たなか たろう", "株式会社ひかり印刷", "ＡＢＣ商談", cards::CardState::Live);
        add("2", "タナカ\t花子", "", "ｶﾌﾞｼｷｶﾞｲｼｬ東和", "50% 値引き", cards::CardState::Live);
        add("3", "ゔぃおら", "ゔぃおら", "ヒカリ印刷", "", cards::CardState::Deleted);
        dm.connection.close();
    }

    void found_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("out");
        QTest::newRow("plain") << QStringList{"find", "タナカ"} << "2\tタナカ 花子\n";
        QTest::newRow("folded, reading too")
            << QStringList{"find", "--fold", "ﾀﾅｶ"} << "2\tタナカ 花子\n1\t田中 太郎\n";
        QTest::newRow("organisation folded")
            << QStringList{"find", "--fold", "--field", "organisation", "ひかり"} << "1\t田中 太郎\n";
        QTest::newRow("deleted folded")
            << QStringList{"find", "--deleted", "--fold", "ヴィ"} << "3\tゔぃおら\n";
    }
    void found() {
        QFETCH(QStringList, args);
        QFETCH(QString, out);
        const CommandRun r = run(args);
        QVERIFY2(r.code == 0, qPrintable(r.err));
        QCOMPARE(r.out, out);
    }

    void wrongUse_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("message");
        QTest::newRow("no keyword") << QStringList{"find"} << "KEYWORD";
        QTest::newRow("unknown field") << QStringList{"find", "--field", "reading", "x"} << "--field には";
    }
    void wrongUse() {
        QFETCH(QStringList, args);
        QFETCH(QString, message);
        const CommandRun r = run(args);
        QCOMPARE(r.code, 2);
        QVERIFY2(r.err.contains(message), qPrintable(r.err));
    }
};

QTEST_GUILESS_MAIN(TestFindCommand)
#include "tst_findcommand.moc"
