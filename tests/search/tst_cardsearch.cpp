// The card search without a window against a real card database: plain and folded, every field,
// the deleted cards, and the list's order.

#include "cardsearch.h"
#include "dm1.h"
#include "ibobjects.h"
#include "testdb.h"

#include <QTemporaryDir>
#include <QTest>

#include <memory>

using Found = QList<QPair<QString, QString>>;
Q_DECLARE_METATYPE(cards::SearchField)
Q_DECLARE_METATYPE(cards::CardState)

class TestCardSearch final : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<TDM1> m_dm;

    void add(const char* key, const char* name, const char* reading, const char* organisation,
             const char* department, const char* memo, cards::CardState state) {
        const cards::CardTexts t{.name = name,
                                 .reading = reading,
                                 .organisation = organisation,
                                 .department = department,
                                 .memo = memo,
                                 .year = "2024",
                                 .month = "1",
                                 .day = "1"};
        cards::insertCard(m_dm->IBQuery1, key, t, state);
        m_dm->IBQuery1.Close();
    }

private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        testdb::create(m_dir.path());
        m_dm = std::make_unique<TDM1>(m_dir.path());
        m_dm->DataModuleCreate();
        add("1", "田中 太郎", "たなか たろう", "株式会社ひかり印刷", "営業部", "ＡＢＣ商談",
            cards::CardState::Live);
        add("2", "タナカ", "", "ｶﾌﾞｼｷｶﾞｲｼｬ東和", "第二営業課", "50% 値引き", cards::CardState::Live);
        add("3", "ゔぃおら", "ゔぃおら", "ヒカリ印刷", "カイハツ部", "", cards::CardState::Deleted);
        add("4", "佐藤", "さとう", "北星商事", "総務課", "たなかさんの紹介", cards::CardState::Live);
    }
    void cleanupTestCase() { m_dm.reset(); }

    void found_data() {
        QTest::addColumn<cards::SearchField>("field");
        QTest::addColumn<QString>("keyword");
        QTest::addColumn<bool>("folded");
        QTest::addColumn<cards::CardState>("leftOut");
        QTest::addColumn<Found>("found");
        const auto name = cards::SearchField::Name;
        const auto organisation = cards::SearchField::Organisation;
        const auto memo = cards::SearchField::Memo;
        const Found tanaka{{"2", "タナカ"}, {"1", "田中 太郎"}};
        QTest::newRow("plain name") << name << "タナカ" << false << cards::CardState::Deleted
                                    << Found{{"2", "タナカ"}};
        QTest::newRow("folded name and reading")
            << name << "ﾀﾅｶ" << true << cards::CardState::Deleted << tanaka;
        QTest::newRow("folded, every live card") << name << "" << true << cards::CardState::Deleted
                                                 << Found{{"4", "佐藤"}, {"2", "タナカ"}, {"1", "田中 太郎"}};
        QTest::newRow("folded organisation")
            << organisation << "ひかり" << true << cards::CardState::Deleted << Found{{"1", "田中 太郎"}};
        QTest::newRow("folded department")
            << organisation << "ｶｲﾊﾂ" << true << cards::CardState::Live << Found{{"3", "ゔぃおら"}};
        QTest::newRow("folded deleted, vu")
            << name << "ヴィオラ" << true << cards::CardState::Live << Found{{"3", "ゔぃおら"}};
        QTest::newRow("plain deleted, vu")
            << name << "ヴィオラ" << false << cards::CardState::Live << Found{};
        QTest::newRow("folded memo") << memo << "タナカ" << true << cards::CardState::Deleted
                                     << Found{{"4", "佐藤"}};
        QTest::newRow("folded memo, full-width")
            << memo << "abc" << true << cards::CardState::Deleted << Found{{"1", "田中 太郎"}};
        QTest::newRow("folded percent literal")
            << memo << "%" << true << cards::CardState::Deleted << Found{{"2", "タナカ"}};
        QTest::newRow("plain percent wildcard") << memo << "%" << false << cards::CardState::Deleted
                                                << Found{{"4", "佐藤"}, {"2", "タナカ"}, {"1", "田中 太郎"}};
    }
    void found() {
        QFETCH(cards::SearchField, field);
        QFETCH(QString, keyword);
        QFETCH(bool, folded);
        QFETCH(cards::CardState, leftOut);
        QFETCH(Found, found);
        Found got;
        for (const search::FoundCard& c : search::findCards(m_dm->IBQuery1, field, keyword, folded, leftOut))
            got.append({c.key, c.name});
        QCOMPARE(got, found);
        QVERIFY(!m_dm->IBQuery1.Active());
    }

    // Folded, only the matching rows are kept while fetching, so the result is no larger than a
    // plain search's; the deleted flag is left to the caller, as in the plain search.
    void foldedResultHoldsOnlyMatchingRows() {
        TIBQuery& q = m_dm->IBQuery1;
        search::openCardSearch(q, cards::SearchField::Name, QStringLiteral("ヴィ"), true);
        QCOMPARE(q.RecordCount(), 1);
        q.Close();
        search::openCardSearch(q, cards::SearchField::Organisation, QStringLiteral("ヒカリ"), true);
        QCOMPARE(q.RecordCount(), 2);
        q.Last();
        QCOMPARE(q.FieldByName("KEY1").AsString(), QStringLiteral("3"));
        QCOMPARE(q.FieldByName("MEMO").AsString(), QString());
        q.Prior();
        QCOMPARE(q.FieldByName("KATABAN").AsString(), QStringLiteral("株式会社ひかり印刷"));
        q.Close();
    }
};

QTEST_GUILESS_MAIN(TestCardSearch)
#include "tst_cardsearch.moc"
