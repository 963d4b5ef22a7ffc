// The card list window on the offscreen platform against a real card database: the first view,
// the keyword search and the deleted-card view (rows, order, row counts, flags, wildcards, nulls),
// opening a card with a double click, and deleting and restoring an opened card, with the
// database read back after each write.

#include "carddatabase.h"
#include "cardeditorwindow.h"
#include "cardlistwindow.h"
#include "cardmatch.h"
#include "controls.h"
#include "fakes.h"
#include "formlook.h"
#include "picturearea.h"
#include "programundertest.h"
#include "startup.h"
#include "stringgrid.h"
#include "testdb.h"
#include "testpictures.h"
#include "usersettings.h"

#include <QAccessible>
#include <QApplication>
#include <QCursor>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

using Row = QMap<QString, QString>;

QStringList padded(const QStringList& keys, int rowCount) {
    QStringList rows = keys;
    while (rows.size() < rowCount - 1)
        rows << QString();
    return rows;
}

QStringList descendingKeys(int from, int to) {
    QStringList keys;
    for (int k = from; k >= to; --k)
        keys << QString::number(k);
    return keys;
}

}  // namespace

class TestCardList final : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<MessageRecorder> messages;
    QString previousDir = QDir::currentPath();
    CardListWindow* w = nullptr;

    // A card with every text filled, the memo on two lines; the day as the test stores it.
    static cards::CardTexts fullCard(const char* day) {
        return {.name = "山田 太郎",
                .reading = "やまだ たろう",
                .organisation = "東和精機工業",
                .department = "第二営業課",
                .position = "部長",
                .memo = "一行目\r\n二行目",
                .year = "2021",
                .month = "3",
                .day = day};
    }

    void exec(const QString& sql) {
        DbStatement& q = program->database()->statement;
        q.sql.clear();
        q.sql.add(sql);
        q.execute();
    }

    void addCard(int key, const QString& name, cards::CardState state = cards::CardState::Live,
                 const QString& organisation = QStringLiteral("北星商事"), const QString& memo = QString()) {
        const cards::CardTexts t{.name = name,
                                 .reading = QStringLiteral("よみ"),
                                 .organisation = organisation,
                                 .department = QStringLiteral("営業部"),
                                 .position = QStringLiteral("課長"),
                                 .memo = memo,
                                 .year = QStringLiteral("2021"),
                                 .month = QStringLiteral("3"),
                                 .day = QStringLiteral("31")};
        cards::insertCard(program->database()->statement, QString::number(key), t, state);
        program->database()->statement.close();
    }

    // Every card as committed, read through a connection of its own.
    QMap<int, Row> committedCards() const { return testdb::committedCards(dir->path()); }

    // Commits what the tests inserted through the program's connection.
    void commit() { program->database()->connection.reconnect(); }

    QStringList gridKeys() const {
        QStringList keys;
        for (int r = 1; r < ctl<StringGrid>(w, "SGrid1")->rowCount(); ++r)
            keys << ctl<StringGrid>(w, "SGrid1")->cell(0, r);
        return keys;
    }

    void search(QRadioButton* field, const QString& keyword) {
        field->setChecked(true);
        ctl<QLineEdit>(w, "Edit1")->setText(keyword);
        QTest::mouseClick(ctl<QPushButton>(w, "SpeedButton1"), Qt::LeftButton);
    }

    // A double click with the mouse pointer really over the point, as the handler reads it.
    static void doubleClickAt(QWidget* target, const QPoint& local) {
        QCursor::setPos(target->mapToGlobal(local));
        QTest::mouseDClick(target, Qt::LeftButton, {}, local);
    }

    void doubleClickCell(int col, int row) {
        StringGrid* g = ctl<StringGrid>(w, "SGrid1");
        const QModelIndex index = g->model()->index(row - 1, col);
        g->scrollTo(index);
        const QRect r = g->visualRect(index);
        doubleClickAt(g->viewport(), QPoint(r.left() + r.width() / 2, r.top() + r.height() / 2));
    }

    void writeFile(const QString& path, const QByteArray& bytes) {
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }

    QString pictureFolder(int key) const { return dir->filePath(QStringLiteral("image/%1/base").arg(key)); }

private slots:
    // The search option lives in the user's settings; the tests keep their own, switched off.
    void initTestCase() {
        QStandardPaths::setTestModeEnabled(true);
        usersettings::setFoldedSearchOn(false);
    }

    void init() {
        dir = std::make_unique<QTemporaryDir>();
        QVERIFY(dir->isValid());
        testdb::create(dir->path());
        messages = std::make_unique<MessageRecorder>();
        program = composeProgram(CardFolder::local(dir->path()));
        w = program->cardList();
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w));
    }

    void cleanup() {
        program.reset();
        w = nullptr;
        messages.reset();
        dir.reset();
    }

    void windowAsDesigned() {
        QCOMPARE(w->size(), QSize(804, 451));
        QCOMPARE(w->minimumSize(), w->maximumSize());
        QCOMPARE(w->windowTitle(), QStringLiteral("名刺一覧"));
        QCOMPARE(ctl<StringGrid>(w, "SGrid1")->geometry(), QRect(8, 39, 777, 355));
        QCOMPARE(ctl<QLineEdit>(w, "Edit1")->geometry(), QRect(264, 10, 135, 21));
        QCOMPARE(ctl<QLineEdit>(w, "Edit1")->maxLength(), 32767);  // the toolkit default: no limit of our own
        for (const auto& row : CardListWindow::choiceRows()) {
            QCOMPARE(ctl<QRadioButton>(w, row.spec.objectName)->geometry(), row.spec.rect);
            QCOMPARE(ctl<QRadioButton>(w, row.spec.objectName)->text(), row.spec.caption);
            QCOMPARE(ctl<QRadioButton>(w, row.spec.objectName)->parentWidget(), ctl<QFrame>(w, "Panel2"));
        }
        QCOMPARE(w->findChild<QLabel*>("Label7")->text(), QStringLiteral("データを選択してください。"));
        for (const auto& row : CardListWindow::buttonRows()) {
            auto* button = ctl<QPushButton>(w, row.spec.objectName);
            QCOMPARE(button->geometry(), row.spec.rect);
            QCOMPARE(button->text(), row.spec.caption);
            // Tab reaches the captioned buttons; a click never takes the focus.
            QCOMPARE(button->focusPolicy(), button->text().isEmpty() ? Qt::NoFocus : Qt::TabFocus);
            QVERIFY(button->isEnabled());
        }

        StringGrid* g = ctl<StringGrid>(w, "SGrid1");
        QCOMPARE(g->colCount(), 9);
        QCOMPARE(g->rowCount(), 16);
        QCOMPARE(g->grid().fixedRows(), 1);
        QCOMPARE(g->grid().fixedCols(), 2);
        const QList<int> widths{1, 1, 100, 100, 100, 100, 100, 100, 246};
        const QStringList header{"", "KEY", "日付", "名前", "ふりがな", "組織名", "部署", "身分", "メモ"};
        for (int c = 0; c < 9; ++c) {
            QCOMPARE(g->columnWidth(c), widths[c]);
            QCOMPARE(g->cell(c, 0), header[c]);
            QCOMPARE(g->model()->headerData(c, Qt::Horizontal).toString(), header[c]);
        }
    }

    // Tab order: the grid, the keyword, the chosen field (the arrow keys choose another), then
    // the captioned buttons, and round.
    void tabReachesTheControlsAndButtons_data() {
        QTest::addColumn<QString>("field");  // the radio button checked
        QTest::addColumn<bool>("backwards");
        QTest::addColumn<QStringList>("order");
        const auto forward = [](const char* field) {
            return QStringList{"Edit1", field, "SpeedButton3", "SpeedButton1", "SpeedButton2"};
        };
        const auto backward = [&](const char* field) {
            const QStringList order = forward(field);
            return QStringList(order.crbegin(), order.crend());
        };
        QTest::newRow("名前") << "RadioButton1" << false << forward("RadioButton1");
        QTest::newRow("メモ") << "RadioButton2" << false << forward("RadioButton2");
        QTest::newRow("組織名, Shift+Tab") << "RadioButton3" << true << backward("RadioButton3");
        QTest::newRow("名前, Shift+Tab") << "RadioButton1" << true << backward("RadioButton1");
    }
    void tabReachesTheControlsAndButtons() {
        QFETCH(QString, field);
        QFETCH(bool, backwards);
        QFETCH(QStringList, order);
        ctl<QRadioButton>(w, qPrintable(field))->setChecked(true);
        w->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(w));
        ctl<StringGrid>(w, "SGrid1")->setFocus();
        QStringList walked;
        for (int i = 0; i <= order.size(); ++i) {
            QTest::keyClick(QApplication::focusWidget(), backwards ? Qt::Key_Backtab : Qt::Key_Tab,
                            backwards ? Qt::ShiftModifier : Qt::NoModifier);
            walked << QApplication::focusWidget()->objectName();
        }
        QCOMPARE(walked, order + QStringList{"SGrid1"});

        // The arrow keys move the choice, and Tab then stops at the new one.
        auto* chosen = ctl<QRadioButton>(w, qPrintable(field));
        chosen->setFocus();
        QTest::keyClick(chosen, field == "RadioButton1" ? Qt::Key_Right : Qt::Key_Left);
        QVERIFY(!chosen->isChecked());
        QWidget* moved = QApplication::focusWidget();
        QVERIFY(qobject_cast<QRadioButton*>(moved) && static_cast<QRadioButton*>(moved)->isChecked());
        ctl<QLineEdit>(w, "Edit1")->setFocus();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), moved);
    }

    // The buttons work from the keyboard: Enter, Return and Space press the one that has the
    // focus, and nothing else.
    void buttonsArePressedFromTheKeyboard_data() {
        QTest::addColumn<QString>("button");
        QTest::addColumn<int>("key");
        QTest::addColumn<QStringList>("keys");  // the grid afterwards
        QTest::newRow("表示, Return") << "SpeedButton1" << int(Qt::Key_Return) << QStringList{"2"};
        QTest::newRow("表示, Enter") << "SpeedButton1" << int(Qt::Key_Enter) << QStringList{"2"};
        QTest::newRow("削除分, Space") << "SpeedButton3" << int(Qt::Key_Space) << QStringList{"1"};
        QTest::newRow("閉じる, Return") << "SpeedButton2" << int(Qt::Key_Return) << QStringList{};
    }
    void buttonsArePressedFromTheKeyboard() {
        QFETCH(QString, button);
        QFETCH(int, key);
        QFETCH(QStringList, keys);
        addCard(1, "山田", cards::CardState::Deleted);
        addCard(2, "佐藤");
        w->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(w));
        auto* pressed = ctl<QPushButton>(w, qPrintable(button));
        ctl<StringGrid>(w, "SGrid1")->setFocus();
        for (int i = 0; i < 10 && QApplication::focusWidget() != pressed; ++i)
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(pressed));
        QTest::keyClick(pressed, Qt::Key(key));
        if (button == "SpeedButton2") {
            QVERIFY(!w->isVisible());
        } else {
            QVERIFY(w->isVisible());
            QCOMPARE(gridKeys(), padded(keys, 20));
        }
        QVERIFY(messages->shown.isEmpty());
    }

    // Enter on a row opens its card as a double click does; on an empty row it does nothing.
    void enterOnARowOpensTheCard_data() {
        QTest::addColumn<int>("row");
        QTest::addColumn<int>("key");
        QTest::addColumn<QString>("opened");  // the key shown in the editor, or none
        QTest::newRow("Return on the newest card") << 1 << int(Qt::Key_Return) << "3";
        QTest::newRow("Enter on the second card") << 2 << int(Qt::Key_Enter) << "2";
        QTest::newRow("Return on an empty row") << 5 << int(Qt::Key_Return) << "";
        // Reached with Shift+Tab from the keyword, the grid shows the newest card's row as chosen.
        QTest::newRow("Return after Shift+Tab") << 0 << int(Qt::Key_Return) << "3";
    }
    void enterOnARowOpensTheCard() {
        QFETCH(int, row);
        QFETCH(int, key);
        QFETCH(QString, opened);
        addCard(2, "佐藤");
        addCard(3, "山田");
        w->openCardList();
        messages->clear();
        w->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(w));
        StringGrid* g = ctl<StringGrid>(w, "SGrid1");
        if (row == 0) {
            ctl<QLineEdit>(w, "Edit1")->setFocus();
            QTest::keyClick(ctl<QLineEdit>(w, "Edit1"), Qt::Key_Backtab, Qt::ShiftModifier);
            QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(g));
            // The chosen cell is one that can be seen, also after the arrow keys went left.
            QTest::keyClick(g, Qt::Key_Left);
            QTest::keyClick(g, Qt::Key_Left);
            QCOMPARE(g->currentIndex().column(), 2);
            QVERIFY(g->selectionModel()->isSelected(g->currentIndex()));
        } else {
            g->setFocus();
            g->setCurrentIndex(g->model()->index(row - 1, 3));
        }
        QTest::keyClick(g, Qt::Key(key), key == Qt::Key_Enter ? Qt::KeypadModifier : Qt::NoModifier);
        QVERIFY(messages->texts("error").isEmpty());
        if (opened.isEmpty()) {
            QVERIFY(messages->modals.isEmpty());
            QCOMPARE(ctl<QLabel>(program->cardEditor(), "Label13")->text(), QStringLiteral("---"));
        } else {
            QCOMPARE(messages->modals, QList<QDialog*>{program->cardEditor()});
            QCOMPARE(ctl<QLabel>(program->cardEditor(), "Label13")->text(), opened);
        }
    }

    // What a screen reader finds: each control's role and name, the buttons pressable through it.
    void screenReadersNameEveryControl_data() {
        QTest::addColumn<QString>("control");
        QTest::addColumn<int>("role");
        QTest::addColumn<QString>("name");
        const int button = QAccessible::Button;
        QTest::newRow("keyword") << "Edit1" << int(QAccessible::EditableText) << "キーワード";
        QTest::newRow("名前") << "RadioButton1" << int(QAccessible::RadioButton) << "名前";
        QTest::newRow("grid") << "SGrid1" << int(QAccessible::Table) << "名刺一覧";
        QTest::newRow("削除分") << "SpeedButton3" << button << "削除分";
        QTest::newRow("captionless button") << "SpeedButton6" << button << "削除分";
        QTest::newRow("表示") << "SpeedButton1" << button << "表示";
        QTest::newRow("閉じる") << "SpeedButton2" << button << "閉じる";
    }
    void screenReadersNameEveryControl() {
        QFETCH(QString, control);
        QFETCH(int, role);
        QFETCH(QString, name);
        QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(w->findChild<QWidget*>(control));
        QVERIFY(iface);
        QCOMPARE(int(iface->role()), role);
        QCOMPARE(iface->text(QAccessible::Name), name);
        if (role == QAccessible::Button) {
            QVERIFY(iface->actionInterface());
            QVERIFY(
                iface->actionInterface()->actionNames().contains(QAccessibleActionInterface::pressAction()));
        }
    }

    // The first view: at most 19 cards, highest key first, always 20 rows.
    void firstView_data() {
        QTest::addColumn<int>("cards");
        QTest::addColumn<QStringList>("shown");
        QTest::newRow("none") << 0 << QStringList();
        QTest::newRow("18") << 18 << descendingKeys(18, 1);
        QTest::newRow("19") << 19 << descendingKeys(19, 1);
        QTest::newRow("25") << 25 << descendingKeys(25, 7);
    }
    void firstView() {
        QFETCH(int, cards);
        QFETCH(QStringList, shown);
        for (int k = 1; k <= cards; ++k)
            addCard(k, QStringLiteral("名前%1").arg(k));
        // Left from an earlier use of the window: the opening resets keyword and field.
        ctl<QLineEdit>(w, "Edit1")->setText(QStringLiteral("名前1"));
        ctl<QRadioButton>(w, "RadioButton2")->setChecked(true);

        w->openCardList();
        QCOMPARE(messages->modals, QList<QDialog*>{w});
        QCOMPARE(ctl<QLineEdit>(w, "Edit1")->text(), QString());
        QVERIFY(ctl<QRadioButton>(w, "RadioButton1")->isChecked());
        QCOMPARE(ctl<StringGrid>(w, "SGrid1")->rowCount(), 20);
        QCOMPARE(gridKeys(), padded(shown, 20));
        QCOMPARE(ctl<StringGrid>(w, "SGrid1")->cell(3, 0), QStringLiteral("名前"));
        if (cards > 0)
            QCOMPARE(ctl<StringGrid>(w, "SGrid1")->cell(3, 1), QStringLiteral("名前%1").arg(cards));

        // 表示 with the empty keyword then lists every card.
        QTest::mouseClick(ctl<QPushButton>(w, "SpeedButton1"), Qt::LeftButton);
        QCOMPARE(gridKeys(), padded(descendingKeys(cards, 1), std::max(20, cards + 2)));
        QVERIFY(messages->texts("error").isEmpty());
    }

    // Each opening starts at the top left, at the newest card and the date column.
    void opensScrolledToTheTopLeft() {
        for (int k = 1; k <= 30; ++k)
            addCard(k, QStringLiteral("名前%1").arg(k));
        w->openCardList();
        QTest::mouseClick(ctl<QPushButton>(w, "SpeedButton1"),
                          Qt::LeftButton);  // all 30: more than the grid shows
        StringGrid* g = ctl<StringGrid>(w, "SGrid1");
        QVERIFY(g->verticalScrollBar()->maximum() > 0);
        QVERIFY(g->horizontalScrollBar()->maximum() > 0);
        g->verticalScrollBar()->setValue(g->verticalScrollBar()->maximum());
        g->horizontalScrollBar()->setValue(g->horizontalScrollBar()->maximum());
        w->close();
        w->openCardList();
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w));
        QCOMPARE(g->verticalScrollBar()->value(), g->verticalScrollBar()->minimum());
        QCOMPARE(g->horizontalScrollBar()->value(), g->horizontalScrollBar()->minimum());
        QCOMPARE(g->rowAt(0), 0);
        QCOMPARE(g->columnAt(2), 2);  // the date column, after the two hidden ones
    }

    // Esc does not close the list, whichever control has the focus.
    void escapeDoesNotClose() {
        w->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(w));
        for (QWidget* target :
             std::initializer_list<QWidget*>{ctl<StringGrid>(w, "SGrid1"), ctl<QLineEdit>(w, "Edit1"),
                                             ctl<QRadioButton>(w, "RadioButton1")}) {
            target->setFocus();
            QTest::keyClick(target, Qt::Key_Escape);
            QVERIFY(w->isVisible());
        }
    }

    // The row count after a search: 20 for up to 16 cards, N + 2 from 17 on.
    void searchRowCounts_data() {
        QTest::addColumn<int>("matching");
        QTest::addColumn<int>("rows");
        QTest::newRow("none") << 0 << 20;
        QTest::newRow("16") << 16 << 20;
        QTest::newRow("17") << 17 << 19;
        QTest::newRow("25") << 25 << 27;
    }
    void searchRowCounts() {
        QFETCH(int, matching);
        QFETCH(int, rows);
        // Matching and other cards interleaved, so that the order is tested across gaps.
        QStringList expected;
        int made = 0;
        for (int k = 1; k <= 60; ++k) {
            const bool match = k % 2 == 0 && made < matching;
            if (match) {
                ++made;
                expected.prepend(QString::number(k));
            }
            addCard(k, match ? QStringLiteral("該当 %1").arg(k) : QStringLiteral("別人 %1").arg(k));
        }
        w->openCardList();  // 60 cards: a full first view whose rows must not survive
        search(ctl<QRadioButton>(w, "RadioButton1"), QStringLiteral("該当"));
        QCOMPARE(ctl<StringGrid>(w, "SGrid1")->rowCount(), rows);
        QCOMPARE(gridKeys(), padded(expected, rows));
        for (int r = 1; r < rows; ++r)
            QCOMPARE(ctl<StringGrid>(w, "SGrid1")->cell(3, r).isEmpty(), r > matching);
        // The keyword and the field choice stay as the user left them.
        QCOMPARE(ctl<QLineEdit>(w, "Edit1")->text(), QStringLiteral("該当"));
        QVERIFY(ctl<QRadioButton>(w, "RadioButton1")->isChecked());
    }

    // What a card row holds, column by column, and that stored text is shown unchanged.
    void cardRowCells() {
        const cards::CardTexts t = fullCard("05");
        cards::insertCard(program->database()->statement, "42", t, cards::CardState::Live);
        exec("INSERT INTO MST_CAR (KEY1, SYASYU, DEL_FLG1) VALUES (7, '日付なし', '1')");
        QTest::mouseClick(ctl<QPushButton>(w, "SpeedButton1"), Qt::LeftButton);
        const QStringList row42{
            "42",           "",           "2021年3月05日", "山田 太郎",       "やまだ たろう",
            "東和精機工業", "第二営業課", "部長",          "一行目\r\n二行目"};
        const QStringList row7{"7", "", "年月日", "日付なし", "", "", "", "", ""};
        for (int c = 0; c < 9; ++c) {
            QCOMPARE(ctl<StringGrid>(w, "SGrid1")->cell(c, 1), row42[c]);
            QCOMPARE(ctl<StringGrid>(w, "SGrid1")->cell(c, 2), row7[c]);
        }
    }

    // Flags are compared exactly: only "-1" leaves the live lists, only "1" the deleted view.
    void flagsInBothViews_data() {
        QTest::addColumn<QString>("flag");
        QTest::addColumn<bool>("live");
        QTest::addColumn<bool>("deletedView");
        QTest::newRow("1") << "1" << true << false;
        QTest::newRow("-1") << "-1" << false << true;
        QTest::newRow("empty") << "" << true << true;
        QTest::newRow("other text") << "2" << true << true;
        QTest::newRow("1 written as 01") << "01" << true << true;
    }
    void flagsInBothViews() {
        QFETCH(QString, flag);
        QFETCH(bool, live);
        QFETCH(bool, deletedView);
        addCard(5, "対象");
        exec(QStringLiteral("UPDATE MST_CAR SET DEL_FLG1 = '%1' WHERE KEY1 = 5").arg(flag));
        const QStringList only5{"5"};

        w->openCardList();
        QCOMPARE(gridKeys(), padded(live ? only5 : QStringList(), 20));
        QTest::mouseClick(ctl<QPushButton>(w, "SpeedButton1"), Qt::LeftButton);
        QCOMPARE(gridKeys(), padded(live ? only5 : QStringList(), 20));

        // The captioned button and the five blank ones give the same grid.
        for (QPushButton* b : {ctl<QPushButton>(w, "SpeedButton3"), ctl<QPushButton>(w, "SpeedButton4"),
                               ctl<QPushButton>(w, "SpeedButton5"), ctl<QPushButton>(w, "SpeedButton6"),
                               ctl<QPushButton>(w, "SpeedButton7"), ctl<QPushButton>(w, "SpeedButton8")}) {
            QTest::mouseClick(ctl<QPushButton>(w, "SpeedButton1"),
                              Qt::LeftButton);  // back to the live list in between
            QTest::mouseClick(b, Qt::LeftButton);
            QCOMPARE(ctl<StringGrid>(w, "SGrid1")->rowCount(), 20);
            QCOMPARE(gridKeys(), padded(deletedView ? only5 : QStringList(), 20));
        }
    }

    void deletedViewListsDeletedCardsNewestFirst() {
        for (int k = 1; k <= 20; ++k)
            addCard(k, QStringLiteral("名%1").arg(k),
                    k % 4 == 0 ? cards::CardState::Deleted : cards::CardState::Live);
        addCard(21, QString(), cards::CardState::Deleted);
        exec("INSERT INTO MST_CAR (KEY1, KATABAN, DEL_FLG1) VALUES (22, '名なし', '-1')");
        QTest::mouseClick(ctl<QPushButton>(w, "SpeedButton3"), Qt::LeftButton);
        // Card 22 has no name at all and is not matched; card 21's empty name is.
        QCOMPARE(gridKeys(), padded({"21", "20", "16", "12", "8", "4"}, 20));
        search(ctl<QRadioButton>(w, "RadioButton3"), QStringLiteral("名なし"));
        QCOMPARE(gridKeys(), padded({}, 20));
        QTest::mouseClick(ctl<QPushButton>(w, "SpeedButton4"), Qt::LeftButton);
        QCOMPARE(gridKeys(), padded({"22"}, 20));
    }

    // The field choice picks the column; the keyword may stand anywhere in it.
    void fieldsAndKeywords_data() {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("keyword");
        QTest::addColumn<QStringList>("keys");
        QTest::newRow("organisation anywhere") << "organisation"
                                               << "精機" << QStringList{"3", "2", "1"};
        QTest::newRow("organisation at the start") << "organisation"
                                                   << "東和" << QStringList{"1"};
        QTest::newRow("memo, not organisation") << "memo"
                                                << "東和" << QStringList{"2"};
        QTest::newRow("name, nothing") << "name"
                                       << "東和" << QStringList{};
        QTest::newRow("underscore is any one character")
            << "name"
            << "_" << QStringList{"13", "12", "10", "3", "2", "1"};
        QTest::newRow("percent matches even empty text")
            << "name"
            << "%" << QStringList{"13", "12", "11", "10", "3", "2", "1"};
        QTest::newRow("underscore inside a keyword") << "name"
                                                     << "a_c" << QStringList{"12", "10"};
        QTest::newRow("keyword not trimmed") << "name"
                                             << "x " << QStringList{};
        QTest::newRow("null name never listed") << "name"
                                                << "" << QStringList{"13", "12", "11", "10", "3", "2", "1"};
        QTest::newRow("null name's organisation") << "organisation"
                                                  << "無名" << QStringList{"20"};
        QTest::newRow("quote in keyword") << "memo"
                                          << "O'Brien" << QStringList{"3"};
    }
    void fieldsAndKeywords() {
        QFETCH(QString, field);
        QFETCH(QString, keyword);
        QFETCH(QStringList, keys);
        addCard(1, "山田", cards::CardState::Live, "東和精機", "展示会");
        addCard(2, "佐藤", cards::CardState::Live, "精機工業", "東和の件");
        addCard(3, "鈴木", cards::CardState::Live, "みなと精機", "O'Brien 氏の紹介");
        addCard(10, "abc");
        addCard(11, "");
        addCard(12, "a%c");
        addCard(13, "x_y");
        exec("INSERT INTO MST_CAR (KEY1, KATABAN, DEL_FLG1) VALUES (20, '無名商会', '1')");
        QRadioButton* radio = field == "name"           ? ctl<QRadioButton>(w, "RadioButton1")
                              : field == "organisation" ? ctl<QRadioButton>(w, "RadioButton3")
                                                        : ctl<QRadioButton>(w, "RadioButton2");
        search(radio, keyword);
        QCOMPARE(gridKeys(), padded(keys, 20));
    }

    // The search that ignores kana and width: the folded keyword in the field and its companion,
    // pattern characters as themselves; switched off, the same search as before.
    void foldedSearch_data() {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("keyword");
        QTest::addColumn<QStringList>("folded");
        QTest::addColumn<QStringList>("plain");
        QTest::newRow("katakana finds hiragana reading")
            << "name"
            << "タナカ" << QStringList{"2", "1"} << QStringList{"2"};
        QTest::newRow("hiragana finds katakana name") << "name"
                                                      << "たなか" << QStringList{"2", "1"} << QStringList{};
        QTest::newRow("half-width keyword") << "name"
                                            << "ﾀﾅｶ" << QStringList{"2", "1"} << QStringList{};
        QTest::newRow("organisation in both widths")
            << "organisation"
            << "かぶしきがいしゃ" << QStringList{"2", "1"} << QStringList{};
        QTest::newRow("department") << "organisation"
                                    << "かいはつ" << QStringList{"3"} << QStringList{};
        QTest::newRow("full-width letters in memo") << "memo"
                                                    << "abc" << QStringList{"2", "1"} << QStringList{"2"};
        QTest::newRow("percent is a character") << "memo"
                                                << "%" << QStringList{"2"} << QStringList{"5", "3", "2", "1"};
        QTest::newRow("underscore is a character")
            << "memo"
            << "_" << QStringList{"3"} << QStringList{"5", "3", "2", "1"};
        QTest::newRow("empty keyword: no null names")
            << "name"
            << "" << QStringList{"3", "2", "1"} << QStringList{"3", "2", "1"};
        QTest::newRow("reading not searched by memo") << "memo"
                                                      << "さとう" << QStringList{} << QStringList{};
    }
    void foldedSearch() {
        QFETCH(QString, field);
        QFETCH(QString, keyword);
        QFETCH(QStringList, folded);
        QFETCH(QStringList, plain);
        const auto card = [](const char* name, const char* reading, const char* organisation,
                             const char* department, const char* memo) {
            return cards::CardTexts{name, reading, organisation, department, "", memo, "2024", "4", "1"};
        };
        cards::insertCard(program->database()->statement, "1",
                          card("田中 太郎", "たなか たろう", "カブシキガイシャ北星", "営業部", "ＡＢＣ商談"),
                          cards::CardState::Live);
        cards::insertCard(program->database()->statement, "2",
                          card("タナカ", "", "ｶﾌﾞｼｷｶﾞｲｼｬ東和", "第二営業課", "abc 50%"),
                          cards::CardState::Live);
        cards::insertCard(program->database()->statement, "3",
                          card("佐藤", "さとう", "みなと物産", "カイハツ部", "割引_あり"),
                          cards::CardState::Live);
        // A card without a name is not listed by the name search, whatever its reading.
        exec(
            "INSERT INTO MST_CAR (KEY1, HURIGANA, KATABAN, MEMO, DEL_FLG1) "
            "VALUES (5, 'たなか', '無名', '名前なし', '1')");
        QRadioButton* radio = field == "name"           ? ctl<QRadioButton>(w, "RadioButton1")
                              : field == "organisation" ? ctl<QRadioButton>(w, "RadioButton3")
                                                        : ctl<QRadioButton>(w, "RadioButton2");
        program->searchOptions().foldKanaAndWidth = true;
        search(radio, keyword);
        QCOMPARE(gridKeys(), padded(folded, 20));
        program->searchOptions().foldKanaAndWidth = false;
        search(radio, keyword);
        QCOMPARE(gridKeys(), padded(plain, 20));
        QVERIFY(messages->texts("error").isEmpty());
    }

    // Folded, the grid keeps the order and the row counts of the plain search, also in the
    // deleted-card view.
    void foldedSearchKeepsRowsAndViews_data() {
        QTest::addColumn<int>("matching");
        QTest::addColumn<int>("rows");
        QTest::newRow("16") << 16 << 20;
        QTest::newRow("17") << 17 << 19;
    }
    void foldedSearchKeepsRowsAndViews() {
        QFETCH(int, matching);
        QFETCH(int, rows);
        // Matching cards (found by their reading only) between others, and three deleted ones.
        QStringList expected;
        int made = 0;
        for (int k = 1; k <= 43; ++k) {
            const bool gone = k > 40;
            const bool match = gone || (k % 2 == 0 && made < matching);
            if (match && !gone) {
                ++made;
                expected.prepend(QString::number(k));
            }
            const cards::CardTexts t{
                match ? "田中" : "佐藤", match ? "たなか" : "さとう", "", "", "", "", "", "", ""};
            cards::insertCard(program->database()->statement, QString::number(k), t,
                              gone ? cards::CardState::Deleted : cards::CardState::Live);
        }
        w->openCardList();
        program->searchOptions().foldKanaAndWidth = true;
        search(ctl<QRadioButton>(w, "RadioButton1"), QStringLiteral("ﾀﾅｶ"));
        QCOMPARE(ctl<StringGrid>(w, "SGrid1")->rowCount(), rows);
        QCOMPARE(gridKeys(), padded(expected, rows));
        QCOMPARE(ctl<StringGrid>(w, "SGrid1")->cell(4, 1), QStringLiteral("たなか"));
        QTest::mouseClick(ctl<QPushButton>(w, "SpeedButton3"), Qt::LeftButton);
        QCOMPARE(gridKeys(), padded({"43", "42", "41"}, 20));
        program->searchOptions().foldKanaAndWidth = false;
    }

    // A keyword longer than the searched column can hold (with the two wildcards around it) is
    // refused with a message before anything is run; the grid keeps what it showed.
    void keywordLongerThanTheColumn_data() {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("keyword");
        QTest::addColumn<bool>("refused");
        QTest::newRow("name, 148") << "name" << QString(148, QLatin1Char('a')) << false;
        QTest::newRow("name, 149") << "name" << QString(149, QLatin1Char('a')) << true;
        QTest::newRow("name, 148 emoji") << "name" << QStringLiteral("😀").repeated(148) << false;
        QTest::newRow("name, 149 emoji") << "name" << QStringLiteral("😀").repeated(149) << true;
        QTest::newRow("organisation, 149") << "organisation" << QString(149, QLatin1Char('a')) << true;
        QTest::newRow("memo, 4998") << "memo" << QString(4998, QLatin1Char('a')) << false;
        QTest::newRow("memo, 4999") << "memo" << QString(4999, QLatin1Char('a')) << true;
        QTest::newRow("deleted view, 149") << "deleted" << QString(149, QLatin1Char('a')) << true;
        // Enter in the keyword box is 表示, its message included.
        QTest::newRow("name, 148, Enter") << "name+enter" << QString(148, QLatin1Char('a')) << false;
        QTest::newRow("name, 149, Enter") << "name+enter" << QString(149, QLatin1Char('a')) << true;
    }
    void keywordLongerThanTheColumn() {
        QFETCH(QString, field);
        QFETCH(QString, keyword);
        QFETCH(bool, refused);
        const bool byEnter = field.endsWith(QLatin1String("+enter"));
        field.remove(QLatin1String("+enter"));
        addCard(1, "山田");
        QTest::mouseClick(ctl<QPushButton>(w, "SpeedButton1"), Qt::LeftButton);
        messages->clear();
        QRadioButton* radio = field == "memo"           ? ctl<QRadioButton>(w, "RadioButton2")
                              : field == "organisation" ? ctl<QRadioButton>(w, "RadioButton3")
                                                        : ctl<QRadioButton>(w, "RadioButton1");
        radio->setChecked(true);
        ctl<QLineEdit>(w, "Edit1")->setText(keyword);
        if (byEnter)
            QTest::keyClick(ctl<QLineEdit>(w, "Edit1"), Qt::Key_Return);
        else
            QTest::mouseClick(field == "deleted" ? ctl<QPushButton>(w, "SpeedButton3")
                                                 : ctl<QPushButton>(w, "SpeedButton1"),
                              Qt::LeftButton);
        QCOMPARE(messages->texts("error"), QStringList());
        if (refused) {
            QCOMPARE(messages->texts("show").size(), 1);
            QVERIFY2(messages->texts("show")[0].contains(QStringLiteral("長すぎ")),
                     qPrintable(messages->texts("show")[0]));
            QCOMPARE(gridKeys(), padded({"1"}, 20));  // the list as it was
        } else {
            QVERIFY(messages->shown.isEmpty());
            QCOMPARE(gridKeys(), padded({}, 20));
        }
        QCOMPARE(ctl<QLineEdit>(w, "Edit1")->text(), keyword);
    }

    // A failing statement: the error box, the grid emptied down to the header, and from the main
    // menu no window.
    void failingStatement() {
        addCard(1, "山田");
        QTest::mouseClick(ctl<QPushButton>(w, "SpeedButton1"), Qt::LeftButton);
        QCOMPARE(gridKeys().first(), QStringLiteral("1"));
        const QString path = program->database()->connection.databaseName;
        program->database()->connection.close();
        program->database()->connection.databaseName = dir->filePath("missing/DATA.FDB");

        QTest::mouseClick(ctl<QPushButton>(w, "SpeedButton1"), Qt::LeftButton);
        QCOMPARE(messages->texts("error").size(), 1);
        QVERIFY(messages->texts("error")[0].contains("missing"));
        QCOMPARE(ctl<StringGrid>(w, "SGrid1")->rowCount(), 2);
        QCOMPARE(ctl<StringGrid>(w, "SGrid1")->cell(2, 0), QStringLiteral("日付"));
        QCOMPARE(ctl<StringGrid>(w, "SGrid1")->cell(0, 1), QString());

        messages->clear();
        messages::guarded(nullptr, [this] { w->openCardList(); });
        QCOMPARE(messages->texts("error").size(), 1);
        QVERIFY(messages->modals.isEmpty());
        QCOMPARE(ctl<StringGrid>(w, "SGrid1")->rowCount(), 2);

        program->database()->connection.databaseName = path;
        messages->clear();
        w->openCardList();
        QCOMPARE(gridKeys(), padded({"1"}, 20));
    }

    // A double click anywhere but on a card row does nothing.
    void doubleClickOutsideCards_data() {
        QTest::addColumn<QString>("where");
        QTest::newRow("header row") << "header";
        QTest::newRow("key column") << "col0";
        QTest::newRow("second fixed column") << "col1";
        QTest::newRow("empty row") << "empty";
        QTest::newRow("below the last row") << "below";
    }
    void doubleClickOutsideCards() {
        QFETCH(QString, where);
        addCard(3, "山田");
        w->openCardList();
        messages->clear();
        StringGrid* g = ctl<StringGrid>(w, "SGrid1");
        if (where == "header") {
            doubleClickAt(g->horizontalHeader()->viewport(), QPoint(150, 5));
        } else if (where == "col0") {
            doubleClickAt(g->viewport(), QPoint(0, g->rowHeight(0) / 2));
        } else if (where == "col1") {
            doubleClickAt(g->viewport(), QPoint(1, g->rowHeight(0) / 2));
        } else if (where == "empty") {
            doubleClickCell(3, 2);
        } else {
            g->setRowCount(3);  // room below the last row
            doubleClickAt(g->viewport(), QPoint(150, 3 * g->rowHeight(0)));
        }
        QVERIFY(messages->shown.isEmpty());
        QVERIFY(messages->modals.isEmpty());
        QCOMPARE(ctl<QLabel>(program->cardEditor(), "Label13")->text(), QStringLiteral("---"));

        // The same grid opens the card from its row.
        g->setRowCount(20);
        doubleClickCell(3, 1);
        QCOMPARE(messages->modals, QList<QDialog*>{program->cardEditor()});
        QCOMPARE(ctl<QLabel>(program->cardEditor(), "Label13")->text(), QStringLiteral("3"));
    }

    // Opening a card fills the editor from the stored row, with the button that suits its flag.
    void openCard_data() {
        QTest::addColumn<QString>("flag");
        QTest::addColumn<bool>("deleteEnabled");
        QTest::newRow("live") << "1" << true;
        QTest::newRow("deleted") << "-1" << false;
        QTest::newRow("empty flag counts as live") << "" << true;
    }
    void openCard() {
        QFETCH(QString, flag);
        QFETCH(bool, deleteEnabled);
        const cards::CardTexts t = fullCard("5");
        cards::insertCard(program->database()->statement, "42", t, cards::CardState::Live);
        if (flag != QStringLiteral("1"))
            exec(QStringLiteral("UPDATE MST_CAR SET DEL_FLG1 = '%1' WHERE KEY1 = 42").arg(flag));
        addCard(41, "他の人");
        ctl<QPushButton>(program->cardEditor(), "SpeedButton1")->setEnabled(false);
        ctl<QLabel>(program->cardEditor(), "Label14")->setText("old.jpg");
        QTest::mouseClick(
            deleteEnabled ? ctl<QPushButton>(w, "SpeedButton1") : ctl<QPushButton>(w, "SpeedButton3"),
            Qt::LeftButton);
        const QStringList gridBefore = gridKeys();

        program->cardEditor()->move(0, 0);
        doubleClickCell(5, 1);
        QCOMPARE(messages->modals, QList<QDialog*>{program->cardEditor()});
        // Centred on the screen, as 名刺登録 shows it.
        const QPoint placed = program->cardEditor()->pos();
        QVERIFY(placed != QPoint(0, 0));
        formlook::centreOnScreen(program->cardEditor());
        QCOMPARE(program->cardEditor()->pos(), placed);
        QVERIFY(messages->texts("error").isEmpty());
        QCOMPARE(ctl<QLabel>(program->cardEditor(), "Label13")->text(), QStringLiteral("42"));
        QCOMPARE(ctl<QLineEdit>(program->cardEditor(), "Edit1")->text(), QStringLiteral("2021"));
        QCOMPARE(ctl<QLineEdit>(program->cardEditor(), "Edit2")->text(),
                 QStringLiteral("3"));  // no leading zero added
        QCOMPARE(ctl<QLineEdit>(program->cardEditor(), "Edit3")->text(), QStringLiteral("5"));
        QCOMPARE(ctl<QLineEdit>(program->cardEditor(), "Edit4")->text(), t.name);
        QCOMPARE(ctl<QLineEdit>(program->cardEditor(), "Edit5")->text(), t.organisation);
        QCOMPARE(ctl<QLineEdit>(program->cardEditor(), "Edit6")->text(), t.department);
        QCOMPARE(ctl<QLineEdit>(program->cardEditor(), "Edit7")->text(), t.position);
        QCOMPARE(ctl<QLineEdit>(program->cardEditor(), "Edit8")->text(), t.reading);
        QCOMPARE(ctl<QPlainTextEdit>(program->cardEditor(), "Memo1")->toPlainText(),
                 QStringLiteral("一行目\n二行目"));
        QCOMPARE(program->cardEditor()->cardTexts().memo, t.memo);
        QCOMPARE(ctl<QPushButton>(program->cardEditor(), "SpeedButton5")->isEnabled(), deleteEnabled);
        QCOMPARE(ctl<QPushButton>(program->cardEditor(), "SpeedButton6")->isEnabled(), !deleteEnabled);
        QVERIFY(ctl<QPushButton>(program->cardEditor(), "SpeedButton1")->isEnabled());
        // No picture folder: empty list, "---", no picture.
        QCOMPARE(ctl<QListWidget>(program->cardEditor(), "ListBox1")->count(), 0);
        QCOMPARE(ctl<QLabel>(program->cardEditor(), "Label14")->text(), QStringLiteral("---"));
        QVERIFY(ctl<PictureArea>(program->cardEditor(), "Image1")->picture().isNull());
        QCOMPARE(gridKeys(), gridBefore);
    }

    // Stored texts longer than a box holds in UTF-16 units open whole and are written back
    // unchanged by a save, a deletion and a restoration.
    void longTextsSurviveOpeningAndSaving() {
        const QString emoji = QStringLiteral("😀");
        const cards::CardTexts t{emoji.repeated(150),
                                 QStringLiteral("𠮷").repeated(150),
                                 emoji.repeated(149) + QStringLiteral("末"),
                                 QStringLiteral("𠮷").repeated(150),
                                 emoji.repeated(100),
                                 QStringLiteral("\u00a0").repeated(3) + emoji.repeated(4990),
                                 "2021",
                                 "3",
                                 "5"};
        cards::insertCard(program->database()->statement, "42", t, cards::CardState::Live);
        commit();
        const QMap<QPushButton*, QString> question{
            {ctl<QPushButton>(program->cardEditor(), "SpeedButton3"), QStringLiteral("登録しますか？")},
            {ctl<QPushButton>(program->cardEditor(), "SpeedButton5"), QStringLiteral("削除しますか？")},
            {ctl<QPushButton>(program->cardEditor(), "SpeedButton6"), QStringLiteral("復活しますか？")}};
        for (QPushButton* action : {ctl<QPushButton>(program->cardEditor(), "SpeedButton3"),
                                    ctl<QPushButton>(program->cardEditor(), "SpeedButton5"),
                                    ctl<QPushButton>(program->cardEditor(), "SpeedButton6")}) {
            messages->expectQuestion(question[action]);
            messages->onShowModal = [&](QDialog* d) {
                if (d == program->cardEditor())
                    QTest::mouseClick(action, Qt::LeftButton);
            };
            w->openCardList();
            QTest::mouseClick(action == ctl<QPushButton>(program->cardEditor(), "SpeedButton6")
                                  ? ctl<QPushButton>(w, "SpeedButton3")
                                  : ctl<QPushButton>(w, "SpeedButton1"),
                              Qt::LeftButton);
            doubleClickCell(3, 1);
            QCOMPARE(messages->texts("error"), QStringList());
            const Row stored = committedCards()[42];
            QCOMPARE(stored["SYASYU"], t.name);
            QCOMPARE(stored["HURIGANA"], t.reading);
            QCOMPARE(stored["KATABAN"], t.organisation);
            QCOMPARE(stored["KYORI"], t.department);
            QCOMPARE(stored["KINGAKU"], t.position);
            QCOMPARE(stored["MEMO"], t.memo);
        }
        QCOMPARE(committedCards()[42]["DEL_FLG1"], QStringLiteral("1"));
    }

    // The first entry of the picture folder is selected and shown; a damaged picture does not
    // keep the card from opening, its error comes before the editor.
    void openCardPictures_data() {
        QTest::addColumn<QString>("entry");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("shown");
        QTest::addColumn<bool>("fails");
        QImage picture(80, 40, QImage::Format_RGB32);
        picture.fill(Qt::darkCyan);
        const QByteArray jpeg = testpictures::encoded(picture, "JPG");
        QTest::newRow("scan1.jpg") << "scan1.jpg" << jpeg << true << false;
        QTest::newRow("notes.txt") << "notes.txt" << QByteArray("memo") << false << false;
        QTest::newRow("damaged scan1.jpg")
            << "scan1.jpg" << QByteArray("not a picture at all") << false << true;
        QTest::newRow("empty folder") << "" << QByteArray() << false << false;
        // Half a scan, as a copy broken off leaves it.
        QTest::newRow("scan1.jpg cut short")
            << "scan1.jpg" << jpeg.left(jpeg.size() * 2 / 3) << false << true;
    }
    void openCardPictures() {
        QFETCH(QString, entry);
        QFETCH(QByteArray, content);
        QFETCH(bool, shown);
        QFETCH(bool, fails);
        addCard(8, "山田");
        QDir().mkpath(pictureFolder(8));
        if (!entry.isEmpty())
            writeFile(pictureFolder(8) + "/" + entry, content);
        QStringList events;
        messages->onMessage = [&](const MessageRecorder::Shown& s) { events << s.kind; };
        messages->onShowModal = [&](QDialog* d) { events << "modal:" + d->objectName(); };
        w->openCardList();
        events.clear();

        doubleClickCell(3, 1);
        QStringList expected{"modal:mst_car"};
        if (fails)
            expected.prepend("error");
        QCOMPARE(events, expected);
        QCOMPARE(ctl<QLabel>(program->cardEditor(), "Label13")->text(), QStringLiteral("8"));
        QCOMPARE(ctl<QLineEdit>(program->cardEditor(), "Edit4")->text(), QStringLiteral("山田"));
        QCOMPARE(ctl<QListWidget>(program->cardEditor(), "ListBox1")->count(), entry.isEmpty() ? 0 : 1);
        QCOMPARE(ctl<QListWidget>(program->cardEditor(), "ListBox1")->currentRow(), entry.isEmpty() ? -1 : 0);
        QCOMPARE(ctl<QLabel>(program->cardEditor(), "Label14")->text(),
                 entry.isEmpty() ? QStringLiteral("---") : entry);
        QCOMPARE(!ctl<PictureArea>(program->cardEditor(), "Image1")->picture().isNull(), shown);
        if (fails)
            QVERIFY(messages->texts("error")[0].contains("scan1.jpg"));
    }

    // Delete an opened card with an edit made first, then restore it from the deleted view.
    void deleteThenRestore() {
        addCard(7, "山田 太郎");
        addCard(6, "佐藤 花子");
        commit();
        bool closed = false;
        QString action;
        messages->onShowModal = [&](QDialog* d) {
            if (d != program->cardEditor())
                return;
            program->cardEditor()->show();
            if (action == "delete")
                ctl<QLineEdit>(program->cardEditor(), "Edit4")->setText(QStringLiteral("山田 次郎"));
            QTest::mouseClick(action == "delete" ? ctl<QPushButton>(program->cardEditor(), "SpeedButton5")
                                                 : ctl<QPushButton>(program->cardEditor(), "SpeedButton6"),
                              Qt::LeftButton);
            closed = !program->cardEditor()->isVisible();
        };

        w->openCardList();
        action = "delete";
        messages->expectQuestion(QStringLiteral("削除しますか？"));
        doubleClickCell(3, 1);
        QVERIFY(closed);
        QCOMPARE(messages->texts("ask"), QStringList{"削除しますか？"});
        QCOMPARE(messages->texts("show"), QStringList{"削除しました。"});
        QMap<int, Row> stored = committedCards();
        QCOMPARE(stored.keys(), (QList<int>{6, 7}));
        QCOMPARE(stored[7]["DEL_FLG1"], QStringLiteral("-1"));
        QCOMPARE(stored[7]["SYASYU"], QStringLiteral("山田 次郎"));
        QCOMPARE(stored[7]["LYEAR"], QStringLiteral("2021"));
        QCOMPARE(stored[6]["DEL_FLG1"], QStringLiteral("1"));
        // The list is not refilled behind the editor.
        QCOMPARE(ctl<StringGrid>(w, "SGrid1")->cell(3, 1), QStringLiteral("山田 太郎"));

        messages->clear();
        QTest::mouseClick(ctl<QPushButton>(w, "SpeedButton3"), Qt::LeftButton);
        QCOMPARE(gridKeys(), padded({"7"}, 20));
        action = "restore";
        closed = false;
        messages->expectQuestion(QStringLiteral("復活しますか？"));
        doubleClickCell(3, 1);
        QVERIFY(!ctl<QPushButton>(program->cardEditor(), "SpeedButton5")->isEnabled());
        QVERIFY(closed);
        QCOMPARE(messages->texts("ask"), QStringList{"復活しますか？"});
        QCOMPARE(messages->texts("show"), QStringList{"復活しました。"});
        stored = committedCards();
        QCOMPARE(stored.keys(), (QList<int>{6, 7}));
        QCOMPARE(stored[7]["DEL_FLG1"], QStringLiteral("1"));
        QCOMPARE(stored[7]["SYASYU"], QStringLiteral("山田 次郎"));

        QTest::mouseClick(ctl<QPushButton>(w, "SpeedButton1"), Qt::LeftButton);
        QCOMPARE(gridKeys(), padded({"7", "6"}, 20));
        QCOMPARE(ctl<StringGrid>(w, "SGrid1")->cell(3, 1), QStringLiteral("山田 次郎"));
    }

    void declinedDeleteWritesNothing() {
        addCard(7, "山田 太郎");
        commit();
        const QMap<int, Row> before = committedCards();
        bool closed = false;
        messages->expectQuestion(QStringLiteral("削除しますか？"), false);
        messages->onShowModal = [&](QDialog* d) {
            if (d != program->cardEditor())
                return;
            program->cardEditor()->show();
            ctl<QLineEdit>(program->cardEditor(), "Edit4")->setText(QStringLiteral("変更"));
            QTest::mouseClick(ctl<QPushButton>(program->cardEditor(), "SpeedButton5"), Qt::LeftButton);
            closed = !program->cardEditor()->isVisible();
        };
        w->openCardList();
        doubleClickCell(3, 1);
        QVERIFY(closed);
        QCOMPARE(messages->texts("ask"), QStringList{"削除しますか？"});
        QVERIFY(messages->texts("show").isEmpty());
        QCOMPARE(committedCards(), before);
    }
};

QTEST_MAIN(TestCardList)
#include "tst_cardlist.moc"
