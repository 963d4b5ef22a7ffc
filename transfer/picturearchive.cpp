#include "picturearchive.h"

#include "cardfolder.h"
#include "privatefile.h"
#include "transfercard.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <archive.h>
#include <archive_entry.h>

#include <memory>

#include <cstdio>

namespace transfer {

namespace {

using Archive = std::unique_ptr<archive, decltype(&archive_write_free)>;
using Entry = std::unique_ptr<archive_entry, decltype(&archive_entry_free)>;

[[noreturn]] void fail(archive* a, const QString& what) {
    throw TransferError(
        QStringLiteral("画像のアーカイブを書けません（%1）: %2")
            .arg(what, QString::fromUtf8(archive_error_string(a) ? archive_error_string(a) : "")));
}

}  // namespace

int writePicturesArchive(const QString& picturesRoot, const QString& archivePath) {
    const QDir root(picturesRoot);
    const QString partial = archivePath + QStringLiteral(".part");
    // Made private before the writer opens it by name (and keeps its mode).
    QFile::remove(partial);
    if (const QString reason = privatefile::reserve(partial); !reason.isEmpty())
        throw TransferError(
            QStringLiteral("画像のアーカイブ「%1」を作成できません（%2）。").arg(partial, reason));
    Archive a(archive_write_new(), archive_write_free);
    // pax keeps UTF-8 names and large files exactly.
    int files = 0;
    const QString imageDir = CardFolder::imageFolder(root.path());
    QDirIterator it(imageDir, QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    QByteArray buffer(1 << 16, Qt::Uninitialized);
    try {
        if (archive_write_set_format_pax_restricted(a.get()) != ARCHIVE_OK)
            fail(a.get(), QStringLiteral("形式"));
        if (archive_write_open_filename(a.get(), QFile::encodeName(partial).constData()) != ARCHIVE_OK)
            fail(a.get(), partial);
        while (it.hasNext()) {
            const QFileInfo info(it.next());
            if (info.isSymLink() || !info.isFile())
                continue;
            QFile file(info.filePath());
            if (!file.open(QIODevice::ReadOnly))
                throw TransferError(
                    QStringLiteral("画像「%1」を読めません: %2").arg(info.filePath(), file.errorString()));
            Entry entry(archive_entry_new(), archive_entry_free);
            archive_entry_set_pathname_utf8(entry.get(),
                                            root.relativeFilePath(info.filePath()).toUtf8().constData());
            archive_entry_set_size(entry.get(), info.size());
            archive_entry_set_filetype(entry.get(), AE_IFREG);
            archive_entry_set_perm(entry.get(), 0600);  // unpacked as private as the pictures were written
            archive_entry_set_mtime(entry.get(), info.lastModified().toSecsSinceEpoch(), 0);
            if (archive_write_header(a.get(), entry.get()) != ARCHIVE_OK)
                fail(a.get(), info.filePath());
            qint64 got;
            while ((got = file.read(buffer.data(), buffer.size())) > 0) {
                if (archive_write_data(a.get(), buffer.constData(), size_t(got)) != got)
                    fail(a.get(), info.filePath());
            }
            if (got < 0)
                throw TransferError(
                    QStringLiteral("画像「%1」を読めません: %2").arg(info.filePath(), file.errorString()));
            ++files;
        }
        if (archive_write_close(a.get()) != ARCHIVE_OK)
            fail(a.get(), partial);
    } catch (...) {
        a.reset();
        QFile::remove(partial);
        throw;
    }
    a.reset();
    // One step, so that an earlier archive is there until the new one takes its name.
    if (::rename(QFile::encodeName(partial).constData(), QFile::encodeName(archivePath).constData()) != 0) {
        QFile::remove(partial);
        throw TransferError(QStringLiteral("画像のアーカイブを「%1」に置けませんでした。").arg(archivePath));
    }
    return files;
}

}  // namespace transfer
