#pragma once
// The card list window: cards newest first, the keyword search, the deleted-card view, and
// opening a card in the editor.

#include "cards.h"

#include <QDialog>

class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class StringGrid;

class Tkihon_ichiran final : public QDialog {
    Q_OBJECT
public:
    explicit Tkihon_ichiran(QWidget* parent = nullptr);

    // Controls, named as the window's design names them; tests find them by that name.
private:
    QFrame* Panel8 = nullptr;              // banner "データを選択してください。"
    QFrame* Panel1 = nullptr;              // caption of the keyword box
    QLineEdit* Edit1 = nullptr;            // keyword
    QFrame* Panel2 = nullptr;              // holds the field choice
    QRadioButton* RadioButton1 = nullptr;  // 名前
    QRadioButton* RadioButton3 = nullptr;  // 組織名
    QRadioButton* RadioButton2 = nullptr;  // メモ
    StringGrid* SGrid1 = nullptr;          // the card list: key, KEY, date, name ... memo
    QPushButton* SpeedButton3 = nullptr;   // 削除分: deleted-card view
    QPushButton* SpeedButton4 = nullptr;   // SpeedButton4..8: blank, the deleted-card view too
    QPushButton* SpeedButton5 = nullptr;
    QPushButton* SpeedButton6 = nullptr;
    QPushButton* SpeedButton7 = nullptr;
    QPushButton* SpeedButton8 = nullptr;
    QPushButton* SpeedButton1 = nullptr;  // 表示: keyword search
    QPushButton* SpeedButton2 = nullptr;  // 閉じる

public:
    // The main menu's 名刺一覧: reset keyword and field choice, fill the first view, show modally.
    // A failing fill throws before the window is shown.
    void openCardList();

    // Handlers; each may throw, the connection to its control runs it inside messages::guarded.
    void FormCreate();         // sets up the grid
    void SpeedButton1Click();  // keyword search
    void SpeedButton2Click();  // close
    void SpeedButton3Click();  // deleted-card view (also SpeedButton4..8)
    void SGrid1DblClick();     // open the card under the mouse pointer in the editor

    // Refills the grid with the cards whose field matches "%" + keyword + "%", highest key first,
    // leaving out those whose deleted flag is exactly the one written for leftOut. With the search
    // that ignores kana and width switched on, a card matches when the folded keyword occurs in
    // its folded field or the field's companion (the reading, the department). At most maxCards rows are
    // written (the first view shows no more than 19). The caller applies its final row count.
    void fillCardList(cards::SearchField field, const QString& keyword, cards::CardState leftOut,
                      int maxCards = -1);

    // The field of the selected radio button, examined in the order 名前, 組織名, メモ.
    cards::SearchField selectedField() const;

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    // False, after telling the user why, when the keyword cannot be looked up in the field.
    bool keywordUsable();

    cards::CardState m_leftOut = cards::CardState::Deleted;  // the cards the grid leaves out
};

// Why a keyword cannot be looked up in the field, or empty when it can: the searched column
// holds the keyword with a wildcard on each side, so the keyword may be two characters shorter
// than the column.
QString keywordProblem(cards::SearchField field, const QString& keyword);

extern Tkihon_ichiran* kihon_ichiran;
