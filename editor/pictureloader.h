#pragma once
// Reading a card's picture for the image area: decoded straight to the size it is shown at,
// so that large photos and scans load quickly and within memory limits.

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QString>

#include <stdexcept>

// A picture that cannot be shown; what() is a message for the user, in UTF-8.
class PictureLoadError final : public std::runtime_error {
public:
    explicit PictureLoadError(const QString& text) : std::runtime_error(text.toStdString()) {}
};

namespace pictureloader {

// Pictures declaring more than this are refused before decoding: such files are nearly always
// broken or made to exhaust the decoder, and would take seconds even when read scaled.
inline constexpr qint64 kMaxPixels = 100'000'000;
inline constexpr int kMaxSide = 30000;

// The decoder for the file name's extension (after the last dot), letter case ignored:
// "jpeg", "bmp", "png" or "gif"; empty when none takes it.
QByteArray formatForName(const QString& path);

// Reads the picture at path scaled to the largest size that fits `area` with its proportions
// kept. Throws PictureLoadError with a message naming the file when it cannot be shown.
QImage loadFitted(const QString& path, const QSize& area);

}  // namespace pictureloader
