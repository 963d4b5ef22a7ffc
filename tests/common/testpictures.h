#pragma once
// Picture files for tests: bytes written as they are, and tiny files that declare huge pictures,
// as a decompression bomb looks to a reader before decoding.

#include <QByteArray>
#include <QImage>
#include <QString>

namespace testpictures {

void writeBytes(const QString& path, const QByteArray& bytes);
QByteArray fileBytes(const QString& path);  // empty when the file cannot be read

// A PNG that declares width x height but holds only a header.
QByteArray pngHeaderOnly(quint32 width, quint32 height);
// A GIF that declares width x height and holds one empty frame: a few dozen bytes.
QByteArray gifHeaderOnly(quint16 width, quint16 height);
// A 24-bit bitmap header declaring width x height with a hundred bytes of pixels.
QByteArray bmpHeaderOnly(quint32 width, quint32 height);
// The picture written in the format ("JPG", "PNG"...), as a file of it holds it.
QByteArray encoded(const QImage& picture, const char* format);
// A small real JPEG whose frame header is changed to declare width x height.
QByteArray jpegDeclaring(quint16 width, quint16 height);

}  // namespace testpictures
