// The search fold on its own: pairs of texts a reader takes for the same word fold alike, pairs
// that differ stay apart, and the folded keyword treats pattern characters as plain text.

#include "cardmatch.h"
#include "foldsources.h"
#include "textfold.h"
#include "usersettings.h"

#include <QFile>
#include <QFileInfo>
#include <QSettings>
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
        QTest::newRow("hyphen, minus sign, figure dash")
            << "03-1234-5678-9" << QString::fromUtf16(u"03\u20101234\u22125678\u20129");
        QTest::newRow("full-width and non-breaking hyphens")
            << "０３－１２３４﹣５" << QString::fromUtf16(u"03\u20111234\u207B5");
        QTest::newRow("wave dash and full-width tilde") << "10時〜12時"
                                                        << "10時～12時";
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
        QTest::newRow("long vowel vs minus sign") << "ー"
                                                  << "−";
        QTest::newRow("long vowel vs wave dash") << "ー"
                                                 << "〜";
        QTest::newRow("hyphen vs wave dash") << "‐"
                                             << "〜";
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
    // the sources of each character of its fold, over all of Unicode; and no character folds to
    // nothing.
    void everyCharacterIsASourceOfItsFold() {
        int checked = 0;
        for (char32_t x = 0; x <= 0x10FFFF; ++x) {
            if (QChar::isSurrogate(x))
                continue;
            const QString one = QStringView(QChar::fromUcs4(x)).toString();
            const QString folded = search::foldForSearch(one);
            // No character vanishes: the engine's run relies on it.
            QVERIFY2(!folded.isEmpty(), qPrintable(QStringLiteral("U+%1").arg(uint(x), 4, 16)));
            for (const char32_t f : folded.toUcs4()) {
                const std::vector<char32_t> sources = search::foldSources(f);
                QVERIFY2(std::find(sources.begin(), sources.end(), x) != sources.end(),
                         qPrintable(QStringLiteral("U+%1 -> U+%2").arg(uint(x), 4, 16).arg(uint(f), 4, 16)));
            }
            ++checked;
        }
        QVERIFY(checked > 1000000);
    }

    // A text whose fold holds the folded keyword holds, as stored, the run the engine is asked
    // for, also where characters of the text combine while folding (voiced marks, half-width
    // kana, combining accents, Hangul jamo) or expand (squared words, ligatures); and the run
    // still leaves out most texts that do not match.
    void textsHoldTheRun() {
        const QString pool = QString::fromUtf16(
            u"たタﾀ㋟㌶なナﾅかカｶがガ\u3099\u309A゛゜ﾞﾟはハﾊぱパうウｳゔヴーｰ・･ヿ🈀"
            u"田⽥中㊥株㈱㍿社社会木⽊"
            u"aAａＡeEéÉ\u0301\u0308\u0323iIİıßsSﬀﬁf1１①⑩½%％_＿[]\\. 　"
            u"가\u1100\u1161\u11A8");
        const QList<uint> chars = pool.toUcs4();
        std::mt19937 random(20261209);
        std::uniform_int_distribution<qsizetype> pick(0, chars.size() - 1);
        const auto randomText = [&](int length) {
            QString text;
            for (int i = 0; i < length; ++i) {
                const char32_t c = chars[pick(random)];
                text += QStringView(QChar::fromUcs4(c)).toString();
            }
            return text;
        };
        int asked = 0, matching = 0, passedOver = 0;
        for (int round = 0; round < 60000; ++round) {
            const QString text = randomText(2 + round % 6);
            // A keyword cut from the text's own fold, so that most rounds match.
            const QString folded = search::foldForSearch(text);
            const qsizetype from = random() % folded.size();
            const QString keyword =
                round % 3 == 0 ? randomText(1 + round % 3) : folded.mid(from, 1 + qsizetype(random() % 4));
            const search::FoldedKeyword foldedKeyword(keyword);
            const auto held = search::heldRun(foldedKeyword.folded());
            if (!held)
                continue;
            ++asked;
            if (foldedKeyword.foundIn(text)) {
                ++matching;
                QVERIFY2(held->heldBy(text), qPrintable(keyword + QStringLiteral(" in ") + text));
            } else if (!held->heldBy(text)) {
                ++passedOver;
            }
        }
        QVERIFY(matching > 10000);
        QVERIFY(passedOver > asked / 10);
    }

    void chosenRun_data() {
        QTest::addColumn<QString>("keyword");
        QTest::addColumn<QString>("pattern");  // empty: no run
        QTest::newRow("kanji with radical and enclosed forms") << "田中"
                                                               << "%[⽥田][㆗㊥中🈭]%";
        QTest::newRow("enclosed and squared words expand")
            << "株式会社" << QString::fromUtf16(u"%([㊑株]式会[㊓社\uFA4C]|[㈱㈳㍿])%");
        QTest::newRow("kana in both scripts and half-width")
            << "タナカ"
            << "%([たタ㋟ﾀ][なナ㋤ﾅ][かカ㋕ｶ]|[㌈㌋㌌㌍㌝㌨㌶㌼🈀])%";
        QTest::newRow("a voiced kana ends the run") << "やまだ"
                                                    << "%([やヤ㋳ﾔ][まマ㋮ﾏ]|[㌏㍃㍄㍅㍆㍇㍎㍏])%";
        QTest::newRow("a voiced kana alone can be made of two") << "ガ"
                                                                << "";
        QTest::newRow("zero-width no-break space kept")
            << QString::fromUtf16(u"田\uFEFF中") << QString::fromUtf16(u"%[⽥田]\uFEFF[㆗㊥中🈭]%");
        QTest::newRow("half-width voiced kana") << "ｶﾞ"
                                                << "";
        QTest::newRow("a Hangul syllable can be made of jamo") << "가"
                                                               << "";
        QTest::newRow("pattern characters escaped") << "_%"
                                                    << "%[\\_︳︴﹍﹎﹏＿][\\%﹪％]%";
        QTest::newRow("hyphens and wave dashes from every form")
            << "‐〜"
            << QString::fromUtf16(u"%[\\-\u2010\u2011\u2012\u207B\u208B\u2212\uFE63\uFF0D][~\u301C\uFF5E]%");
        QTest::newRow("at most four characters, from the fewest sources")
            << "ヴァイオリン"
            << "%([ぁァｧ][いイ㋑ｲ][おオ㋔ｵ][りリ㋷ﾘ]|[ゟ㌁㌄㌅㌉㌊㌋㌍㌒㌚㌟㌡㌪㌲㌽㍃㍄㍉㍊㍑㍒])%";
    }
    void chosenRun() {
        QFETCH(QString, keyword);
        QFETCH(QString, pattern);
        const auto held = search::heldRun(search::foldForSearch(keyword));
        QCOMPARE(held ? held->similarToPattern() : QString(), pattern);
    }

    void optionOffUntilSwitchedOnAndRemembered() {
        const QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
        QFile::remove(config + QStringLiteral("/Tavrona/Tavrona.conf"));
        QVERIFY(!usersettings::foldedSearchOn());
        usersettings::setFoldedSearchOn(true);
        QVERIFY(usersettings::foldedSearchOn());
        usersettings::setFoldedSearchOn(false);
        QVERIFY(!usersettings::foldedSearchOn());
    }

    // Settings written by an earlier version to Qt's stand-in folder "Unknown Organization" are
    // read once and moved into the one settings file, whose own values win.
    void settingsWrittenElsewhereAreMovedOnce_data() {
        QTest::addColumn<QString>("alreadyKept");  // the search option in Tavrona.conf, or none
        QTest::addColumn<bool>("foldedOn");
        QTest::newRow("only in the stray file") << QString() << true;
        QTest::newRow("the settings file wins") << "false" << false;
    }
    void settingsWrittenElsewhereAreMovedOnce() {
        QFETCH(QString, alreadyKept);
        QFETCH(bool, foldedOn);
        const QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
        const QString stray = config + QStringLiteral("/Unknown Organization/Tavrona.conf");
        QCOMPARE(usersettings::filePath(), config + QStringLiteral("/Tavrona/Tavrona.conf"));
        QFile::remove(usersettings::filePath());
        if (!alreadyKept.isEmpty())
            QSettings(usersettings::filePath(), QSettings::IniFormat)
                .setValue("search/foldKanaAndWidth", alreadyKept);
        {
            QSettings old(stray, QSettings::IniFormat);
            old.setValue("team/user", "ALICE");
            old.setValue("search/foldKanaAndWidth", true);
        }
        QCOMPARE(usersettings::foldedSearchOn(), foldedOn);
        QVERIFY(!QFileInfo::exists(stray));
        const QSettings kept(usersettings::filePath(), QSettings::IniFormat);
        QCOMPARE(kept.value("team/user").toString(), QStringLiteral("ALICE"));
        usersettings::setFoldedSearchOn(!foldedOn);  // read and written in the one file from now on
        QCOMPARE(usersettings::foldedSearchOn(), !foldedOn);
        QVERIFY(!QFileInfo::exists(stray));
    }
};

QTEST_GUILESS_MAIN(TestTextFold)
#include "tst_textfold.moc"
