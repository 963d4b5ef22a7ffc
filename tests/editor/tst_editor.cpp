// The card editor window on the offscreen platform: layout, the new-card reset, the date boxes'
// digit filter, input-method modes, the memo's limit, saving, deleting and restoring, with the
// database read back after each write.

#include "controls.h"
#include "editorfixture.h"
#include "limitedlineedit.h"
#include "picturearea.h"
#include "programundertest.h"

#include <QAbstractButton>
#include <QAbstractScrollArea>
#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QDate>
#include <QFile>
#include <QFrame>
#include <QInputMethodEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

Q_DECLARE_METATYPE(cards::CardState)

namespace {

// One key event per character: QTest::keyClicks cannot send Japanese or full-width text.
void typeText(QWidget* w, const QString& text) {
    for (QChar c : text)
        QTest::sendKeyEvent(QTest::Click, w, Qt::Key_unknown, QString(c), Qt::NoModifier);
}

void commitText(QWidget* w, const QString& text) {
    QInputMethodEvent e;
    e.setCommitString(text);
    QApplication::sendEvent(w, &e);
}

}  // namespace

class TestEditor final : public QObject {
    Q_OBJECT

    EditorFixture f;
    CardEditorWindow* w = nullptr;

    // A card as the list's opening leaves it: saved, its texts in the boxes, its key shown.
    QString loadCard(const QString& name, cards::CardState state = cards::CardState::Live) {
        const cards::CardTexts t{.name = name,
                                 .reading = "よみ",
                                 .organisation = "組織",
                                 .department = "部署",
                                 .position = "身分",
                                 .memo = "一行目\r\n二行目",
                                 .year = "2020",
                                 .month = "01",
                                 .day = "02"};
        cards::newCardInsert(*program->database(), t);
        const QString key = QString::number(cards::newestKey(program->database()->statement));
        if (state != cards::CardState::Live)
            cards::cardRewrite(*program->database(), key, t, state);
        w->setCardKey(key.toInt());
        ctl<QLineEdit>(w, "Edit1")->setText(t.year);
        ctl<QLineEdit>(w, "Edit2")->setText(t.month);
        ctl<QLineEdit>(w, "Edit3")->setText(t.day);
        ctl<QLineEdit>(w, "Edit4")->setText(t.name);
        ctl<QLineEdit>(w, "Edit8")->setText(t.reading);
        ctl<QLineEdit>(w, "Edit5")->setText(t.organisation);
        ctl<QLineEdit>(w, "Edit6")->setText(t.department);
        ctl<QLineEdit>(w, "Edit7")->setText(t.position);
        ctl<QPlainTextEdit>(w, "Memo1")->setPlainText(t.memo);
        ctl<QPushButton>(w, "SpeedButton1")->setEnabled(true);
        ctl<QPushButton>(w, "SpeedButton5")->setEnabled(state != cards::CardState::Deleted);
        ctl<QPushButton>(w, "SpeedButton6")->setEnabled(state == cards::CardState::Deleted);
        f.messages->clear();
        return key;
    }

    void fillNewCard() {
        w->resetFields(QDate(2021, 3, 31));
        ctl<QLineEdit>(w, "Edit4")->setText(QStringLiteral("山田 太郎"));
        ctl<QLineEdit>(w, "Edit8")->setText(QStringLiteral("やまだ たろう"));
        ctl<QLineEdit>(w, "Edit5")->setText(QStringLiteral("山田商事"));
        ctl<QLineEdit>(w, "Edit6")->setText(QStringLiteral("営業部"));
        ctl<QLineEdit>(w, "Edit7")->setText(QStringLiteral("課長"));
        ctl<QPlainTextEdit>(w, "Memo1")->setPlainText(QStringLiteral("一行目\n二行目"));
    }

private slots:
    void init() {
        QVERIFY(f.setUp());
        w = program->cardEditor();
    }
    void cleanup() { f.tearDown(); }

    // Every control of the window's table is built where the table puts it, with its limit and
    // its caption (an edit box's accessible name, a button's text, a panel's label).
    void layoutMatchesTheDesign_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QRect>("geometry");
        QTest::addColumn<int>("limit");  // typing limit of edit boxes
        QTest::addColumn<QString>("caption");
        for (const formlook::ControlSpec& c : CardEditorWindow::layout())
            QTest::newRow(c.objectName) << c.name() << c.rect << c.limit << c.caption;
    }
    void layoutMatchesTheDesign() {
        QFETCH(QString, name);
        QFETCH(QRect, geometry);
        QFETCH(int, limit);
        QFETCH(QString, caption);
        QCOMPARE(w->size(), QSize(724, 561));
        QCOMPARE(w->minimumSize(), w->maximumSize());
        auto* control = w->findChild<QWidget*>(name);
        QVERIFY(control);
        QCOMPARE(control->geometry(), geometry);
        if (qobject_cast<QLineEdit*>(control)) {
            auto* box = qobject_cast<LimitedLineEdit*>(control);
            QVERIFY(box);
            QCOMPARE(box->limit(), limit);
        }
        if (caption.isEmpty())
            return;
        if (auto* button = qobject_cast<QAbstractButton*>(control)) {
            QCOMPARE(button->text(), caption);
        } else if (qobject_cast<QFrame*>(control) && !qobject_cast<QAbstractScrollArea*>(control)) {
            QStringList texts;
            for (const QLabel* label : control->findChildren<QLabel*>())
                texts << label->text();
            QVERIFY2(texts.contains(caption), qPrintable(texts.join(u'|')));
        } else {
            QCOMPARE(control->accessibleName(), caption);
        }
    }

    // Tab walks the boxes as they are laid out, then the picture list and the buttons the card
    // allows, and round to the year; Shift+Tab walks back. The date boxes keep their digits.
    void tabWalksTheBoxesThenTheListAndButtons_data() {
        QTest::addColumn<QString>("card");  // new, live or deleted
        QTest::addColumn<bool>("backwards");
        QTest::addColumn<QStringList>("order");
        const QStringList boxes{"Edit1", "Edit2", "Edit3", "Edit4", "Edit8",
                                "Edit6", "Edit5", "Edit7", "Memo1", "ListBox1"};
        const QStringList forNew =
            boxes + QStringList{"SpeedButton3", "SpeedButton4", "Button1", "SpeedButton2"};
        QStringList backwardsForNew{"Edit1"};
        for (auto it = forNew.crbegin(); it != forNew.crend() - 1; ++it)
            backwardsForNew << *it;
        QTest::newRow("new card") << "new" << false << forNew;
        QTest::newRow("new card, Shift+Tab") << "new" << true << backwardsForNew;
        QTest::newRow("stored card") << "live" << false
                                     << boxes + QStringList{"SpeedButton3", "SpeedButton4", "SpeedButton1",
                                                            "Button1",      "SpeedButton5", "SpeedButton2"};
        QTest::newRow("deleted card")
            << "deleted" << false << boxes + QStringList{"SpeedButton3", "SpeedButton4", "SpeedButton1",
                                                         "Button1",      "SpeedButton6", "SpeedButton2"};
    }
    void tabWalksTheBoxesThenTheListAndButtons() {
        QFETCH(QString, card);
        QFETCH(bool, backwards);
        QFETCH(QStringList, order);
        if (card == "new")
            w->resetFields(QDate(2021, 3, 31));
        else
            loadCard(QStringLiteral("山田"),
                     card == "live" ? cards::CardState::Live : cards::CardState::Deleted);
        w->show();
        QVERIFY(QTest::qWaitForWindowActive(w));
        ctl<QLineEdit>(w, "Edit1")->setFocus();
        QStringList walked{QApplication::focusWidget()->objectName()};
        for (int i = 0; i < order.size(); ++i) {
            QTest::keyClick(QApplication::focusWidget(), backwards ? Qt::Key_Backtab : Qt::Key_Tab,
                            backwards ? Qt::ShiftModifier : Qt::NoModifier);
            walked << QApplication::focusWidget()->objectName();
        }
        QCOMPARE(walked, order + QStringList{"Edit1"});
        if (card == "new")
            QCOMPARE((QStringList{ctl<QLineEdit>(w, "Edit1")->text(), ctl<QLineEdit>(w, "Edit2")->text(),
                                  ctl<QLineEdit>(w, "Edit3")->text()}),
                     (QStringList{"2021", "03", "31"}));
    }

    // A button reached with Tab is pressed by Enter, Return and Space alike; a click on a flat
    // button leaves the focus in the box being typed in.
    void buttonsArePressedFromTheKeyboard_data() {
        QTest::addColumn<QString>("button");
        QTest::addColumn<int>("key");
        QTest::addColumn<QString>("question");  // the question the press asks, answered いいえ
        QTest::newRow("登録, Enter") << "SpeedButton3" << int(Qt::Key_Enter) << "登録しますか？";
        QTest::newRow("登録, Return") << "SpeedButton3" << int(Qt::Key_Return) << "登録しますか？";
        QTest::newRow("登録, Space") << "SpeedButton3" << int(Qt::Key_Space) << "登録しますか？";
        QTest::newRow("更新, Return") << "SpeedButton4" << int(Qt::Key_Return) << "";
        QTest::newRow("フォルダを開く, Enter") << "SpeedButton1" << int(Qt::Key_Enter) << "";
        QTest::newRow("エクセル表示, Return") << "Button1" << int(Qt::Key_Return) << "";
        QTest::newRow("データ削除, Return") << "SpeedButton5" << int(Qt::Key_Return) << "削除しますか？";
        QTest::newRow("閉じる, Return") << "SpeedButton2" << int(Qt::Key_Return) << "";
    }
    void buttonsArePressedFromTheKeyboard() {
        QFETCH(QString, button);
        QFETCH(int, key);
        QFETCH(QString, question);
        loadCard(QStringLiteral("山田"));
        w->show();
        QVERIFY(QTest::qWaitForWindowActive(w));
        auto* pressed = ctl<QPushButton>(w, qPrintable(button));
        int clicks = 0;
        connect(pressed, &QPushButton::clicked, this, [&clicks] { ++clicks; });
        ctl<QLineEdit>(w, "Edit1")->setFocus();
        for (int i = 0; i < 30 && QApplication::focusWidget() != pressed; ++i)
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(pressed));
        QCOMPARE(clicks, 0);
        if (!question.isEmpty())
            f.messages->expectQuestion(question, false);
        QTest::keyClick(pressed, Qt::Key(key));
        QCOMPARE(clicks, 1);
        QCOMPARE(f.messages->texts("ask"), question.isEmpty() ? QStringList{} : QStringList{question});
        QVERIFY(f.messages->texts("error").isEmpty());
    }

    // Enter in a box after Tab has passed the buttons presses none of them, and in the memo it
    // still starts a new line.
    void enterInABoxPressesNoButton_data() {
        QTest::addColumn<QString>("box");
        QTest::newRow("name") << "Edit4";
        QTest::newRow("year") << "Edit1";
        QTest::newRow("position") << "Edit7";
    }
    void enterInABoxPressesNoButton() {
        QFETCH(QString, box);
        loadCard(QStringLiteral("山田"));
        w->show();
        QVERIFY(QTest::qWaitForWindowActive(w));
        int clicks = 0;
        for (QPushButton* b : w->findChildren<QPushButton*>())
            connect(b, &QPushButton::clicked, this, [&clicks] { ++clicks; });
        ctl<QLineEdit>(w, "Edit1")->setFocus();
        for (int i = 0; i < 20; ++i)
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        auto* target = ctl<QLineEdit>(w, qPrintable(box));
        target->setFocus();
        QTest::keyClick(target, Qt::Key_Return);
        QTest::keyClick(target, Qt::Key_Enter, Qt::KeypadModifier);
        QCOMPARE(clicks, 0);
        QVERIFY(w->isVisible());
        QVERIFY(f.messages->shown.isEmpty());
        auto* memo = ctl<QPlainTextEdit>(w, "Memo1");
        memo->setFocus();
        memo->moveCursor(QTextCursor::End);
        QTest::keyClick(memo, Qt::Key_Return);
        QCOMPARE(clicks, 0);
        QCOMPARE(w->cardTexts().memo, QStringLiteral("一行目\r\n二行目\r\n"));
    }

    // What a screen reader finds: every control the user works has its role and name, and the
    // buttons and the picture's menu item can be pressed through it.
    void screenReadersNameEveryControl_data() {
        QTest::addColumn<QString>("control");  // objectName, or "menu/N" for a menu's Nth item
        QTest::addColumn<int>("role");
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("pressable");
        const int edit = QAccessible::EditableText, button = QAccessible::Button;
        QTest::newRow("年") << "Edit1" << edit << "年" << false;
        QTest::newRow("名前") << "Edit4" << edit << "名　前" << false;
        QTest::newRow("ふりがな") << "Edit8" << edit << "ふりがな" << false;
        QTest::newRow("その他") << "Memo1" << edit << "その他" << false;
        QTest::newRow("画像一覧") << "ListBox1" << int(QAccessible::List) << "画像一覧" << false;
        QTest::newRow("登録") << "SpeedButton3" << button << "登録" << true;
        QTest::newRow("エクセル表示") << "Button1" << button << "エクセル表示" << true;
        QTest::newRow("閉じる") << "SpeedButton2" << button << "閉じる" << true;
        QTest::newRow("picture menu")
            << "PictureMenu" << int(QAccessible::PopupMenu) << "画像のメニュー" << false;
        QTest::newRow("picture menu item")
            << "PictureMenu/0" << int(QAccessible::MenuItem) << "画像から読み取る…" << true;
    }
    void screenReadersNameEveryControl() {
        QFETCH(QString, control);
        QFETCH(int, role);
        QFETCH(QString, name);
        QFETCH(bool, pressable);
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w));
        const QStringList path = control.split(u'/');
        QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(w->findChild<QObject*>(path[0]));
        QVERIFY(iface);
        if (path.size() > 1) {
            QCOMPARE(iface->childCount(), path[1].toInt() + 1);
            iface = iface->child(path[1].toInt());
            QVERIFY(iface);
        }
        QCOMPARE(int(iface->role()), role);
        QCOMPARE(iface->text(QAccessible::Name), name);
        const QStringList actions =
            iface->actionInterface() ? iface->actionInterface()->actionNames() : QStringList{};
        QCOMPARE(actions.contains(QAccessibleActionInterface::pressAction()), pressable);
    }

    // A click on a flat button presses it and leaves the focus where it was.
    void clickOnAFlatButtonKeepsTheFocus() {
        loadCard(QStringLiteral("山田"));
        w->show();
        QVERIFY(QTest::qWaitForWindowActive(w));
        ctl<QLineEdit>(w, "Edit5")->setFocus();
        int clicks = 0;
        connect(ctl<QPushButton>(w, "SpeedButton4"), &QPushButton::clicked, this, [&clicks] { ++clicks; });
        QTest::mouseClick(ctl<QPushButton>(w, "SpeedButton4"), Qt::LeftButton);
        QCOMPARE(clicks, 1);
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(ctl<QLineEdit>(w, "Edit5")));
    }

    void resetCutsTheDateAtFixedPositions_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("parts");
        QTest::newRow("usual") << newCardDateText(QDate(2021, 3, 31)) << QStringList{"2021", "03", "31"};
        QTest::newRow("leading zeros kept")
            << newCardDateText(QDate(2021, 3, 5)) << QStringList{"2021", "03", "05"};
        QTest::newRow("no leading zeros") << "2021/3/5" << QStringList{"2021", "3/", ""};
        QTest::newRow("short") << "202" << QStringList{"202", "", ""};
    }
    void resetCutsTheDateAtFixedPositions() {
        QFETCH(QString, text);
        QFETCH(QStringList, parts);
        const NewCardDate d = cutDateText(text);
        QCOMPARE((QStringList{d.year, d.month, d.day}), parts);
    }

    void resetEmptiesTheCardButKeepsTheFileName() {
        loadCard(QStringLiteral("前の名刺"));
        ctl<QListWidget>(w, "ListBox1")->addItem(QStringLiteral("a.jpg"));
        ctl<QLabel>(w, "Label14")->setText(QStringLiteral("a.jpg"));
        ctl<PictureArea>(w, "Image1")->setPicture(QImage(10, 10, QImage::Format_RGB32));
        int shownModally = 0;
        f.messages->onShowModal = [&](QDialog* d) { shownModally += d == w; };
        w->resetToNewCard();
        QCOMPARE(shownModally, 1);
        const QDate today = QDate::currentDate();
        QCOMPARE(ctl<QLineEdit>(w, "Edit1")->text(), today.toString("yyyy"));
        QCOMPARE(ctl<QLineEdit>(w, "Edit2")->text(), today.toString("MM"));
        QCOMPARE(ctl<QLineEdit>(w, "Edit3")->text(), today.toString("dd"));
        for (QLineEdit* box :
             {ctl<QLineEdit>(w, "Edit4"), ctl<QLineEdit>(w, "Edit5"), ctl<QLineEdit>(w, "Edit6"),
              ctl<QLineEdit>(w, "Edit7"), ctl<QLineEdit>(w, "Edit8")})
            QVERIFY(box->text().isEmpty());
        QVERIFY(ctl<QPlainTextEdit>(w, "Memo1")->toPlainText().isEmpty());
        QCOMPARE(ctl<QLabel>(w, "Label13")->text(), QStringLiteral("---"));
        QCOMPARE(ctl<QListWidget>(w, "ListBox1")->count(), 0);
        QVERIFY(ctl<PictureArea>(w, "Image1")->picture().isNull());
        QCOMPARE(ctl<QLabel>(w, "Label14")->text(), QStringLiteral("a.jpg"));
        QVERIFY(!ctl<QPushButton>(w, "SpeedButton1")->isEnabled());
        QVERIFY(!ctl<QPushButton>(w, "SpeedButton5")->isEnabled());
        QVERIFY(!ctl<QPushButton>(w, "SpeedButton6")->isEnabled());
        QVERIFY(ctl<QPushButton>(w, "SpeedButton3")->isEnabled() &&
                ctl<QPushButton>(w, "SpeedButton4")->isEnabled() &&
                ctl<QPushButton>(w, "Button1")->isEnabled());
    }

    void dateBoxesTakeOnlyAsciiDigits_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("expected");
        QTest::newRow("digits") << "12"
                                << "12";
        QTest::newRow("letters, minus, space") << "1a-2 b"
                                               << "12";
        QTest::newRow("full-width digit") << "1２3"
                                          << "13";
        QTest::newRow("Japanese") << "年1"
                                  << "1";
        QTest::newRow("more than the limit") << "123456"
                                             << "1234";
    }
    void dateBoxesTakeOnlyAsciiDigits() {
        QFETCH(QString, typed);
        QFETCH(QString, expected);
        ctl<QLineEdit>(w, "Edit1")->clear();
        typeText(ctl<QLineEdit>(w, "Edit1"), typed);
        QCOMPARE(ctl<QLineEdit>(w, "Edit1")->text(), expected);
        // The same rule for text committed by an input method.
        ctl<QLineEdit>(w, "Edit2")->clear();
        commitText(ctl<QLineEdit>(w, "Edit2"), typed);
        QCOMPARE(ctl<QLineEdit>(w, "Edit2")->text(), expected.left(2));
    }

    void dateBoxesKeepBackspaceAndRefusePasteShortcut() {
        ctl<QLineEdit>(w, "Edit3")->setText(QStringLiteral("31"));
        ctl<QLineEdit>(w, "Edit3")->end(false);
        QTest::keyClick(ctl<QLineEdit>(w, "Edit3"), Qt::Key_Backspace);
        QCOMPARE(ctl<QLineEdit>(w, "Edit3")->text(), QStringLiteral("3"));
        QApplication::clipboard()->setText(QStringLiteral("9"));
        QTest::keyClick(ctl<QLineEdit>(w, "Edit3"), Qt::Key_V, Qt::ControlModifier);
        QTest::sendKeyEvent(QTest::Click, ctl<QLineEdit>(w, "Edit3"), Qt::Key_V, QString(QChar(0x16)),
                            Qt::ControlModifier);
        QCOMPARE(ctl<QLineEdit>(w, "Edit3")->text(), QStringLiteral("3"));
        // Keys without text still work: Delete after moving left.
        QTest::keyClick(ctl<QLineEdit>(w, "Edit3"), Qt::Key_Home);
        QTest::keyClick(ctl<QLineEdit>(w, "Edit3"), Qt::Key_Delete);
        QCOMPARE(ctl<QLineEdit>(w, "Edit3")->text(), QString());
    }

    void readingAndNameBoxesAskForTheirInputModes() {
        w->show();
        QVERIFY(QTest::qWaitForWindowActive(w));
        ctl<QLineEdit>(w, "Edit5")->setFocus();
        f.inputMethod->calls.clear();
        ctl<QLineEdit>(w, "Edit4")->setFocus();
        ctl<QLineEdit>(w, "Edit8")->setFocus();
        ctl<QLineEdit>(w, "Edit1")->setFocus();  // a box without an input mode
        const auto& calls = f.inputMethod->calls;
        QCOMPARE(calls.size(), 3);
        QCOMPARE(calls[0].box, ctl<QLineEdit>(w, "Edit4"));
        QCOMPARE(calls[0].conversion, -1);  // hiragana mode
        QCOMPARE(calls[1].box, ctl<QLineEdit>(w, "Edit8"));
        QCOMPARE((QList<int>{calls[1].conversion, calls[1].sentence}), (QList<int>{11, 0}));
        QCOMPARE(calls[2].box, ctl<QLineEdit>(w, "Edit8"));
        QCOMPARE((QList<int>{calls[2].conversion, calls[2].sentence}), (QList<int>{1, 8}));
    }

    // The date boxes tell the input method they take digits only, through the platform.
    void dateBoxesAskForDigitsOnly() {
        QCOMPARE(f.inputMethod->digitsOnly,
                 (QList<QWidget*>{ctl<QLineEdit>(w, "Edit1"), ctl<QLineEdit>(w, "Edit2"),
                                  ctl<QLineEdit>(w, "Edit3")}));
        platform::setInputMethod(nullptr);  // the platform's own
        CardEditorWindow plain(CardFolder::local(f.folder->path()), *program->database());
        for (QLineEdit* box : {ctl<QLineEdit>(&plain, "Edit1"), ctl<QLineEdit>(&plain, "Edit2"),
                               ctl<QLineEdit>(&plain, "Edit3")})
            QVERIFY(box->inputMethodHints() & Qt::ImhDigitsOnly);
        for (QLineEdit* box : {ctl<QLineEdit>(&plain, "Edit4"), ctl<QLineEdit>(&plain, "Edit5"),
                               ctl<QLineEdit>(&plain, "Edit6"), ctl<QLineEdit>(&plain, "Edit7"),
                               ctl<QLineEdit>(&plain, "Edit8")})
            QVERIFY(!(box->inputMethodHints() & Qt::ImhDigitsOnly));
    }

    // Esc leaves the window open and what was typed in place, from any box.
    void escapeDoesNotClose_data() {
        QTest::addColumn<QString>("box");
        QTest::newRow("name") << "Edit4";
        QTest::newRow("year") << "Edit1";
        QTest::newRow("memo") << "Memo1";
        QTest::newRow("picture list") << "ListBox1";
    }
    void escapeDoesNotClose() {
        QFETCH(QString, box);
        w->resetFields(QDate(2021, 3, 31));
        w->show();
        QVERIFY(QTest::qWaitForWindowActive(w));
        typeText(ctl<QLineEdit>(w, "Edit4"), QStringLiteral("山田"));
        auto* target = w->findChild<QWidget*>(box);
        target->setFocus();
        QTest::keyClick(target, Qt::Key_Escape);
        QVERIFY(w->isVisible());
        QCOMPARE(ctl<QLineEdit>(w, "Edit4")->text(), QStringLiteral("山田"));
        QCOMPARE(w->result(), 0);
    }

    void memoCountsLineBreaksAsTwoForTypingAndPasting() {
        auto* memo = ctl<QPlainTextEdit>(w, "Memo1");
        memo->setPlainText(QString(4997, QLatin1Char('x')));
        memo->moveCursor(QTextCursor::End);
        QTest::keyClick(memo, Qt::Key_Return);  // 4999: fits
        QCOMPARE(memo->toPlainText().size(), 4998);
        QTest::keyClick(memo, Qt::Key_Return);  // would be 5001
        QCOMPARE(memo->toPlainText().size(), 4998);
        typeText(memo, QStringLiteral("あい"));  // only the first fits
        QVERIFY(memo->toPlainText().endsWith(QStringLiteral("\nあ")));

        // A paste is cut to fit; a break that does not fit whole is left out.
        memo->setPlainText(QString(4990, QLatin1Char('x')));
        memo->moveCursor(QTextCursor::End);
        QApplication::clipboard()->setText(QStringLiteral("1234\r\n5678\r\n90"));
        memo->paste();
        QCOMPARE(memo->toPlainText().mid(4990), QStringLiteral("1234\n5678"));
        // Replacing a selection gives its room back.
        memo->selectAll();
        QApplication::clipboard()->setText(QString(6000, QLatin1Char('y')));
        memo->paste();
        QCOMPARE(memo->toPlainText().size(), 5000);
        // Text the program puts in is not cut.
        memo->setPlainText(QString(5100, QLatin1Char('z')));
        QCOMPARE(memo->toPlainText().size(), 5100);
    }

    // Limits count characters: emoji and rare kanji (two UTF-16 units each) fill a box to its
    // limit, never past it, never half; pastes are cut at a whole character.
    void typingLimitsCountCharacters_data() {
        QTest::addColumn<QString>("box");
        QTest::addColumn<int>("limit");
        QTest::addColumn<QString>("ch");
        QTest::newRow("name, emoji") << "Edit4" << 150 << QStringLiteral("😀");
        QTest::newRow("name, rare kanji") << "Edit4" << 150 << QStringLiteral("𠮷");
        QTest::newRow("reading, kana") << "Edit8" << 150 << QStringLiteral("あ");
        QTest::newRow("position, emoji") << "Edit7" << 100 << QStringLiteral("😀");
        QTest::newRow("department, rare kanji") << "Edit6" << 150 << QStringLiteral("𠮷");
    }
    void typingLimitsCountCharacters() {
        QFETCH(QString, box);
        QFETCH(int, limit);
        QFETCH(QString, ch);
        auto* edit = w->findChild<QLineEdit*>(box);
        QVERIFY(edit);
        edit->clear();
        for (int i = 0; i < limit + 3; ++i)
            QTest::sendKeyEvent(QTest::Click, edit, Qt::Key_unknown, ch, Qt::NoModifier);
        QCOMPARE(edit->text(), ch.repeated(limit));
        // An input method's commit and a paste are cut at the limit, at a whole character.
        edit->setText(ch.repeated(limit - 2));
        edit->end(false);
        commitText(edit, ch.repeated(5));
        QCOMPARE(edit->text(), ch.repeated(limit));
        edit->clear();
        QApplication::clipboard()->setText(QStringLiteral("x") + ch.repeated(limit + 10));
        QTest::keyClick(edit, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(edit->text(), QStringLiteral("x") + ch.repeated(limit - 1));
    }

    // Text the program puts into a box is kept whole; typing cannot lengthen it, deleting can
    // shorten it.
    void programTextIsNotCut() {
        const QString stored = QStringLiteral("😀").repeated(150) + QStringLiteral("末");
        ctl<QLineEdit>(w, "Edit4")->setText(stored);
        QCOMPARE(ctl<QLineEdit>(w, "Edit4")->text(), stored);
        ctl<QLineEdit>(w, "Edit4")->end(false);
        typeText(ctl<QLineEdit>(w, "Edit4"), QStringLiteral("a"));
        QCOMPARE(ctl<QLineEdit>(w, "Edit4")->text(), stored);
        QTest::keyClick(ctl<QLineEdit>(w, "Edit4"), Qt::Key_Backspace);
        QCOMPARE(ctl<QLineEdit>(w, "Edit4")->text(), stored.chopped(1));
        ctl<QLineEdit>(w, "Edit1")->setText(QStringLiteral("20210"));  // a date box too
        QCOMPARE(ctl<QLineEdit>(w, "Edit1")->text(), QStringLiteral("20210"));
    }

    void memoLimitCountsCharacters() {
        auto* memo = ctl<QPlainTextEdit>(w, "Memo1");
        const QString emoji = QStringLiteral("😀");
        memo->setPlainText(emoji.repeated(4997));
        memo->moveCursor(QTextCursor::End);
        for (int i = 0; i < 5; ++i)
            QTest::sendKeyEvent(QTest::Click, memo, Qt::Key_unknown, emoji, Qt::NoModifier);
        QCOMPARE(memo->toPlainText(), emoji.repeated(5000));
        // A line break still counts two.
        memo->setPlainText(emoji.repeated(4998));
        memo->moveCursor(QTextCursor::End);
        QTest::keyClick(memo, Qt::Key_Return);
        QTest::sendKeyEvent(QTest::Click, memo, Qt::Key_unknown, emoji, Qt::NoModifier);
        QCOMPARE(w->cardTexts().memo, emoji.repeated(4998) + QStringLiteral("\r\n"));
        // A paste of emoji is cut at a whole character.
        memo->setPlainText(emoji.repeated(4990));
        memo->moveCursor(QTextCursor::End);
        QApplication::clipboard()->setText(emoji.repeated(20));
        memo->paste();
        QCOMPARE(memo->toPlainText(), emoji.repeated(5000));
    }

    // The memo is stored exactly as it stands: no-break spaces stay, and every line break,
    // Shift+Enter too, is a CR LF.
    void memoKeepsItsCharacters() {
        const QString memo = QStringLiteral("株式会社\u00a0北星\r\n\u3000全角空白\r\n\r\n末尾\u00a0");
        ctl<QPlainTextEdit>(w, "Memo1")
            ->setPlainText(QString(memo).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
        QCOMPARE(w->cardTexts().memo, memo);
        ctl<QPlainTextEdit>(w, "Memo1")->moveCursor(QTextCursor::End);
        QTest::keyClick(ctl<QPlainTextEdit>(w, "Memo1"), Qt::Key_Return, Qt::ShiftModifier);
        typeText(ctl<QPlainTextEdit>(w, "Memo1"), QStringLiteral("x"));
        QCOMPARE(w->cardTexts().memo, memo + QStringLiteral("\r\nx"));

        fillNewCard();
        ctl<QPlainTextEdit>(w, "Memo1")
            ->setPlainText(QString(memo).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
        f.messages->expectQuestion(QStringLiteral("登録しますか？"));
        ctl<QPushButton>(w, "SpeedButton3")->click();
        const auto cardsNow = f.committedCards();
        QCOMPARE(cardsNow.size(), 1);
        QCOMPARE(cardsNow.first()["MEMO"], memo);
    }

    void memoTravelsWithCrLf() {
        ctl<QPlainTextEdit>(w, "Memo1")->setPlainText(QStringLiteral("一\r\n二\r\n\r\n三"));
        QCOMPARE(ctl<QPlainTextEdit>(w, "Memo1")->document()->blockCount(), 4);
        QCOMPARE(w->cardTexts().memo, QStringLiteral("一\r\n二\r\n\r\n三"));
        ctl<QPlainTextEdit>(w, "Memo1")->clear();
        typeText(ctl<QPlainTextEdit>(w, "Memo1"), QStringLiteral("a"));
        QTest::keyClick(ctl<QPlainTextEdit>(w, "Memo1"), Qt::Key_Return);
        typeText(ctl<QPlainTextEdit>(w, "Memo1"), QStringLiteral("b"));
        QCOMPARE(w->cardTexts().memo, QStringLiteral("a\r\nb"));
    }

    void saveStopsAtTheFirstFailingCheck_data() {
        QTest::addColumn<QStringList>("boxes");  // year, month, day, name, reading
        QTest::addColumn<QString>("message");
        QTest::newRow("all empty") << QStringList{"", "", "", "", ""} << "年が入力されていません。";
        QTest::newRow("month") << QStringList{"2021", "", "", "", ""} << "月が入力されていません。";
        QTest::newRow("day") << QStringList{"2021", "3", "", "名", ""} << "日にちが入力されていません。";
        QTest::newRow("name or reading")
            << QStringList{"2021", "3", "1", "", ""} << "名前かふりがなが入力されていません。";
    }
    void saveStopsAtTheFirstFailingCheck() {
        QFETCH(QStringList, boxes);
        QFETCH(QString, message);
        w->resetFields(QDate(2021, 3, 31));
        QLineEdit* order[] = {ctl<QLineEdit>(w, "Edit1"), ctl<QLineEdit>(w, "Edit2"),
                              ctl<QLineEdit>(w, "Edit3"), ctl<QLineEdit>(w, "Edit4"),
                              ctl<QLineEdit>(w, "Edit8")};
        for (int i = 0; i < 5; ++i)
            order[i]->setText(boxes[i]);
        ctl<QListWidget>(w, "ListBox1")->addItem(QStringLiteral("stale"));
        ctl<QPushButton>(w, "SpeedButton3")->click();
        QCOMPARE(f.messages->texts("show"), QStringList{message});
        QVERIFY(f.messages->texts("ask").isEmpty());
        QCOMPARE(ctl<QListWidget>(w, "ListBox1")->count(), 0);  // refreshed for "---"
        QVERIFY(f.committedCards().isEmpty());
    }

    void declinedSaveWritesNothingButRefreshesTheList() {
        const QString key = loadCard(QStringLiteral("元の名前"));
        ctl<QLineEdit>(w, "Edit4")->setText(QStringLiteral("変えた名前"));
        QDir().mkpath(f.cardFolder(key));
        QFile(f.cardFolder(key) + "/new.jpg").open(QIODevice::WriteOnly);
        f.messages->expectQuestion(QStringLiteral("登録しますか？"), false);
        ctl<QPushButton>(w, "SpeedButton3")->click();
        QCOMPARE(f.messages->texts("ask"), QStringList{"登録しますか？"});
        QVERIFY(f.messages->texts("show").isEmpty());
        QCOMPARE(f.committedCards()[key.toInt()]["SYASYU"], QStringLiteral("元の名前"));
        QCOMPARE(ctl<QListWidget>(w, "ListBox1")->count(), 1);
        QCOMPARE(ctl<QListWidget>(w, "ListBox1")->item(0)->text(), QStringLiteral("new.jpg"));
    }

    void newCardGetsItsKeyAfterTheMessageAndStaysOneCard() {
        fillNewCard();
        int committedWhileShown = -1;
        QString baseIdWhileShown;
        f.messages->onMessage = [&](const MessageRecorder::Shown& s) {
            if (s.kind == "show") {
                baseIdWhileShown = ctl<QLabel>(w, "Label13")->text();
                committedWhileShown = int(f.committedCards().size());
            }
        };
        f.messages->expectQuestion(QStringLiteral("登録しますか？"));
        ctl<QPushButton>(w, "SpeedButton3")->click();
        QCOMPARE(f.messages->texts("show"), QStringList{CardEditorWindow::savedMessage()});
        QCOMPARE(CardEditorWindow::savedMessage(),
                 QStringLiteral("\r\n　　　　　　登録しました。　　　　　　\r\n"));
        QCOMPARE(baseIdWhileShown, QStringLiteral("---"));
        QCOMPARE(committedWhileShown, 1);  // saved for good before it is reported

        auto cardsNow = f.committedCards();
        QCOMPARE(cardsNow.size(), 1);
        const int key = cardsNow.firstKey();
        QCOMPARE(ctl<QLabel>(w, "Label13")->text(), QString::number(key));
        QVERIFY(ctl<QPushButton>(w, "SpeedButton1")->isEnabled());
        QVERIFY(!ctl<QPushButton>(w, "SpeedButton5")->isEnabled() &&
                !ctl<QPushButton>(w, "SpeedButton6")->isEnabled());
        const auto row = cardsNow[key];
        QCOMPARE(row["SYASYU"], QStringLiteral("山田 太郎"));
        QCOMPARE(row["HURIGANA"], QStringLiteral("やまだ たろう"));
        QCOMPARE(row["KATABAN"], QStringLiteral("山田商事"));
        QCOMPARE(row["KYORI"], QStringLiteral("営業部"));
        QCOMPARE(row["KINGAKU"], QStringLiteral("課長"));
        QCOMPARE(row["MEMO"], QStringLiteral("一行目\r\n二行目"));
        QCOMPARE((QStringList{row["LYEAR"], row["LMONTH"], row["LDAY"]}), (QStringList{"2021", "03", "31"}));
        QCOMPARE(row["DEL_FLG1"], QStringLiteral("1"));

        // Saved again: the same card rewritten under its key.
        ctl<QLineEdit>(w, "Edit4")->setText(QStringLiteral("山田 次郎"));
        f.messages->expectQuestion(QStringLiteral("登録しますか？"));
        ctl<QPushButton>(w, "SpeedButton3")->click();
        cardsNow = f.committedCards();
        QCOMPARE(cardsNow.size(), 1);
        QCOMPARE(cardsNow[key]["SYASYU"], QStringLiteral("山田 次郎"));
        QCOMPARE(ctl<QLabel>(w, "Label13")->text(), QString::number(key));
    }

    void savesWhatTheBoxesHold_data() {
        QTest::addColumn<QStringList>("boxes");  // year, month, day, name, reading
        QTest::newRow("name without reading") << QStringList{"2021", "03", "31", "名前だけ", ""};
        QTest::newRow("reading without name") << QStringList{"2021", "03", "31", "", "ふりがなだけ"};
        QTest::newRow("no range checks") << QStringList{"0000", "00", "99", "日付", ""};
        QTest::newRow("a space is content") << QStringList{" ", " ", " ", " ", ""};
    }
    void savesWhatTheBoxesHold() {
        QFETCH(QStringList, boxes);
        w->resetFields(QDate(2021, 3, 31));
        QLineEdit* order[] = {ctl<QLineEdit>(w, "Edit1"), ctl<QLineEdit>(w, "Edit2"),
                              ctl<QLineEdit>(w, "Edit3"), ctl<QLineEdit>(w, "Edit4"),
                              ctl<QLineEdit>(w, "Edit8")};
        for (int i = 0; i < 5; ++i)
            order[i]->setText(boxes[i]);
        f.messages->expectQuestion(QStringLiteral("登録しますか？"));
        ctl<QPushButton>(w, "SpeedButton3")->click();
        QVERIFY(f.messages->texts("error").isEmpty());
        const auto cardsNow = f.committedCards();
        QCOMPARE(cardsNow.size(), 1);
        const auto row = cardsNow.first();
        QCOMPARE((QStringList{row["LYEAR"], row["LMONTH"], row["LDAY"], row["SYASYU"], row["HURIGANA"]}),
                 boxes);
    }

    void savingADeletedCardMakesItLive() {
        const QString key = loadCard(QStringLiteral("削除済み"), cards::CardState::Deleted);
        f.messages->expectQuestion(QStringLiteral("登録しますか？"));
        ctl<QPushButton>(w, "SpeedButton3")->click();
        QCOMPARE(f.committedCards()[key.toInt()]["DEL_FLG1"], QStringLiteral("1"));
        QVERIFY(ctl<QPushButton>(w, "SpeedButton6")->isEnabled());  // enabled states are left alone
    }

    void deleteAndRestoreRewriteTheCardWithTheFlag_data() {
        QTest::addColumn<cards::CardState>("start");
        QTest::addColumn<bool>("del");
        QTest::addColumn<QString>("question");
        QTest::addColumn<QString>("done");
        QTest::addColumn<QString>("endFlag");  // as stored
        QTest::newRow("delete") << cards::CardState::Live << true << "削除しますか？"
                                << "削除しました。"
                                << "-1";
        QTest::newRow("restore") << cards::CardState::Deleted << false << "復活しますか？"
                                 << "復活しました。"
                                 << "1";
    }
    void deleteAndRestoreRewriteTheCardWithTheFlag() {
        QFETCH(cards::CardState, start);
        QFETCH(bool, del);
        QFETCH(QString, question);
        QFETCH(QString, done);
        QFETCH(QString, endFlag);
        const QString key = loadCard(QStringLiteral("元の名前"), start);
        w->show();
        ctl<QLineEdit>(w, "Edit4")->setText(QStringLiteral("未保存の名前"));
        ctl<QLineEdit>(w, "Edit1")->clear();
        QStringList boxesWhileShown;
        f.messages->onMessage = [&](const MessageRecorder::Shown& s) {
            if (s.kind == "show")
                boxesWhileShown = QStringList{
                    ctl<QLineEdit>(w, "Edit4")->text(), ctl<QLineEdit>(w, "Edit5")->text(),
                    ctl<QLineEdit>(w, "Edit6")->text(), ctl<QLineEdit>(w, "Edit7")->text(),
                    ctl<QLineEdit>(w, "Edit8")->text(), ctl<QPlainTextEdit>(w, "Memo1")->toPlainText(),
                    ctl<QLineEdit>(w, "Edit2")->text(), ctl<QLabel>(w, "Label13")->text()};
        };
        f.messages->expectQuestion(question);
        (del ? ctl<QPushButton>(w, "SpeedButton5") : ctl<QPushButton>(w, "SpeedButton6"))->click();
        QCOMPARE(f.messages->texts("ask"), QStringList{question});
        QCOMPARE(f.messages->texts("show"), QStringList{done});
        QCOMPARE(boxesWhileShown, (QStringList{"", "", "", "", "", "", "01", key}));
        QVERIFY(!w->isVisible());
        const auto cardsNow = f.committedCards();
        QCOMPARE(cardsNow.size(), 1);
        const auto row = cardsNow[key.toInt()];
        QCOMPARE(row["DEL_FLG1"], endFlag);
        QCOMPARE(row["SYASYU"], QStringLiteral("未保存の名前"));
        QCOMPARE(row["LYEAR"], QString());
        QCOMPARE(row["MEMO"], QStringLiteral("一行目\r\n二行目"));
    }

    void declinedOrKeylessDeleteClosesAndWritesNothing() {
        const QString key = loadCard(QStringLiteral("元の名前"));
        w->show();
        ctl<QLineEdit>(w, "Edit4")->setText(QStringLiteral("変えた名前"));
        f.messages->expectQuestion(QStringLiteral("削除しますか？"), false);
        ctl<QPushButton>(w, "SpeedButton5")->click();
        QVERIFY(!w->isVisible());
        QCOMPARE(ctl<QLineEdit>(w, "Edit4")->text(), QStringLiteral("変えた名前"));
        QCOMPARE(f.committedCards()[key.toInt()]["DEL_FLG1"], QStringLiteral("1"));

        w->show();
        w->setCardKey(std::nullopt);
        f.messages->clear();
        w->onRestoreClicked();
        QVERIFY(!w->isVisible());
        QVERIFY(f.messages->shown.isEmpty());
    }

    void failedRewriteKeepsTheBoxesAndTheWindow() {
        loadCard(QStringLiteral("元の名前"));
        w->show();
        w->setCardKey(9999);  // a card whose row has gone: the store refuses to write it
        f.messages->expectQuestion(QStringLiteral("削除しますか？"));
        ctl<QPushButton>(w, "SpeedButton5")->click();
        QCOMPARE(f.messages->texts("error").size(), 1);
        QVERIFY(f.messages->texts("show").isEmpty());
        QVERIFY(w->isVisible());
        QCOMPARE(ctl<QLineEdit>(w, "Edit4")->text(), QStringLiteral("元の名前"));

        f.messages->clear();
        ctl<QListWidget>(w, "ListBox1")->addItem(QStringLiteral("stale"));
        f.messages->expectQuestion(QStringLiteral("登録しますか？"));
        ctl<QPushButton>(w, "SpeedButton3")->click();
        QCOMPARE(f.messages->texts("error").size(), 1);
        QVERIFY(f.messages->texts("show").isEmpty());
        QCOMPARE(ctl<QListWidget>(w, "ListBox1")->count(), 1);  // a failed save does not refresh
    }
};

QTEST_MAIN(TestEditor)
#include "tst_editor.moc"
