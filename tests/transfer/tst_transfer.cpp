// Export to CSV and vCard, import with duplicates found: what other programs read back, what a
// round trip keeps, and what bad files are refused with.

#include "csvformat.h"
#include "exporter.h"
#include "filemode.h"
#include "importer.h"
#include "transferfixture.h"

#include <QBuffer>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QJsonObject>
#include <QStandardPaths>

using transfer::FileFormat;

class TestTransfer final : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<CardDatabase> m_dm;

    QString path(const QString& name) const { return m_dir->filePath(name); }

    // Texts that need quoting, escaping or folding, and a deleted card.
    void storeAwkwardCards() {
        cards::CardTexts a = fixture::texts(QStringLiteral("山田 太郎"), QStringLiteral("北星商事, 株式会社"),
                                            QStringLiteral("一行目\r\n\"二行目\"; 円記号\\ と 😀"));
        a.reading = QStringLiteral("やまだ たろう");
        a.department = QStringLiteral("営業部;第二課");
        a.position = QStringLiteral("課長");
        cards::CardTexts b =
            fixture::texts(QStringLiteral("ＡＢＣ　商会"), QString(), QString(150 * 2, QChar(0x3042)));
        b.memo = b.memo.left(5000);
        b.year = QStringLiteral("99");
        b.month = QStringLiteral("1");
        b.day = QString();
        cards::CardTexts c = fixture::texts(QStringLiteral("鈴木"));
        c.year = c.month = c.day = QString();
        c.reading = QString();
        fixture::store(*m_dm, {a, b});
        fixture::store(*m_dm, {fixture::texts(QStringLiteral("削除済み"))}, cards::CardState::Deleted);
        fixture::store(*m_dm, {c});
    }

    // A second, empty card folder with its own connection.
    std::unique_ptr<CardDatabase> emptyCardFile(QTemporaryDir& dir) {
        testdb::create(dir.path());
        auto dm = std::make_unique<CardDatabase>(dir.path());
        dm->open();
        return dm;
    }

private slots:
    void initTestCase() { useDesktopUmask(); }
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        testdb::create(m_dir->path());
        m_dm = std::make_unique<CardDatabase>(m_dir->path());
        m_dm->open();
    }
    void cleanup() {
        m_dm.reset();
        m_dir.reset();
    }

    void csvIsReadByPythonsCsvModule() {
        storeAwkwardCards();
        QCOMPARE(transfer::exportCards(*m_dm, path("out.csv"), FileFormat::Csv, false), 3);
        const QByteArray bytes = fixture::readFile(path("out.csv"));
        QVERIFY(bytes.startsWith("\xEF\xBB\xBF"));
        QVERIFY(bytes.endsWith("\r\n"));
        QCOMPARE(bytes.count('\n'), bytes.count("\r\n"));  // every line ends in CR LF

        const QJsonArray rows = fixture::python(fixture::kReadCsv, path("out.csv"));
        QCOMPARE(rows.size(), 4);
        QStringList header;
        for (const auto& v : rows[0].toArray())
            header << v.toString();
        QCOMPARE(header, transfer::csv::columnNames());
        // Newest first; the deleted card left out.
        QCOMPARE(rows[1].toArray()[2].toString(), QStringLiteral("鈴木"));
        QCOMPARE(rows[1].toArray()[1].toString(), QString());
        const QJsonArray b = rows[2].toArray();
        QCOMPARE(b[1].toString(), QStringLiteral("99/1/"));
        QCOMPARE(b[7].toString().size(), 300);
        const QJsonArray a = rows[3].toArray();
        QCOMPARE(a[0].toString(), QStringLiteral("1"));
        QCOMPARE(a[1].toString(), QStringLiteral("2026/01/31"));
        QCOMPARE(a[4].toString(), QStringLiteral("北星商事, 株式会社"));
        QCOMPARE(a[5].toString(), QStringLiteral("営業部;第二課"));
        QCOMPARE(a[7].toString(), QStringLiteral("一行目\r\n\"二行目\"; 円記号\\ と 😀"));
        QCOMPARE(a[8].toString(), QString());

        QCOMPARE(transfer::exportCards(*m_dm, path("all.csv"), FileFormat::Csv, true), 4);
        const QJsonArray all = fixture::python(fixture::kReadCsv, path("all.csv"));
        QCOMPARE(all[2].toArray()[2].toString(), QStringLiteral("削除済み"));
        QCOMPARE(all[2].toArray()[8].toString(), QStringLiteral("削除"));
    }

    // A card file made elsewhere may hold a card without a name (NULL, not empty): it is
    // exported with the others, not passed over.
    void cardWithoutANameIsExported() {
        storeAwkwardCards();
        DbStatement& q = m_dm->statement;
        q.sql.clear();
        q.sql.add(QStringLiteral("INSERT INTO MST_CAR (KEY1, KATABAN) VALUES (0, '名前のない会社')"));
        q.execute();
        m_dm->transaction.commit();
        QCOMPARE(transfer::exportCards(*m_dm, path("out.csv"), FileFormat::Csv, false), 4);
        const QJsonArray rows = fixture::python(fixture::kReadCsv, path("out.csv"));
        QCOMPARE(rows.size(), 5);
        QCOMPARE(rows[1].toArray()[2].toString(), QString());
        QCOMPARE(rows[1].toArray()[4].toString(), QStringLiteral("名前のない会社"));
        QCOMPARE(transfer::exportCards(*m_dm, path("out.vcf"), FileFormat::VCard, true), 5);
    }

    void vcardIsReadByVobject() {
        storeAwkwardCards();
        QCOMPARE(transfer::exportCards(*m_dm, path("out.vcf"), FileFormat::VCard, false), 3);
        const QByteArray bytes = fixture::readFile(path("out.vcf"));
        for (const QByteArray& line : bytes.split('\n'))
            QVERIFY2(line.size() <= 76, line.constData());  // 75 octets and the CR
        QVERIFY(QString::fromUtf8(bytes).isValidUtf16());   // folding never splits a character

        const QJsonArray vcards = fixture::python(fixture::kReadVcard, path("out.vcf"));
        QCOMPARE(vcards.size(), 3);
        const QJsonObject suzuki = vcards[0].toObject();
        QCOMPARE(suzuki["FN"].toString(), QStringLiteral("鈴木"));
        QCOMPARE(suzuki["N"].toArray()[0].toString(), QStringLiteral("鈴木"));
        QVERIFY(!suzuki.contains("SORT-STRING") && !suzuki.contains("REV"));
        const QJsonObject abc = vcards[1].toObject();
        QCOMPARE(abc["NOTE"].toString().size(), 300);
        QVERIFY(!abc.contains("REV"));  // 99/1/ is no date
        QCOMPARE(abc["N"].toArray()[0].toString(),
                 QStringLiteral("ＡＢＣ"));  // split at the full-width space
        QCOMPARE(abc["N"].toArray()[1].toString(), QStringLiteral("商会"));
        const QJsonObject yamada = vcards[2].toObject();
        QCOMPARE(yamada["FN"].toString(), QStringLiteral("山田 太郎"));
        QCOMPARE(yamada["N"].toArray()[0].toString(), QStringLiteral("山田"));
        QCOMPARE(yamada["N"].toArray()[1].toString(), QStringLiteral("太郎"));
        QCOMPARE(yamada["X-PHONETIC-LAST-NAME"].toString(), QStringLiteral("やまだ"));
        QCOMPARE(yamada["X-PHONETIC-FIRST-NAME"].toString(), QStringLiteral("たろう"));
        QCOMPARE(yamada["SORT-STRING"].toString(), QStringLiteral("やまだ たろう"));
        QCOMPARE(yamada["ORG"].toArray()[0].toString(), QStringLiteral("北星商事, 株式会社"));
        QCOMPARE(yamada["ORG"].toArray()[1].toString(), QStringLiteral("営業部;第二課"));
        QCOMPARE(yamada["TITLE"].toString(), QStringLiteral("課長"));
        QCOMPARE(yamada["NOTE"].toString(), QStringLiteral("一行目\n\"二行目\"; 円記号\\ と 😀"));
        // REV is when a vCard last changed, not the card's date, which has its own property.
        QVERIFY(!yamada.contains("REV"));
        QCOMPARE(yamada["X-CARD-DATE"].toString(), QStringLiteral("2026/01/31"));
    }

    void roundTripKeepsTheCards_data() {
        QTest::addColumn<int>("format");
        QTest::addColumn<bool>("withDeleted");
        QTest::newRow("csv, deleted cards too") << int(FileFormat::Csv) << true;
        QTest::newRow("vcard") << int(FileFormat::VCard) << false;
        QTest::newRow("vcard, deleted cards too") << int(FileFormat::VCard) << true;
    }
    void roundTripKeepsTheCards() {
        QFETCH(int, format);
        QFETCH(bool, withDeleted);
        storeAwkwardCards();
        const auto f = FileFormat(format);
        transfer::exportCards(*m_dm, path("first"), f, withDeleted);

        QTemporaryDir other;
        auto target = emptyCardFile(other);
        const transfer::ImportPlan plan = transfer::planImport(*target, path("first"));
        QVERIFY(plan.duplicates.isEmpty());
        QList<int> percents;
        QCOMPARE(transfer::runImport(*target, plan, {}, [&](const QString&, int p) { percents << p; }),
                 withDeleted ? 4 : 3);
        QCOMPARE(percents, QList<int>{100});
        QCOMPARE(fixture::storedCards(*target), fixture::storedCards(*m_dm, withDeleted));

        transfer::exportCards(*target, path("second"), f, withDeleted);
        if (f == FileFormat::VCard) {
            // The files are the same but for the UIDs, which come from another card file's keys.
            auto withoutUids = [&](const QString& name) {
                QList<QByteArray> lines = fixture::readFile(path(name)).split('\n');
                lines.removeIf([](const QByteArray& l) { return l.startsWith("UID:"); });
                return lines;
            };
            QCOMPARE(withoutUids("second"), withoutUids("first"));
        }
    }

    // An export holds cards: only its owner may read it, whatever the umask, also when it
    // replaces an earlier file that others could read; a link keeps pointing at the new file.
    void exportIsTheOwnersAlone_data() {
        QTest::addColumn<int>("format");
        QTest::addColumn<QString>("earlier");
        QTest::newRow("csv") << int(FileFormat::Csv) << "";
        QTest::newRow("vcard") << int(FileFormat::VCard) << "";
        QTest::newRow("over an earlier file readable by all") << int(FileFormat::Csv) << "file";
        QTest::newRow("through a link to an earlier file") << int(FileFormat::VCard) << "link";
    }
    void exportIsTheOwnersAlone() {
        QFETCH(int, format);
        QFETCH(QString, earlier);
        fixture::store(*m_dm, {fixture::texts(QStringLiteral("山田"))});
        QString written = path("cards.out");
        QString named = written;
        if (!earlier.isEmpty()) {
            fixture::writeFile(written, "earlier");
            QVERIFY(QFile::setPermissions(
                written, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther));
        }
        if (earlier == "link") {
            named = path("link.out");
            QVERIFY(QFile::link(written, named));
        }
        QCOMPARE(transfer::exportCards(*m_dm, named, FileFormat(format), false), 1);
        QVERIFY(fixture::readFile(written).contains("山田"));
        QCOMPARE(fileMode(written), 0600);
        if (earlier == "link")
            QVERIFY(QFileInfo(named).isSymLink());
        QCOMPARE(QDir(m_dir->path()).entryList({"*.part*"}), QStringList());
    }

    void badFilesAreRefusedAndNothingIsWritten_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("message");
        const QByteArray head = "\xEF\xBB\xBF" + transfer::csv::header().mid(3);
        const QByteArray good = ",2026/1/2,佐藤,さとう,会社,部,係長,メモ,\r\n";
        QTest::newRow("empty") << QByteArray() << "ヘッダ行がありません";
        QTest::newRow("header only") << head << "名刺がありません";
        QTest::newRow("unclosed quote") << head + good + ",,\"佐藤,,,,,,,\r\n"
                                        << "3 行目: 引用符";
        QTest::newRow("stray quote") << head + ",,佐\"藤,,,,,,\r\n"
                                     << "2 行目: 引用符";
        QTest::newRow("field count") << head + good + good + ",,佐藤\r\n"
                                     << "4 行目: 項目の数が 3 個";
        QTest::newRow("no column for a name") << QByteArray("会社,電話,\r\n北星,03,\r\n")
                                              << "1 行目: ヘッダ行に「名前」も「ふりがな」もありません";
        QTest::newRow("name too long")
            << head + good + ",," + QString(151, QChar(0x4F50)).toUtf8() + ",,,,,,\r\n"
            << "3 行目: 名前が 150 文字を超えています（151 文字）";
        QTest::newRow("memo too long, line breaks count two")
            << head + ",,佐藤,,,,,\"" + QByteArray(4997, 'x') + "\n\nx\",\r\n"
            << "2 行目: メモが 5000 文字を超えています（5002 文字）";
        QTest::newRow("bad date") << head + ",2026/1/123,佐藤,,,,,,\r\n"
                                  << "2 行目: 日付「2026/1/123」";
        QTest::newRow("date not a date") << head + ",昨日,佐藤,,,,,,\r\n"
                                         << "2 行目: 日付「昨日」";
        QTest::newRow("no name, reading nor organisation") << head + ",,,,,部,,,\r\n"
                                                           << "2 行目: 名前もふりがなも組織名も";
        QTest::newRow("deleted mark") << head + ",,佐藤,,,,,,はい\r\n"
                                      << "2 行目: 「削除」の列";
        QTest::newRow("utf-16") << QByteArray("\xFF\xFE\x30\x4F\x00\x00", 6) << "文字コードがわかりません";
        QTest::newRow("bom but not utf-8")
            << QByteArray("\xEF\xBB\xBF\x83\x41\xFF") << "UTF-8 として読めない";
        QTest::newRow("binary") << QByteArray("\x89PNG\r\n\x1A\n\0\0\0\rIHDR", 16) << "";
        const QByteArray card = "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:佐藤\r\nEND:VCARD\r\n";
        QTest::newRow("vcard cut short") << card + "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:佐"
                                         << "2 件目のカード: END:VCARD がありません";
        QTest::newRow("vcard 2.0") << QByteArray("BEGIN:VCARD\r\nVERSION:2.0\r\nFN:a\r\nEND:VCARD\r\n")
                                   << "1 件目のカード: vCard 2.0 は読めません";
        QTest::newRow("vcard title too long")
            << card + "BEGIN:VCARD\r\nVERSION:4.0\r\nFN:a\r\nTITLE:" + QByteArray(101, 'T') +
                   "\r\nEND:VCARD\r\n"
            << "2 件目のカード: 身分が 100 文字を超えています";
        QTest::newRow("vcard stray line") << card + "FN:x\r\n"
                                          << "1 件目のカードの後に";
        QTest::newRow("vcard without name")
            << QByteArray("BEGIN:VCARD\r\nVERSION:3.0\r\nTITLE:課長\r\nEND:VCARD\r\n")
            << "1 件目のカード: 名前もふりがなも組織名も";
    }
    void badFilesAreRefusedAndNothingIsWritten() {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, message);
        fixture::store(*m_dm, {fixture::texts(QStringLiteral("既存"))});
        const QStringList before = fixture::storedCards(*m_dm);
        fixture::writeFile(path("bad"), bytes);
        try {
            transfer::planImport(*m_dm, path("bad"));
            QFAIL("the file was taken");
        } catch (const transfer::TransferError& e) {
            QVERIFY2(e.text().contains(message), qPrintable(e.text()));
        }
        QCOMPARE(fixture::storedCards(*m_dm), before);
    }

    void exportNeverWritesOverTheCardFile() {
        fixture::store(*m_dm, {fixture::texts(QStringLiteral("残る"))});
        QFile::link(m_dir->filePath("data/DATA.FDB"), path("link.csv"));
        for (const QString& target : {m_dir->filePath("data/../data/DATA.FDB"), path("link.csv")}) {
            try {
                transfer::exportCards(*m_dm, target, FileFormat::Csv, true);
                QFAIL("written");
            } catch (const transfer::TransferError& e) {
                QVERIFY2(e.text().contains(QStringLiteral("カードファイルそのもの")), qPrintable(e.text()));
            }
        }
        QCOMPARE(fixture::storedCards(*m_dm).size(), 1);
    }

    void missingFileIsNamed() {
        try {
            transfer::planImport(*m_dm, path("none.csv"));
            QFAIL("no error");
        } catch (const transfer::TransferError& e) {
            QVERIFY(e.text().contains(QStringLiteral("がありません")) && e.text().contains("none.csv"));
        }
    }

    void csvWithoutBomOrInShiftJisReads_data() {
        QTest::addColumn<QString>("encoding");
        QTest::newRow("utf-8 without bom") << "UTF-8";
        QTest::newRow("shift-jis") << "CP932";
    }
    void csvWithoutBomOrInShiftJisReads() {
        QFETCH(QString, encoding);
        // Circled digits and the wave dash are what Windows' Shift-JIS adds to the standard one.
        const QString text =
            QStringLiteral("名前,ふりがな,組織名,メモ\n高橋 ①,たかはし,東和精機,10時〜12時\n");
        fixture::writeFile(path("utf8.csv"), text.toUtf8());
        QProcess iconv;
        iconv.start("iconv", {"-f", "UTF-8", "-t", encoding, path("utf8.csv"), "-o", path("in.csv")});
        QVERIFY(iconv.waitForFinished() && iconv.exitCode() == 0);
        const transfer::ImportPlan plan = transfer::planImport(*m_dm, path("in.csv"));
        QCOMPARE(plan.encoding, encoding == "CP932" ? QStringLiteral("Shift-JIS") : QStringLiteral("UTF-8"));
        QCOMPARE(plan.cardCount, 1);
        QCOMPARE(plan.preview[0].texts.name, QStringLiteral("高橋 ①"));
        QCOMPARE(plan.preview[0].texts.organisation, QStringLiteral("東和精機"));
        QCOMPARE(plan.preview[0].texts.memo.right(3), QStringLiteral("12時"));
        QCOMPARE(plan.preview[0].texts.year, QString());
    }

    void vcard4WithManyCardsReads() {
        const QByteArray file =
            "BEGIN:VCARD\nVERSION:4.0\nN;SORT-AS=\"いとう,けん\":伊藤;健;;;\nitem1.ORG:青葉\\, "
            "システム;開発;一課\n"
            "NOTE:長い\n\t行\\n二行目\nREV:20240305T101010Z\nEND:VCARD\n"
            "begin:vcard\nversion:3.0\nfn:Ito\nx-phonetic-last-name:いとう\nEND:VCARD\n";
        fixture::writeFile(path("in.vcf"), file);
        const transfer::ImportPlan plan = transfer::planImport(*m_dm, path("in.vcf"));
        QCOMPARE(plan.format, FileFormat::VCard);
        QCOMPARE(plan.cardCount, 2);
        const cards::CardTexts& a = plan.preview[0].texts;
        QCOMPARE(a.name, QStringLiteral("伊藤 健"));
        QCOMPARE(a.reading, QStringLiteral("いとう けん"));
        QCOMPARE(a.organisation, QStringLiteral("青葉, システム"));
        QCOMPARE(a.department, QStringLiteral("開発 一課"));
        QCOMPARE(a.memo, QStringLiteral("長い行\r\n二行目"));
        QCOMPARE(a.year + a.month + a.day, QString());  // REV is no card date
        QCOMPARE(plan.preview[1].texts.name, QStringLiteral("Ito"));
        QCOMPARE(plan.preview[1].texts.reading, QStringLiteral("いとう"));
    }

    // Address books of phones write vCard 2.1: a character set per property, quoted-printable
    // with soft line breaks, nameless parameters, the reading as the name's sound; some write
    // Shift-JIS bytes with no character set named. What the card has no box for goes to the memo.
    void vcardsAsPhonesWriteThemRead_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QStringList>("expected");  // name, reading, organisation, department, position, memo
        using fixture::quotedPrintableLine;
        using fixture::shiftJis;
        const QByteArray begin = "BEGIN:VCARD\r\nVERSION:2.1\r\n", end = "END:VCARD\r\n";
        const QString longNote =
            QStringLiteral("展示会で名刺交換。来月に打ち合わせ予定、資料を送付すること。\r\n二行目＝ですね");
        QTest::newRow("shift-jis, quoted-printable, sound")
            << begin +
                   quotedPrintableLine("N;CHARSET=SHIFT_JIS;ENCODING=QUOTED-PRINTABLE",
                                       shiftJis("山田;太郎;;;")) +
                   "SOUND;X-IRMC-N;CHARSET=SHIFT_JIS:" + shiftJis("ﾔﾏﾀﾞ;ﾀﾛｳ;;;") + "\r\n" +
                   "TEL;CELL;VOICE:090-1111-2222\r\nTEL;WORK;VOICE:03-1234-5678\r\nTEL;FAX:03-1234-5679\r\n"
                   "EMAIL;INTERNET:taro@example.jp\r\n" +
                   quotedPrintableLine("ORG;CHARSET=SHIFT_JIS;ENCODING=QUOTED-PRINTABLE",
                                       shiftJis("北星商事;営業部")) +
                   quotedPrintableLine("NOTE;CHARSET=SHIFT_JIS;ENCODING=QUOTED-PRINTABLE",
                                       shiftJis(longNote)) +
                   end
            << QStringList{"山田 太郎",
                           "ﾔﾏﾀﾞ ﾀﾛｳ",
                           "北星商事",
                           "営業部",
                           "",
                           longNote +
                               "\r\n電話（携帯）: 090-1111-2222\r\n電話（勤務先）: 03-1234-5678\r\n"
                               "FAX: 03-1234-5679\r\nメール: taro@example.jp"};
        QTest::newRow("utf-8, quoted-printable, phonetic names")
            << begin +
                   quotedPrintableLine("N;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE",
                                       QByteArray("伊藤;健;;;")) +
                   quotedPrintableLine("FN;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE",
                                       QByteArray("伊藤 健（株式会社あおばシステム開発 第二営業部）")) +
                   quotedPrintableLine("X-PHONETIC-LAST-NAME;CHARSET=UTF-8;QUOTED-PRINTABLE",
                                       QByteArray("イトウ")) +
                   quotedPrintableLine("X-PHONETIC-FIRST-NAME;CHARSET=UTF-8;QUOTED-PRINTABLE",
                                       QByteArray("ケン")) +
                   "TITLE;CHARSET=UTF-8:課長\r\nURL:https://example.jp/\r\nBDAY:1980-04-01\r\n" + end
            << QStringList{"伊藤 健（株式会社あおばシステム開発 第二営業部）", "イトウ ケン", "", "", "課長",
                           "URL: https://example.jp/\r\n誕生日: 1980-04-01"};
        QTest::newRow("raw shift-jis without a character set")
            << begin + "N:" + shiftJis("表;示子;;;") + "\r\nSOUND;X-IRMC-N:" + shiftJis("ひょう;しめこ;;;") +
                   "\r\nADR;HOME:" + shiftJis(";;丸の内1-1;千代田区;東京都;100-0005;") + "\r\n" +
                   "X-PHONETIC-ORG:" + shiftJis("ソフトカイハツ") + "\r\nNICKNAME:" + shiftJis("ソ") +
                   "\r\n" + end
            << QStringList{"表 示子",
                           "ひょう しめこ",
                           "",
                           "",
                           "",
                           "住所: 〒100-0005 東京都 千代田区 丸の内1-1\r\nニックネーム: "
                           "ソ\r\n組織名のふりがな: ソフトカイハツ"};
        QTest::newRow("character set per property")
            << begin + "FN;CHARSET=UTF-8:鈴木 一郎\r\nORG;CHARSET=SHIFT_JIS:" + shiftJis("みなと物産") +
                   "\r\n" + "TEL;PREF;HOME:045-000-0000\r\n" + end
            << QStringList{"鈴木 一郎", "", "みなと物産", "", "", "電話（自宅）: 045-000-0000"};
        // Desktop and mobile address books: alternatives in two languages with the phonetic
        // name, grouped properties with their labels, a line folded inside a character,
        // quoted-printable in 3.0, a reading with a line break.
        QTest::newRow("4.0 alternatives, japanese preferred")
            << QByteArray(
                   "BEGIN:VCARD\r\nVERSION:4.0\r\nFN;ALTID=1;LANGUAGE=en:Taro Yamada\r\n"
                   "FN;ALTID=1;LANGUAGE=ja:山田 太郎\r\nN;ALTID=1;LANGUAGE=en:Yamada;Taro;;;\r\n"
                   "N;ALTID=1;LANGUAGE=ja:山田;太郎;;;\r\n"
                   "N;ALTID=1;PHONETIC=script;SCRIPT=Hrkt;LANGUAGE=ja:やまだ;たろう;;;\r\n"
                   "ORG;ALTID=2;LANGUAGE=en:Hokusei "
                   "Trading;Sales\r\nORG;ALTID=2;LANGUAGE=ja:北星商事;営業部\r\n"
                   "TITLE;ALTID=3;LANGUAGE=en:Manager\r\nTITLE;ALTID=3;LANGUAGE=ja:課長\r\n"
                   "REV:20240305T101010Z\r\nEND:VCARD\r\n")
            << QStringList{"山田 太郎", "やまだ たろう", "北星商事", "営業部", "課長", ""};
        QTest::newRow("grouped properties with labels")
            << QByteArray(
                   "BEGIN:VCARD\r\nVERSION:3.0\r\nN:鈴木;一郎;;;\r\nFN:鈴木 一郎\r\n"
                   "X-PHONETIC-LAST-NAME:すずき\r\nitem1.EMAIL;type=INTERNET;type=pref:ichiro@example.jp\r\n"
                   "item1.X-ABLabel:_$!<Work>!$_\r\nitem2.TEL:03-0000-1111\r\nitem2.X-ABLabel:代表\r\n"
                   "END:VCARD\r\n")
            << QStringList{"鈴木 一郎", "すずき",
                           "",          "",
                           "",          "電話（代表）: 03-0000-1111\r\nメール（Work）: ichiro@example.jp"};
        const QByteArray note = QStringLiteral("展示会").toUtf8();
        QTest::newRow("folded inside a character, quoted-printable in 3.0")
            << "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:折返\r\nNOTE:" + note.left(4) + "\r\n " + note.mid(4) +
                   "\r\nTITLE;ENCODING=QUOTED-PRINTABLE;CHARSET=UTF-8:=E8=AA=B2=E9=95=B7\r\nEND:VCARD\r\n"
            << QStringList{"折返", "", "", "", "課長", "展示会"};
        QTest::newRow("reading with a line break")
            << QByteArray(
                   "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:山田\r\nX-PHONETIC-LAST-NAME:やまだ\r\n"
                   "X-PHONETIC-FIRST-NAME:たろう\r\nSORT-STRING:やまだ\\nたろう\r\nEND:VCARD\r\n")
            << QStringList{"山田", "やまだ\r\nたろう", "", "", "", ""};
    }
    void vcardsAsPhonesWriteThemRead() {
        QFETCH(QByteArray, file);
        QFETCH(QStringList, expected);
        fixture::writeFile(path("phone.vcf"), file);
        const transfer::ImportPlan plan = transfer::planImport(*m_dm, path("phone.vcf"));
        QCOMPARE(plan.cardCount, 1);
        const cards::CardTexts& t = plan.preview[0].texts;
        QCOMPARE((QStringList{t.name, t.reading, t.organisation, t.department, t.position, t.memo}),
                 expected);
        QVERIFY(plan.preview[0].leftOut.isEmpty());
    }

    // Exports of other programs, written as they write them: what lands in each box and in the
    // memo, and which columns are left out.
    void csvFromOtherProgramsReads_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QStringList>("expected");  // name, reading, organisation, department, position, memo
        QTest::addColumn<QStringList>("leftOut");
        auto row = [](const QStringList& header, const QStringList& values, bool quoteAll = false) {
            auto line = [&](const QStringList& cells) {
                QStringList out;
                for (QString c : cells) {
                    if (quoteAll || c.contains(QLatin1Char(',')) || c.contains(QLatin1Char('"')) ||
                        c.contains(QLatin1Char('\n')))
                        c = QLatin1Char('"') + c.replace(QLatin1String("\""), QLatin1String("\"\"")) +
                            QLatin1Char('"');
                    out << c;
                }
                return out.join(QLatin1Char(',')) + QStringLiteral("\r\n");
            };
            return line(header) + line(values);
        };
        // Google Contacts, the older layout: a name and its parts, Yomi columns, pairs of a
        // value and its type.
        const QStringList googleOld = {"Name",
                                       "Given Name",
                                       "Additional Name",
                                       "Family Name",
                                       "Yomi Name",
                                       "Given Name Yomi",
                                       "Additional Name Yomi",
                                       "Family Name Yomi",
                                       "Name Prefix",
                                       "Nickname",
                                       "Birthday",
                                       "Notes",
                                       "Group Membership",
                                       "E-mail 1 - Type",
                                       "E-mail 1 - Value",
                                       "Phone 1 - Type",
                                       "Phone 1 - Value",
                                       "Phone 2 - Type",
                                       "Phone 2 - Value",
                                       "Address 1 - Type",
                                       "Address 1 - Formatted",
                                       "Address 1 - Street",
                                       "Address 1 - City",
                                       "Address 1 - Postal Code",
                                       "Organization 1 - Type",
                                       "Organization 1 - Name",
                                       "Organization 1 - Yomi Name",
                                       "Organization 1 - Title",
                                       "Organization 1 - Department",
                                       "Website 1 - Type",
                                       "Website 1 - Value"};
        QTest::newRow("google, older layout")
            << row(googleOld, {"山田 太郎",
                               "太郎",
                               "",
                               "山田",
                               "やまだ たろう",
                               "たろう",
                               "",
                               "やまだ",
                               "",
                               "たろちゃん",
                               "1980-04-01",
                               "展示会で交換",
                               "* myContacts",
                               "* Work",
                               "taro@example.jp",
                               "Mobile",
                               "090-1111-2222",
                               "Work",
                               "03-1234-5678",
                               "Work",
                               "東京都千代田区丸の内1-1",
                               "丸の内1-1",
                               "千代田区",
                               "100-0005",
                               "",
                               "北星商事",
                               "ほくせいしょうじ",
                               "課長",
                               "営業部",
                               "",
                               "https://example.jp"})
                   .toUtf8()
            << QStringList{"山田 太郎",
                           "やまだ たろう",
                           "北星商事",
                           "営業部",
                           "課長",
                           "展示会で交換\r\n電話（Mobile）: 090-1111-2222\r\n電話（Work）: 03-1234-5678\r\n"
                           "メール（Work）: taro@example.jp\r\n住所（Work）: 東京都千代田区丸の内1-1\r\n"
                           "URL: https://example.jp\r\n誕生日: 1980-04-01\r\nニックネーム: たろちゃん\r\n"
                           "組織名のふりがな: ほくせいしょうじ"}
            << QStringList{"Additional Name",         "Additional Name Yomi", "Name Prefix",
                           "Group Membership",        "Address 1 - Street",   "Address 1 - City",
                           "Address 1 - Postal Code", "Organization 1 - Type"};
        // Google Contacts, the newer layout: First/Last, Phonetic, Organization, "- Label".
        const QStringList googleNew = {"First Name",
                                       "Middle Name",
                                       "Last Name",
                                       "Phonetic First Name",
                                       "Phonetic Middle Name",
                                       "Phonetic Last Name",
                                       "Name Prefix",
                                       "File As",
                                       "Organization Name",
                                       "Organization Title",
                                       "Organization Department",
                                       "Notes",
                                       "Labels",
                                       "E-mail 1 - Label",
                                       "E-mail 1 - Value",
                                       "Phone 1 - Label",
                                       "Phone 1 - Value"};
        QTest::newRow("google, newer layout, japanese name")
            << row(googleNew, {"健", "", "伊藤", "けん", "", "いとう", "", "", "青葉システム", "部長",
                               "開発部", "", "* myContacts", "", "ken@example.jp", "Mobile", "090-0000-0000"})
                   .toUtf8()
            << QStringList{"伊藤 健",      "いとう けん",
                           "青葉システム", "開発部",
                           "部長",         "電話（Mobile）: 090-0000-0000\r\nメール: ken@example.jp"}
            << QStringList{"Middle Name", "Phonetic Middle Name", "Name Prefix", "File As", "Labels"};
        QTest::newRow("google, newer layout, latin name")
            << row(googleNew,
                   {"John", "", "Smith", "", "", "", "", "", "Acme", "", "", "", "", "", "", "", ""})
                   .toUtf8()
            << QStringList{"John Smith", "", "Acme", "", "", ""}
            << QStringList{"Middle Name", "Phonetic Middle Name", "Name Prefix", "File As", "Labels"};
        // Outlook in Japanese: Shift-JIS, every field quoted, the honorific left out.
        const QStringList outlook = {"敬称",
                                     "名",
                                     "姓",
                                     "フリガナ",
                                     "会社名",
                                     "部署",
                                     "役職",
                                     "番地 (会社)",
                                     "勤務先電話",
                                     "携帯電話",
                                     "勤務先 FAX",
                                     "電子メール アドレス",
                                     "電子メールの種類",
                                     "メモ"};
        QTest::newRow("outlook, japanese")
            << fixture::shiftJis(row(outlook,
                                     {"様", "花子", "佐藤", "さとう はなこ", "みなと物産", "総務課", "係長",
                                      "港区芝1-2-3", "03-5555-0000", "080-1234-5678", "03-5555-0001",
                                      "hanako@example.jp", "SMTP", "一行目\r\n二行目"},
                                     true))
            << QStringList{"佐藤 花子",
                           "さとう はなこ",
                           "みなと物産",
                           "総務課",
                           "係長",
                           "一行目\r\n二行目\r\n勤務先電話: 03-5555-0000\r\n携帯電話: 080-1234-5678\r\n"
                           "勤務先 FAX: 03-5555-0001\r\n電子メール アドレス: hanako@example.jp\r\n番地 "
                           "(会社): 港区芝1-2-3"}
            << QStringList{"敬称", "電子メールの種類"};
        // A sheet of our own columns with a 電話 column added, and the empty header cell a
        // spreadsheet leaves after the last column.
        QTest::newRow("spreadsheet with a phone column")
            << QByteArray("名前,ふりがな,組織名,電話,\r\n佐藤 一郎,さとう,会社,03-1111-2222,\r\n")
            << QStringList{"佐藤 一郎", "さとう", "会社", "", "", "電話: 03-1111-2222"} << QStringList{};
        // A text written so that spreadsheets keep it text comes back exactly; a text that only
        // starts like one (a phone number) is left as it is; U+FEFF at a field's start is text.
        QTest::newRow("texts guarded against formulas")
            << QByteArray(
                   "名前,ふりがな,組織名,部署,身分,メモ\r\n'=1+1,'+81-3-1234-5678,+81-3-1234-5678,'@x,'-1,\"'"
                   "'=2\"\r\n")
            << QStringList{"=1+1", "+81-3-1234-5678", "+81-3-1234-5678", "@x", "-1", "'=2"} << QStringList{};
        QTest::newRow("byte-order mark character in a field")
            << QByteArray("\xEF\xBB\xBF名前,組織名\r\n\xEF\xBB\xBF,\xEF\xBB\xBF会社\r\n")
            << QStringList{QString(QChar(0xFEFF)), "", QString(QChar(0xFEFF)) + "会社", "", "", ""}
            << QStringList{};
    }
    void csvFromOtherProgramsReads() {
        QFETCH(QByteArray, file);
        QFETCH(QStringList, expected);
        QFETCH(QStringList, leftOut);
        fixture::writeFile(path("other.csv"), file);
        const transfer::ImportPlan plan = transfer::planImport(*m_dm, path("other.csv"));
        QCOMPARE(plan.cardCount, 1);
        const cards::CardTexts& t = plan.preview[0].texts;
        QCOMPARE((QStringList{t.name, t.reading, t.organisation, t.department, t.position, t.memo}),
                 expected);
        QCOMPARE(plan.columns.leftOut(), leftOut);
        // What is read is what is written.
        QCOMPARE(transfer::runImport(*m_dm, plan, {}), 1);
        QCOMPARE(fixture::storedCards(*m_dm).first().split(QLatin1Char('|')).mid(3, 6), expected);
    }

    // The user's choice of a column's box replaces the header's.
    void chosenColumnsAreRead() {
        fixture::writeFile(path("in.csv"), "名前,電話,謎\r\n佐藤,03-1,あいう\r\n");
        transfer::ImportPlan plan = transfer::planImport(*m_dm, path("in.csv"));
        QCOMPARE(plan.columns.leftOut(), QStringList{"謎"});
        transfer::csv::Columns columns = plan.columns;
        columns.targets[1] = transfer::csv::retargeted(columns.targets[1], transfer::csv::Box::LeftOut);
        columns.targets[2] = transfer::csv::retargeted(columns.targets[2], transfer::csv::Box::Organisation);
        plan = transfer::planImport(*m_dm, path("in.csv"), &columns);
        QCOMPARE(plan.preview[0].texts.organisation, QStringLiteral("あいう"));
        QCOMPARE(plan.preview[0].texts.memo, QString());
        columns.targets[0] = transfer::csv::retargeted(columns.targets[0], transfer::csv::Box::LeftOut);
        try {
            transfer::planImport(*m_dm, path("in.csv"), &columns);
            QFAIL("taken without a name");
        } catch (const transfer::TransferError& e) {
            QVERIFY2(e.text().contains(QStringLiteral("「名前」も「ふりがな」もありません")),
                     qPrintable(e.text()));
        }
    }

    // Texts that a spreadsheet would take for formulas stay text when LibreOffice Calc opens the
    // export, plainly and with CSV options, and come back exactly on import.
    void csvCellsStayTextInCalcAndComeBack() {
        const QString soffice = QStandardPaths::findExecutable(QStringLiteral("soffice"));
        if (soffice.isEmpty())
            QSKIP("LibreOffice Calc is not installed (Debian package libreoffice-calc-nogui)");
        const QStringList risky = {"=HYPERLINK(\"http://example.invalid\",\"x\")",
                                   "=1+1",
                                   "=cmd|' /C calc'!A0",
                                   "+81-3-1234-5678",
                                   "-2+3",
                                   "@SUM(1,2)",
                                   "\t=1+1",
                                   "\r\n=1+1",
                                   "'quoted",
                                   "''=1"};
        QList<cards::CardTexts> list;
        for (const QString& text : risky) {
            cards::CardTexts t = fixture::texts(text, text, text);
            t.department = text;
            list << t;
        }
        fixture::store(*m_dm, list);
        transfer::exportCards(*m_dm, path("risky.csv"), FileFormat::Csv, false);
        const QString profile = QUrl::fromLocalFile(path("calc-profile")).toString();
        for (const QStringList& options : {QStringList{"--infilter=CSV:44,34,76,1"}, QStringList{}}) {
            QDir(path("calc")).removeRecursively();
            QProcess calc;
            calc.start(soffice,
                       QStringList{"-env:UserInstallation=" + profile, "--headless", "--convert-to", "fods"} +
                           options + QStringList{path("risky.csv"), "--outdir", path("calc")});
            QVERIFY(calc.waitForFinished(600000));
            const QJsonArray rows = fixture::python(fixture::kReadCalcCells, path("calc/risky.fods"));
            QCOMPARE(rows.size(), risky.size() + 1);
            for (const auto& row : rows) {
                for (const auto& cell : row.toArray())
                    QVERIFY2(!cell.toArray()[1].toBool(), qPrintable(cell.toArray()[0].toString()));
            }
        }
        QTemporaryDir other;
        auto target = emptyCardFile(other);
        transfer::runImport(*target, transfer::planImport(*target, path("risky.csv")), {});
        QCOMPARE(fixture::storedCards(*target), fixture::storedCards(*m_dm));
    }

    // Address books nobody here wrote read the vCard export: Evolution's parser and khard, which
    // needs a UID on every card. The UIDs stay the same from one export to the next.
    void vcardIsReadByAddressBooks() {
        storeAwkwardCards();
        transfer::exportCards(*m_dm, path("out.vcf"), FileFormat::VCard, true);
        transfer::exportCards(*m_dm, path("again.vcf"), FileFormat::VCard, true);
        QCOMPARE(fixture::readFile(path("again.vcf")), fixture::readFile(path("out.vcf")));
        const QJsonArray cards = fixture::python(fixture::kReadVcardWithEvolution, path("out.vcf"));
        if (cards.isEmpty())
            QSKIP("Evolution's contact parser is not installed (gir1.2-ebookcontacts-1.2, python3-gi)");
        QCOMPARE(cards.size(), 4);
        QSet<QString> uids;
        for (const auto& c : cards)
            uids.insert(c.toObject()["uid"].toString());
        QCOMPARE(uids.size(), 4);
        QVERIFY(!uids.contains(QString()));
        const QJsonObject deleted = cards[1].toObject();
        QCOMPARE(deleted["fn"].toString(), QStringLiteral("削除済み"));
        QCOMPARE(deleted["deleted"].toString(), QStringLiteral("TRUE"));
        const QJsonObject yamada = cards[3].toObject();
        QCOMPARE(yamada["fn"].toString(), QStringLiteral("山田 太郎"));
        QCOMPARE(yamada["org"].toString(), QStringLiteral("北星商事, 株式会社"));
        QCOMPARE(yamada["unit"].toString(), QStringLiteral("営業部;第二課"));
        QCOMPARE(yamada["note"].toString(), QStringLiteral("一行目\n\"二行目\"; 円記号\\ と 😀"));

        const QString khard = QStandardPaths::findExecutable(QStringLiteral("khard"));
        if (khard.isEmpty())
            QSKIP("khard is not installed");
        // khard keeps one card a file in a folder.
        QDir().mkpath(path("book"));
        int n = 0;
        for (const QByteArray& chunk : fixture::readFile(path("out.vcf")).split('\n')) {
            static QByteArray card;
            card += chunk + '\n';
            if (chunk.startsWith("END:VCARD")) {
                fixture::writeFile(path(QStringLiteral("book/%1.vcf").arg(++n)), card);
                card.clear();
            }
        }
        fixture::writeFile(path("khard.conf"), "[addressbooks]\n[[cards]]\npath = " + path("book").toUtf8() +
                                                   "\n[general]\ndefault_action = list\n");
        QProcess list;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), m_dir->path());
        list.setProcessEnvironment(env);
        list.start(khard, {"-c", path("khard.conf"), "list", "--parsable"});
        QVERIFY(list.waitForFinished(120000));
        const QString err = QString::fromUtf8(list.readAllStandardError());
        const QString out = QString::fromUtf8(list.readAllStandardOutput());
        QVERIFY2(!err.contains(QStringLiteral("UID")), qPrintable(err));
        QCOMPARE(out.count(QLatin1Char('\n')), 4);
        QVERIFY2(out.contains(QStringLiteral("太郎")), qPrintable(out));
    }

    // A card without a name is known again by its organisation, also from our own export.
    void cardWithoutANameIsNotImportedTwice() {
        DbStatement& q = m_dm->statement;
        q.sql.clear();
        q.sql.add(QStringLiteral("INSERT INTO MST_CAR (KEY1, KATABAN) VALUES (0, '名前のない会社')"));
        q.execute();
        m_dm->transaction.commit();
        for (const FileFormat format : {FileFormat::Csv, FileFormat::VCard}) {
            transfer::exportCards(*m_dm, path("nameless"), format, false);
            QTemporaryDir other;
            auto target = emptyCardFile(other);
            QCOMPARE(transfer::runImport(*target, transfer::planImport(*target, path("nameless")), {}), 1);
            const transfer::ImportPlan again = transfer::planImport(*target, path("nameless"));
            QCOMPARE(again.duplicates, QList<int>{0});
            QCOMPARE(transfer::runImport(*target, again, {}), 0);
            QCOMPARE(fixture::storedCards(*target).size(), 1);
        }
    }

    // A picture in a vCard goes to the new card's picture folder; one that does not decode is
    // said to be left out, and the card still comes in.
    void vcardPicturesGoToTheCardsFolder() {
        QImage image(40, 24, QImage::Format_RGB32);
        image.fill(Qt::darkCyan);
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        QVERIFY(image.save(&buffer, "PNG"));
        QByteArray folded;
        const QByteArray base64 = png.toBase64();
        for (qsizetype i = 0; i < base64.size(); i += 60)
            folded += "  " + base64.mid(i, 60) + "\r\n";
        fixture::writeFile(path("photo.vcf"),
                           "BEGIN:VCARD\r\nVERSION:2.1\r\nN:写真;あり\r\n"
                           "PHOTO;ENCODING=BASE64;TYPE=PNG:\r\n" +
                               folded +
                               "\r\nEND:VCARD\r\n"
                               "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:壊れ\r\n"
                               "PHOTO;ENCODING=b;TYPE=JPEG:AAAAAAAA\r\nEND:VCARD\r\n");
        const transfer::ImportPlan plan = transfer::planImport(*m_dm, path("photo.vcf"));
        QCOMPARE(plan.preview[0].pictures.size(), 1);
        QCOMPARE(plan.preview[1].pictures.size(), 0);
        QCOMPARE(plan.preview[1].leftOut, QStringList{"画像として読めない PHOTO"});
        QCOMPARE(transfer::runImport(*m_dm, plan, {}), 2);
        const int key = cards::newestKey(m_dm->statement);  // the file's first card is the newest
        const QString folder = m_dir->filePath(QStringLiteral("image/%1/base").arg(key));
        QCOMPARE(QDir(folder).entryList(QDir::Files), QStringList{"photo1.png"});
        QCOMPARE(fixture::readFile(folder + "/photo1.png"), png);
        QVERIFY(!QDir(m_dir->filePath(QStringLiteral("image/%1").arg(key - 1))).exists());
    }

    // The file is written in runs of cards read again from the end: the order holds across runs,
    // the skipped duplicates are the ones planned, and a file changed after its check is refused
    // with nothing written.
    void longFileKeepsItsOrderAndMustNotChange_data() {
        QTest::addColumn<bool>("vcard");
        QTest::newRow("csv") << false;
        QTest::newRow("vcard") << true;
    }
    void longFileKeepsItsOrderAndMustNotChange() {
        QFETCH(bool, vcard);
        fixture::store(*m_dm, {fixture::texts(QStringLiteral("名刺 300"), QStringLiteral("会社"))});
        QByteArray file = vcard ? QByteArray() : QByteArray("名前,組織名\r\n");
        QStringList expected;  // newest first
        for (int i = 0; i < 700; ++i) {
            const QByteArray name = "名刺 " + QByteArray::number(i);
            file += vcard ? "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:" + name + "\r\nORG:会社\r\nEND:VCARD\r\n"
                          : name + ",会社\r\n";
            if (i != 300)
                expected << QString::fromUtf8(name);
        }
        expected << QStringLiteral("名刺 300");
        fixture::writeFile(path("long"), file);
        const transfer::ImportPlan plan = transfer::planImport(*m_dm, path("long"));
        QCOMPARE(plan.cardCount, 700);
        QCOMPARE(plan.duplicates, QList<int>{300});

        // Changed after the check: refused, nothing written.
        fixture::writeFile(path("long"), file + file.right(40));
        try {
            transfer::runImport(*m_dm, plan, {});
            QFAIL("written from a changed file");
        } catch (const transfer::TransferError& e) {
            QVERIFY2(e.text().contains(QStringLiteral("確認の後で変わりました")), qPrintable(e.text()));
        }
        QCOMPARE(fixture::storedCards(*m_dm).size(), 1);

        fixture::writeFile(path("long"), file);
        QCOMPARE(transfer::runImport(*m_dm, transfer::planImport(*m_dm, path("long")), {}), 699);
        QStringList names;
        transfer::forEachStoredCard(*m_dm, false, [&](const transfer::Card& c) { names << c.texts.name; });
        QCOMPARE(names, expected);
    }

    void likelyDuplicatesAreSkippedUnlessTaken() {
        fixture::store(*m_dm, {fixture::texts(QStringLiteral("山田 太郎"), QStringLiteral("ＡＢＣ商事")),
                               fixture::texts(QStringLiteral("ｶﾀｶﾅ"), QString())});
        fixture::store(*m_dm, {fixture::texts(QStringLiteral("削除 済"), QStringLiteral("X"))},
                       cards::CardState::Deleted);
        fixture::writeFile(path("in.csv"),
                           QStringLiteral("名前,組織名\n"
                                          "山田　太郎,ABC 商事\n"       // width and spaces differ
                                          "山田太郎,ABC商事株式会社\n"  // another organisation
                                          "カタカナ,\n"                 // half-width kana folded
                                          "削除済,X\n"                  // deleted cards do not count
                                          "abc,\n")
                               .toUtf8());
        const transfer::ImportPlan plan = transfer::planImport(*m_dm, path("in.csv"));
        QCOMPARE(plan.duplicates, (QList<int>{0, 2}));
        QCOMPARE(transfer::originText(plan, plan.preview[2]), QStringLiteral("4 行目"));
        QCOMPARE(transfer::runImport(*m_dm, plan, {2}), 4);
        const QStringList names = [&] {
            QStringList n;
            transfer::forEachStoredCard(*m_dm, false, [&](const transfer::Card& c) { n << c.texts.name; });
            return n;
        }();
        // The file's first card is the newest.
        QCOMPARE(names, (QStringList{"山田太郎", "カタカナ", "削除済", "abc", "ｶﾀｶﾅ", "山田 太郎"}));
    }
};

QTEST_GUILESS_MAIN(TestTransfer)
#include "tst_transfer.moc"
