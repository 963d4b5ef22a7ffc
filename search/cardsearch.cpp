#include "cardsearch.h"

#include "ibobjects.h"

namespace search {

CardSearch::CardSearch(TIBQuery& q, cards::SearchField field, const QString& keyword, bool folded)
    : m_q(q), m_keyword(keyword), m_filtering(folded && !m_keyword.folded().isEmpty()) {
    cards::prepareSearch(q, field, m_filtering ? QString() : keyword);
    q.Open();
    if (m_filtering) {
        const auto columns = foldedColumns(field);
        m_searched = q.FieldIndex(columns[0]);
        m_companion = columns[1].isEmpty() ? -1 : q.FieldIndex(columns[1]);
    }
}

bool CardSearch::matchesCurrentRow() const {
    return !m_filtering || m_keyword.foundIn(m_q.Fields(m_searched).AsString()) ||
           (m_companion >= 0 && m_keyword.foundIn(m_q.Fields(m_companion).AsString()));
}

std::vector<FoundCard> findCards(TIBQuery& q, cards::SearchField field, const QString& keyword, bool folded,
                                 const QString& leftOutFlag) {
    struct CloseAtEnd {
        TIBQuery& q;
        ~CloseAtEnd() { q.Close(); }
    } closeAtEnd{q};
    const CardSearch run(q, field, keyword, folded);
    const int key = q.FieldIndex("KEY1"), name = q.FieldIndex("SYASYU"), flag = q.FieldIndex("DEL_FLG1");
    std::vector<FoundCard> found;
    q.Last();
    while (!q.Bof()) {
        if (q.Fields(flag).AsString() != leftOutFlag && run.matchesCurrentRow())
            found.push_back({q.Fields(key).AsString(), q.Fields(name).AsString()});
        q.Prior();
    }
    return found;
}

}  // namespace search
