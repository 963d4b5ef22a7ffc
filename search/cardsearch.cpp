#include "cardsearch.h"

#include "dbstatement.h"
#include "foldsources.h"

#include <QScopeGuard>

namespace search {

void openCardSearch(DbStatement& q, cards::SearchField field, const QString& keyword, bool folded) {
    const FoldedKeyword foldedKeyword(keyword);
    if (!folded || foldedKeyword.folded().isEmpty()) {
        cards::prepareSearch(q, field, keyword);
        q.open();
        return;
    }
    const QStringList searched = cards::foldedSearchColumns(field);
    const qsizetype count = searched.size();
    const auto matches = [&](const QByteArrayView* cells) {
        for (qsizetype i = 0; i < count; ++i) {
            if (foldedKeyword.foundIn(QString::fromUtf8(cells[i])))
                return true;
        }
        return false;
    };
    // The engine first leaves out the cards that cannot match, so that only likely matches are
    // sent; the fold decides on those. Where a card file's columns are not UTF-8, the statement
    // fails and every card is fetched instead, as for a keyword of voiced kana alone.
    // Only the name search leaves out cards without a value in its first column, as the plain
    // search does; a card without an organisation is still found by its department.
    const bool nameRequired = field == cards::SearchField::Name;
    const auto held = heldRun(foldedKeyword.folded());
    const QString pattern = held ? held->similarToPattern() : QString();
    if (held && pattern.size() <= cards::kLongestSimilarToPattern) {
        try {
            cards::prepareSearchSimilarTo(q, searched, pattern, nameRequired);
            q.openFiltered(searched, matches);
            return;
        } catch (const DbError& e) {
            if (e.problem() != DbProblem::Other)
                throw;
        }
    }
    if (field == cards::SearchField::Organisation)
        cards::prepareAllCards(q);
    else
        cards::prepareSearch(q, field, QString());
    q.openFiltered(searched, matches);
}

std::vector<FoundCard> findCards(DbStatement& q, cards::SearchField field, const QString& keyword,
                                 bool folded, cards::CardState leftOut) {
    const auto closeAtEnd = qScopeGuard([&q] { q.close(); });
    openCardSearch(q, field, keyword, folded);
    const cards::CardReader reader(q);
    std::vector<FoundCard> found;
    q.last();
    while (!q.beforeFirst()) {
        if (!reader.flagIsWrittenFor(leftOut))
            found.push_back({reader.keyText(), reader.text(cards::CardField::Name)});
        q.prior();
    }
    return found;
}

}  // namespace search
