// The search fold on its own: pairs of texts a reader takes for the same word fold alike, pairs
// that differ stay apart, and the folded keyword treats pattern characters as plain text.

#include "cardmatch.h"
#include "foldsources.h"
#include "textfold.h"

#include <QFile>
#include <QStandardPaths>
#include <QTest>

#include <algorithm>
#include <random>

class TestTextFold final : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void sameAfterFold_data() {
        QTest::addColumn<QString>("a");
        QTest::addColumn<QString>("b");
        QTest::newRow("hiragana/katakana") << "たなか"
                                           << "タナカ";
        QTest::newRow("voiced and semi-voiced") << "がぎぐげご ぱぴぷぺぽ"
                                                << "ガギグゲゴ パピプペポ";
        QTest::newRow("vu") << "ゔぁいおりん"
                            << "ヴァイオリン";
        QTest::newRow("small kana") << "ぁぃぅぇぉっゃゅょゎゕゖ"
                                    << "ァィゥェォッャュョヮヵヶ";
        QTest::newRow("iteration marks") << "ゝゞ"
                                         << "ヽヾ";
        QTest::newRow("half-width katakana") << "ｶﾌﾞｼｷｶﾞｲｼｬ"
                                             << "カブシキガイシャ";
        QTest::newRow("half-width to hiragana") << "ｶﾌﾞｼｷｶﾞｲｼｬ"
                                                << "かぶしきがいしゃ";
        QTest::newRow("half-width semi-voiced") << "ﾊﾟﾋﾟ"
                                                << "パピ";
        QTest::newRow("half-width vu") << "ｳﾞ"
                                       << "ゔ";
        QTest::newRow("separate voiced mark") << QString::fromUtf16(u"か\u3099") << "が";
        QTest::newRow("half-width long vowel") << "ｺｰﾋｰ"
                                               << "コーヒー";
        QTest::newRow("half-width middle dot") << "ﾏｲｸ･ｽﾐｽ"
                                               << "マイク・スミス";
        QTest::newRow("full-width letters") << "ＡＢＣ"
                                            << "abc";
        QTest::newRow("full-width mixed case") << "Ｔａｖｒｏｎａ"
                                               << "TAVRONA";
        QTest::newRow("full-width digits") << "０３－１２３４"
                                           << "03-1234";
        QTest::newRow("ASCII case") << "Sato"
                                    << "SATO";
        QTest::newRow("Latin beyond ASCII") << "ÉCOLE"
                                            << "école";
        QTest::newRow("ideographic space") << "田中　太郎"
                                           << "田中 太郎";
        QTest::newRow("full-width symbols") << "％＿"
                                            << "%_";
        QTest::newRow("kanji untouched") << "北星商事"
                                         << "北星商事";
        QTest::newRow("mixed scripts") << "ｱｵﾊﾞｼｽﾃﾑ開発ＫＫ"
                                       << "あおばシステム開発kk";
    }
    void sameAfterFold() {
        QFETCH(QString, a);
        QFETCH(QString, b);
        QCOMPARE(search::foldForSearch(a), search::foldForSearch(b));
    }

    void apartAfterFold_data() {
        QTest::addColumn<QString>("a");
        QTest::addColumn<QString>("b");
        QTest::newRow("long vowel vs vowel") << "コーヒー"
                                             << "コオヒイ";
        QTest::newRow("long vowel vs dash") << "ー"
                                            << "-";
        QTest::newRow("middle dot vs none") << "マイク・スミス"
                                            << "マイクスミス";
        QTest::newRow("small vs large kana") << "きゃ"
                                             << "きや";
        QTest::newRow("voiced vs plain") << "が"
                                         << "か";
        QTest::newRow("different kanji") << "佐藤"
                                         << "左藤";
    }
    void apartAfterFold() {
        QFETCH(QString, a);
        QFETCH(QString, b);
        QVERIFY(search::foldForSearch(a) != search::foldForSearch(b));
    }

    void keywordFound_data() {
        QTest::addColumn<QString>("keyword");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("found");
        QTest::newRow("empty keyword") << ""
                                       << "" << true;
        QTest::newRow("katakana in hiragana") << "タナカ"
                                              << "やまだ たなか" << true;
        QTest::newRow("half-width in the middle") << "ｼｷｶﾞｲ"
                                                  << "カブシキガイシャ" << true;
        QTest::newRow("percent is literal") << "%"
                                            << "田中" << false;
        QTest::newRow("percent found as itself") << "50%"
                                                 << "割引50%" << true;
        QTest::newRow("full-width percent found") << "５０％"
                                                  << "割引50%" << true;
        QTest::newRow("underscore is literal") << "_"
                                               << "abc" << false;
        QTest::newRow("underscore found as itself") << "a_b"
                                                    << "xa_by" << true;
        QTest::newRow("not a wildcard match") << "a_b"
                                              << "axb" << false;
        QTest::newRow("longer than text") << "たなかたろう"
                                          << "たなか" << false;
        QTest::newRow("across a line break") << "ab"
                                             << "a\r\nb" << false;
    }
    void keywordFound() {
        QFETCH(QString, keyword);
        QFETCH(QString, text);
        QFETCH(bool, found);
        QCOMPARE(search::FoldedKeyword(keyword).foundIn(text), found);
    }

    // The sources of a character are complete: whatever one character folds to lists it among
    // the sources of each character of its fold, over all of Unicode.
    void everyCharacterIsASourceOfItsFold() {
        int checked = 0;
        for (char32_t x = 0; x <= 0x10FFFF; ++x) {
            if (QChar::isSurrogate(x))
                continue;
            const QString one = QString::fromUcs4(&x, 1);
            const QString folded = search::foldForSearch(one);
            for (const char32_t f : folded.toUcs4()) {
                const std::vector<char32_t> sources = search::foldSources(f);
                QVERIFY2(std::find(sources.begin(), sources.end(), x) != sources.end(),
                         qPrintable(QStringLiteral("U+%1 -> U+%2").arg(uint(x), 4, 16).arg(uint(f), 4, 16)));
            }
            ++checked;
        }
        QVERIFY(checked > 1000000);
    }

    // A text whose fold holds the folded keyword holds, as stored, a source of the character the
    // engine is asked for, also where characters of the text combine while folding (voiced
    // marks, half-width kana, combining accents) or expand (squared words, ligatures).
    void textsHoldASourceOfTheChosenCharacter() {
        const QString pool = QString::fromUtf16(
            u"たタﾀ㋟㌶なナﾅかカｶがガ\u3099\u309A゛゜ﾞﾟはハﾊぱパうウｳゔヴーｰ・･"
            u"田⽥中㊥株㈱㍿社社会木⽊ー"
            u"aAａＡeEéÉ\u0301\u0308iIİıßsSﬀﬁf1１①%％_＿ 　");
        const QList<uint> chars = pool.toUcs4();
        std::mt19937 random(20261209);
        std::uniform_int_distribution<qsizetype> pick(0, chars.size() - 1);
        int asked = 0;
        for (int round = 0; round < 60000; ++round) {
            QString text;
            const int length = 1 + round % 4;
            for (int i = 0; i < length; ++i) {
                const char32_t c = chars[pick(random)];
                text += QString::fromUcs4(&c, 1);
            }
            const QString folded = search::foldForSearch(text);
            const auto sources = search::fewestSources(folded, 100);
            if (!sources)
                continue;
            ++asked;
            const QList<uint> stored = text.toUcs4();
            QVERIFY2(std::any_of(sources->begin(), sources->end(),
                                 [&](char32_t s) { return stored.contains(uint(s)); }),
                     qPrintable(text));
        }
        QVERIFY(asked > 10000);
    }

    void chosenCharacter_data() {
        QTest::addColumn<QString>("keyword");
        QTest::addColumn<int>("limit");
        QTest::addColumn<QString>("sources");  // empty: none within the limit
        QTest::newRow("kanji and its radical") << "田中" << 4 << "⽥田";
        QTest::newRow("fewest of the keyword's characters") << "株式" << 4 << "㍿式";
        QTest::newRow("kana have more sources") << "タナカ" << 4 << "";
        QTest::newRow("kana within a larger limit") << "タ" << 8 << "たタ㋟㌶㌼ﾀ";
        QTest::newRow("a voiced kana can be made of two") << "ガ" << 100 << "";
        QTest::newRow("Latin letters have dozens") << "abc" << 8 << "";
    }
    void chosenCharacter() {
        QFETCH(QString, keyword);
        QFETCH(int, limit);
        QFETCH(QString, sources);
        const auto got = search::fewestSources(search::foldForSearch(keyword), std::size_t(limit));
        QString gotText;
        if (got) {
            std::vector<char32_t> sorted = *got;
            std::sort(sorted.begin(), sorted.end());
            for (const char32_t c : sorted)
                gotText += QString::fromUcs4(&c, 1);
        }
        QList<uint> expected = sources.toUcs4();
        std::sort(expected.begin(), expected.end());
        QCOMPARE(gotText,
                 QString::fromUcs4(reinterpret_cast<const char32_t*>(expected.constData()), expected.size()));
    }

    void optionOffUntilSwitchedOnAndRemembered() {
        const QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
        QFile::remove(config + QStringLiteral("/Tavrona/Tavrona.conf"));
        QVERIFY(!search::foldedSearchOn());
        search::setFoldedSearchOn(true);
        QVERIFY(search::foldedSearchOn());
        search::setFoldedSearchOn(false);
        QVERIFY(!search::foldedSearchOn());
    }
};

QTEST_GUILESS_MAIN(TestTextFold)
#include "tst_textfold.moc"
