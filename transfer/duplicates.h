#pragma once
// Cards that are likely one person: finding them, remembering the groups the user says are
// different people, and merging a group into one card with its pictures.

#include "cardmerge.h"
#include "transfercard.h"

#include <QList>
#include <QSet>
#include <QString>

#include <optional>

class CardDatabase;
struct CardFolder;

namespace transfer {

// Why cards were grouped, strongest first.
enum class DuplicateReason {
    SameNameAndOrganisation,  // name and organisation the same once folded
    SameEmail,                // one e-mail address in their memos
    SamePhone,                // one telephone number in their memos
    JobChange,                // name and reading the same, organisations not: shown, not merged by default
};

struct DuplicateGroup {
    QList<int> keys;  // ascending
    DuplicateReason reason = DuplicateReason::SameNameAndOrganisation;
    QString detail;  // the shared address or number, for the contact reasons
};

// A short Japanese description of the reason, and a fixed name for scripts.
QString reasonText(const DuplicateGroup& group);
QString reasonName(DuplicateReason reason);
// Whether the group is merged when the user accepts the defaults.
bool mergedByDefault(DuplicateReason reason);

// The text a name or organisation is compared by: folded as the folded search folds it
// (compatibility forms, kana, width, case), spaces removed.
QString duplicateFold(const QString& text);
// The e-mail addresses (lower case) and telephone numbers (digits alone, +81 as a leading 0)
// written in a memo.
QStringList memoEmails(const QString& memo);
QStringList memoPhones(const QString& memo);

// The groups among the given live cards, strongest reason first, then by their first key; a group
// is left out when the cards of a stronger one already hold all of it, or when dismissed holds
// it (see DismissedGroups).
QList<DuplicateGroup> groupDuplicates(const QList<Card>& cards, const QList<QList<int>>& dismissed = {});
// The same over the live cards of the card file, read once.
QList<DuplicateGroup> findDuplicates(CardDatabase& dm, const QList<QList<int>>& dismissed = {});

// The groups the user said are different people ("別人"), kept in a small text file in the card
// folder (one group a line, its keys), so that the card file itself, which may come from
// elsewhere or be shared, is never altered for it. A group stays hidden while it holds no card
// beyond a dismissed one's.
QString dismissedFile(const CardFolder& folder);
QList<QList<int>> readDismissed(const CardFolder& folder);
// Adds the group; a file that cannot be written is refused with a message (TransferError).
void dismissGroup(const CardFolder& folder, QList<int> keys);

struct MergeResult {
    int keptKey = 0;
    QList<int> retiredKeys;
    QStringList copiedPictures;  // names in the kept card's picture folder
};

// The cards of a merge as they are read now, for a window that shows them before merging;
// a key that names no card is refused (TransferError). Ends the read's transaction.
QList<cards::KeyedCard> loadForMerge(CardDatabase& dm, const QList<int>& keys);

// The names of the pictures a merge copies from a card's picture folder (its files, hidden
// ones left out), as shown; empty when the card has none.
QStringList mergedPictureNames(const CardFolder& folder, int key);

// Merges the cards into one (see cards::planMerge for the choices and cards::mergeCards for the
// transaction). The other cards' pictures are copied into the kept card's picture folder before
// the commit, each under its own name or with "_2", "_3"... added when the name is taken, and
// removed again when the merge fails. Refusals and failures come as TransferError; nothing in
// the card file or the picture folders has changed then.
MergeResult mergeDuplicates(CardDatabase& dm, const QList<int>& keys, int keepKey = 0,
                            const QMap<cards::MergeBox, int>& chosen = {});
// The same over cards read earlier (loadForMerge): a card changed or deleted since, by this
// desk or by someone else on a server, is refused and nothing is merged.
MergeResult mergeDuplicates(CardDatabase& dm, const QList<cards::KeyedCard>& loaded, int keepKey = 0,
                            const QMap<cards::MergeBox, int>& chosen = {});

// The file in the card folder where a merge notes the pictures it copies until it is committed.
QString mergeJournalFile(const CardFolder& folder);
// Takes back the picture copies of a merge whose process died before its commit (the copies it
// noted, while they still hold their sources' bytes), and forgets a committed one's notes. Run
// at start-up and before finding or merging duplicates; does nothing when no merge was cut off.
void settleMerge(CardDatabase& dm);

}  // namespace transfer
