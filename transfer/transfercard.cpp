#include "transfercard.h"

#include "dm1.h"

#include <QFileInfo>

namespace transfer {

void forEachStoredCard(TDM1& dm, bool withDeleted, const std::function<void(const Card&)>& visit) {
    if (!dm.IBDatabase1.Connected())
        dm.IBDatabase1.Open();
    TIBQuery& q = dm.IBQuery1;
    // Every card, also one without a name (which the name search passes over); rows come
    // ascending by key.
    cards::prepareAllCards(q);
    q.Open();
    const int key = q.FieldIndex("KEY1"), name = q.FieldIndex("SYASYU"), reading = q.FieldIndex("HURIGANA"),
              org = q.FieldIndex("KATABAN"), dept = q.FieldIndex("KYORI"), pos = q.FieldIndex("KINGAKU"),
              memo = q.FieldIndex("MEMO"), year = q.FieldIndex("LYEAR"), month = q.FieldIndex("LMONTH"),
              day = q.FieldIndex("LDAY"), flag = q.FieldIndex("DEL_FLG1");
    Card card;
    q.Last();
    while (!q.Bof()) {
        card.deleted = cards::stateOfFlag(q.Fields(flag).AsString()) == cards::CardState::Deleted;
        if (withDeleted || !card.deleted) {
            card.key = q.Fields(key).AsString();
            card.texts.name = q.Fields(name).AsString();
            card.texts.reading = q.Fields(reading).AsString();
            card.texts.organisation = q.Fields(org).AsString();
            card.texts.department = q.Fields(dept).AsString();
            card.texts.position = q.Fields(pos).AsString();
            card.texts.memo = q.Fields(memo).AsString();
            card.texts.year = q.Fields(year).AsString();
            card.texts.month = q.Fields(month).AsString();
            card.texts.day = q.Fields(day).AsString();
            visit(card);
        }
        q.Prior();
    }
    q.Close();
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
