#include "exporter.h"

#include "csvformat.h"
#include "vcardformat.h"

#include "carddatabase.h"

#include <QFileInfo>
#include <QSaveFile>

namespace transfer {

int exportCards(CardDatabase& dm, const QString& path, FileFormat format, bool withDeleted) {
    // Writing over the card file would replace the cards with their own export.
    if (sameFile(path, dm.databasePath()))
        throw TransferError(
            QStringLiteral("カードファイルそのものには書き出せません。別のファイル名を指定してください。"));
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        throw TransferError(
            QStringLiteral("ファイル「%1」に書き込めません: %2").arg(path, file.errorString()));
    constexpr qsizetype kChunk = 1 << 20;
    QByteArray out;
    out.reserve(kChunk + 64 * 1024);
    if (format == FileFormat::Csv)
        out += csv::header();
    int count = 0;
    auto flush = [&] {
        if (file.write(out) != out.size())
            throw TransferError(
                QStringLiteral("ファイル「%1」に書き込めません: %2").arg(path, file.errorString()));
        out.clear();
    };
    forEachStoredCard(dm, withDeleted, [&](const Card& card) {
        if (format == FileFormat::Csv)
            csv::appendRow(out, card);
        else
            vcard::appendCard(out, card);
        ++count;
        if (out.size() >= kChunk)
            flush();
    });
    flush();
    if (!file.commit())
        throw TransferError(
            QStringLiteral("ファイル「%1」に書き込めません: %2").arg(path, file.errorString()));
    return count;
}

}  // namespace transfer
