#include "scanner.h"

#include <QBuffer>
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QImage>
#include <QImageWriter>
#include <QRegularExpression>

#include <sane/sane.h>
#include <sane/saneopts.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace scanner {
namespace {

// SANE is not thread-safe, and the backends assume one frontend call at a time: every SANE call
// of the process goes through this lock.
std::mutex saneMutex;
bool saneStarted = false;
SANE_Status saneInitStatus = SANE_STATUS_GOOD;
// The labels of the last listing, so that a message names the scanner as the user saw it.
QHash<QString, QString> knownLabels;

// A page larger than this (raw samples of one frame) is refused: 1200 dpi colour A4 is 420 MB.
constexpr qint64 kMaxFrameBytes = 1'200'000'000;
constexpr int kReadChunk = 256 * 1024;

const QString kBusyText =
    QStringLiteral("スキャナはほかの読み取りで使用中です。終わってからもう一度お試しください。");

QString statusName(SANE_Status status) {
    static const std::array<const char*, 14> names{
        "SANE_STATUS_GOOD",        "SANE_STATUS_UNSUPPORTED", "SANE_STATUS_CANCELLED",
        "SANE_STATUS_DEVICE_BUSY", "SANE_STATUS_INVAL",       "SANE_STATUS_EOF",
        "SANE_STATUS_JAMMED",      "SANE_STATUS_NO_DOCS",     "SANE_STATUS_COVER_OPEN",
        "SANE_STATUS_IO_ERROR",    "SANE_STATUS_NO_MEM",      "SANE_STATUS_ACCESS_DENIED",
        "SANE_STATUS_WARMING_UP",  "SANE_STATUS_HW_LOCKED"};
    const auto index = static_cast<std::size_t>(status);
    return index < names.size() ? QString::fromLatin1(names.at(index))
                                : QStringLiteral("SANE_STATUS %1").arg(static_cast<int>(status));
}

// Statuses that some backends return although the API header keeps them out of the enumeration.
constexpr int kWarmingUp = 12;
constexpr int kHardwareLocked = 13;

QString reason(SANE_Status status) {
    switch (static_cast<int>(status)) {
        case SANE_STATUS_UNSUPPORTED:
            return QStringLiteral("この操作に対応していません");
        case SANE_STATUS_CANCELLED:
            return QStringLiteral("スキャナの側で中止されました");
        case SANE_STATUS_DEVICE_BUSY:
            return QStringLiteral("ほかのプログラムが使用中です");
        case SANE_STATUS_INVAL:
            return QStringLiteral("設定または指示を受け付けませんでした");
        case SANE_STATUS_EOF:
            return QStringLiteral("画像が届きませんでした");
        case SANE_STATUS_JAMMED:
            return QStringLiteral("紙が詰まりました");
        case SANE_STATUS_NO_DOCS:
            return QStringLiteral("紙がありません");
        case SANE_STATUS_COVER_OPEN:
            return QStringLiteral("カバーが開いています");
        case SANE_STATUS_IO_ERROR:
            return QStringLiteral("通信中にエラーが起きました");
        case SANE_STATUS_NO_MEM:
            return QStringLiteral("メモリが足りません");
        case SANE_STATUS_ACCESS_DENIED:
            return QStringLiteral("使う権限がありません");
        case kWarmingUp:
            return QStringLiteral("ランプの準備ができていません。少し待ってからお試しください");
        case kHardwareLocked:
            return QStringLiteral("輸送用のロックがかかっています");
        default:
            return QStringLiteral("エラーが起きました");
    }
}

QString shownName(const QString& device) {
    const QString label = knownLabels.value(device);
    return label.isEmpty() ? device : label;
}

QString failureText(const QString& device, const QString& why, SANE_Status status) {
    return QStringLiteral("スキャナ「%1」が使えません：%2（%3）")
        .arg(shownName(device), why, statusName(status));
}

QString failureText(const QString& device, SANE_Status status) {
    return failureText(device, reason(status), status);
}

// Called with saneMutex held. sane_init runs once per process; sane_exit is never called, because
// the dynamic backend then unloads the backends while the process still holds what they handed
// out, and the process's end releases the devices all the same.
void startSane() {
    if (!saneStarted) {
        SANE_Int version = 0;
        saneInitStatus = sane_init(&version, nullptr);
        saneStarted = true;
    }
    if (saneInitStatus != SANE_STATUS_GOOD)
        throw ScannerError(QStringLiteral("スキャナを使う準備ができません：%1（%2）")
                               .arg(reason(saneInitStatus), statusName(saneInitStatus)));
}

// ---- options ----

int findOption(SANE_Handle handle, const char* name) {
    SANE_Int count = 0;
    if (sane_control_option(handle, 0, SANE_ACTION_GET_VALUE, &count, nullptr) != SANE_STATUS_GOOD)
        return -1;
    for (int i = 1; i < count; ++i) {
        const SANE_Option_Descriptor* d = sane_get_option_descriptor(handle, i);
        if (d && d->name && std::strcmp(d->name, name) == 0)
            return i;
    }
    return -1;
}

const SANE_Option_Descriptor* settable(SANE_Handle handle, int option) {
    if (option < 0)
        return nullptr;
    const SANE_Option_Descriptor* d = sane_get_option_descriptor(handle, option);
    if (!d || !SANE_OPTION_IS_ACTIVE(d->cap) || !SANE_OPTION_IS_SETTABLE(d->cap))
        return nullptr;
    return d;
}

QStringList choices(const SANE_Option_Descriptor* d) {
    QStringList values;
    if (d->type == SANE_TYPE_STRING && d->constraint_type == SANE_CONSTRAINT_STRING_LIST) {
        for (const SANE_String_Const* v = d->constraint.string_list; v && *v; ++v)
            values << QString::fromUtf8(*v);
    }
    return values;
}

bool setString(SANE_Handle handle, int option, const SANE_Option_Descriptor* d, const QString& value) {
    QByteArray buffer = value.toUtf8();
    if (d->size > 0 && buffer.size() >= d->size)
        return false;
    buffer.resize(std::max<qsizetype>(d->size, buffer.size() + 1), '\0');
    return sane_control_option(handle, option, SANE_ACTION_SET_VALUE, buffer.data(), nullptr) ==
           SANE_STATUS_GOOD;
}

bool isFeederSource(const QString& value) {
    const QString v = value.toLower();
    return v.contains(QLatin1String("adf")) || v.contains(QLatin1String("feeder")) ||
           v.contains(QLatin1String("document"));
}

// The feeder's front side when the scanner offers one (a duplex or back-side source last), else
// an empty text.
QString feederSource(const QStringList& values) {
    QString any;
    for (const QString& v : values) {
        if (!isFeederSource(v))
            continue;
        const QString lower = v.toLower();
        if (!lower.contains(QLatin1String("duplex")) && !lower.contains(QLatin1String("back")))
            return v;
        if (any.isEmpty())
            any = v;
    }
    return any;
}

QString flatbedSource(const QStringList& values) {
    for (const QString& v : values) {
        const QString lower = v.toLower();
        if (lower.contains(QLatin1String("flatbed")) || lower.contains(QLatin1String("platen")) ||
            lower.contains(QLatin1String("glass")))
            return v;
    }
    return {};
}

QString modeValue(const QStringList& values, bool colour) {
    const QString wanted =
        colour ? QStringLiteral(SANE_VALUE_SCAN_MODE_COLOR) : QStringLiteral(SANE_VALUE_SCAN_MODE_GRAY);
    for (const QString& v : values) {
        if (v.compare(wanted, Qt::CaseInsensitive) == 0)
            return v;
    }
    static const QStringList colourWords{"color", "colour", "rgb"};
    static const QStringList greyWords{"gray", "grey"};
    for (const QString& v : values) {
        const QString lower = v.toLower();
        if (lower.contains(QLatin1String("lineart")) || lower.contains(QLatin1String("halftone")))
            continue;
        for (const QString& word : colour ? colourWords : greyWords) {
            if (lower.contains(word))
                return v;
        }
    }
    return {};
}

// The resolution the scanner offers nearest to dpi.
double nearestResolution(const SANE_Option_Descriptor* d, double dpi) {
    const auto unfix = [d](SANE_Word w) {
        return d->type == SANE_TYPE_FIXED ? SANE_UNFIX(w) : static_cast<double>(w);
    };
    if (d->constraint_type == SANE_CONSTRAINT_RANGE && d->constraint.range) {
        const double low = unfix(d->constraint.range->min);
        const double high = unfix(d->constraint.range->max);
        const double quant = unfix(d->constraint.range->quant);
        double v = std::clamp(dpi, low, high);
        if (quant > 0)
            v = std::min(high, low + std::round((v - low) / quant) * quant);
        return v;
    }
    if (d->constraint_type == SANE_CONSTRAINT_WORD_LIST && d->constraint.word_list) {
        const SANE_Word* list = d->constraint.word_list;
        double best = dpi;
        double bestDistance = -1;
        for (int i = 1; i <= list[0]; ++i) {
            const double v = unfix(list[i]);
            if (bestDistance < 0 || std::abs(v - dpi) < bestDistance) {
                best = v;
                bestDistance = std::abs(v - dpi);
            }
        }
        return best;
    }
    return dpi;
}

void setResolution(SANE_Handle handle, double dpi) {
    const int option = findOption(handle, SANE_NAME_SCAN_RESOLUTION);
    const SANE_Option_Descriptor* d = settable(handle, option);
    if (!d || (d->type != SANE_TYPE_INT && d->type != SANE_TYPE_FIXED) || d->size != sizeof(SANE_Word))
        return;
    const double v = nearestResolution(d, dpi);
    SANE_Word word = d->type == SANE_TYPE_FIXED ? SANE_FIX(v) : static_cast<SANE_Word>(std::lround(v));
    sane_control_option(handle, option, SANE_ACTION_SET_VALUE, &word, nullptr);
}

// Sets source, mode and resolution where the scanner has them; a scanner that lacks one scans
// with its own setting. Returns whether the sheet feeder was chosen.
bool applyRequest(SANE_Handle handle, const ScanRequest& request) {
    bool feeder = false;
    const int source = findOption(handle, SANE_NAME_SCAN_SOURCE);
    if (const SANE_Option_Descriptor* d = settable(handle, source)) {
        const QStringList values = choices(d);
        const QString adf = request.feeder ? feederSource(values) : QString();
        if (!adf.isEmpty() && setString(handle, source, d, adf)) {
            feeder = true;
        } else {
            const QString flatbed = flatbedSource(values);
            if (!flatbed.isEmpty())
                setString(handle, source, d, flatbed);
        }
    }
    const int mode = findOption(handle, SANE_NAME_SCAN_MODE);
    if (const SANE_Option_Descriptor* d = settable(handle, mode)) {
        const QString value = modeValue(choices(d), request.colour);
        if (!value.isEmpty())
            setString(handle, mode, d, value);
    }
    // Mode and source can change which resolutions are offered: set it last.
    setResolution(handle, request.dpi);
    return feeder;
}

// ---- frames into a picture ----

struct Frame {
    SANE_Parameters params{};
    QByteArray data;
    int rows = 0;  // whole lines received
};

class OpenScanner final {
public:
    explicit OpenScanner(const QString& name) {
        const SANE_Status status = sane_open(name.toUtf8().constData(), &m_handle);
        if (status == SANE_STATUS_INVAL)
            throw ScannerError(failureText(name, QStringLiteral("見つかりません"), status));
        if (status != SANE_STATUS_GOOD)
            throw ScannerError(failureText(name, status));
    }
    ~OpenScanner() {
        // After a failure, the backend's reading thread may only just have started: some
        // backends stop it with an asynchronous thread cancel, which caught inside the allocator
        // leaves a thread that never ends and a sane_cancel that waits for it for ever (SANE's
        // test backend did so in about one failed scan of ten). A moment lets it reach its first
        // wait, where a cancel is harmless.
        if (std::uncaught_exceptions() > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        sane_cancel(m_handle);
        sane_close(m_handle);
    }
    OpenScanner(const OpenScanner&) = delete;
    OpenScanner& operator=(const OpenScanner&) = delete;
    SANE_Handle handle() const { return m_handle; }

private:
    SANE_Handle m_handle = nullptr;
};

int samplesPerPixel(SANE_Frame format) {
    return format == SANE_FRAME_RGB ? 3 : 1;
}

void checkParameters(const QString& device, const SANE_Parameters& p) {
    const bool knownFormat = p.format == SANE_FRAME_GRAY || p.format == SANE_FRAME_RGB ||
                             p.format == SANE_FRAME_RED || p.format == SANE_FRAME_GREEN ||
                             p.format == SANE_FRAME_BLUE;
    const bool knownDepth = p.depth == 1 || p.depth == 8 || p.depth == 16;
    const qint64 neededBits = qint64(p.pixels_per_line) * samplesPerPixel(p.format) * p.depth;
    if (!knownFormat || !knownDepth || p.pixels_per_line <= 0 || p.bytes_per_line <= 0 ||
        qint64(p.bytes_per_line) * 8 < neededBits)
        throw ScannerError(failureText(
            device,
            QStringLiteral("扱えない画像の形式です（形式 %1、%2 ビット、幅 %3 画素、1 行 %4 バイト）")
                .arg(p.format)
                .arg(p.depth)
                .arg(p.pixels_per_line)
                .arg(p.bytes_per_line),
            SANE_STATUS_UNSUPPORTED));
    if (p.lines > 0 && qint64(p.lines) * p.bytes_per_line > kMaxFrameBytes)
        throw ScannerError(failureText(device, QStringLiteral("画像が大きすぎます。解像度を下げてください"),
                                       SANE_STATUS_NO_MEM));
}

// Reads one frame after sane_start. False when the scan was cancelled meanwhile (after
// sane_cancel); throws on the scanner's failures.
bool readFrame(SANE_Handle handle, const QString& device, ScanProgress& progress, Frame& frame) {
    const SANE_Status status = sane_get_parameters(handle, &frame.params);
    if (status != SANE_STATUS_GOOD)
        throw ScannerError(failureText(device, status));
    const SANE_Parameters& p = frame.params;
    checkParameters(device, p);
    if (p.lines > 0)
        frame.data.reserve(qsizetype(p.lines) * p.bytes_per_line);
    std::vector<SANE_Byte> chunk(kReadChunk);
    for (;;) {
        if (progress.cancel.load()) {
            // The same moment as after a failure (OpenScanner) when the page has only just begun.
            if (frame.data.isEmpty())
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            sane_cancel(handle);
            return false;
        }
        SANE_Int length = 0;
        const SANE_Status read = sane_read(handle, chunk.data(), kReadChunk, &length);
        if (read == SANE_STATUS_EOF)
            break;
        if (read != SANE_STATUS_GOOD)
            throw ScannerError(failureText(device, read));
        frame.data.append(reinterpret_cast<const char*>(chunk.data()), length);
        if (frame.data.size() > kMaxFrameBytes)
            throw ScannerError(failureText(
                device, QStringLiteral("画像が大きすぎます。解像度を下げてください"), SANE_STATUS_NO_MEM));
    }
    // A scanner that does not know the page's height (lines < 0) ends it with EOF; one that sends
    // fewer lines than it announced gives the lines it sent.
    frame.rows = static_cast<int>(frame.data.size() / p.bytes_per_line);
    if (p.lines > 0)
        frame.rows = std::min(frame.rows, p.lines);
    if (frame.rows <= 0)
        throw ScannerError(failureText(device, SANE_STATUS_EOF));
    return true;
}

// One sample of a line as 0-255; samples are 1, 8 or 16 bits (16 in the machine's byte order).
int sample(const uchar* line, qsizetype index, int depth) {
    if (depth == 8)
        return line[index];
    if (depth == 16) {
        quint16 v = 0;
        std::memcpy(&v, line + index * 2, sizeof v);
        return v >> 8;
    }
    return (line[index / 8] >> (7 - index % 8)) & 1 ? 255 : 0;
}

QImage greyImage(const Frame& f) {
    const SANE_Parameters& p = f.params;
    const auto* data = reinterpret_cast<const uchar*>(f.data.constData());
    if (p.depth == 1) {
        // Line art: a set bit is black, as in the picture's one-bit form.
        QImage image(p.pixels_per_line, f.rows, QImage::Format_Mono);
        image.setColorTable({qRgb(255, 255, 255), qRgb(0, 0, 0)});
        const qsizetype rowBytes = (p.pixels_per_line + 7) / 8;
        for (int y = 0; y < f.rows; ++y)
            std::memcpy(image.scanLine(y), data + qsizetype(y) * p.bytes_per_line, rowBytes);
        return image;
    }
    QImage image(p.pixels_per_line, f.rows, QImage::Format_Grayscale8);
    for (int y = 0; y < f.rows; ++y) {
        const uchar* line = data + qsizetype(y) * p.bytes_per_line;
        uchar* out = image.scanLine(y);
        for (int x = 0; x < p.pixels_per_line; ++x)
            out[x] = static_cast<uchar>(sample(line, x, p.depth));
    }
    return image;
}

// The frame of each colour: one RGB frame for all three, or three frames of one colour each (in
// any order). Empty entries when the frames do not make one colour picture.
std::array<const Frame*, 3> colourFrames(const std::vector<Frame>& frames) {
    if (frames.size() == 1 && frames.front().params.format == SANE_FRAME_RGB)
        return {&frames.front(), &frames.front(), &frames.front()};
    std::array<const Frame*, 3> channel{};
    for (const Frame& f : frames) {
        const int c = f.params.format == SANE_FRAME_RED     ? 0
                      : f.params.format == SANE_FRAME_GREEN ? 1
                      : f.params.format == SANE_FRAME_BLUE  ? 2
                                                            : -1;
        if (c < 0 || channel.at(c))
            return {};
        channel.at(c) = &f;
    }
    return channel;
}

QImage colourImage(const QString& device, const std::vector<Frame>& frames) {
    const std::array<const Frame*, 3> channel = colourFrames(frames);
    if (!channel[0] || !channel[1] || !channel[2] ||
        channel[0]->params.pixels_per_line != channel[1]->params.pixels_per_line ||
        channel[0]->params.pixels_per_line != channel[2]->params.pixels_per_line)
        throw ScannerError(failureText(device, QStringLiteral("色の画像がそろって届きませんでした"),
                                       SANE_STATUS_UNSUPPORTED));
    const bool interleaved = channel[0] == channel[1];
    const int width = channel[0]->params.pixels_per_line;
    const int height = std::min({channel[0]->rows, channel[1]->rows, channel[2]->rows});
    QImage image(width, height, QImage::Format_RGB888);
    for (int y = 0; y < height; ++y) {
        uchar* out = image.scanLine(y);
        for (int c = 0; c < 3; ++c) {
            const Frame& f = *channel.at(c);
            const auto* line =
                reinterpret_cast<const uchar*>(f.data.constData()) + qsizetype(y) * f.params.bytes_per_line;
            for (int x = 0; x < width; ++x)
                out[x * 3 + c] = static_cast<uchar>(
                    sample(line, interleaved ? qsizetype(x) * 3 + c : qsizetype(x), f.params.depth));
        }
    }
    return image;
}

// Reads one page: one frame, or the frames up to the last one. False when cancelled.
bool readPage(SANE_Handle handle, const QString& device, ScanProgress& progress, QImage& page) {
    std::vector<Frame> frames;
    for (;;) {
        frames.emplace_back();
        if (!readFrame(handle, device, progress, frames.back()))
            return false;
        if (frames.back().params.last_frame || frames.size() >= 3)
            break;
        const SANE_Status next = sane_start(handle);
        if (next != SANE_STATUS_GOOD)
            throw ScannerError(failureText(device, next));
    }
    if (frames.size() == 1 && frames.front().params.format == SANE_FRAME_GRAY)
        page = greyImage(frames.front());
    else
        page = colourImage(device, frames);
    return true;
}

// ---- pictures in the folder ----

const QRegularExpression& pictureName() {
    static const QRegularExpression name(QStringLiteral("^scan-(\\d+)\\.png$"));
    return name;
}

int nextNumber(const QString& folder) {
    int highest = 0;
    const QStringList names = QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System);
    for (const QString& n : names) {
        const QRegularExpressionMatch m = pictureName().match(n);
        if (m.hasMatch())
            highest = std::max(highest, m.captured(1).toInt());
    }
    return highest + 1;
}

QString folderError(const QString& folder, const QString& what, int error) {
    return QStringLiteral("取り込み先のフォルダ「%1」に%2できません：%3")
        .arg(QDir::toNativeSeparators(folder), what, QString::fromLocal8Bit(std::strerror(error)));
}

void prepareFolder(const QString& folder) {
    const QFileInfo info(folder);
    if (info.isDir())
        return;
    // A folder made here holds scans of cards: only its owner may enter it.
    if (!info.exists() && QDir().mkpath(info.absolutePath()) &&
        ::mkdir(QFile::encodeName(info.absoluteFilePath()).constData(), 0700) == 0)
        return;
    throw ScannerError(folderError(folder, QStringLiteral("保存"), info.exists() ? ENOTDIR : errno));
}

bool writeAll(int fd, const QByteArray& bytes) {
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

// Moves temporary to target unless target exists. False (errno EEXIST) when it does.
bool renameNoReplace(const QByteArray& temporary, const QByteArray& target) {
    if (::renameat2(AT_FDCWD, temporary.constData(), AT_FDCWD, target.constData(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    // File systems without the no-replace rename: check, then rename (one scan at a time per process).
    struct stat st {};
    if (::lstat(target.constData(), &st) == 0) {
        errno = EEXIST;
        return false;
    }
    return ::rename(temporary.constData(), target.constData()) == 0;
}

// Writes the page as the next free scan-NNNN.png: the PNG goes to a hidden temporary file, is
// flushed to the disk, and only then takes the picture's name.
QString writePage(const QImage& page, const QString& folder, int& number) {
    QByteArray png;
    {
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        QImageWriter writer(&buffer, "png");
        if (!writer.write(page))
            throw ScannerError(
                QStringLiteral("読み取った画像を PNG にできません：%1").arg(writer.errorString()));
    }
    const QString dir = QFileInfo(folder).absoluteFilePath();
    for (;; ++number) {
        const QString name = QStringLiteral("scan-%1.png").arg(number, 4, 10, QLatin1Char('0'));
        QString target = dir + QLatin1Char('/') + name;
        const QByteArray temporary =
            QFile::encodeName(dir + QStringLiteral("/.") + name + QStringLiteral(".part"));
        int fd = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
        if (fd < 0 && errno == EEXIST) {
            // Left by a scan that ended with its process: nothing refers to it.
            ::unlink(temporary.constData());
            fd = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
        }
        if (fd < 0)
            throw ScannerError(folderError(folder, QStringLiteral("保存"), errno));
        const bool written = writeAll(fd, png) && ::fsync(fd) == 0;
        const int writeError = errno;
        ::close(fd);
        if (!written) {
            ::unlink(temporary.constData());
            throw ScannerError(folderError(folder, QStringLiteral("保存"), writeError));
        }
        if (renameNoReplace(temporary, QFile::encodeName(target))) {
            const int dirFd = ::open(QFile::encodeName(dir).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            if (dirFd >= 0) {
                ::fsync(dirFd);
                ::close(dirFd);
            }
            ++number;
            return target;
        }
        const int renameError = errno;
        ::unlink(temporary.constData());
        if (renameError != EEXIST)
            throw ScannerError(folderError(folder, QStringLiteral("保存"), renameError));
        // Someone else wrote that number meanwhile: take the next one.
    }
}

}  // namespace

QList<Device> devices() {
    std::unique_lock lock(saneMutex, std::try_to_lock);
    if (!lock.owns_lock())
        throw ScannerError(kBusyText);
    startSane();
    const SANE_Device** list = nullptr;
    const SANE_Status status = sane_get_devices(&list, SANE_FALSE);
    if (status != SANE_STATUS_GOOD)
        throw ScannerError(
            QStringLiteral("スキャナを探せません：%1（%2）").arg(reason(status), statusName(status)));
    QList<Device> found;
    for (const SANE_Device** d = list; d && *d; ++d) {
        const auto text = [](const char* s) { return s ? QString::fromUtf8(s).trimmed() : QString(); };
        Device device{text((*d)->name), {}};
        QString label = (text((*d)->vendor) + QLatin1Char(' ') + text((*d)->model)).trimmed();
        if (label.isEmpty())
            label = device.name;
        const QString type = text((*d)->type);
        if (!type.isEmpty())
            label += QStringLiteral("（%1）").arg(type);
        device.label = label;
        knownLabels.insert(device.name, device.label);
        found << device;
    }
    return found;
}

QStringList scanPages(const ScanRequest& request, const QString& outFolder, ScanProgress& progress) {
    std::unique_lock lock(saneMutex, std::try_to_lock);
    if (!lock.owns_lock())
        throw ScannerError(kBusyText);
    // SANE would open its first scanner for an empty name: a scan comes from the one the user chose.
    if (request.device.trimmed().isEmpty())
        throw ScannerError(QStringLiteral("スキャナが選ばれていません。一覧から選んでください。"));
    prepareFolder(outFolder);
    startSane();
    QStringList written;
    try {
        OpenScanner device(request.device);
        const bool feeder = applyRequest(device.handle(), request);
        int number = nextNumber(outFolder);
        while (!progress.cancel.load()) {
            const SANE_Status started = sane_start(device.handle());
            // The feeder is empty: the end of a stack once a page came through.
            if (started == SANE_STATUS_NO_DOCS && feeder && !written.isEmpty())
                break;
            if (started != SANE_STATUS_GOOD)
                throw ScannerError(failureText(request.device, started));
            QImage page;
            if (!readPage(device.handle(), request.device, progress, page))
                break;
            written << writePage(page, outFolder, number);
            progress.pages.store(static_cast<int>(written.size()));
            if (!feeder)
                break;
        }
    } catch (const ScannerError& e) {
        throw ScannerError(e.text(), written);
    } catch (const std::bad_alloc&) {
        throw ScannerError(failureText(request.device, SANE_STATUS_NO_MEM), written);
    }
    return written;
}

}  // namespace scanner
