#include "picturecheck.h"

#include "pictureloader.h"

#include <QFile>
#include <QImageIOHandler>
#include <QImageReader>

#include <zlib.h>

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>

namespace picturecheck {

namespace {

// Random access to the bytes of a picture, in memory or in a file. A file is read in windows
// with pread rather than mapped: a picture on a shared folder that another desk shortens while
// it is checked must make the check fail, not the program (a mapping would raise SIGBUS).
class Bytes final {
public:
    explicit Bytes(QByteArrayView memory) : m_memory(memory), m_size(memory.size()) {}
    Bytes(int fd, qint64 size) : m_fd(fd), m_size(size) {}

    qint64 size() const { return m_size; }

    // The len bytes at pos, valid until the next call; null when the data ends first.
    const uchar* at(qint64 pos, qint64 len) {
        if (pos < 0 || len < 0 || pos + len > m_size)
            return nullptr;
        if (m_fd < 0)
            return reinterpret_cast<const uchar*>(m_memory.data()) + pos;
        if (pos < m_windowPos || pos + len > m_windowPos + m_window.size()) {
            const qint64 want = std::min(std::max(len, kWindow), m_size - pos);
            m_window.resize(want);
            qint64 got = 0;
            while (got < want) {
                const ssize_t n = ::pread(m_fd, m_window.data() + got, std::size_t(want - got), pos + got);
                if (n < 0 && errno == EINTR)
                    continue;
                if (n <= 0)
                    break;
                got += n;
            }
            m_window.resize(got);
            m_windowPos = pos;
            if (got < len)
                return nullptr;
        }
        return reinterpret_cast<const uchar*>(m_window.constData()) + (pos - m_windowPos);
    }

    // The byte at pos, or -1 past the end.
    int byte(qint64 pos) {
        const uchar* p = at(pos, 1);
        return p ? *p : -1;
    }

    std::optional<quint32> bigEndian(qint64 pos, int bytes) {
        const uchar* p = at(pos, bytes);
        if (!p)
            return std::nullopt;
        quint32 v = 0;
        for (int i = 0; i < bytes; ++i)
            v = (v << 8) | p[i];
        return v;
    }

    std::optional<quint32> littleEndian(qint64 pos, int bytes) {
        const uchar* p = at(pos, bytes);
        if (!p)
            return std::nullopt;
        quint32 v = 0;
        for (int i = bytes - 1; i >= 0; --i)
            v = (v << 8) | p[i];
        return v;
    }

    // The position of the next byte b at or after from, or -1.
    qint64 find(qint64 from, uchar b) {
        while (from < m_size) {
            const qint64 len = std::min(kWindow, m_size - from);
            const uchar* p = at(from, len);
            if (!p)
                return -1;
            if (const void* hit = std::memchr(p, b, std::size_t(len)))
                return from + (static_cast<const uchar*>(hit) - p);
            from += len;
        }
        return -1;
    }

private:
    static constexpr qint64 kWindow = 256 * 1024;
    QByteArrayView m_memory;
    int m_fd = -1;
    qint64 m_size = 0;
    QByteArray m_window;
    qint64 m_windowPos = 0;
};

QString cutShort() {
    return QStringLiteral("画像が途中で終わっています");
}

QString damaged() {
    return QStringLiteral("画像の構造が壊れています");
}

// ---- JPEG ----------------------------------------------------------------------------------

// Markers followed by a two-byte length and that many bytes (the length included).
bool isSegment(int m) {
    return (m >= 0xC0 && m <= 0xCF) || (m >= 0xDA && m <= 0xDD) || (m >= 0xE0 && m <= 0xEF) || m == 0xFE;
}

bool isFrameStart(int m) {
    return m >= 0xC0 && m <= 0xCF && m != 0xC4 && m != 0xC8 && m != 0xCC;
}

// The frame kinds the decoder reads: baseline, extended and progressive, Huffman or arithmetic.
bool isDecodedFrame(int m) {
    return m == 0xC0 || m == 0xC1 || m == 0xC2 || m == 0xC9 || m == 0xCA;
}

// Skips the segment whose marker ends just before pos; returns the position after it.
std::optional<qint64> skipSegment(Bytes& b, qint64 pos, QString& problem) {
    const std::optional<quint32> len = b.bigEndian(pos, 2);
    if (!len) {
        problem = cutShort();
        return std::nullopt;
    }
    if (*len < 2) {
        problem = damaged();
        return std::nullopt;
    }
    if (pos + *len > b.size()) {
        problem = cutShort();
        return std::nullopt;
    }
    return pos + *len;
}

QString jpegProblem(Bytes& b) {
    if (b.byte(0) != 0xFF || b.byte(1) != 0xD8)
        return QStringLiteral("JPEG の始まりがありません");
    // The markers up to the first scan, as the decoder reads them: bytes between segments are
    // passed over, as the decoder does with a warning.
    qint64 pos = 2;
    bool frame = false;
    for (;;) {
        pos = b.find(pos, 0xFF);
        if (pos < 0)
            return cutShort();
        while (b.byte(pos) == 0xFF)
            ++pos;
        const int m = b.byte(pos++);
        if (m < 0)
            return cutShort();
        if (m == 0x01 || (m >= 0xD0 && m <= 0xD7))
            continue;
        if (m == 0xD9)
            return QStringLiteral("画像データがありません");
        if (!isSegment(m))
            return damaged();
        if (isFrameStart(m)) {
            if (!isDecodedFrame(m))
                return QStringLiteral("対応していない JPEG の形式です");
            frame = true;
        }
        QString problem;
        const std::optional<qint64> next = skipSegment(b, pos, problem);
        if (!next)
            return problem;
        pos = *next;
        if (m == 0xDA) {
            if (!frame)
                return damaged();
            break;
        }
    }
    // A file that ends with the end-of-image marker is whole: inside coded data a 0xFF byte is
    // always followed by 0x00 or a restart marker.
    if (b.size() - 2 >= pos && b.byte(b.size() - 2) == 0xFF && b.byte(b.size() - 1) == 0xD9)
        return {};
    // Otherwise (data after the image, as phones append a video or padding) the coded data and
    // the segments between scans are walked to the end-of-image marker.
    for (;;) {
        pos = b.find(pos, 0xFF);
        if (pos < 0)
            return cutShort();
        while (b.byte(pos) == 0xFF)
            ++pos;
        const int m = b.byte(pos++);
        if (m < 0)
            return cutShort();
        if (m == 0x00 || (m >= 0xD0 && m <= 0xD7))
            continue;
        if (m == 0xD9)
            return {};
        if (!isSegment(m))
            return damaged();
        QString problem;
        const std::optional<qint64> next = skipSegment(b, pos, problem);
        if (!next)
            return problem;
        pos = *next;
    }
}

// ---- PNG -----------------------------------------------------------------------------------

bool chunkCrcMatches(Bytes& b, qint64 pos, quint32 length) {
    const uchar* p = b.at(pos + 4, qint64(length) + 8);
    if (!p)
        return false;
    const uLong crc = crc32(crc32(0, nullptr, 0), p, uInt(length + 4));
    const uchar* stored = p + 4 + length;
    return crc ==
           ((quint32(stored[0]) << 24) | (quint32(stored[1]) << 16) | (quint32(stored[2]) << 8) | stored[3]);
}

QString pngProblem(Bytes& b) {
    const uchar* signature = b.at(0, 8);
    if (!signature || std::memcmp(signature, "\x89PNG\r\n\x1a\n", 8) != 0)
        return QStringLiteral("PNG の始まりがありません");
    qint64 pos = 8;
    bool first = true, data = false;
    for (;;) {
        const std::optional<quint32> length = b.bigEndian(pos, 4);
        const uchar* type = b.at(pos + 4, 4);
        if (!length || !type)
            return cutShort();
        if (*length > 0x7FFFFFFFu)
            return damaged();
        char name[4];
        std::memcpy(name, type, 4);
        for (const char c : name) {
            if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')))
                return damaged();
        }
        if (pos + 12 + qint64(*length) > b.size())
            return cutShort();
        const QByteArrayView kind(name, 4);
        if (first) {
            if (kind != "IHDR" || *length != 13 || !chunkCrcMatches(b, pos, *length))
                return damaged();
            first = false;
        } else if (kind == "IDAT") {
            data = true;
        } else if (kind == "IEND") {
            if (*length != 0 || !chunkCrcMatches(b, pos, 0))
                return damaged();
            return data ? QString() : QStringLiteral("画像データがありません");
        }
        pos += 12 + qint64(*length);
    }
}

// ---- GIF -----------------------------------------------------------------------------------

// Passes over a chain of sub-blocks ending with an empty one; false when the file ends first.
bool skipSubBlocks(Bytes& b, qint64& pos) {
    for (;;) {
        const int len = b.byte(pos++);
        if (len < 0)
            return false;
        if (len == 0)
            return true;
        pos += len;
    }
}

QString gifProblem(Bytes& b) {
    const uchar* header = b.at(0, 13);
    if (!header || (std::memcmp(header, "GIF87a", 6) != 0 && std::memcmp(header, "GIF89a", 6) != 0))
        return QStringLiteral("GIF の始まりがありません");
    qint64 pos = 13;
    if (header[10] & 0x80)
        pos += 3 << ((header[10] & 7) + 1);
    int images = 0;
    for (;;) {
        const int block = b.byte(pos++);
        // Some writers leave out the closing byte; a file that ends after a whole image reads.
        if (block < 0)
            return images > 0 ? QString() : cutShort();
        if (block == 0x3B)
            return images > 0 ? QString() : QStringLiteral("画像データがありません");
        if (block == 0x21) {
            ++pos;  // the extension's label
            if (!skipSubBlocks(b, pos))
                return cutShort();
        } else if (block == 0x2C) {
            const int flags = b.byte(pos + 8);
            if (flags < 0)
                return cutShort();
            pos += 9;
            if (flags & 0x80)
                pos += 3 << ((flags & 7) + 1);
            ++pos;  // the code size
            if (!skipSubBlocks(b, pos))
                return cutShort();
            ++images;
        } else {
            return damaged();
        }
    }
}

// ---- bitmaps -------------------------------------------------------------------------------

QString bmpProblem(Bytes& b) {
    const uchar* magic = b.at(0, 2);
    const std::optional<quint32> dataOffset = b.littleEndian(10, 4);
    const std::optional<quint32> headerSize = b.littleEndian(14, 4);
    if (!magic || magic[0] != 'B' || magic[1] != 'M')
        return QStringLiteral("ビットマップの始まりがありません");
    if (!dataOffset || !headerSize)
        return cutShort();
    qint64 width = 0, height = 0, bits = 0, compression = 0;
    if (*headerSize == 12) {
        const auto w = b.littleEndian(18, 2), h = b.littleEndian(20, 2), bpp = b.littleEndian(24, 2);
        if (!w || !h || !bpp)
            return cutShort();
        width = *w;
        height = *h;
        bits = *bpp;
    } else if (*headerSize >= 40) {
        const auto w = b.littleEndian(18, 4), h = b.littleEndian(22, 4), bpp = b.littleEndian(28, 2),
                   comp = b.littleEndian(30, 4);
        if (!w || !h || !bpp || !comp)
            return cutShort();
        width = qAbs(qint64(qint32(*w)));
        height = qAbs(qint64(qint32(*h)));  // negative: rows stored top down
        bits = *bpp;
        compression = *comp;
    } else {
        return damaged();
    }
    const qint64 pixelsStart = std::max<qint64>(*dataOffset, 14 + qint64(*headerSize));
    if (pixelsStart >= b.size())
        return cutShort();
    // Uncompressed rows (plain or with colour masks) have a known length; run-length data does not.
    if (compression == 0 || compression == 3 || compression == 6) {
        const qint64 rowBytes = (width * bits + 31) / 32 * 4;
        if (pixelsStart + rowBytes * height > b.size())
            return cutShort();
    }
    return {};
}

QString problemOf(const QByteArray& format, Bytes& bytes) {
    if (format == "jpeg")
        return jpegProblem(bytes);
    if (format == "png")
        return pngProblem(bytes);
    if (format == "gif")
        return gifProblem(bytes);
    if (format == "bmp")
        return bmpProblem(bytes);
    return QStringLiteral("表示できる画像の形式ではありません");
}

}  // namespace

QString structureProblem(const QByteArray& format, QByteArrayView data) {
    Bytes bytes(data);
    return problemOf(format, bytes);
}

CheckedPicture checkPicture(const QByteArray& nativePath, const QString& name, const QSize& area) {
    QFile file;
    pictureloader::openPlainFile(nativePath, name, file);
    CheckedPicture checked;
    checked.format = pictureloader::formatForName(name);
    {
        QImageReader reader(&file, checked.format);
        reader.setAutoDetectImageFormat(false);
        checked.declared = pictureloader::readDeclaredSize(reader, name);
        checked.transformation = int(reader.transformation());
    }
    const bool turned = checked.transformation & QImageIOHandler::TransformationRotate90;
    pictureloader::checkDeclaredSize(name, checked.format, checked.declared,
                                     turned ? area.transposed() : area);

    Bytes bytes(file.handle(), file.size());
    const QString problem = problemOf(checked.format, bytes);
    if (!problem.isEmpty())
        throw PictureLoadError(
            QStringLiteral(
                "画像「%1」を読み込めません。ファイルが壊れているか、途中までしかありません。（%2）")
                .arg(name, problem));
    return checked;
}

}  // namespace picturecheck
