#pragma once
// The main menu window: the program's main window, from which everything is reached.

#include "formlook.h"

#include <QLabel>
#include <QMainWindow>

#include <array>

namespace search {
struct SearchOptions;
}
class CardDatabase;
class CardEditorWindow;
class CardListWindow;
class QAction;
class VersionWindow;
class QPushButton;

// A label that reacts to a click, as the main menu's web link does. Tab reaches it (a click does
// not focus it), Enter, Return or Space follows it, and screen readers see a link they can press.
class LinkLabel final : public QLabel {
    Q_OBJECT
public:
    explicit LinkLabel(const QString& text, QWidget* parent = nullptr);
signals:
    void clicked();

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
};

class MainMenuWindow final : public QMainWindow {
    Q_OBJECT
public:
    static const QString kHomePage;
    static const QString kManualPage;

    // The main menu over the database module; the windows it opens are handed in with
    // setWindows once they are made (they are its children).
    // The option item switches the search options and remembers the choice in the user's settings.
    MainMenuWindow(CardDatabase& database, search::SearchOptions& searchOptions, QWidget* parent = nullptr);
    void setWindows(CardEditorWindow& editor, CardListWindow& list, VersionWindow& version);

    // The four buttons of the client area, one row each: the member that keeps it, its handler, its
    // design name, rectangle and caption.
    struct ButtonRow {
        QPushButton* MainMenuWindow::*member;
        void (MainMenuWindow::*handler)();
        formlook::ControlSpec spec;
    };
    static const std::array<ButtonRow, 4>& buttonRows();

    // Controls, named as the window's design names them; tests find them by that name.
private:
    QPushButton* m_newCardButton = nullptr;   // 名刺登録
    QPushButton* m_cardListButton = nullptr;  // 名刺一覧
    QPushButton* m_helpButton = nullptr;      // ヘルプ
    QPushButton* m_closeButton = nullptr;     // 閉じる
    LinkLabel* m_homePageLink = nullptr;      // the maker's home page
    QAction* m_backupAction = nullptr;        // ファイル > バックアップ…
    QAction* m_restoreAction = nullptr;       // ファイル > 復元…
    QAction* m_exportAction = nullptr;        // ファイル > 書き出し…
    QAction* m_importAction = nullptr;        // ファイル > 読み込み…
    QAction* m_intakeAction = nullptr;        // ファイル > まとめて取り込む…
    QAction* m_duplicatesAction = nullptr;    // ファイル > 重複カードを探す…
    QAction* m_quitAction = nullptr;          // ファイル > 終了
    QAction* m_foldedSearchAction = nullptr;  // オプション > かな・全角半角を区別せずに検索 (checkable)
    QAction* m_versionAction = nullptr;  // オプション > バージョン

public:
    void onNewCardClicked();       // register a card
    void onCardListClicked();      // card list
    void onHelpClicked();          // online manual
    void onCloseClicked();         // end the program
    void onHomePageClicked();      // maker's home page
    void onBackupTriggered();      // back up the card file (and the pictures)
    void onRestoreTriggered();     // restore the card file from a backup
    void onIntakeTriggered();      // take a stack of card pictures in
    void onExportTriggered();      // write the cards to CSV or vCard
    void onImportTriggered();      // register the cards of a CSV or vCard file
    void onDuplicatesTriggered();  // list the likely duplicate cards, merge or dismiss them
    void onQuitTriggered();        // end the program
    void onVersionTriggered();     // version window
    void onFoldedSearchToggled();  // remember the search option as the item's check mark shows it

private:
    CardDatabase& m_database;
    search::SearchOptions& m_searchOptions;
    CardEditorWindow* m_editor = nullptr;
    CardListWindow* m_list = nullptr;
    VersionWindow* m_version = nullptr;
};
