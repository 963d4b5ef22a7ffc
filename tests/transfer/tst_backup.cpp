// Backup and restore: the backup is read by the engine's own command-line tool, the card file is
// only replaced by a restored file that was checked, and failures leave everything as it was.

#include "backup.h"
#include "dbstatement.h"
#include "fbservices.h"
#include "filemode.h"
#include "transferfixture.h"

#include <QDir>

class TestBackup final : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<CardDatabase> m_dm;

    QString folder() const { return m_dir->path(); }
    QString path(const QString& name) const { return m_dir->filePath(name); }

    static int runTool(const QString& program, const QStringList& args, QString* output = nullptr) {
        QProcess p;
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(program, args);  // inherits FIREBIRD_LOCK as the program sets it
        if (!p.waitForFinished(120000))
            return -1;
        if (output)
            *output = QString::fromUtf8(p.readAll());
        return p.exitCode();
    }

    void expectRefusal(const std::function<void()>& action, const QString& message) {
        try {
            action();
            QFAIL("no error");
        } catch (const transfer::TransferError& e) {
            QVERIFY2(e.text().contains(message), qPrintable(e.text()));
        }
    }

    QStringList leftovers() const {
        return QDir(folder() + "/data").entryList({"*.restoring-*"}) + QDir(folder()).entryList({"*.part"});
    }

private slots:
    void initTestCase() { useDesktopUmask(); }
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        testdb::create(folder());
        m_dm = std::make_unique<CardDatabase>(folder());
        m_dm->open();
        fixture::store(*m_dm, {fixture::texts(QStringLiteral("山田 太郎"), QStringLiteral("北星商事"),
                                              QStringLiteral("一行目\r\n二行目")),
                               fixture::texts(QStringLiteral("佐藤"))});
        fixture::store(*m_dm, {fixture::texts(QStringLiteral("削除済み"))}, cards::CardState::Deleted);
    }
    void cleanup() {
        m_dm.reset();
        m_dir.reset();
    }

    void backupOfTheOpenCardFileIsRestoredByGbak() {
        const QStringList cards = fixture::storedCards(*m_dm);
        QStringList steps;
        QList<int> percents;
        // The program's connection stays open and holds uncommitted work of its own.
        m_dm->transaction.start();
        const transfer::BackupResult r = transfer::backupCardFolder(folder(), path("cards.fbk"), false,
                                                                    [&](const QString& line, int percent) {
                                                                        steps << line;
                                                                        percents << percent;
                                                                    });
        QCOMPARE(r.cards, 3);
        QVERIFY(r.picturesArchive.isEmpty());
        QVERIFY(steps.contains(QStringLiteral("3 records written")));
        percents.removeAll(-1);  // steps without a measure
        QCOMPARE(percents.last(), 100);
        QVERIFY(std::is_sorted(percents.begin(), percents.end()));
        QVERIFY(leftovers().isEmpty());

        QTemporaryDir other;
        QDir().mkpath(other.path() + "/data");
        QString output;
        QCOMPARE(
            runTool("gbak", {"-c", "-user", "SYSDBA", path("cards.fbk"), other.path() + "/data/DATA.FDB"},
                    &output),
            0);
        CardDatabase restored(other.path());
        restored.open();
        QCOMPARE(fixture::storedCards(restored), cards);
    }

    void picturesGoIntoAnArchiveBeside() {
        QDir().mkpath(folder() + "/image/1/base");
        QDir().mkpath(folder() + "/image/2/base/sub");
        fixture::writeFile(folder() + "/image/1/base/scan.jpg", QByteArray(200000, 'j'));
        fixture::writeFile(folder() + QStringLiteral("/image/2/base/sub/名刺 裏.png"), "png");
        QFile::link(folder() + "/data/DATA.FDB", folder() + "/image/1/base/link.jpg");  // never followed

        const transfer::BackupResult r = transfer::backupCardFolder(folder(), path("cards.fbk"), true);
        QCOMPARE(r.picturesArchive, path("cards.pictures.tar"));
        QCOMPARE(r.pictureFiles, 2);
        QString listing;
        QCOMPARE(runTool("tar", {"-tf", r.picturesArchive}, &listing), 0);
        QStringList names = listing.split('\n', Qt::SkipEmptyParts);
        names.sort();
        QCOMPARE(names,
                 (QStringList{"image/1/base/scan.jpg", QStringLiteral("image/2/base/sub/名刺 裏.png")}));
        QString content;
        QCOMPARE(runTool("tar", {"-xOf", r.picturesArchive, "image/1/base/scan.jpg"}, &content), 0);
        QCOMPARE(content.size(), 200000);

        // Without a picture folder the archive is simply empty.
        QDir(folder() + "/image").removeRecursively();
        QCOMPARE(transfer::backupCardFolder(folder(), path("cards.fbk"), true).pictureFiles, 0);
    }

    void failedBackupKeepsTheEarlierOne() {
        fixture::writeFile(path("cards.fbk"), "earlier backup");
        expectRefusal([&] { transfer::backupCardFolder(folder(), folder(), false); }, "フォルダです");
        expectRefusal([&] { transfer::backupCardFolder(folder(), path("none/cards.fbk"), false); },
                      "がありません");
        expectRefusal([&] { transfer::backupCardFolder(folder(), folder() + "/data/DATA.FDB", false); },
                      "カードファイルそのもの");
        m_dm.reset();
        fixture::writeFile(folder() + "/data/DATA.FDB", QByteArray(16384, 'x'));  // not a database
        try {
            transfer::backupCardFolder(folder(), path("cards.fbk"), false);
            QFAIL("no error");
        } catch (const std::exception&) {
        }
        QCOMPARE(fixture::readFile(path("cards.fbk")), QByteArray("earlier backup"));
        QVERIFY(leftovers().isEmpty());
    }

    void restoreReplacesTheCardFileAndKeepsTheOldOne() {
        const QStringList before = fixture::storedCards(*m_dm);
        transfer::backupCardFolder(folder(), path("cards.fbk"), false);
        fixture::store(*m_dm, {fixture::texts(QStringLiteral("後から"))});

        bool released = false;
        const transfer::RestoreResult r = transfer::restoreCardFolder(folder(), path("cards.fbk"), {}, [&] {
            m_dm->connection.close();  // as the program does before the swap
            released = true;
        });
        QVERIFY(released);
        QCOMPARE(r.cards, 3);
        QVERIFY(r.previousFile.startsWith(folder() + "/data/DATA.FDB.before-restore-"));
        QCOMPARE(fbservices::inspectCardFile(r.previousFile).cards, 4);
        m_dm->connection.open();
        QCOMPARE(fixture::storedCards(*m_dm), before);
        // The key trigger came back with the generator: a new card gets a key above every other.
        cards::newCardInsert(*m_dm, fixture::texts(QStringLiteral("復元後")));
        QCOMPARE(cards::newestKey(m_dm->statement), 4);
        QVERIFY(leftovers().isEmpty());
    }

    // Every file a backup or a restore writes holds the cards: only their owner may read them,
    // whatever the umask, an earlier backup readable by all replaced included.
    void filesHoldingCardsAreTheOwnersAlone_data() {
        QTest::addColumn<QString>("kind");
        QTest::newRow("backup") << "backup";
        QTest::newRow("backup over an earlier one readable by all") << "backup over";
        QTest::newRow("pictures archive") << "archive";
        QTest::newRow("restored card file") << "restored";
        QTest::newRow("card file kept before the restore") << "kept";
    }
    void filesHoldingCardsAreTheOwnersAlone() {
        QFETCH(QString, kind);
        QString file;
        if (kind.startsWith("backup")) {
            file = path("cards.fbk");
            if (kind == "backup over") {
                fixture::writeFile(file, "earlier backup");
                QFile::setPermissions(
                    file, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
            }
            transfer::backupCardFolder(folder(), file, false);
        } else if (kind == "archive") {
            QDir().mkpath(folder() + "/image/1/base");
            fixture::writeFile(folder() + "/image/1/base/scan.jpg", "jpeg");
            file = transfer::backupCardFolder(folder(), path("cards.fbk"), true).picturesArchive;
            QString listing;
            QCOMPARE(runTool("tar", {"-tvf", file}, &listing), 0);
            QVERIFY2(listing.startsWith("-rw-------"), qPrintable(listing));  // unpacked as private
        } else {
            transfer::backupCardFolder(folder(), path("cards.fbk"), false);
            const transfer::RestoreResult r = transfer::restoreCardFolder(folder(), path("cards.fbk"), {},
                                                                          [&] { m_dm->connection.close(); });
            file = kind == "restored" ? folder() + "/data/DATA.FDB" : r.previousFile;
            QCOMPARE(fbservices::inspectCardFile(file).cards, 3);
        }
        QCOMPARE(fileMode(file), 0600);
        QVERIFY(leftovers().isEmpty());
    }

    void badBackupsLeaveTheCardFileAlone_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("message");
        QTest::newRow("missing") << "missing"
                                 << "がありません";
        QTest::newRow("a folder") << "folder"
                                  << "読めません";
        QTest::newRow("not a backup") << "garbage"
                                      << "復元できませんでした。カードファイルはそのままです。";
        QTest::newRow("cut short") << "cut"
                                   << "復元できませんでした。カードファイルはそのままです。";
        QTest::newRow("another database") << "other"
                                          << "名刺の表 MST_CAR がありません";
    }
    void badBackupsLeaveTheCardFileAlone() {
        QFETCH(QString, kind);
        QFETCH(QString, message);
        const QStringList before = fixture::storedCards(*m_dm);
        const QString file = path("bad.fbk");
        if (kind == "folder") {
            QDir().mkpath(file);
        } else if (kind == "garbage") {
            fixture::writeFile(file, QByteArray(10000, 'g'));
        } else if (kind == "cut") {
            transfer::backupCardFolder(folder(), path("whole.fbk"), false);
            fixture::writeFile(file, fixture::readFile(path("whole.fbk")).left(3000));
        } else if (kind == "other") {
            createDatabaseFile(path("other.fdb"), {"CREATE TABLE NOTES (A INTEGER)"});
            QCOMPARE(runTool("gbak", {"-b", "-user", "SYSDBA", path("other.fdb"), file}), 0);
        }
        const QByteArray cardFile = fixture::readFile(folder() + "/data/DATA.FDB");
        expectRefusal([&] { transfer::restoreCardFolder(folder(), file); }, message);
        QCOMPARE(fixture::storedCards(*m_dm), before);
        QVERIFY(leftovers().isEmpty());
        QStringList files = QDir(folder() + "/data").entryList(QDir::Files);
        files.removeAll("DATA.FDB.running");  // the open card file's marker
        QCOMPARE(files, QStringList{"DATA.FDB"});
    }
};

QTEST_GUILESS_MAIN(TestBackup)
#include "tst_backup.moc"
