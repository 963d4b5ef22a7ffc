#pragma once
// Turning a card of the stack into a stored card: its texts from the boxes, the check against the
// cards already stored (the import's rule: name and organisation alike), and the registration
// with its pictures copied into the new card's picture folder.

#include "fieldrules.h"
#include "intakestack.h"
#include "transfercard.h"

#include <QDate>
#include <QHash>

class CardDatabase;

namespace intake {

// The card's texts as the boxes hold them, dated `date` (the day it is taken in); その他 goes to
// the memo, a line each. Texts longer than their column are cut to it.
cards::CardTexts cardTexts(const scan::BoxTexts& boxes, const QDate& date);

// The live stored cards by name and organisation, to tell the cards already stored.
class StoredCards final {
public:
    // Reads every live card once.
    void load(CardDatabase& dm);
    // The key of a stored card with the same name and organisation; 0 when none.
    int likelyDuplicate(const cards::CardTexts& texts) const;
    // Counts a card just registered.
    void add(const cards::CardTexts& texts, int key);

private:
    QHash<QString, int> m_keys;
};

// Registers the card as a new card with copies of its pictures (from `folder`) in its picture
// folder; all or nothing. Returns the new card's key. Throws transfer::TransferError with a
// message for the user.
int registerCard(CardDatabase& dm, const QString& folder, const StackCard& card,
                 const cards::CardTexts& texts);

}  // namespace intake
