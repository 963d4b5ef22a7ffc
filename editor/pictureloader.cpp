#include "pictureloader.h"

#include <QFileInfo>
#include <QImageReader>

namespace pictureloader {

namespace {

// Raises the reader's allocation limit for one read: pictures are capped by kMaxPixels
// already, and a large PNG or bitmap has to be decoded whole before it is scaled.
class AllocationLimit final {
public:
    explicit AllocationLimit(int megabytes) : m_saved(QImageReader::allocationLimit()) {
        QImageReader::setAllocationLimit(megabytes);
    }
    ~AllocationLimit() { QImageReader::setAllocationLimit(m_saved); }
    AllocationLimit(const AllocationLimit&) = delete;
    AllocationLimit& operator=(const AllocationLimit&) = delete;

private:
    int m_saved;
};

}  // namespace

QByteArray formatForName(const QString& path) {
    const QString name = QFileInfo(path).fileName();
    const int dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot < 0)
        return {};
    const QString ext = name.mid(dot + 1).toLower();
    if (ext == QLatin1String("jpg") || ext == QLatin1String("jpeg"))
        return "jpeg";
    if (ext == QLatin1String("bmp") || ext == QLatin1String("png") || ext == QLatin1String("gif"))
        return ext.toLatin1();
    return {};
}

QImage loadFitted(const QString& path, const QSize& area) {
    const QFileInfo info(path);
    const QString name = info.fileName();
    // Only plain files are opened: a folder or a named pipe bearing a picture's name must not
    // reach the decoder (a pipe would block the window).
    if (!info.exists())
        throw PictureLoadError(QStringLiteral("ファイル「%1」が見つかりません。").arg(name));
    if (info.isDir())
        throw PictureLoadError(QStringLiteral("「%1」はフォルダのため表示できません。").arg(name));
    if (!info.isFile())
        throw PictureLoadError(
            QStringLiteral("「%1」は通常のファイルではないため表示できません。").arg(name));
    if (info.size() == 0)
        throw PictureLoadError(QStringLiteral("ファイル「%1」は空です（0 バイト）。").arg(name));

    const QByteArray format = formatForName(path);
    if (format.isEmpty())
        throw PictureLoadError(QStringLiteral("「%1」は表示できる画像の形式ではありません（表示できるのは "
                                              "jpg、jpeg、bmp、png、gif です）。")
                                   .arg(name));

    QImageReader reader(path, format);
    reader.setAutoDetectImageFormat(false);  // the extension decides the decoder
    reader.setAutoTransform(true);           // phone photos carry their orientation apart

    const QSize declared = reader.size();
    if (!declared.isValid() || declared.isEmpty())
        throw PictureLoadError(QStringLiteral("画像「%1」を読み込めません。ファイルが壊れているか、"
                                              "中身が拡張子と違う形式です。（%2）")
                                   .arg(name, reader.errorString()));
    if (declared.width() > kMaxSide || declared.height() > kMaxSide ||
        qint64(declared.width()) * declared.height() > kMaxPixels)
        throw PictureLoadError(
            QStringLiteral("画像「%1」は大きすぎるため表示できません（%2 × %3 ピクセル）。")
                .arg(name)
                .arg(declared.width())
                .arg(declared.height()));

    // The scaled size applies before the orientation is applied, so a quarter turn swaps the
    // sides of the area it has to fit.
    const bool turned = reader.transformation() & QImageIOHandler::TransformationRotate90;
    const QSize target = turned ? area.transposed() : area;
    if (!target.isEmpty()) {
        QSize fitted = declared.scaled(target, Qt::KeepAspectRatio);
        fitted = fitted.expandedTo(QSize(1, 1));
        if (fitted != declared)
            reader.setScaledSize(fitted);
    }

    QImage picture;
    {
        const AllocationLimit limit(512);
        picture = reader.read();
    }
    if (picture.isNull())
        throw PictureLoadError(
            QStringLiteral("画像「%1」を読み込めません。（%2）").arg(name, reader.errorString()));
    return picture;
}

}  // namespace pictureloader
