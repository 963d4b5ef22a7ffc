#pragma once
// Checking a picture without decoding its pixels: the file's structure is walked from its header
// to its end, so that a picture cut short, damaged in its header or declaring a size too large
// is refused in a fraction of a millisecond, where a decode takes tens of milliseconds for a
// phone photo. The card sheet takes pictures checked so; the image area still decodes them.

#include <QByteArray>
#include <QByteArrayView>
#include <QSize>
#include <QString>

namespace picturecheck {

struct CheckedPicture {
    QByteArray format;       // "jpeg", "png", "gif" or "bmp", from the file's name
    QSize declared;          // the size the header declares, as stored
    int transformation = 0;  // QImageIOHandler::Transformations the picture carries
};

// Checks the picture at nativePath as the image area would show it to fit `area`: the same file
// checks and size budget as pictureloader::loadFitted, then the structure of the whole file
// (JPEG: the markers up to the first scan and the end-of-image marker after it; PNG: the chunks
// with the header's and the end's checksums; GIF: the blocks up to the end; bitmaps: the pixel
// rows the header declares). Throws PictureLoadError with a message naming the file.
CheckedPicture checkPicture(const QByteArray& nativePath, const QString& name, const QSize& area);

// What is wrong with the structure of these bytes for the format, in Japanese; empty when whole.
QString structureProblem(const QByteArray& format, QByteArrayView data);

}  // namespace picturecheck
