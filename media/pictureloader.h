#pragma once
// Reading a card's picture for the image area: decoded straight to the size it is shown at,
// so that large photos and scans load quickly and within memory limits. The card sheet checks
// its pictures by the same file and size rules.

#include <QByteArray>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QSize>
#include <QString>

#include <stdexcept>

// A picture that cannot be shown; what() is a message for the user, in UTF-8.
class PictureLoadError final : public std::runtime_error {
public:
    explicit PictureLoadError(const QString& text) : std::runtime_error(text.toStdString()) {}
};

namespace pictureloader {

// Raises the image reader's allocation limit (process-wide, Qt's default is lower than a large
// scan decoded whole) for one read, to a budget the caller has checked the picture against.
// Readers on several threads at once (the background reading of a stack beside the picture on
// screen) share it: the highest limit asked for holds until the last of them ends, then the
// limit found before the first one is put back.
class ReaderAllocationLimit final {
public:
    explicit ReaderAllocationLimit(int megabytes);
    ~ReaderAllocationLimit();
    ReaderAllocationLimit(const ReaderAllocationLimit&) = delete;
    ReaderAllocationLimit& operator=(const ReaderAllocationLimit&) = delete;
};

// Pictures declaring more than this are refused before decoding: such files are nearly always
// broken or made to exhaust the decoder, and would take seconds even when read scaled.
inline constexpr qint64 kMaxPixels = 100'000'000;
inline constexpr int kMaxSide = 30000;
// Memory the decoder may take for one picture, at four bytes a pixel. JPEG is decoded at up to
// an eighth of its sides when shown small; the other formats are decoded whole before scaling.
inline constexpr qint64 kDecodeBudgetBytes = 128LL * 1024 * 1024;

// The decoder for the file name's extension (after the last dot), letter case ignored:
// "jpeg", "bmp", "png" or "gif"; empty when none takes it.
QByteArray formatForName(const QString& path);

// Bytes the decoder needs for a picture of this format and declared size read to fit `area`.
qint64 decodeCost(const QByteArray& format, const QSize& declared, const QSize& area);

// Opens a picture file for reading after the checks every reader of pictures makes first: it
// exists, is a plain file (a named pipe would block), is not empty and is named like a picture.
// Throws PictureLoadError with a message naming the file.
void openPlainFile(const QByteArray& nativePath, const QString& name, QFile& file);
// The size the picture's header declares; throws PictureLoadError when it declares none.
QSize readDeclaredSize(QImageReader& reader, const QString& name);
// Throws PictureLoadError when a picture of this declared size is too large to be read to fit
// `target` (the area with the picture's quarter turn applied).
void checkDeclaredSize(const QString& name, const QByteArray& format, const QSize& declared,
                       const QSize& target);

// Reads the picture at path scaled to the largest size that fits `area` with its proportions
// kept. Throws PictureLoadError with a message naming the file when it cannot be shown: missing,
// not a plain file, unreadable, empty, of no known format, too large, or damaged (a decoder that
// reports missing or corrupt data counts as a failure, even where it would return an image).
QImage loadFitted(const QString& path, const QSize& area);
// The same for a file named by its bytes as the file system holds them (names that are no
// valid UTF-8); `name` is how messages name it.
QImage loadFitted(const QByteArray& nativePath, const QString& name, const QSize& area);

}  // namespace pictureloader
