#pragma once
// One run of the card search, plain or folded, over the shared statement object; and the search
// as a list of cards for callers without a grid.

#include "cardmatch.h"
#include "cards.h"

#include <QString>

#include <vector>

class DbStatement;

namespace search {

// Runs the search statement of the field on q. Plain, the statement matches "%" + keyword + "%"
// as always. Folded with a keyword, it fetches the cards that have the field and may match, and
// only the rows whose field or companion column holds the folded keyword are kept. Either way
// the caller walks q's result as the plain search leaves it, and closes it.
void openCardSearch(DbStatement& q, cards::SearchField field, const QString& keyword, bool folded);

struct FoundCard {
    QString key;
    QString name;
};

// The cards the card list would show for the search, in its order (highest key first), leaving
// out those whose deleted flag is exactly the one written for leftOut; the result is closed afterwards.
std::vector<FoundCard> findCards(DbStatement& q, cards::SearchField field, const QString& keyword,
                                 bool folded, cards::CardState leftOut);

}  // namespace search
