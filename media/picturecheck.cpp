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
    static constexpr qint64 kWindow = qint64(256) * 1024;
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

// What the end of a picture says: whole when an image came before it.
QString endAfter(bool sawImage) {
    return sawImage ? QString() : QStringLiteral("画像データがありません");
}

// Walks a picture's blocks from pos: step reads the block at pos and moves pos past it, and
// returns nothing to go on, or what the walk found (empty when the picture is whole).
template <typename Step>
QString walkBlocks(Bytes& b, qint64 pos, Step step) {
    for (;;) {
        if (std::optional<QString> found = step(b, pos))
            return *found;
    }
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

bool isRestart(int m) {
    return m >= 0xD0 && m <= 0xD7;
}

// The next marker at or after pos, fill bytes passed over; pos is left after it. -1 when the
// file ends first.
int nextMarker(Bytes& b, qint64& pos) {
    pos = b.find(pos, 0xFF);
    if (pos < 0)
        return -1;
    while (b.byte(pos) == 0xFF)
        ++pos;
    return b.byte(pos++);
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

// Moves pos past the segment of marker m, or says why it cannot.
std::optional<QString> passSegment(Bytes& b, int m, qint64& pos) {
    if (!isSegment(m))
        return damaged();
    QString problem;
    const std::optional<qint64> next = skipSegment(b, pos, problem);
    if (!next)
        return problem;
    pos = *next;
    return std::nullopt;
}

// The markers up to the first scan, as the decoder reads them: bytes between segments are
// passed over, as the decoder does with a warning. pos is left after the first scan's header.
QString jpegHeaderProblem(Bytes& b, qint64& pos) {
    bool frame = false;
    for (;;) {
        const int m = nextMarker(b, pos);
        if (m < 0)
            return cutShort();
        if (m == 0x01 || isRestart(m))
            continue;
        if (m == 0xD9)
            return endAfter(false);
        if (isFrameStart(m)) {
            if (!isDecodedFrame(m))
                return QStringLiteral("対応していない JPEG の形式です");
            frame = true;
        }
        if (const std::optional<QString> problem = passSegment(b, m, pos))
            return *problem;
        if (m == 0xDA)
            return frame ? QString() : damaged();
    }
}

// The coded data and the segments between scans, walked to the end-of-image marker.
QString jpegScansProblem(Bytes& b, qint64 pos) {
    return walkBlocks(b, pos, [](Bytes& bytes, qint64& at) -> std::optional<QString> {
        const int m = nextMarker(bytes, at);
        if (m < 0)
            return cutShort();
        if (m == 0x00 || isRestart(m))
            return std::nullopt;
        if (m == 0xD9)
            return QString();
        return passSegment(bytes, m, at);
    });
}

QString jpegProblem(Bytes& b) {
    if (b.byte(0) != 0xFF || b.byte(1) != 0xD8)
        return QStringLiteral("JPEG の始まりがありません");
    qint64 pos = 2;
    if (QString problem = jpegHeaderProblem(b, pos); !problem.isEmpty())
        return problem;
    // A file that ends with the end-of-image marker is whole: inside coded data a 0xFF byte is
    // always followed by 0x00 or a restart marker.
    if (b.size() - 2 >= pos && b.byte(b.size() - 2) == 0xFF && b.byte(b.size() - 1) == 0xD9)
        return {};
    // Otherwise there is data after the image, as phones append a video or padding.
    return jpegScansProblem(b, pos);
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

bool isChunkName(const uchar* type) {
    return std::all_of(type, type + 4,
                       [](uchar c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); });
}

// One chunk after another: the header first, image data, the end.
class PngChunkStep {
public:
    std::optional<QString> operator()(Bytes& b, qint64& pos) {
        const std::optional<quint32> length = b.bigEndian(pos, 4);
        const uchar* type = b.at(pos + 4, 4);
        if (!length || !type)
            return cutShort();
        if (*length > 0x7FFFFFFFu || !isChunkName(type))
            return damaged();
        if (pos + 12 + qint64(*length) > b.size())
            return cutShort();
        const QByteArrayView kind(type, 4);
        if (m_first) {
            if (kind != "IHDR" || *length != 13 || !chunkCrcMatches(b, pos, *length))
                return damaged();
            m_first = false;
        } else if (kind == "IDAT") {
            m_data = true;
        } else if (kind == "IEND") {
            if (*length != 0 || !chunkCrcMatches(b, pos, 0))
                return damaged();
            return endAfter(m_data);
        }
        pos += 12 + qint64(*length);
        return std::nullopt;
    }

private:
    bool m_first = true;
    bool m_data = false;
};

QString pngProblem(Bytes& b) {
    const uchar* signature = b.at(0, 8);
    if (!signature || std::memcmp(signature, "\x89PNG\r\n\x1a\n", 8) != 0)
        return QStringLiteral("PNG の始まりがありません");
    return walkBlocks(b, 8, PngChunkStep());
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

// The size of a colour table that the flags byte says follows, or 0.
qint64 colourTableSize(int flags) {
    return (flags & 0x80) ? 3 << ((flags & 7) + 1) : 0;
}

// Passes over an image descriptor, its colour table and its data; false when the file ends first.
bool skipImage(Bytes& b, qint64& pos) {
    const int flags = b.byte(pos + 8);
    if (flags < 0)
        return false;
    pos += 9 + colourTableSize(flags);
    ++pos;  // the code size
    return skipSubBlocks(b, pos);
}

// One block after another: extensions and images up to the trailer.
class GifBlockStep {
public:
    std::optional<QString> operator()(Bytes& b, qint64& pos) {
        const int block = b.byte(pos++);
        // Some writers leave out the closing byte; a file that ends after a whole image reads.
        if (block < 0)
            return m_images > 0 ? QString() : cutShort();
        if (block == 0x3B)
            return endAfter(m_images > 0);
        if (block == 0x21) {
            ++pos;  // the extension's label
            if (!skipSubBlocks(b, pos))
                return cutShort();
        } else if (block == 0x2C) {
            if (!skipImage(b, pos))
                return cutShort();
            ++m_images;
        } else {
            return damaged();
        }
        return std::nullopt;
    }

private:
    int m_images = 0;
};

QString gifProblem(Bytes& b) {
    const uchar* header = b.at(0, 13);
    if (!header || (std::memcmp(header, "GIF87a", 6) != 0 && std::memcmp(header, "GIF89a", 6) != 0))
        return QStringLiteral("GIF の始まりがありません");
    return walkBlocks(b, 13 + colourTableSize(header[10]), GifBlockStep());
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
