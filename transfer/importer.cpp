#include "importer.h"

#include "csvformat.h"
#include "carddatabase.h"
#include "engineprocess.h"
#include "textdecode.h"
#include "vcardformat.h"

#include <QFile>
#include <QFileInfo>

namespace transfer {

namespace {

// Far above any card file this program writes; a larger file is most likely not one.
constexpr qint64 kLargestFile = 512ll * 1024 * 1024;

int characters(const QString& text) {
    int n = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (!(text[i].isLowSurrogate() && i > 0 && text[i - 1].isHighSurrogate()))
            ++n;
    }
    return n;
}

void checkCard(const ImportPlan& plan, const Card& card) {
    const cards::CardTexts& t = card.texts;
    auto fail = [&](const QString& what) {
        throw TransferError(originText(plan, card) + QStringLiteral(": ") + what);
    };
    struct Limit {
        const QString* text;
        int limit;
        const char* caption;
    };
    const Limit limits[] = {
        {&t.name, ColumnLimits::name, "名前"},
        {&t.reading, ColumnLimits::reading, "ふりがな"},
        {&t.organisation, ColumnLimits::organisation, "組織名"},
        {&t.department, ColumnLimits::department, "部署"},
        {&t.position, ColumnLimits::position, "身分"},
        {&t.memo, ColumnLimits::memo, "メモ"},
    };
    for (const Limit& l : limits) {
        const int n = characters(*l.text);
        if (n > l.limit)
            fail(QStringLiteral("%1が %2 文字を超えています（%3 文字）。")
                     .arg(QString::fromUtf8(l.caption))
                     .arg(l.limit)
                     .arg(n));
    }
    const Limit dateParts[] = {{&t.year, ColumnLimits::year, "年"},
                               {&t.month, ColumnLimits::month, "月"},
                               {&t.day, ColumnLimits::day, "日"}};
    for (const Limit& l : dateParts) {
        const bool digits = std::all_of(l.text->begin(), l.text->end(), [](QChar c) {
            return c >= QLatin1Char('0') && c <= QLatin1Char('9');
        });
        if (!digits || l.text->size() > l.limit)
            fail(QStringLiteral("日付の%1「%2」は %3 桁までの数字にしてください。")
                     .arg(QString::fromUtf8(l.caption), *l.text)
                     .arg(l.limit));
    }
    if (t.name.trimmed().isEmpty() && t.reading.trimmed().isEmpty())
        fail(QStringLiteral("名前もふりがなもありません。"));
}

FileFormat formatOf(const QString& text) {
    for (const QChar c : text) {
        if (c.isSpace())
            continue;
        return text.trimmed().startsWith(QLatin1String("BEGIN:VCARD"), Qt::CaseInsensitive)
                   ? FileFormat::VCard
                   : FileFormat::Csv;
    }
    return FileFormat::Csv;
}

}  // namespace

QString duplicateKey(const QString& name, const QString& organisation) {
    auto fold = [](const QString& text) {
        QString folded = text.normalized(QString::NormalizationForm_KC);
        folded.removeIf([](QChar c) { return c.isSpace(); });
        return folded;
    };
    const QString n = fold(name);
    if (n.isEmpty())
        return QString();  // a card without a name is never taken for another
    return n + QChar(0x1F) + fold(organisation);
}

QString originText(const ImportPlan& plan, const Card& card) {
    return plan.format == FileFormat::Csv ? QStringLiteral("%1 行目").arg(card.origin)
                                          : QStringLiteral("%1 件目のカード").arg(card.origin);
}

ImportPlan planImport(CardDatabase& dm, const QString& path) {
    const QFileInfo info(path);
    if (!info.exists())
        throw TransferError(QStringLiteral("ファイル「%1」がありません。").arg(path));
    if (!info.isFile())
        throw TransferError(QStringLiteral("「%1」はファイルではありません。").arg(path));
    if (info.size() > kLargestFile)
        throw TransferError(
            QStringLiteral("ファイル「%1」は大きすぎます（%2 MB）。").arg(path).arg(info.size() >> 20));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw TransferError(QStringLiteral("ファイル「%1」を開けません: %2").arg(path, file.errorString()));
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw TransferError(QStringLiteral("ファイル「%1」を読めません: %2").arg(path, file.errorString()));

    ImportPlan plan;
    const DecodedText decoded = decodeText(bytes);
    plan.encoding = decoded.encoding;
    plan.format = formatOf(decoded.text);
    plan.cards = plan.format == FileFormat::VCard ? vcard::parse(decoded.text) : csv::parse(decoded.text);
    if (plan.cards.isEmpty())
        throw TransferError(QStringLiteral("ファイルに名刺がありません。"));
    for (const Card& card : plan.cards)
        checkCard(plan, card);

    QSet<QString> stored;
    forEachStoredCard(dm, false, [&](const Card& card) {
        engineprocess::throwIfInterrupted();
        const QString key = duplicateKey(card.texts.name, card.texts.organisation);
        if (!key.isEmpty())
            stored.insert(key);
    });
    for (int i = 0; i < plan.cards.size(); ++i) {
        const QString key = duplicateKey(plan.cards[i].texts.name, plan.cards[i].texts.organisation);
        if (!key.isEmpty() && stored.contains(key))
            plan.duplicates << i;
    }
    return plan;
}

int runImport(CardDatabase& dm, const ImportPlan& plan, const QSet<int>& takenDuplicates, const Progress& progress) {
    const QSet<int> duplicates(plan.duplicates.begin(), plan.duplicates.end());
    auto wanted = [&](int i) { return !duplicates.contains(i) || takenDuplicates.contains(i); };
    int total = 0;
    for (int i = 0; i < plan.cards.size(); ++i)
        total += wanted(i) ? 1 : 0;
    auto report = [&](int done) {
        if (progress)
            progress(QStringLiteral("名刺を登録しています（%1 / %2 件）…").arg(done).arg(total),
                     total ? done * 100 / total : 100);
    };
    int written = 0;
    dm.allOrNothing([&] {
        written = 0;
        // From the end of the file: the file lists the newest card first, as the export writes it,
        // and the card written last gets the highest key.
        for (int i = int(plan.cards.size()) - 1; i >= 0; --i) {
            if (!wanted(i))
                continue;
            engineprocess::throwIfInterrupted();  // unwinding rolls the whole import back
            const Card& card = plan.cards[i];
            cards::insertCard(dm.statement, QStringLiteral("0"), card.texts,
                              card.deleted ? cards::CardState::Deleted : cards::CardState::Live);
            if (++written % 1000 == 0)
                report(written);
        }
    });
    report(written);
    return written;
}

}  // namespace transfer
