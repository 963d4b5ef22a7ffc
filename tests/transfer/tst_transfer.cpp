// Export to CSV and vCard, import with duplicates found: what other programs read back, what a
// round trip keeps, and what bad files are refused with.

#include "csvformat.h"
#include "exporter.h"
#include "filemode.h"
#include "importer.h"
#include "transferfixture.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonObject>

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
        QCOMPARE(yamada["REV"].toString(), QStringLiteral("2026-01-31"));
    }

    void roundTripKeepsTheCards_data() {
        QTest::addColumn<int>("format");
        QTest::addColumn<bool>("withDeleted");
        QTest::newRow("csv, deleted cards too") << int(FileFormat::Csv) << true;
        QTest::newRow("vcard") << int(FileFormat::VCard) << false;
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
        if (f == FileFormat::VCard)  // no keys in a vCard: the files are the same
            QCOMPARE(fixture::readFile(path("second")), fixture::readFile(path("first")));
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
        QTest::newRow("unknown column") << QByteArray("名前,電話\r\n佐藤,03\r\n") << "1 行目: 列「電話」";
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
        QTest::newRow("no name nor reading") << head + ",,,,会社,,,,\r\n"
                                             << "2 行目: 名前もふりがなも";
        QTest::newRow("deleted mark") << head + ",,佐藤,,,,,,はい\r\n"
                                      << "2 行目: 「削除」の列";
        QTest::newRow("utf-16") << QByteArray("\xFF\xFE\x30\x4F\x00\x00", 6) << "文字コードがわかりません";
        QTest::newRow("bom but not utf-8")
            << QByteArray("\xEF\xBB\xBF\x83\x41\xFF") << "UTF-8 として読めない";
        QTest::newRow("binary") << QByteArray("\x89PNG\r\n\x1A\n\0\0\0\rIHDR", 16) << "";
        const QByteArray card = "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:佐藤\r\nEND:VCARD\r\n";
        QTest::newRow("vcard cut short") << card + "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:佐"
                                         << "2 件目のカード: END:VCARD がありません";
        QTest::newRow("vcard 2.1") << QByteArray("BEGIN:VCARD\r\nVERSION:2.1\r\nFN:a\r\nEND:VCARD\r\n")
                                   << "1 件目のカード: vCard 2.1 は読めません";
        QTest::newRow("vcard title too long")
            << card + "BEGIN:VCARD\r\nVERSION:4.0\r\nFN:a\r\nTITLE:" + QByteArray(101, 'T') +
                   "\r\nEND:VCARD\r\n"
            << "2 件目のカード: 身分が 100 文字を超えています";
        QTest::newRow("vcard stray line") << card + "FN:x\r\n"
                                          << "1 件目のカードの後に";
        QTest::newRow("vcard without name")
            << QByteArray("BEGIN:VCARD\r\nVERSION:3.0\r\nORG:会社\r\nEND:VCARD\r\n")
            << "1 件目のカード: 名前もふりがなも";
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
        QCOMPARE(plan.cards.size(), 1);
        QCOMPARE(plan.cards[0].texts.name, QStringLiteral("高橋 ①"));
        QCOMPARE(plan.cards[0].texts.organisation, QStringLiteral("東和精機"));
        QCOMPARE(plan.cards[0].texts.memo.right(3), QStringLiteral("12時"));
        QCOMPARE(plan.cards[0].texts.year, QString());
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
        QCOMPARE(plan.cards.size(), 2);
        const cards::CardTexts& a = plan.cards[0].texts;
        QCOMPARE(a.name, QStringLiteral("伊藤 健"));
        QCOMPARE(a.reading, QStringLiteral("いとう けん"));
        QCOMPARE(a.organisation, QStringLiteral("青葉, システム"));
        QCOMPARE(a.department, QStringLiteral("開発 一課"));
        QCOMPARE(a.memo, QStringLiteral("長い行\r\n二行目"));
        QCOMPARE(a.year + a.month + a.day, QStringLiteral("20240305"));
        QCOMPARE(plan.cards[1].texts.name, QStringLiteral("Ito"));
        QCOMPARE(plan.cards[1].texts.reading, QStringLiteral("いとう"));
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
        QCOMPARE(transfer::originText(plan, plan.cards[2]), QStringLiteral("4 行目"));
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
