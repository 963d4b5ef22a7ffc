#include "cardsearch.h"

#include "ibobjects.h"

namespace search {

void openCardSearch(TIBQuery& q, cards::SearchField field, const QString& keyword, bool folded) {
    const FoldedKeyword foldedKeyword(keyword);
    if (!folded || foldedKeyword.folded().isEmpty()) {
        cards::prepareSearch(q, field, keyword);
        q.Open();
        return;
    }
    cards::prepareSearch(q, field, QString());
    const auto columns = foldedColumns(field);
    QStringList searched{columns[0]};
    if (!columns[1].isEmpty())
        searched << columns[1];
    const qsizetype count = searched.size();
    q.OpenFiltered(searched, [&](const QByteArrayView* cells) {
        for (qsizetype i = 0; i < count; ++i) {
            if (foldedKeyword.foundIn(QString::fromUtf8(cells[i])))
                return true;
        }
        return false;
    });
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
