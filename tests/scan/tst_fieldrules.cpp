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
        QTest::newRow("section in latin") << "Development Section" << Box::Department;
        QTest::newRow("office in latin") << "Public Relations Office" << Box::Department;
        QTest::newRow("officer is a title") << "Chief Officer" << Box::Position;
        QTest::newRow("head of department is a title") << "営業部長" << Box::Position;
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
        QTest::newRow("latin name") << "Emily Carter" << Box::Name;
        QTest::newRow("latin name with an initial") << "John F. Smith" << Box::Name;
        QTest::newRow("latin words in lower case are no name") << "see you soon" << Box::None;
        QTest::newRow("mail read with spaces") << "kenichi. sasaki@hokushin. co. jp" << Box::Other;
        QTest::newRow("full-width mail") << "ｓａｔｏ＠ａｏｂａ．ｃｏ．ｊｐ" << Box::Other;
        QTest::newRow("web read with spaces") << "www. hokushin. co. jp" << Box::Other;
        QTest::newRow("phone with spaced dashes") << "03 - 3123 - 4567" << Box::Other;
        QTest::newRow("phone with long vowel signs") << "03ー3123ー4567" << Box::Other;
        QTest::newRow("phone with minus signs") << "03−3123−4567" << Box::Other;
        QTest::newRow("phone with tabs") << "03\t3123\t4567" << Box::Other;
        QTest::newRow("five kanji name") << "佐々木 健一" << Box::Name;
        QTest::newRow("six kanji name") << "長谷川健太郎" << Box::Name;
        QTest::newRow("two kanji name") << "林稔" << Box::Name;
        QTest::newRow("hiragana name") << "やまだ はなこ" << Box::Name;
        QTest::newRow("katakana name") << "スミス ジョン" << Box::Name;
        QTest::newRow("kanji and kana name") << "木村 さくら" << Box::Name;
        QTest::newRow("seven letters are no name") << "東京都千代田区" << Box::None;
        QTest::newRow("address with digits is no name") << "港区1丁目" << Box::None;
        QTest::newRow("research and development") << "Research and Development" << Box::Department;
        QTest::newRow("deputy editor in chief") << "副編集長" << Box::Position;
        QTest::newRow("deputy editor") << "Deputy Editor" << Box::Position;
        QTest::newRow("chief researcher") << "Chief Researcher" << Box::Position;
        QTest::newRow("blank") << "   " << Box::None;
    }
    void singleLine() {
        QFETCH(QString, line);
        QFETCH(Box, box);
        const std::vector<Box> boxes = scan::suggestBoxes({{line, 40}});
        QCOMPARE(boxes.size(), size_t(1));
        QCOMPARE(boxes[0], box);
    }

    // Lines given as "text@size"; the boxes expected, as captions joined by '|'. The name is the
    // largest name-like line; the reading only a smaller kana line right next to it.
    void nameAndReading_data() {
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<QString>("boxes");
        QTest::newRow("largest of several")
            << QStringList{"東京都千代田区@30", "鈴木@40", "佐藤 健一@120", "高橋美咲@90", "営業部@300"}
            << "なし|なし|名前|なし|部署名";
        QTest::newRow("six letters beat smaller ones")
            << QStringList{"長谷川健太郎@200", "やまだ@180"} << "名前|なし";
        QTest::newRow("furigana above")
            << QStringList{"株式会社北進@40", "ささき けんいち@25", "佐々木 健一@80"}
            << "組織名|ふりがな|名前";
        QTest::newRow("furigana below")
            << QStringList{"木村 恵理子@80", "きむら えりこ@24", "営業部@30"} << "名前|ふりがな|部署名";
        QTest::newRow("katakana reading")
            << QStringList{"サトウ ケンイチ@20", "佐藤 健一@80"} << "ふりがな|名前";
        QTest::newRow("kana line as large as the name is no reading")
            << QStringList{"ささき けんいち@80", "佐々木 健一@80"} << "なし|名前";
        QTest::newRow("kana line away from the name is no reading")
            << QStringList{"さとう けんいち@20", "課長@30", "佐藤 健一@80"} << "なし|身分|名前";
        QTest::newRow("latin name only without a japanese one")
            << QStringList{"Emily Carter@80", "佐藤 健一@60"} << "なし|名前";
        QTest::newRow("english card")
            << QStringList{"Blue Harbor Systems Inc.@40", "Emily Carter@80", "Sales Manager@30"}
            << "組織名|名前|身分";
        QTest::newRow("no name") << QStringList{"TEL 03-3123-4567@30"} << "その他";
        QTest::newRow("long-vowel strokes alone are no reading")
            << QStringList{"サイトウ ミキ@80", "ーー@30"} << "名前|なし";
        QTest::newRow("katakana reading with a long vowel")
            << QStringList{"コー タロウ@20", "高 太郎@80"} << "ふりがな|名前";
    }
    void nameAndReading() {
        QFETCH(QStringList, lines);
        QFETCH(QString, boxes);
        std::vector<scan::RecognisedLine> in;
        for (const QString& l : lines)
            in.push_back({l.section(QLatin1Char('@'), 0, 0), l.section(QLatin1Char('@'), 1).toInt()});
        QStringList got;
        for (Box b : scan::suggestBoxes(in))
            got << scan::boxLabel(b);
        QCOMPARE(got.join(QLatin1Char('|')), boxes);
    }

    // The lines as the rules read them: contact lines written plainly, spaced-out names joined, a
    // department and a title on one line split in two.
    void prepareLines_data() {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("prepared");
        QTest::newRow("mail with spaces after the dots") << "kenichi. sasaki@hokushin. co. jp"
                                                         << "その他=kenichi.sasaki@hokushin.co.jp";
        QTest::newRow("mail with spaces around the at") << "E-mail sato @ aoba-shoji. example. jp"
                                                        << "その他=E-mail sato@aoba-shoji.example.jp";
        QTest::newRow("full-width mail") << "ｓａｔｏ＠ａｏｂａ．ｃｏ．ｊｐ"
                                         << "その他=sato@aoba.co.jp";
        QTest::newRow("mail with commas for dots") << "hanako. yamada@yamamoto, example, jp"
                                                   << "その他=hanako.yamada@yamamoto.example.jp";
        QTest::newRow("mail with a space inside a word") << "k. sato@aoba-shoj i. example. jp"
                                                         << "その他=k.sato@aoba-shoji.example.jp";
        QTest::newRow("labelled mail with a space inside a word")
            << "Mail: hanako.yama da@yamamoto.example.jp"
            << "その他=Mail: hanako.yamada@yamamoto.example.jp";
        QTest::newRow("capital inside a domain") << "hanako.yamada@yamamoto.exampLe.JP"
                                                 << "その他=hanako.yamada@yamamoto.example.jp";
        QTest::newRow("capitals of the name before the at stay")
            << "Hanako.Yamada@yamamoto.example.jp"
            << "その他=Hanako.Yamada@yamamoto.example.jp";
        QTest::newRow("misread jp") << "chihiro.fujiwara@yamato-seiki.example.co.jf"
                                    << "その他=chihiro.fujiwara@yamato-seiki.example.co.jp";
        QTest::newRow("misread com") << "m.hayashi@toto-denki.example.corn"
                                     << "その他=m.hayashi@toto-denki.example.com";
        QTest::newRow("a country's domain stays") << "info@example.jo"
                                                  << "その他=info@example.jo";
        QTest::newRow("misread web domain") << "www.hokushin.co.jj"
                                            << "その他=www.hokushin.co.jp";
        QTest::newRow("logo read as signs before the organisation") << "=e 有限会社山本製作所"
                                                                    << "組織名=有限会社山本製作所";
        QTest::newRow("initials of the organisation stay") << "ABC 株式会社"
                                                           << "組織名=ABC 株式会社";
        QTest::newRow("abbreviated form stays") << "(株) 青葉商事"
                                                << "組織名=(株) 青葉商事";
        QTest::newRow("web") << "https: //www. hokushin. co. jp"
                             << "その他=https: //www.hokushin.co.jp";
        QTest::newRow("phone") << "TEL ０３ － ３１２３ － ４５６７"
                               << "その他=TEL 03-3123-4567";
        QTest::newRow("phone with long vowel signs") << "TEL 03ー3123ー4567"
                                                     << "その他=TEL 03-3123-4567";
        QTest::newRow("sentence with dots stays") << "Since 1950. Tokyo - Osaka"
                                                  << "なし=Since 1950. Tokyo - Osaka";
        QTest::newRow("section and head of office") << "総務課 室長"
                                                    << "部署名=総務課|身分=室長";
        QTest::newRow("department and head") << "第一営業部 部長"
                                             << "部署名=第一営業部|身分=部長";
        QTest::newRow("without a space") << "第一営業部部長"
                                         << "部署名=第一営業部|身分=部長";
        QTest::newRow("two levels and a title") << "総務部 人事課 課長代理"
                                                << "部署名=総務部 人事課|身分=課長代理";
        QTest::newRow("head of sales stays whole") << "営業部長"
                                                   << "身分=営業部長";
        QTest::newRow("department alone") << "総務部 人事課"
                                          << "部署名=総務部 人事課";
        QTest::newRow("title alone") << "代表取締役社長"
                                     << "身分=代表取締役社長";
        QTest::newRow("spaced-out name") << "佐 々 木 健 一"
                                         << "名前=佐々木健一";
        QTest::newRow("name with one space stays") << "佐々木 健一"
                                                   << "名前=佐々木 健一";
    }
    void prepareLines() {
        QFETCH(QString, line);
        QFETCH(QString, prepared);
        const std::vector<scan::RecognisedLine> lines = scan::prepareLines({{line, 40}});
        const std::vector<Box> boxes = scan::suggestBoxes(lines);
        QStringList got;
        for (size_t i = 0; i < lines.size(); ++i) {
            got << scan::boxLabel(boxes[i]) + QLatin1Char('=') + lines[i].text;
            QCOMPARE(lines[i].size, 40);
        }
        QCOMPARE(got.join(QLatin1Char('|')), prepared);
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

    // Readings of one line at several sizes, "text@confidence", and what they agree on.
    void agreedReading_data() {
        QTest::addColumn<QStringList>("readings");
        QTest::addColumn<QString>("agreed");
        QTest::newRow("the same letters read again outvote one surer misreading")
            << QStringList{"山口 千代子@88", "山口 千代子@92", "el Spats@95", "山口 千代子@60"}
            << "山口 千代子";
        QTest::newRow("one reading with the space gives it")
            << QStringList{"伊藤さとみ@93", "伊藤 さとみ@64", "伊藤さとみ@92"} << "伊藤 さとみ";
        QTest::newRow("of two spacings the surer")
            << QStringList{"サイトウ ミキ@80", "サイ トウミキ@40", "サイトウミキ@94"} << "サイトウ ミキ";
        QTest::newRow("empty readings count for nothing") << QStringList{"@99", "@99", "林 稔@10"} << "林 稔";
        QTest::newRow("readings of no confidence still count")
            << QStringList{"森 愛@0", "森 愛@0", "ZN@0"} << "森 愛";
        QTest::newRow("none") << QStringList{} << "";
    }
    void agreedReading() {
        QFETCH(QStringList, readings);
        QFETCH(QString, agreed);
        std::vector<scan::LineReading> in;
        for (const QString& r : readings)
            in.push_back({r.section(QLatin1Char('@'), 0, 0), r.section(QLatin1Char('@'), 1).toFloat()});
        QCOMPARE(scan::agreedReading(in), agreed);
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
