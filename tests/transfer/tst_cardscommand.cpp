// The tavrona-cards command run as a separate process: wrong use, a card folder it cannot use,
// and export and import through it.

#include "commandrun.h"
#include "folderlock.h"

#include <QDir>
#include <QJsonObject>
#include "transferfixture.h"

class TestCardsCommand final : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;

    static CommandRun run(const QStringList& args, const QString& workingDirectory = {}) {
        return runCommand(QStringLiteral(CARDS_TOOL_PATH), args, workingDirectory);
    }

    QString folder() const { return m_dir->path(); }

    QStringList stored(const QString& dir) {
        CardDatabase dm(dir);
        dm.open();
        return fixture::storedCards(dm);
    }

private slots:
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        testdb::create(folder());
        CardDatabase dm(folder());
        dm.open();
        fixture::store(dm, {fixture::texts(QStringLiteral("山田 太郎"), QStringLiteral("北星商事"),
                                           QStringLiteral("一行目\r\n二行目")),
                            fixture::texts(QStringLiteral("佐藤"), QStringLiteral("みなと物産"))});
    }
    void cleanup() { m_dir.reset(); }

    void wrongUseIsExplained_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("message");
        QTest::newRow("no command") << QStringList{} << "コマンドを指定してください";
        QTest::newRow("unknown command") << QStringList{"frob"} << "「frob」というコマンドはありません";
        QTest::newRow("no format") << QStringList{"export", "x.csv"} << "--format には csv か vcard";
        QTest::newRow("unknown format") << QStringList{"export", "--format", "pdf", "x"} << "--format には";
        QTest::newRow("no file") << QStringList{"import"} << "import には FILE を指定してください";
        QTest::newRow("two files") << QStringList{"import", "a", "b"} << "import には FILE";
        QTest::newRow("unknown option") << QStringList{"import", "--bogus", "a"} << "bogus";
        QTest::newRow("merge of one card") << QStringList{"merge", "1"} << "merge には KEY KEY...";
        QTest::newRow("merge of no number")
            << QStringList{"merge", "1", "x"} << "「x」は名刺の番号として読めません";
        QTest::newRow("dismiss of one card") << QStringList{"duplicates", "--dismiss", "1"} << "2 つ以上";
    }
    void wrongUseIsExplained() {
        QFETCH(QStringList, args);
        QFETCH(QString, message);
        const CommandRun r = run(args << "--card-folder" << folder());
        QCOMPARE(r.code, 2);
        QVERIFY2(r.err.contains(message), qPrintable(r.err));
    }

    void unusableCardFolderIsRefused() {
        QTemporaryDir empty;
        CommandRun r =
            run({"export", "--format", "csv", "x.csv", "--card-folder", empty.filePath("nothing")});
        QCOMPARE(r.code, 1);
        QVERIFY2(r.err.contains(QStringLiteral("カードフォルダ「")), qPrintable(r.err));
        r = run({"import", "x.csv", "--card-folder", empty.path()});
        QCOMPARE(r.code, 1);
        QVERIFY2(r.err.contains(QStringLiteral("data/DATA.FDB がありません")), qPrintable(r.err));

        // While the program holds the card folder, the tool leaves it alone.
        const cardfolder::Claim claim = cardfolder::claim(folder());
        QVERIFY(claim.lock);
        r = run({"export", "--format", "csv", empty.filePath("x.csv"), "--card-folder", folder()});
        QCOMPARE(r.code, 1);
        QVERIFY2(r.err.contains(QStringLiteral("すでに起動しています")), qPrintable(r.err));
        QVERIFY2(r.err.contains(QStringLiteral("終了してから")), qPrintable(r.err));
        QVERIFY(!QFile::exists(empty.filePath("x.csv")));
    }

    void backupAndRestoreThroughTheCommand() {
        const QString file = m_dir->filePath("cards.fbk");
        const QStringList before = stored(folder());
        {
            // While the program runs, its menu makes the backup.
            const cardfolder::Claim claim = cardfolder::claim(folder());
            const CommandRun r = run({"backup", file, "--card-folder", folder()});
            QCOMPARE(r.code, 1);
            QVERIFY2(r.err.contains(QStringLiteral("「バックアップ…」")), qPrintable(r.err));
        }
        CommandRun r = run({"--card-folder", folder(), "backup", file, "--with-pictures"});
        QCOMPARE(r.code, 0);
        QVERIFY2(r.out.contains(QStringLiteral("2 records written")), qPrintable(r.out));
        QVERIFY2(r.out.contains(QStringLiteral("画像 0 件")), qPrintable(r.out));
        QVERIFY(QFile::exists(m_dir->filePath("cards.pictures.tar")));

        // Into a card folder without a card file: the restore makes it.
        QTemporaryDir other;
        r = run({"restore", file, "--card-folder", other.path()});
        QCOMPARE(r.code, 0);
        QVERIFY2(r.out.contains(QStringLiteral("復元しました（名刺 2 件）")), qPrintable(r.out));
        QCOMPARE(stored(other.path()), before);
        r = run({"restore", m_dir->filePath("none.fbk"), "--card-folder", other.path()});
        QCOMPARE(r.code, 1);
        QVERIFY2(r.err.contains(QStringLiteral("がありません")), qPrintable(r.err));
    }

    void killedImportLeavesNoCard() {
        QByteArray csv = "名前,組織名\r\n";
        for (int i = 0; i < 30000; ++i)
            csv += "大量 " + QByteArray::number(i) + ",会社\r\n";
        fixture::writeFile(m_dir->filePath("many.csv"), csv);
        QProcess p;
        p.start(QStringLiteral(CARDS_TOOL_PATH),
                {"import", m_dir->filePath("many.csv"), "--card-folder", folder()});
        // The first line comes once the file is read and checked; the cards are written after it.
        QVERIFY(p.waitForReadyRead(60000));
        QTest::qWait(300);
        QCOMPARE(p.state(), QProcess::Running);
        p.kill();
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(stored(folder()).size(), 2);  // only the cards that were there before
    }

    void killedRestoreLeavesACardFile() {
        {
            CardDatabase dm(folder());
            dm.open();
            QList<cards::CardTexts> many;
            for (int i = 0; i < 20000; ++i)
                many << fixture::texts(QStringLiteral("名刺 %1").arg(i));
            fixture::store(dm, many);
        }
        QCOMPARE(run({"backup", m_dir->filePath("many.fbk"), "--card-folder", folder()}).code, 0);
        QTemporaryDir target;
        testdb::create(target.path());
        for (int delay : {50, 200, 500, 1000, 2000}) {
            QProcess p;
            p.start(QStringLiteral(CARDS_TOOL_PATH),
                    {"restore", m_dir->filePath("many.fbk"), "--card-folder", target.path()});
            QVERIFY(p.waitForStarted());
            if (!p.waitForFinished(delay)) {
                p.kill();
                QVERIFY(p.waitForFinished(10000));
            }
            // Whenever it was killed, the card file is the old one or the restored one.
            const qsizetype n = stored(target.path()).size();
            QVERIFY2(n == 0 || n == 20002, qPrintable(QString::number(n)));
        }
        // The next restore clears what the killed ones left.
        const CommandRun last = run({"restore", m_dir->filePath("many.fbk"), "--card-folder", target.path()});
        QVERIFY2(last.code == 0, qPrintable(last.err));
        QCOMPARE(QDir(target.path() + "/data").entryList({"*.restoring-*"}), QStringList());
    }

    // The command takes the same columns the window would and says where each goes.
    void importPrintsWhereColumnsGo() {
        fixture::writeFile(m_dir->filePath("outlook.csv"),
                           fixture::shiftJis(QStringLiteral("\"敬称\",\"姓\",\"名\",\"携帯電話\"\r\n"
                                                            "\"様\",\"高橋\",\"誠\",\"090-0000-1111\"\r\n")));
        const CommandRun r =
            run({"import", m_dir->filePath("outlook.csv"), "--dry-run", "--card-folder", folder()});
        QCOMPARE(r.code, 0);
        for (const char* line :
             {"CSV（Shift-JIS）、名刺 1 件", "列「敬称」→ 読み込まない", "列「姓」→ 名前（姓）",
              "列「名」→ 名前（名）", "列「携帯電話」→ メモ（携帯電話: …）", "1 件を登録できます"})
            QVERIFY2(r.out.contains(QString::fromUtf8(line)), qPrintable(r.out));
    }

    void exportAndImportThroughTheCommand() {
        const QString file = m_dir->filePath("cards.vcf");
        // The card folder defaults to the working directory.
        CommandRun r = run({"export", "--format", "vcard", file}, folder());
        QCOMPARE(r.code, 0);
        QVERIFY2(r.out.contains(QStringLiteral("2 件の名刺")), qPrintable(r.out));

        QTemporaryDir other;
        testdb::create(other.path());
        r = run({"import", file, "--dry-run", "--card-folder", other.path()});
        QCOMPARE(r.code, 0);
        QVERIFY2(r.out.contains(QStringLiteral("vCard（UTF-8）、名刺 2 件")), qPrintable(r.out));
        QVERIFY(stored(other.path()).isEmpty());

        r = run({"import", file, "--card-folder", other.path()});
        QCOMPARE(r.code, 0);
        QVERIFY2(r.out.contains(QStringLiteral("2 件の名刺を登録しました")), qPrintable(r.out));
        QCOMPARE(stored(other.path()), stored(folder()));

        // The same file again: both cards are listed as likely duplicates and skipped.
        r = run({"import", file, "--card-folder", other.path()});
        QCOMPARE(r.code, 0);
        QCOMPARE(r.out.count(QStringLiteral("（読み込みません）")), 2);
        QVERIFY2(r.out.contains(QStringLiteral("0 件の名刺を登録しました")), qPrintable(r.out));
        r = run({"import", file, "--allow-duplicates", "--card-folder", other.path()});
        QCOMPARE(r.code, 0);
        QCOMPARE(stored(other.path()).size(), 4);

        // A bad file: the message names the card, and nothing is written.
        fixture::writeFile(file, "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:x\r\n");
        r = run({"import", file, "--card-folder", other.path()});
        QCOMPARE(r.code, 1);
        QVERIFY2(r.err.contains(QStringLiteral("1 件目のカード: END:VCARD がありません")), qPrintable(r.err));
        QCOMPARE(stored(other.path()).size(), 4);
    }

    // The groups as a script reads them, a merge with its defaults, and a refused one.
    void duplicatesAndMergeThroughTheCommand() {
        {
            CardDatabase dm(folder());
            dm.open();
            fixture::store(dm, {fixture::texts(QStringLiteral("山田太郎"), QStringLiteral("北星商事"),
                                               QStringLiteral("TEL 03-1234-5678"))});
        }
        CommandRun r = run({"duplicates", "--card-folder", folder()});
        QCOMPARE(r.code, 0);
        QCOMPARE(r.out.split(u'\n', Qt::SkipEmptyParts).size(), 1);
        QVERIFY2(r.out.endsWith(QStringLiteral("\t名前と組織名が同じ\n")), qPrintable(r.out));
        const QStringList keys = r.out.section(u'\t', 0, 0).split(u' ');
        QCOMPARE(keys.size(), 2);

        r = run({"duplicates", "--json", "--card-folder", folder()});
        QCOMPARE(r.code, 0);
        const QJsonObject group = QJsonDocument::fromJson(r.out.toUtf8()).object();
        QCOMPARE(group.value("reason").toString(), QStringLiteral("name-organisation"));
        QCOMPARE(group.value("keys").toArray().size(), 2);
        QVERIFY(group.value("merge").toBool());

        const QStringList before = stored(folder());
        r = run({"merge", keys[0], "99", "--card-folder", folder()});
        QCOMPARE(r.code, 1);
        QVERIFY2(r.err.contains(QStringLiteral("番号 99 の名刺はありません")), qPrintable(r.err));
        QCOMPARE(stored(folder()), before);

        r = run({"merge", keys[0], keys[1], "--keep", keys[1], "--card-folder", folder()});
        QVERIFY2(r.code == 0, qPrintable(r.err));
        QVERIFY2(r.out.contains(QStringLiteral("番号 %1 の名刺に統合しました").arg(keys[1])),
                 qPrintable(r.out));
        const QStringList after = stored(folder());
        QCOMPARE(after.filter(QStringLiteral("|deleted")).size(), 1);
        QVERIFY(after.filter(QStringLiteral("|deleted"))
                    .first()
                    .contains(QStringLiteral("（番号 %1 の名刺に統合しました）").arg(keys[1])));
        r = run({"duplicates", "--card-folder", folder()});
        QCOMPARE(r.code, 0);
        QCOMPARE(r.out, QString());
    }
};

QTEST_GUILESS_MAIN(TestCardsCommand)
#include "tst_cardscommand.moc"
