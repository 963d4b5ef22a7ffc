#pragma once
// The card list window: cards newest first, the keyword search, the deleted-card view, and
// opening a card in the editor.

#include "cards.h"
#include "formlook.h"

#include <QDialog>

#include <array>

namespace search {
struct SearchOptions;
}
class CardDatabase;
class CardEditorWindow;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class StringGrid;

class CardListWindow final : public QDialog {
    Q_OBJECT
public:
    // The list of the database module's cards; a card opens in the given editor. The keyword
    // search compares texts as the options say at the time it runs.
    CardListWindow(CardDatabase& database, CardEditorWindow& editor, const search::SearchOptions& options,
                   QWidget* parent = nullptr);

    // The field choices and the buttons along the bottom, one row each: the member that keeps it
    // (none for the captionless buttons, kept in order), its handler, design name, rectangle and
    // caption.
    struct ChoiceRow {
        QRadioButton* CardListWindow::*member;
        formlook::ControlSpec spec;
    };
    struct ButtonRow {
        QPushButton* CardListWindow::*member;
        void (CardListWindow::*handler)();
        formlook::ControlSpec spec;
    };
    static const std::array<ChoiceRow, 3>& choiceRows();
    static const std::array<ButtonRow, 8>& buttonRows();

    // Controls, named as the window's design names them; tests find them by that name.
private:
    QFrame* m_bannerPanel = nullptr;               // banner "データを選択してください。"
    QFrame* m_keywordCaption = nullptr;            // caption of the keyword box
    QLineEdit* m_keywordEdit = nullptr;            // keyword
    QFrame* m_fieldPanel = nullptr;                // holds the field choice
    QRadioButton* m_nameChoice = nullptr;          // 名前
    QRadioButton* m_organisationChoice = nullptr;  // 組織名
    QRadioButton* m_memoChoice = nullptr;          // メモ
    StringGrid* m_cardGrid = nullptr;              // the card list: key, KEY, date, name ... memo
    QPushButton* m_deletedViewButton = nullptr;    // 削除分: deleted-card view
    // The five captionless buttons between 削除分 and 表示; pressing one shows the deleted cards.
    std::array<QPushButton*, 5> m_blankButtons{};
    QPushButton* m_searchButton = nullptr;  // 表示: keyword search
    QPushButton* m_closeButton = nullptr;   // 閉じる

public:
    // The main menu's 名刺一覧: reset keyword and field choice, fill the first view, show modally.
    // A failing fill throws before the window is shown.
    void openCardList();

    // Handlers; each may throw, the connection to its control runs it inside messages::guarded.
    void setUpGrid();             // sets up the grid
    void onSearchClicked();       // keyword search
    void onCloseClicked();        // close
    void onDeletedViewClicked();  // 削除分 and the blank buttons
    void onGridDoubleClicked();   // open the card under the mouse pointer in the editor
    void onGridRowEntered();      // Enter on the grid: open the card of the chosen row

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
    // Opens the card of a grid row in the editor; the header and the empty rows open nothing.
    void openCardOfRow(int row);

    CardDatabase& m_database;
    CardEditorWindow& m_editor;
    const search::SearchOptions& m_searchOptions;
    cards::CardState m_leftOut = cards::CardState::Deleted;  // the cards the grid leaves out
};

// Why a keyword cannot be looked up in the field, or empty when it can: the searched column
// holds the keyword with a wildcard on each side, so the keyword may be two characters shorter
// than the column.
QString keywordProblem(cards::SearchField field, const QString& keyword);
