#pragma once
// The window of likely duplicate cards ("重複カードを探す…") and the window that merges one group
// box by box. Finding, dismissing and merging are transfer/'s; these windows show the groups and
// take the user's choices.

#include "cardmerge.h"
#include "duplicates.h"

#include <QDialog>
#include <QHash>

class CardDatabase;
class QButtonGroup;
class QCheckBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QTableWidget;

// One group's cards side by side: for each box the user picks the card whose text stays (the
// newest card's non-empty text at first), and the card whose key is kept (the oldest at first);
// the merged card, its memo with the others' appended and the pictures to be copied are shown as
// they will be written. A job change must be confirmed before 統合 can be pressed.
class MergeWindow final : public QDialog {
    Q_OBJECT
public:
    MergeWindow(const transfer::DuplicateGroup& group, QList<cards::KeyedCard> cards,
                const CardFolder& folder, QWidget* parent = nullptr);

    // The cards as read when the window was made; the merge refuses any changed since.
    const QList<cards::KeyedCard>& cards() const { return m_cards; }
    int keptKey() const;
    QMap<cards::MergeBox, int> chosen() const;
    // What a click on a card's text or its 残す button does.
    void choose(cards::MergeBox box, int key);
    void keep(int key);

    QLabel* m_summaryLabel = nullptr;           // what the merge does, or why it cannot
    QPlainTextEdit* m_mergedMemoBox = nullptr;  // the merged card's memo
    QCheckBox* m_samePersonCheck = nullptr;     // a job change confirmed as one person
    QPushButton* m_mergeButton = nullptr;       // 統合
    QPushButton* m_cancelButton = nullptr;      // キャンセル

private:
    void showMergedCard();

    QList<cards::KeyedCard> m_cards;
    QHash<int, QStringList> m_pictures;  // by key: the names a merge copies
    QButtonGroup* m_keepButtons = nullptr;
    QMap<cards::MergeBox, QButtonGroup*> m_boxButtons;
    QMap<cards::MergeBox, QLabel*> m_mergedBoxes;
    QLabel* m_mergedPictures = nullptr;
    bool m_planOk = false;
};

// The groups of likely duplicates among the live cards, strongest first, each with why it was
// grouped; "統合…" opens the merge window for the chosen group, "別人" remembers that its cards
// are different people. The list is read again after each change.
class DuplicatesWindow final : public QDialog {
    Q_OBJECT
public:
    explicit DuplicatesWindow(CardDatabase& database, QWidget* parent = nullptr);

    const QList<transfer::DuplicateGroup>& groups() const { return m_groups; }
    // Reads the cards and the dismissed groups again; the first group merged by default (not a
    // job change) becomes the current one.
    void refresh();
    // Opens the merge window for the current group and merges what it confirms.
    void mergeCurrentGroup();
    // Asks, then remembers the current group as different people.
    void dismissCurrentGroup();

    QLabel* m_summaryLabel = nullptr;
    QTableWidget* m_groupTable = nullptr;    // one row a group: keys, names, organisations, reason
    QPushButton* m_mergeButton = nullptr;    // 統合…
    QPushButton* m_dismissButton = nullptr;  // 別人
    QPushButton* m_refreshButton = nullptr;  // 再表示
    QPushButton* m_closeButton = nullptr;    // 閉じる

private:
    void onSelectionChanged();
    const transfer::DuplicateGroup& currentGroup() const;

    CardDatabase& m_database;
    QList<transfer::DuplicateGroup> m_groups;
};
