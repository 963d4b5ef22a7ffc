#pragma once
// Taking a stack of cards in: the window that shows one card at a time with what its pictures were read as,
// for the user to correct and register, pass over, or go back to. Reading, pairing and the folder's record
// are intake/'s; nothing is stored until 登録 is pressed.

#include "intakecards.h"
#include "intakereader.h"

#include <QDialog>
#include <QHash>

#include <memory>

class CardDatabase;
class PictureArea;
class QCheckBox;
class QComboBox;
class QRadioButton;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;

// Where the stack comes from: a folder of pictures, or pages scanned now into a new folder below
// the card folder, which is then taken in as any folder is.
class IntakeStartWindow final : public QDialog {
    Q_OBJECT
public:
    // scansRoot: the folder scanned pages are kept below, a new folder a scan.
    explicit IntakeStartWindow(QString scansRoot, QWidget* parent = nullptr);

    // The folder to take in once the window is accepted, and whether its pictures are the two
    // sides of each sheet in turn.
    QString folder() const { return m_folder; }
    bool duplex() const;

    void onBrowseClicked();
    void onStartClicked();
    // スキャナを探す: the scanners SANE finds, looked for beside the window (network scanners
    // take seconds to answer).
    void findScanners();

    QRadioButton* m_folderChoice = nullptr;  // フォルダの画像
    QLineEdit* m_folderEdit = nullptr;
    QPushButton* m_browseButton = nullptr;    // 参照…
    QRadioButton* m_scannerChoice = nullptr;  // スキャナ
    QComboBox* m_scannerList = nullptr;
    QPushButton* m_findButton = nullptr;    // スキャナを探す
    QCheckBox* m_feederCheck = nullptr;     // シートフィーダの紙をすべて
    QCheckBox* m_duplexCheck = nullptr;     // 両面
    QPushButton* m_startButton = nullptr;   // 開始
    QPushButton* m_cancelButton = nullptr;  // キャンセル

private:
    // Scans the chosen scanner's pages into a new folder below the scans root; returns it, or
    // empty when nothing was scanned.
    QString scan();

    QString m_scansRoot;
    QString m_folder;
};

class IntakeWindow final : public QDialog {
    Q_OBJECT
public:
    // Lists the folder's cards (throws intake::IntakeError), reads the record and the stored
    // cards, and starts reading the cards not yet dealt with; the first of them is shown.
    IntakeWindow(CardDatabase& database, QString folder, bool duplex, QWidget* parent = nullptr,
                 int workers = 0);
    ~IntakeWindow() override;
    IntakeWindow(const IntakeWindow&) = delete;
    IntakeWindow& operator=(const IntakeWindow&) = delete;

    int cardCount() const { return int(m_cards.size()); }
    int currentIndex() const { return m_current; }
    const intake::StackCard& currentCard() const { return m_cards[m_current]; }
    intake::CardOutcome outcome(int index) const;
    // The stored card the current boxes look like (name and organisation), 0 for none.
    int likelyDuplicate() const;
    // The texts the boxes hold now.
    cards::CardTexts boxTexts() const;
    // Whether a box holds the reading's suggestion unchanged.
    bool isSuggested(QWidget* box) const;
    intake::StackReader& reader() { return *m_reader; }

    // The buttons' work, reachable without clicking.
    void registerCurrent();  // asks first when the card looks stored already
    void skipCurrent();
    void goBack();
    void goForward();
    void stopReading();  // 中止

    QLabel* m_positionLabel = nullptr;  // カード 3 / 20: file names
    QLabel* m_stateLabel = nullptr;  // 未確認 / 登録済み（番号 N）/ 飛ばしました / 読み取り中
    PictureArea* m_frontPicture = nullptr;
    PictureArea* m_backPicture = nullptr;
    QLineEdit* m_yearEdit = nullptr;
    QLineEdit* m_monthEdit = nullptr;
    QLineEdit* m_dayEdit = nullptr;
    QLineEdit* m_nameEdit = nullptr;
    QLineEdit* m_readingEdit = nullptr;
    QLineEdit* m_organisationEdit = nullptr;
    QLineEdit* m_departmentEdit = nullptr;
    QLineEdit* m_positionEdit = nullptr;
    QPlainTextEdit* m_memoEdit = nullptr;
    QLabel* m_duplicateLabel = nullptr;  // the stored card this one looks like
    QProgressBar* m_progressBar = nullptr;
    QPushButton* m_stopButton = nullptr;      // 中止
    QPushButton* m_backButton = nullptr;      // 戻る
    QPushButton* m_nextButton = nullptr;      // 次へ
    QPushButton* m_skipButton = nullptr;      // 飛ばす
    QPushButton* m_registerButton = nullptr;  // 登録
    QPushButton* m_closeButton = nullptr;     // 閉じる

private:
    void showCard(int index);
    void fillBoxes(const intake::CardReading& reading);
    void markSuggested(QWidget* box, bool suggested);
    void onCardRead(int index);
    void onBoxEdited();
    void showState();
    void showProgress();
    void moveToNextOpen();
    void note(intake::CardOutcome outcome, int key);
    void keepEdits();
    void setBoxes(const cards::CardTexts& texts);

    CardDatabase& m_database;
    QString m_folder;
    QList<intake::StackCard> m_cards;
    intake::StackRecord m_record;
    intake::StoredCards m_stored;
    std::unique_ptr<intake::StackReader> m_reader;
    QDate m_today;
    int m_current = 0;
    bool m_filling = false;               // boxes being filled by the program, not edited
    bool m_edited = false;                // the current card's boxes changed by the user
    QHash<int, cards::CardTexts> m_kept;  // cards left with the user's changes, by index
    bool m_recordFailed = false;          // told once
};
