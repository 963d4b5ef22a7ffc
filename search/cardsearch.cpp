#include "cardsearch.h"

#include "foldsources.h"
#include "ibobjects.h"

namespace search {

namespace {

// At most this many sources of the keyword's rarest character are asked for, one condition for
// each on each searched column. Each condition costs the engine about an eighth of sending every
// card, and a character with more sources is common in readings and memos, so that the
// conditions then leave most cards in. A kanji has one to four sources (itself, its radical,
// compatibility and enclosed forms); a kana has six or more (both scripts, half-width, enclosed
// and squared forms), a Latin letter or a digit dozens: for keywords of those alone every card
// is fetched, as without this step.
constexpr std::size_t kMostSources = 4;

QStringList texts(const std::vector<char32_t>& characters) {
    QStringList out;
    for (const char32_t c : characters)
        out << QString::fromUcs4(&c, 1);
    return out;
}

}  // namespace

void openCardSearch(TIBQuery& q, cards::SearchField field, const QString& keyword, bool folded) {
    const FoldedKeyword foldedKeyword(keyword);
    if (!folded || foldedKeyword.folded().isEmpty()) {
        cards::prepareSearch(q, field, keyword);
        q.Open();
        return;
    }
    const auto columns = foldedColumns(field);
    QStringList searched{columns[0]};
    if (!columns[1].isEmpty())
        searched << columns[1];
    const qsizetype count = searched.size();
    const auto matches = [&](const QByteArrayView* cells) {
        for (qsizetype i = 0; i < count; ++i) {
            if (foldedKeyword.foundIn(QString::fromUtf8(cells[i])))
                return true;
        }
        return false;
    };
    // The engine first leaves out the cards that hold none of the sources of the keyword's
    // rarest character, so that only likely matches are sent; the fold decides on those. Where
    // a card file's columns cannot take a source (a character set without it), the statement
    // fails and every card is fetched instead, as with no usable character.
    if (const auto sources = fewestSources(foldedKeyword.folded(), kMostSources)) {
        try {
            cards::prepareSearchHoldingAny(q, searched, texts(*sources));
            q.OpenFiltered(searched, matches);
            return;
        } catch (const DbError& e) {
            if (e.problem() != DbProblem::Other)
                throw;
        }
    }
    cards::prepareSearch(q, field, QString());
    q.OpenFiltered(searched, matches);
}

std::vector<FoundCard> findCards(TIBQuery& q, cards::SearchField field, const QString& keyword, bool folded,
                                 cards::CardState leftOut) {
    struct CloseAtEnd {
        TIBQuery& q;
        ~CloseAtEnd() { q.Close(); }
    } closeAtEnd{q};
    openCardSearch(q, field, keyword, folded);
    const int key = q.FieldIndex("KEY1"), name = q.FieldIndex("SYASYU"), flag = q.FieldIndex("DEL_FLG1");
    std::vector<FoundCard> found;
    q.Last();
    while (!q.Bof()) {
        if (!cards::flagIsWrittenFor(q.Fields(flag).AsString(), leftOut))
            found.push_back({q.Fields(key).AsString(), q.Fields(name).AsString()});
        q.Prior();
    }
    return found;
}

}  // namespace search
