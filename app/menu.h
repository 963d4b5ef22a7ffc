#pragma once
// The main menu window: the program's main window, from which everything is reached.

#include <QLabel>
#include <QMainWindow>

class QAction;
class QPushButton;

// A label that reacts to a click, as the main menu's web link does.
class LinkLabel final : public QLabel {
    Q_OBJECT
public:
    using QLabel::QLabel;
signals:
    void clicked();

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
};

class Tmenu final : public QMainWindow {
    Q_OBJECT
public:
    static const QString kHomePage;
    static const QString kManualPage;

    explicit Tmenu(QWidget* parent = nullptr);

    // Controls, named as the window's design names them; tests find them by that name.
private:
    QPushButton* SpeedButton3 = nullptr;  // 名刺登録
    QPushButton* SpeedButton1 = nullptr;  // 名刺一覧
    QPushButton* SpeedButton8 = nullptr;  // ヘルプ
    QPushButton* SpeedButton6 = nullptr;  // 閉じる
    LinkLabel* Label4 = nullptr;          // the maker's home page
    QAction* BackupAction = nullptr;      // ファイル > バックアップ…
    QAction* RestoreAction = nullptr;     // ファイル > 復元…
    QAction* ExportAction = nullptr;      // ファイル > 書き出し…
    QAction* ImportAction = nullptr;      // ファイル > 読み込み…
    QAction* N2 = nullptr;                // ファイル > 終了
    QAction* N5 = nullptr;  // オプション > かな・全角半角を区別せずに検索 (checkable)
    QAction* N4 = nullptr;  // オプション > バージョン

public:
    void SpeedButton3Click();   // register a card
    void SpeedButton1Click();   // card list
    void SpeedButton8Click();   // online manual
    void SpeedButton6Click();   // end the program
    void Label4Click();         // maker's home page
    void BackupActionClick();   // back up the card file (and the pictures)
    void RestoreActionClick();  // restore the card file from a backup
    void ExportActionClick();   // write the cards to CSV or vCard
    void ImportActionClick();   // register the cards of a CSV or vCard file
    void N2Click();             // end the program
    void N4Click();             // version window
    void N5Click();             // remember the search option as the item's check mark shows it
};

extern Tmenu* menu;
