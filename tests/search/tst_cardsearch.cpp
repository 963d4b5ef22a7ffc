// The card search without a window against a real card database: plain and folded, every field,
// the deleted cards, and the list's order.

#include "carddatabase.h"
#include "cardsearch.h"
#include "dbstatement.h"
#include "foldsources.h"
#include "schemascript.h"
#include "testdb.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <random>

using Found = QList<QPair<QString, QString>>;
Q_DECLARE_METATYPE(cards::SearchField)
Q_DECLARE_METATYPE(cards::CardState)

class TestCardSearch final : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<CardDatabase> m_dm;

    // Texts made of pieces in both scripts, both widths and compatibility forms (a kanji's
    // radical, enclosed and squared forms, ligatures, separate voiced marks and accents), and
    // characters that patterns give a meaning, so that a keyword meets its matches in every form.
    static std::vector<cards::CardTexts> mixedCards(int count) {
        const QStringList pieces = {"田中",
                                    "たなか",
                                    "タナカ",
                                    "ﾀﾅｶ",
                                    "⽥中",
                                    "㈱",
                                    "株式会社",
                                    "ｶﾌﾞｼｷ",
                                    "佐藤",
                                    "さとう",
                                    "ヴィ",
                                    "ゔぃ",
                                    "ｳﾞｨ",
                                    "ＡＢＣ",
                                    "abc",
                                    "営業部",
                                    "第二",
                                    "㍿",
                                    "中",
                                    "木",
                                    "⽊村",
                                    " ",
                                    "50%",
                                    "㌶",
                                    "ﬀ",
                                    "ｶ\u3099",
                                    "か゛",
                                    "e\u0301",
                                    "a.b",
                                    "[x]",
                                    "\\",
                                    "가",
                                    "\u1100\u1161",
                                    "株式会社ｶﾌﾞｼｷ",
                                    "03-1",
                                    "03‐1",
                                    "03−1",
                                    "03－1",
                                    "1〜2",
                                    "1～2",
                                    "ー"};
        std::mt19937 random(7);
        const auto text = [&] {
            QString t;
            for (int n = int(random() % 3); n > 0; --n)
                t += pieces[qsizetype(random() % pieces.size())];
            return t;
        };
        std::vector<cards::CardTexts> made;
        for (int i = 0; i < count; ++i) {
            made.push_back({.name = text(),
                            .reading = text(),
                            .organisation = text(),
                            .department = text(),
                            .memo = text(),
                            .year = "2024",
                            .month = "1",
                            .day = "1"});
        }
        return made;
    }

    // The keys, highest first, of the live cards whose searched texts hold the keyword once
    // folded: what the search must find, worked out here without the database.
    static QStringList expectedKeys(const std::vector<cards::CardTexts>& stored, cards::SearchField field,
                                    const QString& keyword) {
        const search::FoldedKeyword folded(keyword);
        QStringList keys;
        for (int k = int(stored.size()); k >= 1; --k) {
            const cards::CardTexts& t = stored[std::size_t(k - 1)];
            const bool found = field == cards::SearchField::Name
                                   ? folded.foundIn(t.name) || folded.foundIn(t.reading)
                               : field == cards::SearchField::Organisation
                                   ? folded.foundIn(t.organisation) || folded.foundIn(t.department)
                                   : folded.foundIn(t.memo);
            if (found && k % 7 != 0)
                keys << QString::number(k);
        }
        return keys;
    }

    static QStringList foundKeys(CardDatabase& dm, cards::SearchField field, const QString& keyword) {
        QStringList keys;
        for (const search::FoundCard& c :
             search::findCards(dm.statement, field, keyword, true, cards::CardState::Deleted))
            keys << c.key;
        return keys;
    }

    static void storeMixedCards(CardDatabase& dm, const std::vector<cards::CardTexts>& made) {
        for (std::size_t i = 0; i < made.size(); ++i) {
            const int key = int(i) + 1;
            cards::insertCard(dm.statement, QString::number(key), made[i],
                              key % 7 == 0 ? cards::CardState::Deleted : cards::CardState::Live);
            dm.statement.close();
        }
        dm.transaction.commit();
    }

    void exec(const QString& sql) {
        m_dm->statement.sql.clear();
        m_dm->statement.sql.add(sql);
        m_dm->statement.execute();
    }

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
        cards::insertCard(m_dm->statement, key, t, state);
        m_dm->statement.close();
    }

private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        testdb::create(m_dir.path());
        m_dm = std::make_unique<CardDatabase>(m_dir.path());
        m_dm->open();
        add("1", "田中 太郎", "たなか たろう", "株式会社ひかり印刷", "営業部", "ＡＢＣ商談",
            cards::CardState::Live);
        add("2", "タナカ", "", "ｶﾌﾞｼｷｶﾞｲｼｬ東和", "第二営業課", "50% 値引き", cards::CardState::Live);
        add("3", "ゔぃおら", "ゔぃおら", "ヒカリ印刷", "カイハツ部", "", cards::CardState::Deleted);
        add("4", "佐藤", "さとう", "北星商事", "総務課", "たなかさんの紹介", cards::CardState::Live);
        // Card files made elsewhere hold cards without an organisation (NULL, not empty), and
        // telephone numbers and times written with any dash.
        add("5", "山本", "やまもと", "", "ガス開発部", "電話 03‐1234−5678、10時〜12時",
            cards::CardState::Live);
        exec(QStringLiteral("UPDATE MST_CAR SET KATABAN = NULL WHERE KEY1 = 5"));
        m_dm->transaction.commit();
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
        QTest::newRow("folded, every live card")
            << name << "" << true << cards::CardState::Deleted
            << Found{{"5", "山本"}, {"4", "佐藤"}, {"2", "タナカ"}, {"1", "田中 太郎"}};
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
        QTest::newRow("plain percent wildcard")
            << memo << "%" << false << cards::CardState::Deleted
            << Found{{"5", "山本"}, {"4", "佐藤"}, {"2", "タナカ"}, {"1", "田中 太郎"}};
        const Found yamamoto{{"5", "山本"}};
        QTest::newRow("folded department, no organisation")
            << organisation << "開発" << true << cards::CardState::Deleted << yamamoto;
        QTest::newRow("folded voiced kana alone, no organisation")
            << organisation << "が" << true << cards::CardState::Deleted
            << Found{{"5", "山本"}, {"2", "タナカ"}};
        QTest::newRow("plain organisation, none stored")
            << organisation << "開発" << false << cards::CardState::Deleted << Found{};
        QTest::newRow("folded hyphens")
            << memo << "03-1234-5678" << true << cards::CardState::Deleted << yamamoto;
        QTest::newRow("folded full-width hyphens")
            << memo << "０３－１２３４－５６７８" << true << cards::CardState::Deleted << yamamoto;
        QTest::newRow("folded minus signs")
            << memo << "03−1234−5678" << true << cards::CardState::Deleted << yamamoto;
        QTest::newRow("folded wave dash as full-width tilde")
            << memo << "10時～12時" << true << cards::CardState::Deleted << yamamoto;
        QTest::newRow("plain hyphen is itself")
            << memo << "03-1234" << false << cards::CardState::Deleted << Found{};
        QTest::newRow("folded long vowel mark is no hyphen")
            << memo << "03ー1234" << true << cards::CardState::Deleted << Found{};
    }
    void found() {
        QFETCH(cards::SearchField, field);
        QFETCH(QString, keyword);
        QFETCH(bool, folded);
        QFETCH(cards::CardState, leftOut);
        QFETCH(Found, found);
        Found got;
        for (const search::FoundCard& c : search::findCards(m_dm->statement, field, keyword, folded, leftOut))
            got.append({c.key, c.name});
        QCOMPARE(got, found);
        QVERIFY(!m_dm->statement.isOpen());
    }

    // The folded search finds exactly what the fold finds card by card, whether the engine is
    // first asked for the cards holding a kanji's sources or every card is fetched (kana, Latin).
    void foldedSearchFindsWhatTheFoldFinds_data() {
        QTest::addColumn<cards::SearchField>("field");
        QTest::addColumn<QString>("keyword");
        const auto name = cards::SearchField::Name;
        const auto organisation = cards::SearchField::Organisation;
        const auto memo = cards::SearchField::Memo;
        QTest::newRow("kanji family name") << name << "田中";
        QTest::newRow("radical form typed") << name << "⽥中";
        QTest::newRow("one kanji") << name << "木";
        QTest::newRow("kanji stored enclosed") << organisation << "株式";
        QTest::newRow("kanji and kana") << organisation << "株式会社ｶﾌﾞｼｷ";
        QTest::newRow("kana reading") << name << "たなか";
        QTest::newRow("half-width vu") << name << "ｳﾞｨ";
        QTest::newRow("department") << organisation << "営業";
        QTest::newRow("Latin in memo") << memo << "Abc";
        QTest::newRow("percent in memo") << memo << "％";
        QTest::newRow("kanji in memo") << memo << "中";
        QTest::newRow("kana typed in katakana") << name << "タナカ";
        QTest::newRow("kana in a squared word") << name << "ヘクタ";
        QTest::newRow("voiced kana alone") << organisation << "ガ";
        QTest::newRow("ligature") << memo << "ff";
        QTest::newRow("accent made of two") << memo << "é";
        QTest::newRow("pattern characters") << memo << "[x]";
        QTest::newRow("escape character") << memo << "\\";
        QTest::newRow("dot as itself") << memo << "a.b";
        QTest::newRow("Hangul made of jamo") << name << "가";
        QTest::newRow("hyphen typed as minus sign") << memo << "3−1";
        QTest::newRow("full-width hyphen") << organisation << "０３－";
        QTest::newRow("wave dash") << name << "〜2";
        QTest::newRow("nowhere") << name << "鈴木";
    }
    void foldedSearchFindsWhatTheFoldFinds() {
        QFETCH(cards::SearchField, field);
        QFETCH(QString, keyword);
        static const std::vector<cards::CardTexts> made = mixedCards(300);
        static QTemporaryDir dir;
        static std::unique_ptr<CardDatabase> dm;
        if (!dm) {
            testdb::create(dir.path());
            dm = std::make_unique<CardDatabase>(dir.path());
            dm->open();
            storeMixedCards(*dm, made);
        }
        const QStringList expected = expectedKeys(made, field, keyword);
        QCOMPARE(foundKeys(*dm, field, keyword), expected);
        if (QTest::currentDataTag() == QLatin1String("nowhere"))
            dm.reset();
        else
            QVERIFY(!expected.isEmpty());
    }

    // The engine keeps exactly the cards whose texts hold the run as the client reads it: the
    // pattern's classes, escapes and alternatives mean in the engine what they mean here. A long
    // memo is left to the client whatever it holds.
    void engineKeepsWhatTheRunAsks() {
        std::vector<cards::CardTexts> made = mixedCards(300);
        made.push_back({.name = "長いメモ",
                        .memo = QString(201, QChar(u'展')),
                        .year = "2024",
                        .month = "1",
                        .day = "1"});
        QTemporaryDir dir;
        testdb::create(dir.path());
        CardDatabase dm(dir.path());
        dm.open();
        storeMixedCards(dm, made);
        for (const QString& keyword : {QStringLiteral("タナカ"), QStringLiteral("ヘクタ"),
                                       QStringLiteral("50%"), QStringLiteral("[x]"), QStringLiteral("\\"),
                                       QStringLiteral("a.b"), QStringLiteral("ff"), QStringLiteral("株式")}) {
            const auto held = search::heldRun(search::FoldedKeyword(keyword).folded());
            QVERIFY(held);
            QStringList expected;
            for (std::size_t i = 0; i < made.size(); ++i) {
                const cards::CardTexts& t = made[i];
                if (held->heldBy(t.memo) || t.memo.toUtf8().size() > 600)
                    expected << QString::number(i + 1);
            }
            cards::prepareSearchSimilarTo(dm.statement, {QStringLiteral("MEMO")}, held->similarToPattern(),
                                          false);
            dm.statement.open();
            QStringList got;
            for (dm.statement.last(); !dm.statement.beforeFirst(); dm.statement.prior())
                got.prepend(dm.statement.field("KEY1").text());
            dm.statement.close();
            QCOMPARE(got, expected);
            QVERIFY2(!expected.isEmpty() && expected.size() < int(made.size()) / 2, qPrintable(keyword));
        }
    }

    // A card file whose columns hold Shift_JIS cannot take every source of a kanji (a radical
    // form has no Shift_JIS code): the search then fetches every card, and still finds them.
    void foldedSearchInShiftJisCardFile() {
        QTemporaryDir dir;
        QDir().mkpath(dir.filePath("data"));
        QString schema = QString::fromUtf8(testdb::foreignSchema());
        schema.replace(QStringLiteral("CHARACTER SET UTF8"), QStringLiteral("CHARACTER SET SJIS_0208"));
        createDatabaseFile(dir.filePath("data/DATA.FDB"), splitSqlScript(schema), true);
        CardDatabase dm(dir.path());
        dm.open();
        std::vector<cards::CardTexts> made = {
            {.name = "田中 太郎", .reading = "たなか", .year = "2024", .month = "1", .day = "1"},
            {.name = "佐藤", .reading = "さとう", .year = "2024", .month = "1", .day = "1"},
            {.name = "ﾀﾅｶ", .reading = "", .year = "2024", .month = "1", .day = "1"},
            {.name = "中田", .reading = "なかた", .year = "2024", .month = "1", .day = "1"},
        };
        storeMixedCards(dm, made);
        QCOMPARE(foundKeys(dm, cards::SearchField::Name, QStringLiteral("田中")), QStringList{"1"});
        QCOMPARE(foundKeys(dm, cards::SearchField::Name, QStringLiteral("中")), (QStringList{"4", "1"}));
        QCOMPARE(foundKeys(dm, cards::SearchField::Name, QStringLiteral("タナカ")), (QStringList{"3", "1"}));
    }

    // Folded, only the matching rows are kept while fetching, so the result is no larger than a
    // plain search's; the deleted flag is left to the caller, as in the plain search.
    void foldedResultHoldsOnlyMatchingRows() {
        DbStatement& q = m_dm->statement;
        search::openCardSearch(q, cards::SearchField::Name, QStringLiteral("ヴィ"), true);
        QCOMPARE(q.rowCount(), 1);
        q.close();
        search::openCardSearch(q, cards::SearchField::Organisation, QStringLiteral("ヒカリ"), true);
        QCOMPARE(q.rowCount(), 2);
        q.last();
        QCOMPARE(q.field("KEY1").text(), QStringLiteral("3"));
        QCOMPARE(q.field("MEMO").text(), QString());
        q.prior();
        QCOMPARE(q.field("KATABAN").text(), QStringLiteral("株式会社ひかり印刷"));
        q.close();
    }
};

QTEST_GUILESS_MAIN(TestCardSearch)
#include "tst_cardsearch.moc"
