// Finding the cards that are one person and merging them, on real card files of both kinds;
// the merge command killed at random moments leaves all of a merge or none of it.

#include "commandrun.h"
#include "duplicates.h"
#include "picturefolder.h"

#include <QDir>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QThread>

#include <csignal>

#include "transferfixture.h"

using cards::CardTexts;

namespace {

// One card of a row: name | reading | organisation | memo | y/m/d, "-" in front marks it deleted.
CardTexts parseCard(const QString& row, bool* deleted) {
    QString text = row;
    *deleted = text.startsWith(u'-');
    if (*deleted)
        text.remove(0, 1);
    const QStringList f = text.split(u'|');
    const QStringList date = f.value(4, QStringLiteral("2026/1/1")).split(u'/');
    return {.name = f.value(0),
            .reading = f.value(1),
            .organisation = f.value(2),
            .memo = f.value(3),
            .year = date.value(0),
            .month = date.value(1),
            .day = date.value(2)};
}

}  // namespace

class TestDuplicates final : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<CardDatabase> m_dm;
    QList<int> m_keys;  // the stored cards' keys in the order of the row

    QString folder() const { return m_dir->path(); }

    // Stores the cards one after the other; the keys are what the card file's trigger gave them.
    void storeCards(const QStringList& rows) {
        m_keys.clear();
        for (const QString& row : rows) {
            bool deleted = false;
            const CardTexts t = parseCard(row, &deleted);
            const std::optional<int> inserted = cards::newCardInsert(*m_dm, t);
            const int key = cards::newCardKey(*m_dm, inserted);
            if (deleted)
                cards::cardRewrite(*m_dm, QString::number(key), t, cards::CardState::Deleted);
            m_keys << key;
        }
    }

    // A group as "0 1 reason", the cards named by their place in the row.
    QStringList describe(const QList<transfer::DuplicateGroup>& groups) const {
        QStringList lines;
        for (const transfer::DuplicateGroup& g : groups) {
            QStringList places;
            for (int key : g.keys)
                places << QString::number(m_keys.indexOf(key));
            lines << places.join(u' ') + u' ' + transfer::reasonName(g.reason);
        }
        return lines;
    }

    QString pictureFolder(int key) const { return picturefolder::baseFolder(folder(), QString::number(key)); }

    void putPicture(int key, const QString& name, const QByteArray& bytes) {
        QVERIFY(QDir().mkpath(pictureFolder(key)));
        fixture::writeFile(QDir(pictureFolder(key)).filePath(name), bytes);
    }

    QStringList pictureNames(int key) const {
        QStringList names = QDir(pictureFolder(key)).entryList(QDir::Files | QDir::Hidden);
        names.sort();
        return names;
    }

    cards::Card card(int key) {
        const std::optional<cards::Card> c = cards::fetchCard(*m_dm, key);
        m_dm->transaction.commit();
        return c.value_or(cards::Card{});
    }

private slots:
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        testdb::create(folder());
        m_dm = std::make_unique<CardDatabase>(folder());
        m_dm->open();
    }
    void cleanup() {
        m_dm.reset();
        m_dir.reset();
    }

    void groupsAreFoundWithTheirReason_data() {
        QTest::addColumn<QStringList>("cards");
        QTest::addColumn<QStringList>("dismissed");  // places, as "0 1"
        QTest::addColumn<QStringList>("groups");
        QTest::newRow("name and organisation folded")
            << QStringList{"山田 太郎|やまだ|ｶﾌﾞｼｷｶﾞｲｼｬ北星", "山田太郎||カブシキガイシャ北星",
                           "山田太郎||北星"}
            << QStringList{} << QStringList{"0 1 name-organisation"};
        QTest::newRow("letters in either width and case")
            << QStringList{"ＪＯＨＮ Smith||ACME", "john smith||ａｃｍｅ"} << QStringList{}
            << QStringList{"0 1 name-organisation"};
        QTest::newRow("job change: same name and reading")
            << QStringList{"佐藤 花子|さとう はなこ|北星商事", "佐藤花子|サトウハナコ|みなと物産",
                           "佐藤花子||南海運輸"}
            << QStringList{} << QStringList{"0 1 job-change"};
        QTest::newRow("the same e-mail in the memos")
            << QStringList{"山田||北星|mail: Taro.Yamada@Example.co.jp.",
                           "Yamada||Hokusei|ＴＡＲＯ．ＹＡＭＡＤＡ＠ｅｘａｍｐｌｅ．ｃｏ．ｊｐ",
                           "田中||北星|tanaka@example.co.jp"}
            << QStringList{} << QStringList{"0 1 email"};
        QTest::newRow("the same telephone however written")
            << QStringList{"山田||北星|TEL 03-1234-5678", "やまだ||ほくせい|電話（０３）１２３４－５６７８",
                           "Yamada||Hokusei|+81 3 1234 5678", "田中||北星|03-1234-5679"}
            << QStringList{} << QStringList{"0 1 2 phone"};
        QTest::newRow("dates and codes are no telephones")
            << QStringList{"A||x|2026-01-31 12:00 会議", "B||y|2026-01-31 12:00 会議",
                           "C||z|郵便番号 100-0001", "D||w|郵便番号 100-0001"}
            << QStringList{} << QStringList{};
        QTest::newRow("deleted cards and empty names stay out")
            << QStringList{"山田||北星", "-山田||北星", "||北星", "||北星"} << QStringList{} << QStringList{};
        QTest::newRow("a weaker reason inside a stronger group is not repeated")
            << QStringList{"山田||北星|03-1234-5678", "山田||北星|03-1234-5678", "山田|やまだ|北星",
                           "山田|やまだ|南海"}
            << QStringList{} << QStringList{"0 1 2 name-organisation", "2 3 job-change"};
        QTest::newRow("a dismissed group is not shown again")
            << QStringList{"山田||北星", "山田||北星", "鈴木||南海", "鈴木||南海"} << QStringList{"0 1"}
            << QStringList{"2 3 name-organisation"};
        QTest::newRow("a dismissed group with a new card is shown again")
            << QStringList{"山田||北星", "山田||北星", "山田||北星"} << QStringList{"0 1"}
            << QStringList{"0 1 2 name-organisation"};
    }
    void groupsAreFoundWithTheirReason() {
        QFETCH(QStringList, cards);
        QFETCH(QStringList, dismissed);
        QFETCH(QStringList, groups);
        storeCards(cards);
        for (const QString& places : dismissed) {
            QList<int> keys;
            for (const QString& p : places.split(u' '))
                keys << m_keys[p.toInt()];
            transfer::dismissGroup(m_dm->cardFolder(), keys);
        }
        QCOMPARE(describe(transfer::findDuplicates(*m_dm, transfer::readDismissed(m_dm->cardFolder()))),
                 groups);
    }

    // Which card keeps its key and which text each box takes; the memos all kept.
    void mergeTakesTheChosenTexts_data() {
        QTest::addColumn<QStringList>("cards");
        QTest::addColumn<int>("keep");                  // place in the row, -1 for the default
        QTest::addColumn<QString>("organisationFrom");  // place in the row, empty for the default
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("organisation");
        QTest::addColumn<QString>("date");
        QTest::addColumn<QStringList>("memoParts");
        QTest::newRow("defaults: oldest key, newest non-empty texts")
            << QStringList{"山田 太郎|やまだ|北星|古いメモ|2020/4/1", "山田太郎||北星|新しいメモ|2025/10/3"}
            << -1 << ""
            << "山田太郎"
            << "北星"
            << "2025/10/3"
            << QStringList{"古いメモ", "―― 番号 %1 の名刺（2025/10/3）のメモ ――", "新しいメモ"};
        QTest::newRow("newest by its date, not its key")
            << QStringList{"山田 太郎||北星||2025/1/1", "山田太郎||北星||2019/1/1"} << -1 << ""
            << "山田 太郎"
            << "北星"
            << "2025/1/1" << QStringList{};
        QTest::newRow("kept card and organisation chosen")
            << QStringList{"佐藤|さとう|北星|A|2020/1/1", "佐藤|さとう|南海|B|2024/1/1",
                           "佐藤||東邦||2023/1/1"}
            << 1 << "0"
            << "佐藤"
            << "北星"
            << "2024/1/1" << QStringList{"B", "―― 番号 %0 の名刺（2020/1/1）のメモ ――", "A"};
    }
    void mergeTakesTheChosenTexts() {
        QFETCH(QStringList, cards);
        QFETCH(int, keep);
        QFETCH(QString, organisationFrom);
        QFETCH(QString, name);
        QFETCH(QString, organisation);
        QFETCH(QString, date);
        QFETCH(QStringList, memoParts);
        storeCards(cards);
        QMap<cards::MergeBox, int> chosen;
        if (!organisationFrom.isEmpty())
            chosen[cards::MergeBox::Organisation] = m_keys[organisationFrom.toInt()];
        const QList<cards::Card> before = [&] {
            QList<cards::Card> list;
            for (int k : m_keys)
                list << card(k);
            return list;
        }();
        const transfer::MergeResult r =
            transfer::mergeDuplicates(*m_dm, m_keys, keep < 0 ? 0 : m_keys[keep], chosen);
        const int keptKey = keep < 0 ? *std::min_element(m_keys.begin(), m_keys.end()) : m_keys[keep];
        QCOMPARE(r.keptKey, keptKey);
        const cards::Card kept = card(keptKey);
        QCOMPARE(kept.state, cards::CardState::Live);
        QCOMPARE(kept.texts.name, name);
        QCOMPARE(kept.texts.organisation, organisation);
        QCOMPARE(transfer::joinDate(kept.texts), date);
        // Nothing typed is lost: every memo is in the kept card's, below a line with its date.
        for (const cards::Card& c : before)
            QVERIFY2(kept.texts.memo.contains(c.texts.memo), qPrintable(kept.texts.memo));
        QString expectedMemo;
        for (QString part : memoParts) {
            for (int i = 0; i < m_keys.size(); ++i)
                part.replace(QStringLiteral("%%1").arg(i), QString::number(m_keys[i]));
            expectedMemo += (expectedMemo.isEmpty() ? QString() : QStringLiteral("\r\n")) + part;
        }
        QCOMPARE(kept.texts.memo, expectedMemo);
        // The others are deleted with their texts as they were and a line saying where they went.
        for (int i = 0; i < m_keys.size(); ++i) {
            if (m_keys[i] == keptKey)
                continue;
            const cards::Card other = card(m_keys[i]);
            QCOMPARE(other.state, cards::CardState::Deleted);
            QCOMPARE(other.texts.name, before[i].texts.name);
            QCOMPARE(other.texts.organisation, before[i].texts.organisation);
            QVERIFY(other.texts.memo.startsWith(before[i].texts.memo));
            QVERIFY(
                other.texts.memo.endsWith(QStringLiteral("（番号 %1 の名刺に統合しました）").arg(keptKey)));
        }
    }

    // Refusals leave every card as it was.
    void refusedMergeChangesNothing_data() {
        QTest::addColumn<QStringList>("cards");
        QTest::addColumn<int>("keep");
        QTest::addColumn<QString>("message");
        const QString longMemo(4990, QChar(u'あ'));
        QTest::newRow("memo past its limit")
            << QStringList{"山田||北星|" + longMemo, "山田||北星|二枚目のメモです。"} << -1
            << "5000 文字を超えます";
        QTest::newRow("kept card not among them")
            << QStringList{"山田||北星", "山田||北星"} << 99 << "残す名刺の番号";
        QTest::newRow("a deleted card")
            << QStringList{"山田||北星", "-山田||北星"} << -1 << "削除されています";
        QTest::newRow("one card alone") << QStringList{"山田||北星"} << -1 << "2 枚以上";
    }
    void refusedMergeChangesNothing() {
        QFETCH(QStringList, cards);
        QFETCH(int, keep);
        QFETCH(QString, message);
        storeCards(cards);
        putPicture(m_keys.last(), "a.jpg", "picture");
        const QStringList before = fixture::storedCards(*m_dm);
        try {
            transfer::mergeDuplicates(*m_dm, m_keys, keep < 0 ? 0 : keep);
            QFAIL("the merge was not refused");
        } catch (const transfer::TransferError& e) {
            QVERIFY2(e.text().contains(message), qPrintable(e.text()));
        }
        QCOMPARE(fixture::storedCards(*m_dm), before);
        if (m_keys.size() > 1)
            QCOMPARE(pictureNames(m_keys.first()), QStringList{});
    }

    // Pictures keep their names, a number added on a clash; restoring a merged card brings it back
    // with its own texts and pictures.
    void picturesAreCopiedAndMergeIsUndone() {
        storeCards({"山田||北星|一枚目", "山田||北星|二枚目", "山田||北星|三枚目"});
        putPicture(m_keys[0], "photo1.jpg", "first");
        putPicture(m_keys[1], "photo1.jpg", "second");
        putPicture(m_keys[1], "裏.png", "back");
        putPicture(m_keys[2], "photo1.jpg", "third");
        putPicture(m_keys[2], ".hidden", "hidden");
        const cards::Card secondBefore = card(m_keys[1]);

        const transfer::MergeResult r = transfer::mergeDuplicates(*m_dm, m_keys);
        QCOMPARE(r.keptKey, m_keys[0]);
        QCOMPARE(pictureNames(m_keys[0]),
                 (QStringList{"photo1.jpg", "photo1_2.jpg", "photo1_3.jpg", "裏.png"}));
        const QDir kept(pictureFolder(m_keys[0]));
        QCOMPARE(fixture::readFile(kept.filePath("photo1.jpg")), QByteArray("first"));
        QCOMPARE(fixture::readFile(kept.filePath("photo1_2.jpg")) +
                     fixture::readFile(kept.filePath("photo1_3.jpg")),
                 QByteArray("secondthird"));
        QCOMPARE(fixture::readFile(kept.filePath("裏.png")), QByteArray("back"));
        QCOMPARE(pictureNames(m_keys[1]), (QStringList{"photo1.jpg", "裏.png"}));

        // "データ復元" on the merged card: it comes back live under its key with its pictures.
        cards::Card merged = card(m_keys[1]);
        QCOMPARE(merged.state, cards::CardState::Deleted);
        cards::cardRewrite(*m_dm, QString::number(m_keys[1]), merged.texts, cards::CardState::Live, &merged);
        const cards::Card restored = card(m_keys[1]);
        QCOMPARE(restored.state, cards::CardState::Live);
        QCOMPARE(restored.texts.name, secondBefore.texts.name);
        QVERIFY(restored.texts.memo.startsWith(secondBefore.texts.memo));
        QCOMPARE(fixture::readFile(QDir(pictureFolder(m_keys[1])).filePath("photo1.jpg")),
                 QByteArray("second"));
    }

    // A merge that fails at its commit takes its copied pictures back and writes no card.
    void failedCommitRemovesCopiedPictures() {
        storeCards({"山田||北星|一枚目", "山田||北星|二枚目"});
        putPicture(m_keys[0], "photo1.jpg", "first");
        putPicture(m_keys[1], "photo1.jpg", "second");
        const QStringList before = fixture::storedCards(*m_dm);
        cards::setStepObserver([](const char* step) {
            if (qstrcmp(step, "commit") == 0)
                throw DbError(QStringLiteral("書き込めません（試験）"));
        });
        QVERIFY_THROWS_EXCEPTION(DbError, transfer::mergeDuplicates(*m_dm, m_keys));
        cards::setStepObserver({});
        QCOMPARE(pictureNames(m_keys[0]), QStringList{"photo1.jpg"});
        QCOMPARE(fixture::storedCards(*m_dm), before);
    }

    // The merge command killed by SIGKILL at random moments: the card file and the pictures show
    // the whole merge or none of it.
    void killedMergeLeavesAllOrNothing() {
        storeCards({"山田||北星|一枚目|2020/1/1", "山田 ||北星|二枚目|2024/1/1"});
        putPicture(m_keys[1], "photo1.jpg", "second");
        m_dm.reset();
        const QString pristine = m_dir->filePath("pristine.fdb");
        const QString database = m_dir->filePath("data/DATA.FDB");
        QVERIFY(QFile::copy(database, pristine));
        const QString tool = QStringLiteral(CARDS_TOOL_PATH);
        const QStringList args{"merge", QString::number(m_keys[0]), QString::number(m_keys[1]),
                               "--card-folder", folder()};

        QElapsedTimer timer;
        timer.start();
        QCOMPARE(runCommand(tool, args).code, 0);
        const int fullRun = int(timer.elapsed());
        int merged = 0, untouched = 0;
        QRandomGenerator random(24);
        for (int round = 0; round < 24; ++round) {
            QFile::remove(database);
            QVERIFY(QFile::copy(pristine, database));
            QFile::setPermissions(database, QFile::ReadOwner | QFile::WriteOwner);
            QDir(pictureFolder(m_keys[0])).removeRecursively();
            QProcess p;
            p.start(tool, args);
            QVERIFY(p.waitForStarted());
            QThread::msleep(random.bounded(fullRun + 1));
            if (const qint64 pid = p.processId(); pid > 0)  // never kill(0, ...): the whole group
                ::kill(pid_t(pid), SIGKILL);
            p.waitForFinished();

            // The next start settles a merge cut off between its picture copies and its commit.
            CardDatabase dm(folder());
            dm.open();
            transfer::settleMerge(dm);
            QVERIFY(!QFileInfo::exists(transfer::mergeJournalFile(dm.cardFolder())));
            const cards::Card kept = cards::fetchCard(dm, m_keys[0]).value();
            const cards::Card other = cards::fetchCard(dm, m_keys[1]).value();
            const bool keptChanged = kept.texts.memo.contains(QStringLiteral("二枚目"));
            const bool otherDeleted = other.state == cards::CardState::Deleted;
            QCOMPARE(keptChanged, otherDeleted);
            QCOMPARE(kept.texts.name, keptChanged ? QStringLiteral("山田 ") : QStringLiteral("山田"));
            if (keptChanged) {
                QCOMPARE(pictureNames(m_keys[0]), QStringList{"photo1.jpg"});
                ++merged;
            } else {
                QCOMPARE(QDir(pictureFolder(m_keys[0])).entryList(QDir::Files), QStringList{});
                ++untouched;
            }
        }
        qInfo("kills: %d after the commit, %d before it", merged, untouched);

        // Killed at the very moment it would commit, its pictures copied: the next start takes
        // the copies back and the kept card's folder is as it was.
        QFile::remove(database);
        QVERIFY(QFile::copy(pristine, database));
        QFile::setPermissions(database, QFile::ReadOwner | QFile::WriteOwner);
        QDir(pictureFolder(m_keys[0])).removeRecursively();
        const CommandRun died =
            runCommand(QStringLiteral(MERGE_DIES_PATH),
                       {folder(), QString::number(m_keys[0]), QString::number(m_keys[1])});
        QVERIFY2(died.code == -1, qPrintable(died.err));  // killed, not ended
        QCOMPARE(QDir(pictureFolder(m_keys[0])).entryList(QDir::Files), QStringList{"photo1.jpg"});
        CardDatabase dm(folder());
        dm.open();
        transfer::settleMerge(dm);
        QCOMPARE(QDir(pictureFolder(m_keys[0])).entryList(QDir::Files | QDir::Hidden), QStringList{});
        QCOMPARE(pictureNames(m_keys[1]), QStringList{"photo1.jpg"});
        QVERIFY(!QFileInfo::exists(transfer::mergeJournalFile(dm.cardFolder())));
        QCOMPARE(cards::fetchCard(dm, m_keys[1])->state, cards::CardState::Live);
    }
};

QTEST_GUILESS_MAIN(TestDuplicates)
#include "tst_duplicates.moc"
