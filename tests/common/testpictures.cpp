#include "testpictures.h"

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QTest>

namespace testpictures {

namespace {

quint32 crc32(const QByteArray& data) {
    quint32 crc = 0xffffffffu;
    for (char ch : data) {
        crc ^= quint8(ch);
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

}  // namespace

void writeBytes(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

QByteArray fileBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QByteArray pngHeaderOnly(quint32 width, quint32 height) {
    auto be = [](quint32 v) {
        QByteArray b(4, 0);
        for (int i = 0; i < 4; ++i)
            b[i] = char(v >> (24 - 8 * i));
        return b;
    };
    QByteArray ihdr = "IHDR" + be(width) + be(height) + QByteArray("\x08\x00\x00\x00\x00", 5);
    const QByteArray idat = "IDAT" + QByteArray(16, 0);
    return QByteArray("\x89PNG\r\n\x1a\n", 8) + be(13) + ihdr + be(crc32(ihdr)) + be(16) + idat +
           be(crc32(idat));
}

QByteArray gifHeaderOnly(quint16 width, quint16 height) {
    auto le = [](quint16 v) { return QByteArray(1, char(v & 0xff)) + QByteArray(1, char(v >> 8)); };
    return "GIF89a" + le(width) + le(height) + QByteArray("\x00\x00\x00", 3) + QByteArray(1, '\x2c') + le(0) +
           le(0) + le(width) + le(height) + QByteArray("\x00\x02\x02\x44\x01\x00\x3b", 7);
}

QByteArray bmpHeaderOnly(quint32 width, quint32 height) {
    auto le = [](quint32 v, int n) {
        QByteArray b;
        for (int i = 0; i < n; ++i)
            b += char((v >> (8 * i)) & 0xff);
        return b;
    };
    QByteArray info = le(40, 4) + le(width, 4) + le(height, 4) + le(1, 2) + le(24, 2) + le(0, 4) + le(0, 4) +
                      le(2835, 4) + le(2835, 4) + le(0, 4) + le(0, 4);
    const QByteArray pixels(100, '\x7f');
    return "BM" + le(14 + 40 + 100, 4) + le(0, 4) + le(14 + 40, 4) + info + pixels;
}

QByteArray encoded(const QImage& picture, const char* format) {
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    picture.save(&buffer, format);
    return data;
}

QByteArray jpegDeclaring(quint16 width, quint16 height) {
    QImage img(16, 16, QImage::Format_RGB32);
    img.fill(Qt::gray);
    QByteArray data = encoded(img, "jpeg");
    const qsizetype sof = data.indexOf(QByteArray("\xff\xc0", 2));
    if (sof < 0)
        return {};
    data[sof + 5] = char(height >> 8);
    data[sof + 6] = char(height & 0xff);
    data[sof + 7] = char(width >> 8);
    data[sof + 8] = char(width & 0xff);
    return data;
}

}  // namespace testpictures
