#include "sheetpictures.h"

#include "picturecheck.h"
#include "picturefolder.h"
#include "pictureloader.h"

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QImageIOHandler>
#include <QImageReader>

#include <sys/stat.h>

namespace sheet {

namespace {

constexpr double kPictureHeight = 70.0;
// The size the picture is checked at: the editor's image area, so that the sheet refuses the
// pictures too large for the editor to show.
constexpr QSize kCheckArea(432, 241);

bool isHidden(const QString& name) {
    return name.startsWith(QLatin1Char('.'));
}

bool isFolder(const QByteArray& path) {
    struct stat st {};
    return ::stat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Checks the picture as the image area would take it, without decoding JPEG and PNG, which the
// workbook takes as they are; bitmaps and GIF are converted to PNG, so that the workbook holds
// only forms every spreadsheet program reads.
void describePicture(SheetPicture& picture) {
    const picturecheck::CheckedPicture checked =
        picturecheck::checkPicture(picture.path, picture.entry, kCheckArea);
    if (checked.format == "jpeg" || checked.format == "png") {
        picture.format = checked.format;
        picture.pixels = checked.declared;
        picture.transformation = checked.transformation;
        return;
    }
    QFile file;
    pictureloader::openPlainFile(picture.path, picture.entry, file);
    QImageReader reader(&file, checked.format);
    reader.setAutoDetectImageFormat(false);
    reader.setAutoTransform(true);
    QImage image;
    if (!reader.read(&image) || image.isNull())
        throw PictureLoadError(
            QStringLiteral("画像「%1」を読み込めません。（%2）").arg(picture.entry, reader.errorString()));
    QBuffer buffer(&picture.pngData);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "png"))
        throw PictureLoadError(QStringLiteral("画像「%1」を変換できません。").arg(picture.entry));
    picture.format = "png";
    picture.pixels = image.size();
}

}  // namespace

QList<SheetPicture> collectPictures(const QString& folder, QStringList* skipped,
                                    QList<RefusedPicture>* refused) {
    QList<SheetPicture> pictures;
    QList<picturefolder::Entry> entries;
    picturefolder::listEntries(folder, entries);
    for (const picturefolder::Entry& entry : std::as_const(entries)) {
        SheetPicture picture;
        picture.entry = entry.name;
        picture.path = picturefolder::nativePath(folder, entry.raw);
        if (isHidden(entry.name) || pictureloader::formatForName(entry.name).isEmpty() ||
            isFolder(picture.path)) {
            if (skipped)
                *skipped << entry.name;
            continue;
        }
        try {
            describePicture(picture);
            pictures << picture;
        } catch (const PictureLoadError& e) {
            if (refused)
                *refused << RefusedPicture{entry.name, QString::fromUtf8(e.what())};
        }
    }
    return pictures;
}

QSize SheetPicture::uprightPixels() const {
    return pictureTurn(transformation).degrees % 180 ? pixels.transposed() : pixels;
}

PictureTurn pictureTurn(int transformation) {
    // Mirror and flip come before the quarter turn; all three bits together mean a turn the
    // other way round.
    if (transformation == QImageIOHandler::TransformationRotate270)
        return {270, false, false};
    return {transformation & QImageIOHandler::TransformationRotate90 ? 90 : 0,
            bool(transformation & QImageIOHandler::TransformationMirror),
            bool(transformation & QImageIOHandler::TransformationFlip)};
}

QPointF picturePosition(int k) {
    // Three pictures a row.
    const int row = k / 3;
    const int column = k % 3;
    return {10.0 + 150.0 * column, 250.0 + 100.0 * row};
}

QSizeF pictureSize(const QSize& pixels) {
    return {kPictureHeight * pixels.width() / pixels.height(), kPictureHeight};
}

}  // namespace sheet
