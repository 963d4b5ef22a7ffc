#include "sheetpackage.h"

#include "sheeterror.h"

#include <QBuffer>
#include <QDateTime>
#include <QFile>
#include <QHash>
#include <QImage>
#include <QRegularExpression>

#include <minizip/unzip.h>
#include <minizip/zip.h>

#include <fcntl.h>
#include <unistd.h>

#include <functional>
#include <memory>
#include <stdexcept>

namespace sheet {

namespace {

QString writeFailure(const QString& path) {
    return QStringLiteral("シートのファイルを書き込めませんでした。\r\n%1").arg(path);
}

[[noreturn]] void failToReadDraft(const QString& draft) {
    fail(QStringLiteral("作成中のシートを読めませんでした。\r\n%1").arg(draft));
}

struct UnzipCloser {
    void operator()(void* f) const { unzClose(f); }
};
struct ZipCloser {
    void operator()(void* f) const { zipClose(f, nullptr); }
};

QByteArray readEntry(unzFile in, quint64 size, const QString& draft) {
    if (unzOpenCurrentFile(in) != UNZ_OK)
        failToReadDraft(draft);
    QByteArray data(qsizetype(size), Qt::Uninitialized);
    qsizetype got = 0;
    while (got < data.size()) {
        const int n = unzReadCurrentFile(in, data.data() + got,
                                         unsigned(std::min<qsizetype>(data.size() - got, 1 << 20)));
        if (n <= 0)
            break;
        got += n;
    }
    const bool crcOk = unzCloseCurrentFile(in) == UNZ_OK;
    if (got != data.size() || !crcOk)
        failToReadDraft(draft);
    return data;
}

zip_fileinfo entryTime() {
    const QDateTime now = QDateTime::currentDateTime();
    zip_fileinfo info{};
    info.tmz_date.tm_year = uInt(now.date().year());
    info.tmz_date.tm_mon = uInt(now.date().month() - 1);
    info.tmz_date.tm_mday = uInt(now.date().day());
    info.tmz_date.tm_hour = uInt(now.time().hour());
    info.tmz_date.tm_min = uInt(now.time().minute());
    info.tmz_date.tm_sec = uInt(now.time().second());
    return info;
}

// Pictures are stored: JPEG and PNG data does not deflate any further.
void writeEntry(zipFile out, const QByteArray& name, bool stored, qint64 size, const QString& output,
                const std::function<bool(zipFile)>& body) {
    const zip_fileinfo info = entryTime();
    const int zip64 = size >= 0xffffffffLL ? 1 : 0;
    if (zipOpenNewFileInZip64(out, name.constData(), &info, nullptr, 0, nullptr, 0, nullptr,
                              stored ? 0 : Z_DEFLATED, stored ? 0 : Z_DEFAULT_COMPRESSION, zip64) != ZIP_OK)
        fail(writeFailure(output));
    const bool written = body(out);
    if (zipCloseFileInZip(out) != ZIP_OK || !written)
        fail(writeFailure(output));
}

bool writeBytes(zipFile out, const QByteArray& data) {
    for (qsizetype done = 0; done < data.size();) {
        const unsigned n = unsigned(std::min<qsizetype>(data.size() - done, 1 << 20));
        if (zipWriteInFileInZip(out, data.constData() + done, n) != ZIP_OK)
            return false;
        done += n;
    }
    return true;
}

}  // namespace

QByteArray placeholderPicture(const QByteArray& format, int k) {
    QImage image(1, 1, QImage::Format_RGB32);
    image.fill(Qt::white);
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format.constData());
    // Readers stop at the end of the image; the trailing mark only makes the bytes unique.
    data += QByteArray("\0tavrona-picture-", 17) + QByteArray::number(k);
    return data;
}

QByteArray absoluteAnchors(const QByteArray& drawingXml, const QList<AnchorBox>& boxes) {
    static const QRegularExpression anchor(
        QStringLiteral("<xdr:twoCellAnchor\\b[^>]*>\\s*<xdr:from>.*?</xdr:from>\\s*<xdr:to>.*?</xdr:to>(.*?)"
                       "</xdr:twoCellAnchor>"),
        QRegularExpression::DotMatchesEverythingOption);
    static const QRegularExpression offset(QStringLiteral("<a:off x=\"\\d+\" y=\"\\d+\"/>"));
    static const QRegularExpression extent(QStringLiteral("<a:ext cx=\"\\d+\" cy=\"\\d+\"/>"));

    const QString xml = QString::fromUtf8(drawingXml);
    QString result;
    qsizetype from = 0;
    int k = 0;
    for (auto it = anchor.globalMatch(xml); it.hasNext(); ++k) {
        const QRegularExpressionMatch m = it.next();
        if (k >= boxes.size())
            break;
        const AnchorBox& b = boxes[k];
        // The drawing's own box is the picture before it is turned, about the same centre;
        // the anchor is what the sheet shows.
        const bool quarter = b.degrees % 180 != 0;
        const qint64 cx = quarter ? b.cy : b.cx, cy = quarter ? b.cx : b.cy;
        const qint64 x = b.x + (b.cx - cx) / 2, y = b.y + (b.cy - cy) / 2;
        QString turn;
        if (b.degrees)
            turn += QStringLiteral(" rot=\"%1\"").arg(qint64(b.degrees) * 60000);
        if (b.flipH)
            turn += QStringLiteral(" flipH=\"1\"");
        if (b.flipV)
            turn += QStringLiteral(" flipV=\"1\"");
        QString body = m.captured(1);
        body.replace(QStringLiteral("<a:xfrm>"), QStringLiteral("<a:xfrm%1>").arg(turn));
        body.replace(offset, QStringLiteral("<a:off x=\"%1\" y=\"%2\"/>").arg(x).arg(y));
        body.replace(extent, QStringLiteral("<a:ext cx=\"%1\" cy=\"%2\"/>").arg(cx).arg(cy));
        result += xml.mid(from, m.capturedStart() - from);
        result +=
            QStringLiteral("<xdr:absoluteAnchor><xdr:pos x=\"%1\" y=\"%2\"/><xdr:ext cx=\"%3\" cy=\"%4\"/>")
                .arg(b.x)
                .arg(b.y)
                .arg(b.cx)
                .arg(b.cy);
        result += body + QStringLiteral("</xdr:absoluteAnchor>");
        from = m.capturedEnd();
    }
    if (k != boxes.size())
        fail(QStringLiteral("シートの画像の配置を書けませんでした（画像 %1 枚に対し配置 %2 件）。")
                 .arg(boxes.size())
                 .arg(k));
    result += xml.mid(from);
    return result.toUtf8();
}

namespace {

// Writes a picture file as a stored entry, read a piece at a time.
void writeFileEntry(zipFile out, const QByteArray& name, const QByteArray& path, const QString& output) {
    QFile file;
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || !file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        if (fd >= 0)
            ::close(fd);
        fail(QStringLiteral("画像を読めませんでした。\r\n%1").arg(QFile::decodeName(path)));
    }
    writeEntry(out, name, true, file.size(), output, [&](zipFile z) {
        QByteArray chunk;
        while (!(chunk = file.read(1 << 20)).isEmpty())
            if (!writeBytes(z, chunk))
                return false;
        return file.error() == QFileDevice::NoError;
    });
}

// The draft workbook copied entry by entry into the output: placeholders replaced by the
// pictures they stand for and the drawing's anchors made absolute.
class Repackager final {
public:
    Repackager(const QString& output, const QList<AnchorBox>& boxes, const QList<MediaSource>& media)
        : m_output(output), m_boxes(boxes), m_media(media), m_used(media.size(), false) {
        for (qsizetype i = 0; i < media.size(); ++i)
            m_byPlaceholder.insert(media[i].placeholder, i);
    }

    void copyEntry(zipFile out, const QByteArray& name, QByteArray data) {
        if (name.startsWith("xl/media/")) {
            copyMedia(out, name, data);
            return;
        }
        if (name.startsWith("xl/drawings/drawing") && name.endsWith(".xml")) {
            data = absoluteAnchors(data, m_boxes);
            m_drawingSeen = true;
        }
        writeEntry(out, name, false, data.size(), m_output, [&](zipFile z) { return writeBytes(z, data); });
    }

    // Every picture found its placeholder, and the drawing that places them was there.
    bool allPlaced() const { return (m_boxes.isEmpty() || m_drawingSeen) && !m_used.contains(false); }

private:
    void copyMedia(zipFile out, const QByteArray& name, const QByteArray& data) {
        const auto found = m_byPlaceholder.constFind(data);
        if (found == m_byPlaceholder.cend()) {
            writeEntry(out, name, true, data.size(), m_output,
                       [&](zipFile z) { return writeBytes(z, data); });
            return;
        }
        const MediaSource& source = m_media[*found];
        m_used[*found] = true;
        if (source.file.isEmpty())
            writeEntry(out, name, true, source.data.size(), m_output,
                       [&](zipFile z) { return writeBytes(z, source.data); });
        else
            writeFileEntry(out, name, source.file, m_output);
    }

    const QString& m_output;
    const QList<AnchorBox>& m_boxes;
    const QList<MediaSource>& m_media;
    QHash<QByteArray, qsizetype> m_byPlaceholder;
    QList<bool> m_used;
    bool m_drawingSeen = false;
};

}  // namespace

void finishPackage(const QString& draft, const QString& output, const QList<AnchorBox>& boxes,
                   const QList<MediaSource>& media) {
    Repackager repackager(output, boxes, media);
    std::unique_ptr<void, UnzipCloser> in(unzOpen64(QFile::encodeName(draft).constData()));
    if (!in)
        failToReadDraft(draft);
    std::unique_ptr<void, ZipCloser> out(
        zipOpen64(QFile::encodeName(output).constData(), APPEND_STATUS_CREATE));
    if (!out)
        fail(writeFailure(output));

    int rc = unzGoToFirstFile(in.get());
    for (; rc == UNZ_OK; rc = unzGoToNextFile(in.get())) {
        unz_file_info64 info{};
        char nameBuffer[1024];
        if (unzGetCurrentFileInfo64(in.get(), &info, nameBuffer, sizeof nameBuffer, nullptr, 0, nullptr, 0) !=
            UNZ_OK)
            failToReadDraft(draft);
        const QByteArray name(nameBuffer);
        repackager.copyEntry(out.get(), name, readEntry(in.get(), info.uncompressed_size, draft));
    }
    if (rc != UNZ_END_OF_LIST_OF_FILE)
        failToReadDraft(draft);
    if (!repackager.allPlaced())
        fail(QStringLiteral("シートの画像を書き込めませんでした。"));
    if (zipClose(out.release(), nullptr) != ZIP_OK)
        fail(writeFailure(output));
}

}  // namespace sheet
