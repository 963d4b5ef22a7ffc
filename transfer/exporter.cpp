#include "exporter.h"

#include "csvformat.h"
#include "vcardformat.h"

#include "carddatabase.h"
#include "engineprocess.h"
#include "privatefile.h"

#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>

#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace transfer {

int exportCards(CardDatabase& dm, const QString& path, FileFormat format, bool withDeleted) {
    // Writing over the card file would replace the cards with their own export.
    if (sameFile(path, dm.databasePath()))
        throw TransferError(
            QStringLiteral("カードファイルそのものには書き出せません。別のファイル名を指定してください。"));
    const auto cannotWrite = [&](const QString& reason) {
        return TransferError(QStringLiteral("ファイル「%1」に書き込めません: %2").arg(path, reason));
    };
    // A link names the file to replace; the link itself stays.
    const QFileInfo named(path);
    const QString target = named.isSymLink() ? named.symLinkTarget() : named.absoluteFilePath();
    if (QFileInfo(target).isDir())
        throw cannotWrite(QStringLiteral("フォルダです"));
    // The cards are written to a new file beside the target, private from its creation, which
    // takes the target's name only once it is complete: a failure leaves whatever was there.
    QString partial;
    const int fd = privatefile::createBeside(target, &partial);
    if (fd < 0)
        throw cannotWrite(privatefile::systemReason(errno));
    bool placed = false;
    const auto dropPartial = qScopeGuard([&] {
        if (!placed)
            QFile::remove(partial);
    });
    QFile file;
    if (!file.open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        throw cannotWrite(file.errorString());
    }
    constexpr qsizetype kChunk = 1 << 20;
    QByteArray out;
    out.reserve(kChunk + qsizetype(64) * 1024);
    if (format == FileFormat::Csv)
        out += csv::header();
    int count = 0;
    auto flush = [&] {
        if (file.write(out) != out.size())
            throw cannotWrite(file.errorString());
        out.clear();
    };
    forEachStoredCard(dm, withDeleted, [&](const Card& card) {
        engineprocess::throwIfInterrupted();  // the unfinished file is never put in place
        if (format == FileFormat::Csv)
            csv::appendRow(out, card);
        else
            vcard::appendCard(out, card, {dm.databasePath()});
        ++count;
        if (out.size() >= kChunk)
            flush();
    });
    flush();
    if (!file.flush() || ::fsync(file.handle()) != 0)
        throw cannotWrite(file.error() != QFileDevice::NoError ? file.errorString()
                                                               : privatefile::systemReason(errno));
    file.close();
    if (::rename(QFile::encodeName(partial).constData(), QFile::encodeName(target).constData()) != 0)
        throw cannotWrite(privatefile::systemReason(errno));
    placed = true;
    return count;
}

}  // namespace transfer
