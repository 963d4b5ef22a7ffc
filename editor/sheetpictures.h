#pragma once
// The pictures of a card sheet: which entries of the picture folder go on the sheet, in which
// form, and where each one stands.

#include <QByteArray>
#include <QList>
#include <QPointF>
#include <QSize>
#include <QSizeF>
#include <QString>
#include <QStringList>

namespace sheet {

struct SheetPicture {
    QString entry;       // the entry's bare name in the picture folder
    QString path;        // the file itself
    QByteArray format;   // "jpeg" or "png": the form the workbook stores it in
    QSize pixels;        // the picture's own size, as stored
    QByteArray pngData;  // the picture converted to PNG when its file is neither JPEG nor PNG
    // How the picture is turned to stand as it was taken (phone photos carry this apart from
    // their pixels); spreadsheet programs ignore it in the file, so the sheet turns the picture.
    int transformation = 0;  // QImageIOHandler::Transformations

    // Size as the picture stands once turned.
    QSize uprightPixels() const;
};

// Lists the folder as the editor's picture list does (the file system's order, every entry but
// "." and "..") and keeps the entries that can be read as pictures. The others (subfolders,
// thumbnail caches, text files...) go to skipped. A missing folder gives no pictures.
QList<SheetPicture> collectPictures(const QString& folder, QStringList* skipped = nullptr);

// Pictures stand three to a row, in points from the sheet's top-left corner.
QPointF picturePosition(int k);
// Set to width 70 and then height 70 with the proportions kept: the picture ends 70 points high.
QSizeF pictureSize(const QSize& pixels);

// The turn of a picture on the sheet: flips first, then a clockwise rotation, as drawings do.
struct PictureTurn {
    int degrees = 0;  // 0, 90 or 270
    bool flipH = false;
    bool flipV = false;
};
PictureTurn pictureTurn(int transformation);

}  // namespace sheet
