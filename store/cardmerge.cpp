#include "cardmerge.h"

#include "carddatabase.h"

#include <algorithm>
#include <tuple>

namespace cards {

namespace {

const QString kLineBreak = QStringLiteral("\r\n");

QString dateText(const CardTexts& t) {
    if (t.year.isEmpty() && t.month.isEmpty() && t.day.isEmpty())
        return QStringLiteral("日付なし");
    return QStringLiteral("%1/%2/%3").arg(t.year, t.month, t.day);
}

// Newer first: the card's date, its parts read as numbers (missing ones as 0), then its key.
bool newerThan(const KeyedCard& a, const KeyedCard& b) {
    auto order = [](const KeyedCard& c) {
        return std::make_tuple(c.card.texts.year.trimmed().toInt(), c.card.texts.month.trimmed().toInt(),
                               c.card.texts.day.trimmed().toInt(), c.key);
    };
    return order(a) > order(b);
}

QString& box(CardTexts& t, MergeBox b) {
    switch (b) {
        case MergeBox::Name:
            return t.name;
        case MergeBox::Reading:
            return t.reading;
        case MergeBox::Organisation:
            return t.organisation;
        case MergeBox::Department:
            return t.department;
        case MergeBox::Position:
            return t.position;
        case MergeBox::Date:
            break;
    }
    return t.year;
}

bool boxEmpty(const CardTexts& t, MergeBox b) {
    if (b == MergeBox::Date)
        return t.year.trimmed().isEmpty() && t.month.trimmed().isEmpty() && t.day.trimmed().isEmpty();
    return box(const_cast<CardTexts&>(t), b).trimmed().isEmpty();
}

void takeBox(CardTexts& into, const CardTexts& from, MergeBox b) {
    if (b == MergeBox::Date) {
        into.year = from.year;
        into.month = from.month;
        into.day = from.day;
    } else {
        box(into, b) = box(const_cast<CardTexts&>(from), b);
    }
}

void refuseLongMemo(const QString& memo, int key) {
    const int length = storedLength(memo);
    if (length > ColumnLimits::memo)
        throw DbError(
            QStringLiteral("統合すると番号 %1 の名刺のメモが %2 文字になり、上限の %3 文字を超えます。"
                           "メモを短くしてから統合してください。何も書き込んでいません。")
                .arg(key)
                .arg(length)
                .arg(ColumnLimits::memo));
}

QString appendLine(const QString& memo, const QString& line) {
    return memo.isEmpty() ? line : memo + kLineBreak + line;
}

}  // namespace

int storedLength(QStringView text) {
    int n = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate())
            ++i;
        ++n;
    }
    return n;
}

QMap<MergeBox, int> defaultSources(const QList<KeyedCard>& cards) {
    QList<KeyedCard> newestFirst = cards;
    std::sort(newestFirst.begin(), newestFirst.end(), newerThan);
    QMap<MergeBox, int> sources;
    for (MergeBox b : {MergeBox::Name, MergeBox::Reading, MergeBox::Organisation, MergeBox::Department,
                       MergeBox::Position, MergeBox::Date}) {
        for (const KeyedCard& c : std::as_const(newestFirst)) {
            if (!boxEmpty(c.card.texts, b)) {
                sources.insert(b, c.key);
                break;
            }
        }
    }
    return sources;
}

QString boxText(const CardTexts& texts, MergeBox b) {
    if (b == MergeBox::Date)
        return boxEmpty(texts, b) ? QString()
                                  : QStringLiteral("%1/%2/%3").arg(texts.year, texts.month, texts.day);
    return box(const_cast<CardTexts&>(texts), b);
}

MergePlan planMerge(const QList<KeyedCard>& cards, int keepKey, const QMap<MergeBox, int>& chosen) {
    if (cards.size() < 2)
        throw DbError(QStringLiteral("統合するには名刺を 2 枚以上指定してください。"));
    QList<KeyedCard> newestFirst = cards;
    std::sort(newestFirst.begin(), newestFirst.end(), newerThan);
    for (qsizetype i = 0; i < newestFirst.size(); ++i) {
        if (newestFirst[i].card.state == CardState::Deleted)
            throw DbError(QStringLiteral("番号 %1 の名刺は削除されています。削除した名刺は統合できません。")
                              .arg(newestFirst[i].key));
        if (i > 0 && std::any_of(newestFirst.begin(), newestFirst.begin() + i,
                                 [&](const KeyedCard& c) { return c.key == newestFirst[i].key; }))
            throw DbError(QStringLiteral("番号 %1 の名刺が二度指定されています。").arg(newestFirst[i].key));
    }
    if (keepKey == 0)
        keepKey = std::min_element(cards.begin(), cards.end(), [](const KeyedCard& a, const KeyedCard& b) {
                      return a.key < b.key;
                  })->key;
    const auto keptIt =
        std::find_if(cards.begin(), cards.end(), [&](const KeyedCard& c) { return c.key == keepKey; });
    if (keptIt == cards.end())
        throw DbError(QStringLiteral("残す名刺の番号 %1 が、統合する名刺の中にありません。").arg(keepKey));

    MergePlan plan;
    plan.keptKey = keepKey;
    plan.loaded = cards;
    plan.kept = keptIt->card.texts;
    const QMap<MergeBox, int> sources = defaultSources(cards);
    for (MergeBox b : {MergeBox::Name, MergeBox::Reading, MergeBox::Organisation, MergeBox::Department,
                       MergeBox::Position, MergeBox::Date}) {
        const int sourceKey = chosen.value(b, sources.value(b));
        const auto source =
            std::find_if(cards.begin(), cards.end(), [&](const KeyedCard& c) { return c.key == sourceKey; });
        if (source != cards.end())
            takeBox(plan.kept, source->card.texts, b);
        else if (chosen.contains(b))
            throw DbError(QStringLiteral("選んだ番号 %1 の名刺が、統合する名刺の中にありません。")
                              .arg(chosen.value(b)));
    }

    // The memos of the other cards, newest first, each below a line naming where it came from;
    // a memo the kept card already holds word for word is not repeated.
    QString memo = keptIt->card.texts.memo;
    for (const KeyedCard& c : newestFirst) {
        if (c.key == keepKey)
            continue;
        const QString& other = c.card.texts.memo;
        if (!other.trimmed().isEmpty() && other != keptIt->card.texts.memo)
            memo = appendLine(
                memo,
                QStringLiteral("―― 番号 %1 の名刺（%2）のメモ ――").arg(c.key).arg(dateText(c.card.texts)) +
                    kLineBreak + other);
        KeyedCard retired = c;
        retired.card.texts.memo =
            appendLine(other, QStringLiteral("（番号 %1 の名刺に統合しました）").arg(keepKey));
        refuseLongMemo(retired.card.texts.memo, c.key);
        retired.card.state = CardState::Deleted;
        plan.retired << retired;
    }
    refuseLongMemo(memo, keepKey);
    plan.kept.memo = memo;
    return plan;
}

void mergeCards(CardDatabase& dm, const MergePlan& plan, const MergeHooks& hooks) {
    bool hooksRan = false;
    try {
        dm.allOrNothing([&] {
            DbStatement& q = dm.statement;
            // Every card is locked and read again first: a card changed since it was read (by
            // someone else on a server) is not overwritten, and nothing is written.
            for (const KeyedCard& c : plan.loaded) {
                const std::optional<Card> current = lockCard(q, c.key);
                if (!current)
                    throw CardGone(QString::number(c.key));
                if (!(*current == c.card))
                    throw CardChanged(*current);
            }
            step("update");
            if (updateCard(q, QString::number(plan.keptKey), plan.kept, CardState::Live) == 0)
                throw CardGone(QString::number(plan.keptKey));
            for (const KeyedCard& c : plan.retired) {
                step("update");
                if (updateCard(q, QString::number(c.key), c.card.texts, CardState::Deleted) == 0)
                    throw CardGone(QString::number(c.key));
            }
            step("pictures");
            hooksRan = true;
            if (hooks.beforeCommit)
                hooks.beforeCommit();
            step("commit");
        });
    } catch (...) {
        if (hooksRan && hooks.undo)
            hooks.undo();
        throw;
    }
    step("committed");
}

}  // namespace cards
