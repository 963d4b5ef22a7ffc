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
    QString entry;       // the entry's bare name in the picture folder, as shown
    QByteArray path;     // the file itself, as the file system names it
    QByteArray format;   // "jpeg" or "png": the form the workbook stores it in
    QSize pixels;        // the picture's own size, as stored
    QByteArray pngData;  // the picture converted to PNG when its file is neither JPEG nor PNG
    // How the picture is turned to stand as it was taken (phone photos carry this apart from
    // their pixels); spreadsheet programs ignore it in the file, so the sheet turns the picture.
    int transformation = 0;  // QImageIOHandler::Transformations

    // Size as the picture stands once turned.
    QSize uprightPixels() const;
};

// An entry whose name ends like a picture but which cannot be shown, with the reason.
struct RefusedPicture {
    QString entry;
    QString reason;  // the picture reader's message, naming the entry
};

// Lists the folder as the editor's picture list does (the file system's order, every entry but
// "." and "..") and keeps the pictures the image area can show, checked by the same file and size
// rules and by the structure of the whole file, without decoding JPEG and PNG pixels.
// Entries whose names end like a picture (jpg, jpeg, png, bmp, gif, letter case ignored) but
// that cannot be shown go to refused; the others (subfolders, hidden files, thumbnail caches,
// text files...) go to skipped. A missing folder gives no pictures.
QList<SheetPicture> collectPictures(const QString& folder, QStringList* skipped = nullptr,
                                    QList<RefusedPicture>* refused = nullptr);

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
