#include "transfercard.h"

#include "carddatabase.h"

#include <QFileInfo>

namespace transfer {

void forEachStoredCard(CardDatabase& dm, bool withDeleted, const std::function<void(const Card&)>& visit) {
    if (!dm.connection.isConnected())
        dm.connection.open();
    DbStatement& q = dm.statement;
    // Every card, also one without a name (which the name search passes over); rows come
    // ascending by key.
    cards::prepareAllCards(q);
    q.open();
    const cards::CardReader reader(q);
    Card card;
    q.last();
    while (!q.beforeFirst()) {
        card.deleted = reader.state() == cards::CardState::Deleted;
        if (withDeleted || !card.deleted) {
            card.key = reader.keyText();
            card.texts = reader.texts();
            visit(card);
        }
        q.prior();
    }
    q.close();
}

int textLength(const QString& text) {
    int n = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (!(text[i].isLowSurrogate() && i > 0 && text[i - 1].isHighSurrogate()))
            ++n;
    }
    return n;
}

void appendMemoLines(Card& card, const QStringList& lines) {
    QString& memo = card.texts.memo;
    int length = textLength(memo);
    for (const QString& line : lines) {
        const int more = textLength(line) + (memo.isEmpty() ? 0 : 2);
        if (length + more > ColumnLimits::memo) {
            card.leftOut << QStringLiteral("メモに入りきらない行「%1」").arg(line);
            continue;
        }
        if (!memo.isEmpty())
            memo += QLatin1String("\r\n");
        memo += line;
        length += more;
        card.memoLines << line;
    }
}

bool sameFile(const QString& a, const QString& b) {
    const QString first = QFileInfo(a).canonicalFilePath();
    return !first.isEmpty() && first == QFileInfo(b).canonicalFilePath();
}

QString joinDate(const cards::CardTexts& t) {
    if (t.year.isEmpty() && t.month.isEmpty() && t.day.isEmpty())
        return QString();
    return t.year + QLatin1Char('/') + t.month + QLatin1Char('/') + t.day;
}

}  // namespace transfer
