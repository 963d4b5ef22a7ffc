#include "intakecards.h"

#include "carddatabase.h"
#include "importer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace intake {

namespace {

QString fitted(const QString& text, int limit) {
    return text.size() > limit ? text.left(limit).trimmed() : text;
}

}  // namespace

cards::CardTexts cardTexts(const scan::BoxTexts& boxes, const QDate& date) {
    using Limits = cards::ColumnLimits;
    QString memo = boxes.other;
    memo.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
    // A line break counts two in the memo's column: cut at a whole line where it must be cut.
    while (transfer::textLength(memo) > Limits::memo) {
        const qsizetype cut = memo.lastIndexOf(QLatin1String("\r\n"));
        memo = cut > 0 ? memo.left(cut) : memo.left(Limits::memo);
    }
    return cards::CardTexts{
        .name = fitted(boxes.name, Limits::name),
        .reading = fitted(boxes.reading, Limits::reading),
        .organisation = fitted(boxes.organisation, Limits::organisation),
        .department = fitted(boxes.department, Limits::department),
        .position = fitted(boxes.position, Limits::position),
        .memo = memo,
        .year = date.toString(QStringLiteral("yyyy")),
        .month = date.toString(QStringLiteral("MM")),
        .day = date.toString(QStringLiteral("dd")),
    };
}

void StoredCards::load(CardDatabase& dm) {
    m_keys.clear();
    transfer::forEachStoredCard(dm, false, [&](const transfer::Card& c) {
        const QString key = transfer::duplicateKey(c.texts.name, c.texts.organisation, c.texts.reading);
        // Cards are walked newest first: the newest of several alike is the one named.
        if (!key.isEmpty() && !m_keys.contains(key))
            m_keys.insert(key, c.key.toInt());
    });
}

int StoredCards::likelyDuplicate(const cards::CardTexts& texts) const {
    const QString key = transfer::duplicateKey(texts.name, texts.organisation, texts.reading);
    return key.isEmpty() ? 0 : m_keys.value(key);
}

void StoredCards::add(const cards::CardTexts& texts, int key) {
    const QString k = transfer::duplicateKey(texts.name, texts.organisation, texts.reading);
    if (!k.isEmpty())
        m_keys.insert(k, key);
}

int registerCard(CardDatabase& dm, const QString& folder, const StackCard& card,
                 const cards::CardTexts& texts) {
    transfer::Card c;
    c.texts = texts;
    for (const QString& name : card.pictures) {
        QFile file(QDir(folder).filePath(name));
        if (!file.open(QIODevice::ReadOnly))
            throw transfer::TransferError(
                QStringLiteral("画像「%1」を読めません: %2").arg(file.fileName(), file.errorString()));
        c.pictures << transfer::Picture{file.readAll(), QFileInfo(name).suffix().toLower()};
        if (file.error() != QFileDevice::NoError)
            throw transfer::TransferError(
                QStringLiteral("画像「%1」を読めません: %2").arg(file.fileName(), file.errorString()));
    }
    return transfer::registerNewCard(dm, c);
}

}  // namespace intake
