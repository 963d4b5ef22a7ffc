// The rules that suggest a box for each recognised line, with lines as input, and the filling of
// the editor's boxes from the user's choices.

#include "fieldrules.h"

#include <QTest>

using scan::Box;

Q_DECLARE_METATYPE(scan::Box)

class TestFieldRules final : public QObject {
    Q_OBJECT

private slots:
    void singleLine_data() {
        QTest::addColumn<QString>("line");
        QTest::addColumn<Box>("box");
        QTest::newRow("kabushiki first") << "株式会社青葉商事" << Box::Organisation;
        QTest::newRow("kabushiki last") << "東都電機工業株式会社" << Box::Organisation;
        QTest::newRow("yugen") << "有限会社山本製作所" << Box::Organisation;
        QTest::newRow("abbreviated form") << "（株）みなと物流" << Box::Organisation;
        QTest::newRow("inc") << "Blue Harbor Systems Inc." << Box::Organisation;
        QTest::newRow("co ltd") << "Northwind Trading Co., Ltd." << Box::Organisation;
        QTest::newRow("co ltd without the last dot") << "Northwind Trading Co.,Ltd" << Box::Organisation;
        QTest::newRow("department") << "営業部" << Box::Department;
        QTest::newRow("section") << "総務部 人事課" << Box::Department;
        QTest::newRow("office") << "社長室" << Box::Department;
        QTest::newRow("group") << "デジタル推進グループ" << Box::Department;
        QTest::newRow("department in latin") << "Sales Department" << Box::Department;
        QTest::newRow("head of department is a title") << "営業部長" << Box::Position;
        QTest::newRow("department then title") << "営業部 課長" << Box::Position;
        QTest::newRow("president") << "代表取締役" << Box::Position;
        QTest::newRow("acting section head") << "課長代理" << Box::Position;
        QTest::newRow("manager") << "Sales Manager" << Box::Position;
        QTest::newRow("director lower case") << "director" << Box::Position;
        QTest::newRow("tel") << "TEL 03-3123-4567" << Box::Other;
        QTest::newRow("full-width phone") << "０３－３１２３－４５６７" << Box::Other;
        QTest::newRow("international phone") << "+81 (3) 5555 0142" << Box::Other;
        QTest::newRow("mail") << "sato@aoba-shoji.example.jp" << Box::Other;
        QTest::newRow("mail of a company") << "info@northwind-inc.example.com" << Box::Other;
        QTest::newRow("web with scheme") << "https://www.toto-denki.example.jp" << Box::Other;
        QTest::newRow("bare domain") << "blueharbor.example.com" << Box::Other;
        QTest::newRow("postcode alone is too short for a phone") << "〒100-0001" << Box::None;
        QTest::newRow("latin name is not guessed") << "Emily Carter" << Box::None;
        QTest::newRow("research is no department") << "Research and Development" << Box::None;
        QTest::newRow("blank") << "   " << Box::None;
    }
    void singleLine() {
        QFETCH(QString, line);
        QFETCH(Box, box);
        const std::vector<Box> boxes = scan::suggestBoxes({{line, 40}});
        QCOMPARE(boxes.size(), size_t(1));
        QCOMPARE(boxes[0], box);
    }

    // The name is the largest line of two to four kanji; one line at most is suggested.
    void nameIsLargestKanjiLine() {
        const std::vector<scan::RecognisedLine> lines{
            {"東京都千代田区", 30}, {"鈴木", 40},    {"佐藤 健一", 120}, {"高橋美咲", 90},
            {"長谷川健太郎", 200},  {"やまだ", 150}, {"営業部", 300}};
        const std::vector<Box> boxes = scan::suggestBoxes(lines);
        const std::vector<Box> expected{Box::None, Box::None, Box::Name,      Box::None,
                                        Box::None, Box::None, Box::Department};
        QCOMPARE(boxes, expected);
        QVERIFY(std::count(boxes.begin(), boxes.end(), Box::Reading) == 0);
    }

    void tidyLine_data() {
        QTest::addColumn<QString>("in");
        QTest::addColumn<QString>("out");
        QTest::newRow("spaces inside japanese") << "有限 会 社 山本 製作 所"
                                                << "有限会社山本製作所";
        QTest::newRow("latin words keep one") << "  Sales   Manager "
                                              << "Sales Manager";
        QTest::newRow("japanese next to latin") << "TEL  03-1234"
                                                << "TEL 03-1234";
        QTest::newRow("ideographic space") << "山本　一郎"
                                           << "山本一郎";
        QTest::newRow("katakana") << "デジタル グループ"
                                  << "デジタルグループ";
        QTest::newRow("empty") << ""
                               << "";
    }
    void tidyLine() {
        QFETCH(QString, in);
        QFETCH(QString, out);
        QCOMPARE(scan::tidyLine(in), out);
    }

    void applyChoices_data() {
        QTest::addColumn<bool>("overwrite");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("organisation");
        QTest::addColumn<QString>("other");
        QTest::newRow("empty boxes only") << false << "山田 太郎"
                                          << "株式会社青葉商事"
                                          << "旧メモ";
        QTest::newRow("overwrite") << true << "佐藤 健一"
                                   << "株式会社青葉商事"
                                   << "TEL 03-3123-4567\nsato@aoba-shoji.example.jp";
    }
    void applyChoices() {
        QFETCH(bool, overwrite);
        QFETCH(QString, name);
        QFETCH(QString, organisation);
        QFETCH(QString, other);
        scan::BoxTexts current;
        current.name = QStringLiteral("山田 太郎");
        current.reading = QStringLiteral("やまだ たろう");
        current.department = QStringLiteral(" ");  // blank counts as empty
        current.other = QStringLiteral("旧メモ");
        const std::vector<scan::Choice> choices{{Box::Organisation, "株式会社青葉商事"},
                                                {Box::Name, "佐藤 健一"},
                                                {Box::Department, "営業部"},
                                                {Box::Department, "第二課"},
                                                {Box::None, "ノイズ"},
                                                {Box::Other, "TEL 03-3123-4567"},
                                                {Box::Other, " sato@aoba-shoji.example.jp "}};
        const scan::BoxTexts result = scan::applyChoices(current, choices, overwrite);
        QCOMPARE(result.name, name);
        QCOMPARE(result.organisation, organisation);
        QCOMPARE(result.other, other);
        QCOMPARE(result.department, QStringLiteral("営業部 第二課"));
        // No line chosen for these: they stay as they were, even when overwriting.
        QCOMPARE(result.reading, QStringLiteral("やまだ たろう"));
        QCOMPARE(result.position, QString());
    }
};

QTEST_APPLESS_MAIN(TestFieldRules)
#include "tst_fieldrules.moc"
