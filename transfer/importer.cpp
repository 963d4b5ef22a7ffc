#include "importer.h"

#include "carddatabase.h"
#include "engineprocess.h"
#include "picturefolder.h"
#include "textdecode.h"
#include "vcardformat.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>
#include <optional>

namespace transfer {

namespace {

// Far above any card file this program writes; a larger file is most likely not one.
constexpr qint64 kLargestFile = 512ll * 1024 * 1024;
// Cards read again together on the second reading, newest last: a run this long is held in
// memory at a time.
constexpr int kBlock = 256;
// Notes of what was not kept, listed for the first cards that have them.
constexpr qsizetype kMostLeftOutNotes = qsizetype(kPreviewCards) * 10;

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
        const int n = textLength(*l.text);
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
    // A card file made elsewhere may hold a card with its organisation alone; our own export of
    // it must come back.
    if (t.name.trimmed().isEmpty() && t.reading.trimmed().isEmpty() && t.organisation.trimmed().isEmpty())
        fail(QStringLiteral("名前もふりがなも組織名もありません。"));
}

// A vCard file starts with BEGIN:VCARD after any blank space; anything else is read as CSV.
FileFormat formatOf(QIODevice& file, const FileEncoding& encoding) {
    file.seek(encoding.byteOrderMark ? 3 : 0);
    constexpr qint64 kHeadBytes = qint64(64) * 1024;
    const QByteArray head = file.peek(kHeadBytes);
    qsizetype i = 0;
    while (i < head.size() && (head[i] == ' ' || head[i] == '\t' || head[i] == '\r' || head[i] == '\n'))
        ++i;
    return head.mid(i, 11).compare("BEGIN:VCARD", Qt::CaseInsensitive) == 0 ? FileFormat::VCard
                                                                            : FileFormat::Csv;
}

// The cards of a file one after another, from a place where a card starts.
class CardStream {
public:
    CardStream(QIODevice& file, const ImportPlan& plan, const FilePlace& from) : m_plan(plan) {
        if (plan.format == FileFormat::Csv)
            m_rows.emplace(file, plan.fileEncoding.encoding, from.offset, from.line);
        else
            m_vcards.emplace(file, from.offset, from.number);
    }
    // The CSV header row, read first when starting at the file's beginning.
    bool header(QStringList& fields, int& line) {
        qint64 offset;
        return m_rows->next(fields, line, offset);
    }
    bool next(Card& card, FilePlace& place) {
        if (m_rows) {
            QStringList fields;
            int line;
            while (m_rows->next(fields, line, place.offset)) {
                place.line = line;
                if (csv::cardFrom(m_plan.columns, fields, line, card))
                    return true;
            }
            return false;
        }
        int number;
        if (!m_vcards->next(m_properties, number, place.offset))
            return false;
        place.number = number - 1;
        card = vcard::cardFrom(m_properties, number);
        return true;
    }

private:
    const ImportPlan& m_plan;
    std::optional<csv::RowReader> m_rows;
    std::optional<vcard::CardReader> m_vcards;
    QList<vcard::Property> m_properties;
};

void openFile(QFile& file, const QString& path) {
    if (!file.open(QIODevice::ReadOnly))
        throw TransferError(QStringLiteral("ファイル「%1」を開けません: %2").arg(path, file.errorString()));
}

// Only what a list of the card shows.
Card listed(const Card& card) {
    Card c;
    c.origin = card.origin;
    c.texts.name = card.texts.name;
    c.texts.reading = card.texts.reading;
    c.texts.organisation = card.texts.organisation;
    return c;
}

QString fold(const QString& text) {
    QString folded = text.normalized(QString::NormalizationForm_KC);
    folded.removeIf([](QChar c) { return c.isSpace(); });
    return folded;
}

// Writes a card's pictures into its new picture folder; the paths written are added to written.
void writePictures(const CardFolder& cards, int key, const Card& card, QStringList& written) {
    const QString& root = cards.picturesRoot;
    if (card.pictures.isEmpty() || root.isEmpty())
        return;
    // Below the card folder the pictures are the user's own; a root set apart is shared.
    const QString folder = picturefolder::prepare(
        root, key,
        QDir(root) == QDir(cards.folder) ? picturefolder::Access::OwnerOnly : picturefolder::Access::Shared);
    for (qsizetype i = 0; i < card.pictures.size(); ++i) {
        const Picture& p = card.pictures[i];
        const QString path = folder + QStringLiteral("photo%1.%2").arg(i + 1).arg(p.suffix);
        QSaveFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(p.bytes) != p.bytes.size() || !file.commit())
            throw TransferError(
                QStringLiteral("画像「%1」を書き込めません: %2").arg(path, file.errorString()));
        written << path;
    }
}

}  // namespace

QString duplicateKey(const QString& name, const QString& organisation, const QString& reading) {
    const QString n = fold(name);
    if (!n.isEmpty())
        return n + QChar(0x1F) + fold(organisation);
    const QString r = fold(reading);
    const QString o = fold(organisation);
    if (r.isEmpty() && o.isEmpty())
        return QString();  // nothing to know the card by
    return QChar(0x1E) + r + QChar(0x1F) + o;
}

QString originText(const ImportPlan& plan, const Card& card) {
    return plan.format == FileFormat::Csv ? QStringLiteral("%1 行目").arg(card.origin)
                                          : QStringLiteral("%1 件目のカード").arg(card.origin);
}

namespace {

// The file is a file and not too large to be a card file.
void checkFileToRead(const QFileInfo& info, const QString& path) {
    if (!info.exists())
        throw TransferError(QStringLiteral("ファイル「%1」がありません。").arg(path));
    if (!info.isFile())
        throw TransferError(QStringLiteral("「%1」はファイルではありません。").arg(path));
    if (info.size() > kLargestFile)
        throw TransferError(
            QStringLiteral("ファイル「%1」は大きすぎます（%2 MB）。").arg(path).arg(info.size() >> 20));
}

// The columns of a CSV file: the ones given when they fit its header row, else read from it.
csv::Columns csvColumns(CardStream& stream, const csv::Columns* columns) {
    QStringList head;
    int line = 1;
    if (!stream.header(head, line))
        throw TransferError(QStringLiteral("ファイルにヘッダ行がありません。"));
    if (columns && columns->count() == head.size()) {
        csv::checkColumns(*columns, line);
        return *columns;
    }
    return csv::readHeader(head, line);
}

// What the stored cards are known by, to tell which cards of a file are already there.
QSet<QString> storedCardKeys(CardDatabase& dm) {
    QSet<QString> stored;
    forEachStoredCard(dm, false, [&](const Card& card) {
        engineprocess::throwIfInterrupted();
        const QString key = duplicateKey(card.texts.name, card.texts.organisation, card.texts.reading);
        if (!key.isEmpty())
            stored.insert(key);
    });
    return stored;
}

// Adds one card read from the file to the plan: where its run starts, whether it is already
// stored, what of it was not kept, and the card itself while the preview wants more.
void planCard(ImportPlan& plan, Card& card, const FilePlace& place, const QSet<QString>& stored) {
    const int index = plan.cardCount++;
    if (index % kBlock == 0)
        plan.blocks << place;
    checkCard(plan, card);
    const QString key = duplicateKey(card.texts.name, card.texts.organisation, card.texts.reading);
    if (!key.isEmpty() && stored.contains(key)) {
        plan.duplicates << index;
        plan.duplicateCards << listed(card);
    }
    if (!card.leftOut.isEmpty() && plan.leftOutNotes.size() < kMostLeftOutNotes)
        plan.leftOutNotes << originText(plan, card) + QStringLiteral(": ") +
                                 card.leftOut.join(QStringLiteral("、"));
    if (index < kPreviewCards) {
        for (Picture& p : card.pictures)
            p.bytes.clear();
        plan.preview << card;
    }
}

[[noreturn]] void throwFileChanged(const QString& path) {
    throw TransferError(
        QStringLiteral("ファイル「%1」が確認の後で変わりました。もう一度読み込んでください。").arg(path));
}

// The file is read again: it must be the one that was checked.
void checkUnchanged(const ImportPlan& plan) {
    const QFileInfo info(plan.path);
    if (!info.exists() || info.size() != plan.fileSize || info.lastModified() != plan.fileModified)
        throwFileChanged(plan.path);
}

// The cards of the file that the user wants written: all but the duplicates not taken.
class WantedCards {
public:
    WantedCards(const ImportPlan& plan, const QSet<int>& takenDuplicates)
        : m_duplicates(plan.duplicates.begin(), plan.duplicates.end()), m_taken(takenDuplicates) {
        for (int i = 0; i < plan.cardCount; ++i)
            m_count += contains(i) ? 1 : 0;
    }
    bool contains(int index) const { return !m_duplicates.contains(index) || m_taken.contains(index); }
    int count() const { return m_count; }

private:
    QSet<int> m_duplicates;
    const QSet<int>& m_taken;
    int m_count = 0;
};

// Reads the cards of one run of the file again, each checked as before.
void readBlock(QFile& file, const ImportPlan& plan, int b, QList<Card>& block) {
    const int count = std::min(kBlock, plan.cardCount - b * kBlock);
    block.clear();
    CardStream stream(file, plan, plan.blocks[b]);
    Card read;
    FilePlace place;
    while (block.size() < count && stream.next(read, place)) {
        checkCard(plan, read);
        block << read;
    }
    if (block.size() != count)
        throwFileChanged(plan.path);
}

// Writes one card and its pictures; the pictures' paths are added to picturesWritten. Returns
// the card's key when asked for it or when it has pictures, else 0.
int writeCard(CardDatabase& dm, const Card& card, QStringList& picturesWritten, bool wantKey = false) {
    const bool returning = wantKey || !card.pictures.isEmpty();
    cards::insertCard(dm.statement, QStringLiteral("0"), card.texts,
                      card.deleted ? cards::CardState::Deleted : cards::CardState::Live, returning);
    if (!returning)
        return 0;
    const int key = cards::returnedKey(dm.statement);
    dm.statement.close();
    writePictures(dm.cardFolder(), key, card, picturesWritten);
    return key;
}

// The pictures of cards that were not written after all, and the folders made for them when
// nothing else is in them.
void removePictures(const QStringList& picturesWritten) {
    for (const QString& path : picturesWritten) {
        QFile::remove(path);
        const QString base = QFileInfo(path).path();
        if (QDir().rmdir(base))
            QDir().rmdir(QFileInfo(base).path());
    }
}

}  // namespace

ImportPlan planImport(CardDatabase& dm, const QString& path, const csv::Columns* columns) {
    const QFileInfo info(path);
    checkFileToRead(info, path);
    QFile file(path);
    openFile(file, path);

    ImportPlan plan;
    plan.path = path;
    plan.fileSize = info.size();
    plan.fileModified = info.lastModified();
    FileEncoding bom;
    bom.byteOrderMark = file.peek(3) == "\xEF\xBB\xBF";
    plan.format = formatOf(file, bom);
    // A vCard names the character set of each property; its parts may differ.
    plan.fileEncoding = detectEncoding(file, plan.format == FileFormat::VCard);
    plan.encoding = plan.fileEncoding.mixed ? QStringLiteral("UTF-8・Shift-JIS")
                                            : encodingName(plan.fileEncoding.encoding);
    const FilePlace start{plan.fileEncoding.byteOrderMark ? 3 : 0, 1, 0};
    CardStream stream(file, plan, start);
    if (plan.format == FileFormat::Csv)
        plan.columns = csvColumns(stream, columns);

    const QSet<QString> stored = storedCardKeys(dm);
    Card card;
    FilePlace place;
    while (stream.next(card, place)) {
        engineprocess::throwIfInterrupted();
        planCard(plan, card, place, stored);
    }
    if (plan.cardCount == 0)
        throw TransferError(plan.format == FileFormat::VCard
                                ? QStringLiteral("ファイルに vCard がありません。")
                                : QStringLiteral("ファイルに名刺がありません。"));
    return plan;
}

int runImport(CardDatabase& dm, const ImportPlan& plan, const QSet<int>& takenDuplicates,
              const Progress& progress) {
    const WantedCards wanted(plan, takenDuplicates);
    const int total = wanted.count();
    auto report = [&](int done) {
        if (progress)
            progress(QStringLiteral("名刺を登録しています（%1 / %2 件）…").arg(done).arg(total),
                     total ? done * 100 / total : 100);
    };
    checkUnchanged(plan);
    QFile file(plan.path);
    openFile(file, plan.path);

    // A card file left with its key trigger off would give every new card the key 0.
    cards::ensureTriggerActive(dm);
    int written = 0;
    QStringList picturesWritten;
    QList<Card> block;
    block.reserve(kBlock);
    try {
        dm.allOrNothing([&] {
            written = 0;
            picturesWritten.clear();
            // From the end of the file: the file lists the newest card first, as the export writes
            // it, and the card written last gets the highest key. The file is read a run of cards
            // at a time, the runs from the last one back.
            for (int b = int(plan.blocks.size()) - 1; b >= 0; --b) {
                readBlock(file, plan, b, block);
                const int first = b * kBlock;
                for (int i = first + int(block.size()) - 1; i >= first; --i) {
                    if (!wanted.contains(i))
                        continue;
                    engineprocess::throwIfInterrupted();  // unwinding rolls the whole import back
                    writeCard(dm, block[i - first], picturesWritten);
                    if (++written % 1000 == 0)
                        report(written);
                }
            }
        });
    } catch (...) {
        // No card was written: neither are their pictures.
        removePictures(picturesWritten);
        throw;
    }
    report(written);
    return written;
}

int registerNewCard(CardDatabase& dm, const Card& card) {
    cards::ensureTriggerActive(dm);
    int key = 0;
    QStringList picturesWritten;
    try {
        dm.allOrNothing([&] {
            picturesWritten.clear();
            key = writeCard(dm, card, picturesWritten, true);
        });
    } catch (...) {
        removePictures(picturesWritten);
        throw;
    }
    return key;
}

}  // namespace transfer
