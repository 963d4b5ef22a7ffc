// The search fold on its own: pairs of texts a reader takes for the same word fold alike, pairs
// that differ stay apart, and the folded keyword treats pattern characters as plain text.

#include "cardmatch.h"
#include "textfold.h"

#include <QFile>
#include <QStandardPaths>
#include <QTest>

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
