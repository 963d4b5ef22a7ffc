#pragma once
// The card editor window: one card's fields, its key (base-ID), its picture list and picture.

#include "cardfolder.h"
#include "cards.h"
#include "formlook.h"

#include <QDialog>

#include <optional>

class CardDatabase;
class QDate;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class PictureArea;
class ReadScanAction;

// The date of a new card, cut at fixed positions from "yyyy/MM/dd": characters 1-4, 6-7 and
// 9-10, fewer where the text is shorter.
struct NewCardDate {
    QString year, month, day;
};
QString newCardDateText(const QDate& today);
NewCardDate cutDateText(const QString& text);

class CardEditorWindow final : public QDialog {
    Q_OBJECT
public:
    // The editor of the cards of one card folder, stored through the database module; the
    // pictures and sheets live in the folder.
    CardEditorWindow(CardFolder folder, CardDatabase& database, QWidget* parent = nullptr);

    // Every control the window's table places: its design name, rectangle, limit and caption.
    static QList<formlook::ControlSpec> layout();

    // Controls; each carries its design name as its objectName, by which tests find it.
private:
    struct Layout;
    QLineEdit* m_yearEdit = nullptr;          // year
    QLineEdit* m_monthEdit = nullptr;         // month
    QLineEdit* m_dayEdit = nullptr;           // day
    QLineEdit* m_nameEdit = nullptr;          // name
    QLineEdit* m_organisationEdit = nullptr;  // organisation
    QLineEdit* m_departmentEdit = nullptr;    // department
    QLineEdit* m_positionEdit = nullptr;      // position
    QLineEdit* m_readingEdit = nullptr;       // reading (ふりがな)
    QPlainTextEdit* m_memoEdit = nullptr;     // memo
    QLabel* m_spareLabel = nullptr;           // always "---"
    QLabel* m_keyLabel = nullptr;             // base-ID: shows the card key, or "---" for a card without one
    QLabel* m_fileNameLabel = nullptr;        // file-name label: the picture entry last chosen
    QListWidget* m_pictureList = nullptr;     // picture list
    PictureArea* m_pictureArea = nullptr;     // image area
    QPushButton* m_openFolderButton = nullptr;  // フォルダを開く
    QPushButton* m_closeButton = nullptr;       // 閉じる
    QPushButton* m_saveButton = nullptr;        // 登録
    QPushButton* m_refreshButton = nullptr;     // 更新
    QPushButton* m_deleteButton = nullptr;      // データ削除
    QPushButton* m_restoreButton = nullptr;     // データ復元
    QPushButton* m_sheetButton = nullptr;       // エクセル表示

public:
    ReadScanAction* readScan = nullptr;  // 画像から読み取る…: image area menu and Ctrl+R

    // Reset to a new card dated today, then show the window modally (the main menu's 名刺登録).
    void resetToNewCard();
    // Shows a stored card for changing, deleting or restoring: its texts whole in the boxes, its
    // key as the base-ID, the buttons for its state, its picture list and first picture. A first
    // picture that cannot be shown is named and reported, and the card still shows.
    void showCard(int key, const cards::Card& card);
    // The card's key; none while the card has not been saved.
    std::optional<int> cardKey() const { return m_key; }
    void setCardKey(std::optional<int> key);
    // The base-ID as the picture folder and the sheet name use it: the key, or "---".
    QString baseId() const;
    const CardFolder& cardFolder() const { return m_folder; }
    // The reset without the showing, for the given day.
    void resetFields(const QDate& today);

    // Handlers; each may throw, the connection to its control runs it inside messages::guarded.
    void onOpenFolderClicked();  // open the picture folder
    void onCloseClicked();       // close
    void onSaveClicked();        // save the card
    void onRefreshClicked();     // refresh the picture list
    void onDeleteClicked();      // delete the card
    void onRestoreClicked();     // restore the card
    // Shows the selected picture. Throws PictureLoadError when an entry with a displayable
    // ending cannot be shown; the file-name label then names it and the previous picture stays.
    void onPictureChosen();
    void onSheetClicked();  // sheet export

    // Refreshes the picture list; true when the picture folder could be listed.
    bool refreshPictureList();
    // The nine field texts as the boxes hold them, the memo with CR LF line breaks.
    cards::CardTexts cardTexts() const;

    // The message shown after a card is saved.
    static QString savedMessage();

protected:
    // Digit filter of the date boxes and the input-method modes of the name and reading boxes.
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void buildControls();
    void connectHandlers();
    // Delete and restore: one procedure with its question, flag and closing message.
    void rewriteWithFlag(const QString& question, cards::CardState state, const QString& done);
    void showFirstPicture();
    // Writes the boxes back to the card in that state; on a server, when someone else changed
    // the card since it was loaded, asks whether to overwrite or to load their change instead,
    // and when they deleted a card this save would bring back, whether to restore it or leave
    // it deleted (then false: nothing was written, the card shows as they left it).
    bool writeBack(cards::CardState state);

    CardFolder m_folder;
    CardDatabase& m_database;
    std::optional<int> m_key;
    std::optional<cards::Card> m_loaded;  // the card as loaded or last written here
};
