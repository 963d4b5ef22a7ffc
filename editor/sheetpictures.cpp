#include "sheetpictures.h"

#include "picturefolder.h"

#include <QBuffer>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QImageIOHandler>
#include <QImageReader>

namespace sheet {

namespace {

constexpr double kPictureHeight = 70.0;

// Reads the header only for JPEG and PNG, which the workbook takes as they are; anything else
// Qt can decode is converted to PNG, so that the workbook holds only forms every spreadsheet
// program reads.
bool readPicture(const QString& path, SheetPicture& picture) {
    QImageReader reader(path);
    reader.setDecideFormatFromContent(true);
    if (!reader.canRead())
        return false;
    const QSize size = reader.size();
    const QByteArray format = reader.format();
    if (format == "jpeg" || format == "png") {
        if (!size.isValid() || size.isEmpty())
            return false;
        picture.format = format;
        picture.pixels = size;
        picture.transformation = int(reader.transformation());
        return true;
    }
    reader.setAutoTransform(true);
    QImage image;
    if (!reader.read(&image) || image.isNull())
        return false;
    QBuffer buffer(&picture.pngData);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "png"))
        return false;
    picture.format = "png";
    picture.pixels = image.size();
    return true;
}

}  // namespace

QList<SheetPicture> collectPictures(const QString& folder, QStringList* skipped) {
    QList<SheetPicture> pictures;
    QStringList names;
    picturefolder::listEntries(folder, names);
    for (const QString& name : std::as_const(names)) {
        SheetPicture picture;
        picture.entry = name;
        picture.path = QDir(folder).filePath(name);
        if (QFileInfo(picture.path).isFile() && readPicture(picture.path, picture))
            pictures << picture;
        else if (skipped)
            *skipped << picture.entry;
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
    return {10.0 + 150.0 * (k % 3), 250.0 + 100.0 * (k / 3)};
}

QSizeF pictureSize(const QSize& pixels) {
    return {kPictureHeight * pixels.width() / pixels.height(), kPictureHeight};
}

}  // namespace sheet
