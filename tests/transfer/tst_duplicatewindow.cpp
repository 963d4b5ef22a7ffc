// The window of likely duplicates, opened from the main menu over a real card file of either
// kind: the groups with their reasons, the merge window's choices box by box reaching the merged
// card, "別人" remembered, and a merge that fails leaving every card as it was.

#include "controls.h"
#include "duplicateswindow.h"
#include "fakes.h"
#include "mainmenuwindow.h"
#include "picturefolder.h"
#include "programundertest.h"
#include "startup.h"
#include "transferfixture.h"

#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStandardPaths>
#include <QTableWidget>

using cards::CardTexts;

namespace {

// One card: name | reading | organisation | department | position | memo | y/m/d.
CardTexts parseCard(const QString& row) {
    const QStringList f = row.split(u'|');
    const QStringList date = f.value(6, QStringLiteral("2026/1/1")).split(u'/');
    return {.name = f.value(0),
            .reading = f.value(1),
            .organisation = f.value(2),
            .department = f.value(3),
            .position = f.value(4),
            .memo = f.value(5),
            .year = date.value(0),
            .month = date.value(1),
            .day = date.value(2)};
}

QString boxesLine(const CardTexts& t) {
    return QStringList{t.name,       t.reading,  t.organisation,
                       t.department, t.position, QStringLiteral("%1/%2/%3").arg(t.year, t.month, t.day)}
        .join(u'|');
}

QStringList column(const QTableWidget* table, int c) {
    QStringList cells;
    for (int row = 0; row < table->rowCount(); ++row)
        cells << table->item(row, c)->text();
    return cells;
}

}  // namespace

class TestDuplicateWindow final : public QObject {
    Q_OBJECT

    QTemporaryDir m_home;
    std::unique_ptr<QTemporaryDir> m_dir;
    QList<int> m_keys;  // the stored cards' keys in the order of the row

    CardDatabase& db() { return *program->database(); }

    void storeCards(const QStringList& rows) {
        m_keys.clear();
        for (const QString& row : rows)
            m_keys << cards::newCardKey(db(), cards::newCardInsert(db(), parseCard(row)));
    }

    // The keys of the places "0 2" as the window writes them.
    QString keys(const QString& places) const {
        QStringList texts;
        for (const QString& p : places.split(u' '))
            texts << QString::number(m_keys[p.toInt()]);
        return texts.join(QStringLiteral("、"));
    }

    cards::Card card(int key) {
        const std::optional<cards::Card> c = cards::fetchCard(db(), key);
        db().transaction.commit();
        return c.value_or(cards::Card{});
    }

    QString pictureFolder(int place) const {
        return picturefolder::baseFolder(m_dir->path(), QString::number(m_keys[place]));
    }

    void putPicture(int place, const QString& name) {
        QVERIFY(QDir().mkpath(pictureFolder(place)));
        fixture::writeFile(QDir(pictureFolder(place)).filePath(name), name.toUtf8());
    }

    // Opens the window from the main menu; run answers it while it is open.
    void openFromMenu(MessageRecorder& boxes, const std::function<void(DuplicatesWindow*)>& run) {
        boxes.onShowModal = [&](QDialog* d) {
            if (auto* window = qobject_cast<DuplicatesWindow*>(d))
                run(window);
        };
        ctl<QAction>(program->mainMenu(), "DuplicatesAction")->trigger();
        QVERIFY2(boxes.texts("error").isEmpty(), qPrintable(boxes.texts("error").join(u'\n')));
    }

private slots:
    void initTestCase() {
        // The user's settings go to a home of the test's own.
        QVERIFY(m_home.isValid());
        qputenv("HOME", m_home.path().toUtf8());
        qunsetenv("XDG_CONFIG_HOME");
        QStandardPaths::setTestModeEnabled(true);
        configureEmbeddedEngine();
    }

    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        testdb::create(m_dir->path());
        MessageRecorder quiet;
        program = composeProgram(CardFolder::local(m_dir->path()));
        QVERIFY(program);
    }
    void cleanup() {
        cards::setStepObserver({});
        program.reset();
        m_dir.reset();
    }

    // The groups strongest first, each with its reason; the first group meant to be merged is
    // the chosen one, a job change never is.
    void groupsAreListedWithTheirReasons_data() {
        QTest::addColumn<QStringList>("cards");
        QTest::addColumn<QStringList>("groups");  // places
        QTest::addColumn<QStringList>("reasons");
        QTest::addColumn<int>("chosenRow");  // -1: none
        QTest::newRow("every reason")
            << QStringList{"佐藤 花子|さとう|北星商事",      "鈴木||南海|||suzuki@example.jp",
                           "山田 太郎||ｶﾌﾞｼｷｶﾞｲｼｬ北星",      "佐藤花子|サトウ|みなと物産",
                           "山田太郎||カブシキガイシャ北星", "スズキ||南海運輸|||SUZUKI@example.jp",
                           "田中||東邦|||TEL 03-1234-5678",  "たなか||東邦運輸|||（０３）１２３４－５６７８"}
            << QStringList{"2 4", "1 5", "6 7", "0 3"}
            << QStringList{"名前と組織名が同じ", "メモに同じメールアドレス（suzuki@example.jp）",
                           "メモに同じ電話番号（0312345678）", "名前とふりがなが同じで組織名が違う（転職？）"}
            << 0;
        QTest::newRow("a job change alone is not chosen")
            << QStringList{"佐藤 花子|さとう|北星商事", "佐藤花子|さとう|みなと物産"} << QStringList{"0 1"}
            << QStringList{"名前とふりがなが同じで組織名が違う（転職？）"} << -1;
        QTest::newRow("none") << QStringList{"佐藤|さとう|北星", "山田|やまだ|北星"} << QStringList{}
                              << QStringList{} << -1;
    }
    void groupsAreListedWithTheirReasons() {
        QFETCH(QStringList, cards);
        QFETCH(QStringList, groups);
        QFETCH(QStringList, reasons);
        QFETCH(int, chosenRow);
        storeCards(cards);
        QStringList expectedKeys;
        for (const QString& g : groups)
            expectedKeys << keys(g);
        MessageRecorder boxes;
        bool shown = false;
        openFromMenu(boxes, [&](DuplicatesWindow* w) {
            shown = true;
            QCOMPARE(column(w->m_groupTable, 0), expectedKeys);
            QCOMPARE(column(w->m_groupTable, 3), reasons);
            const QList<QTableWidgetSelectionRange> selected = w->m_groupTable->selectedRanges();
            QCOMPARE(selected.isEmpty() ? -1 : selected.first().topRow(), chosenRow);
            QCOMPARE(w->m_mergeButton->isEnabled(), chosenRow >= 0);
            QCOMPARE(w->m_summaryLabel->text().contains(QStringLiteral("見つかりませんでした")),
                     groups.isEmpty());
        });
        QVERIFY(shown);
    }

    // What the user picks in the merge window, box by box and for the kept key, is what the
    // merged card holds; the window shows it before it is written.
    void choicesPerBoxReachTheMergedCard_data() {
        QTest::addColumn<QStringList>("cards");
        QTest::addColumn<QStringList>("clicks");  // "Keep 1", "Name 0", "same" (the job change check)
        QTest::addColumn<int>("kept");            // place
        QTest::addColumn<QString>("boxes");       // name|reading|organisation|department|position|date
        QTest::newRow("defaults: oldest key, newest non-empty texts")
            << QStringList{"山田 太郎|やまだ|北星|営業部|課長|古いメモ|2020/4/1",
                           "山田太郎||北星|総務部||新しいメモ|2025/10/3"}
            << QStringList{} << 0 << "山田太郎|やまだ|北星|総務部|課長|2025/10/3";
        QTest::newRow("each box picked, the newer key kept")
            << QStringList{"山田 太郎|やまだ|北星|営業部|課長|古いメモ|2020/4/1",
                           "山田太郎|ヤマダ|北星|総務部|部長|新しいメモ|2025/10/3"}
            << QStringList{"Keep 1",       "Name 0",     "Reading 1", "Organisation 1",
                           "Department 0", "Position 0", "Date 0"}
            << 1 << "山田 太郎|ヤマダ|北星|営業部|課長|2020/4/1";
        QTest::newRow("an empty box may be chosen")
            << QStringList{"山田|やまだ|北星|営業部||A|2020/1/1", "山田||北星|||B|2021/1/1"}
            << QStringList{"Department 1"} << 0 << "山田|やまだ|北星|||2021/1/1";
        QTest::newRow("job change merged once confirmed")
            << QStringList{"佐藤 花子|さとう|北星商事|||A|2019/1/1",
                           "佐藤花子|さとう|みなと物産|||B|2024/5/1"}
            << QStringList{"same"} << 0 << "佐藤花子|さとう|みなと物産|||2024/5/1";
    }
    void choicesPerBoxReachTheMergedCard() {
        QFETCH(QStringList, cards);
        QFETCH(QStringList, clicks);
        QFETCH(int, kept);
        QFETCH(QString, boxes);
        storeCards(cards);
        putPicture(0, "photo1.jpg");
        putPicture(1, "photo1.jpg");
        putPicture(1, "裏.png");
        QList<cards::Card> before;
        for (int key : m_keys)
            before << card(key);
        const int keptKey = m_keys[kept];

        MessageRecorder recorder;
        int mergeWindows = 0;
        recorder.onShowModal = [&](QDialog* d) {
            if (auto* list = qobject_cast<DuplicatesWindow*>(d)) {
                QCOMPARE(list->groups().size(), 1);
                list->m_groupTable->selectRow(0);
                list->m_mergeButton->click();
                // The list is read again after the merge: the group is gone.
                QCOMPARE(list->m_groupTable->rowCount(), 0);
                return;
            }
            auto* merge = qobject_cast<MergeWindow*>(d);
            QVERIFY(merge);
            ++mergeWindows;
            QCOMPARE(merge->m_samePersonCheck->isVisibleTo(merge), clicks.contains("same"));
            for (const QString& click : clicks) {
                if (click == "same") {
                    QVERIFY(!merge->m_mergeButton->isEnabled());  // a job change is never merged unasked
                    merge->m_samePersonCheck->click();
                    continue;
                }
                const QStringList parts = click.split(u' ');
                const QString name = parts[0] + u'_' + QString::number(m_keys[parts[1].toInt()]);
                auto* button = merge->findChild<QRadioButton*>(name);
                QVERIFY2(button, qPrintable(name));
                button->click();
            }
            // The merged card as it will be written, the memo with the other's appended.
            QCOMPARE(merge->findChild<QLabel*>("MergedName")->text(), boxes.section(u'|', 0, 0));
            QCOMPARE(merge->findChild<QLabel*>("MergedDate")->text(), boxes.section(u'|', 5, 5));
            const int other = m_keys[1 - kept];
            QVERIFY2(merge->m_mergedMemoBox->toPlainText().contains(
                         QStringLiteral("―― 番号 %1 の名刺").arg(other)),
                     qPrintable(merge->m_mergedMemoBox->toPlainText()));
            QCOMPARE(merge->findChild<QLabel*>("MergedPictures")->text(),
                     QStringLiteral("3 枚（%1 枚をコピー）").arg(kept == 0 ? 2 : 1));
            QVERIFY2(merge->m_summaryLabel->text().contains(
                         QStringLiteral("画像 %1 枚を番号 %2 の画像フォルダにコピーします")
                             .arg(kept == 0 ? 2 : 1)
                             .arg(keptKey)),
                     qPrintable(merge->m_summaryLabel->text()));
            QVERIFY(merge->m_mergeButton->isEnabled());
            merge->m_mergeButton->click();
        };
        ctl<QAction>(program->mainMenu(), "DuplicatesAction")->trigger();
        QVERIFY2(recorder.texts("error").isEmpty(), qPrintable(recorder.texts("error").join(u'\n')));
        QCOMPARE(mergeWindows, 1);
        QVERIFY(recorder.texts("show").value(0).startsWith(
            QStringLiteral("番号 %1 の名刺に統合しました。").arg(keptKey)));

        const cards::Card merged = card(keptKey);
        QCOMPARE(merged.state, cards::CardState::Live);
        QCOMPARE(boxesLine(merged.texts), boxes);
        for (const cards::Card& c : before)
            QVERIFY2(merged.texts.memo.contains(c.texts.memo), qPrintable(merged.texts.memo));
        const cards::Card retired = card(m_keys[1 - kept]);
        QCOMPARE(retired.state, cards::CardState::Deleted);
        QCOMPARE(boxesLine(retired.texts), boxesLine(before[1 - kept].texts));
        QCOMPARE(QDir(pictureFolder(kept)).entryList(QDir::Files).size(), 3);
    }

    // "別人" asks, then hides the group for good; answered いいえ, nothing changes.
    void dismissIsRemembered_data() {
        QTest::addColumn<bool>("answer");
        QTest::newRow("yes") << true;
        QTest::newRow("no") << false;
    }
    void dismissIsRemembered() {
        QFETCH(bool, answer);
        storeCards({"山田||北星", "佐藤||南海", "山田||北星", "佐藤||南海"});
        MessageRecorder boxes;
        openFromMenu(boxes, [&](DuplicatesWindow* w) {
            QCOMPARE(column(w->m_groupTable, 0), (QStringList{keys("0 2"), keys("1 3")}));
            w->m_groupTable->selectRow(1);
            boxes.expectQuestion(QStringLiteral("番号 %1 の名刺を別の人として、この組を今後は表示しません。"
                                                "よろしいですか？")
                                     .arg(keys("1 3")),
                                 answer);
            w->m_dismissButton->click();
            QCOMPARE(w->m_groupTable->rowCount(), answer ? 1 : 2);
        });
        // Opened again: the dismissed group stays away; the cards themselves are untouched.
        openFromMenu(boxes, [&](DuplicatesWindow* w) {
            QCOMPARE(column(w->m_groupTable, 0),
                     answer ? QStringList{keys("0 2")} : (QStringList{keys("0 2"), keys("1 3")}));
        });
        QCOMPARE(fixture::storedCards(db(), false).size(), 4);
    }

    // A merge that fails or is refused shows why in Japanese and leaves every card and picture
    // folder as it was.
    void failedMergeLeavesTheCards_data() {
        QTest::addColumn<QString>("failure");
        QTest::addColumn<QString>("message");  // empty: 統合 stays off, the window says why
        QTest::newRow("the commit fails") << "commit"
                                          << "書き込めません（試験）";
        QTest::newRow("a card changed after it was shown") << "changed"
                                                           << "読み込んだ後にほかの人が変更しました";
        QTest::newRow("a card deleted after it was shown") << "deleted"
                                                           << "読み込んだ後にほかの人が変更しました";
        QTest::newRow("a memo past its limit") << "long"
                                               << "";
    }
    void failedMergeLeavesTheCards() {
        QFETCH(QString, failure);
        QFETCH(QString, message);
        const QString longMemo = failure == "long" ? QString(4990, QChar(u'あ')) : QStringLiteral("一枚目");
        storeCards({"山田||北星|||" + longMemo, "山田||北星|||二枚目のメモです。"});
        putPicture(0, "photo1.jpg");
        putPicture(1, "photo1.jpg");
        QStringList before;

        MessageRecorder boxes;
        boxes.onShowModal = [&](QDialog* d) {
            if (auto* list = qobject_cast<DuplicatesWindow*>(d)) {
                list->m_mergeButton->click();
                QCOMPARE(list->m_groupTable->rowCount(), 1);
                return;
            }
            auto* merge = qobject_cast<MergeWindow*>(d);
            QVERIFY(merge);
            if (failure == "changed" || failure == "deleted") {
                CardTexts t = parseCard("山田||北星|||" + longMemo);
                t.memo += QStringLiteral("（書き足し）");
                cards::cardRewrite(db(), QString::number(m_keys[1]), t,
                                   failure == "deleted" ? cards::CardState::Deleted : cards::CardState::Live);
            } else if (failure == "commit") {
                cards::setStepObserver([](const char* step) {
                    if (qstrcmp(step, "commit") == 0)
                        throw DbError(QStringLiteral("書き込めません（試験）"));
                });
            }
            before = fixture::storedCards(db());
            if (message.isEmpty()) {
                QVERIFY(!merge->m_mergeButton->isEnabled());
                QVERIFY2(merge->m_summaryLabel->text().startsWith(QStringLiteral("統合できません: ")),
                         qPrintable(merge->m_summaryLabel->text()));
                merge->m_cancelButton->click();
            } else {
                merge->m_mergeButton->click();
            }
        };
        ctl<QAction>(program->mainMenu(), "DuplicatesAction")->trigger();
        cards::setStepObserver({});
        if (message.isEmpty()) {
            QVERIFY(boxes.texts("error").isEmpty());
        } else {
            QCOMPARE(boxes.texts("error").size(), 1);
            QVERIFY2(boxes.texts("error")[0].contains(message), qPrintable(boxes.texts("error")[0]));
        }
        QVERIFY(boxes.texts("show").isEmpty());
        QCOMPARE(fixture::storedCards(db()), before);
        QCOMPARE(QDir(pictureFolder(0)).entryList(QDir::Files), QStringList{"photo1.jpg"});
    }
};

QTEST_MAIN(TestDuplicateWindow)
#include "tst_duplicatewindow.moc"
