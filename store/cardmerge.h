#pragma once
// Merging cards that are one person into one card, in one transaction.

#include "cards.h"

#include <QList>
#include <QMap>
#include <QStringView>

#include <functional>

class CardDatabase;

namespace cards {

// The boxes whose text a merge takes from one of the cards; the date's three parts go together.
enum class MergeBox { Name, Reading, Organisation, Department, Position, Date };

// One card as read before the merge.
struct KeyedCard {
    int key = 0;
    Card card;
};

// What a merge writes: the kept card's new texts, the other cards' texts (written deleted) and
// every card as it was read, which is checked again inside the merge's transaction.
struct MergePlan {
    int keptKey = 0;
    CardTexts kept;
    QList<KeyedCard> retired;  // texts with the note of the merge; written deleted
    QList<KeyedCard> loaded;   // every card of the merge as read before it
};

// The card each box takes its text from when the user chose none: the newest card (by its date,
// then its key) whose box is not empty. A box empty on every card is not in the map.
QMap<MergeBox, int> defaultSources(const QList<KeyedCard>& cards);
// A box's text on a card as a person reads it; the date as "year/month/day", empty without one.
QString boxText(const CardTexts& texts, MergeBox box);

// Composes a merge of at least two live cards into the card keepKey (the oldest key when 0).
// Each box takes the text of the card named in chosen, else the newest card's (by its date, then
// its key) that is not empty. The kept card's memo keeps its own text with the other cards'
// memos appended, each below a line naming the card and its date; each other card's memo gets a
// line saying into which card it was merged. A memo that would grow past ColumnLimits::memo is refused
// (DbError), as are a kept key not among the cards and a deleted card.
MergePlan planMerge(const QList<KeyedCard>& cards, int keepKey = 0, const QMap<MergeBox, int>& chosen = {});

// Hooks around the end of a merge: beforeCommit runs once every row is written (the pictures
// are copied there); undo runs when beforeCommit or the commit fails, to take that work back.
struct MergeHooks {
    std::function<void()> beforeCommit;
    std::function<void()> undo;
};

// Writes the merge in one transaction: each card locked and compared with the card as it was read
// (CardChanged when someone else changed it, CardGone when it is gone; nothing is written), the
// kept card rewritten and the others marked deleted, as "データ削除" marks them. A crash at any
// moment leaves all of it or none.
void mergeCards(CardDatabase& dm, const MergePlan& plan, const MergeHooks& hooks = {});

// Counts a text as the card table does: in characters (code points).
int storedLength(QStringView text);

}  // namespace cards
