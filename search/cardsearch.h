#pragma once
// One run of the card search, plain or folded, over the shared statement object; and the search
// as a list of cards for callers without a grid.

#include "cardmatch.h"
#include "cards.h"

#include <QString>

#include <vector>

class TIBQuery;

namespace search {

// Runs the search statement of the field on q. Plain, the statement matches "%" + keyword + "%"
// as always. Folded with a keyword, it fetches every card that has the field and the folded
// keyword is looked up on the client in the field and its companion column (matchesCurrentRow).
// The caller walks q's result and closes it.
class CardSearch final {
public:
    CardSearch(TIBQuery& q, cards::SearchField field, const QString& keyword, bool folded);
    // Whether rows are chosen on the client, so that the result holds more rows than match.
    bool filtersOnClient() const { return m_filtering; }
    bool matchesCurrentRow() const;

private:
    TIBQuery& m_q;
    FoldedKeyword m_keyword;
    bool m_filtering;
    int m_searched = -1;
    int m_companion = -1;
};

struct FoundCard {
    QString key;
    QString name;
};

// The cards the card list would show for the search, in its order (highest key first), leaving
// out those whose deleted flag reads exactly leftOutFlag; the result is closed afterwards.
std::vector<FoundCard> findCards(TIBQuery& q, cards::SearchField field, const QString& keyword, bool folded,
                                 const QString& leftOutFlag);

}  // namespace search
