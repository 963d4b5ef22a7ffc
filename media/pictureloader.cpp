#include "pictureloader.h"

#include <mutex>

#include <QFile>
#include <QFileInfo>
#include <QImageReader>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>

namespace pictureloader {

namespace {
std::mutex limitMutex;
int limitUsers = 0;
int limitBefore = 0;
}  // namespace

ReaderAllocationLimit::ReaderAllocationLimit(int megabytes) {
    const std::lock_guard lock(limitMutex);
    if (limitUsers++ == 0)
        limitBefore = QImageReader::allocationLimit();
    if (megabytes > QImageReader::allocationLimit())
        QImageReader::setAllocationLimit(megabytes);
}

ReaderAllocationLimit::~ReaderAllocationLimit() {
    const std::lock_guard lock(limitMutex);
    if (--limitUsers == 0)
        QImageReader::setAllocationLimit(limitBefore);
}

namespace {

// The JPEG decoder reports data that is cut short or corrupt only as a logged warning and
// returns a picture that is mostly grey. While a picture is read, such warnings are caught here
// and make the read fail. Extraneous bytes before a marker are common in camera files that
// decode whole, and are not counted.
class DamageWatch final {
public:
    DamageWatch() : m_previous(qInstallMessageHandler(&DamageWatch::handle)) { s_active = this; }
    ~DamageWatch() {
        qInstallMessageHandler(m_previous);
        s_active = nullptr;
    }
    DamageWatch(const DamageWatch&) = delete;
    DamageWatch& operator=(const DamageWatch&) = delete;

    const QString& report() const { return m_report; }

private:
    static bool isDamage(const char* category, const QString& text) {
        if (!category || std::strncmp(category, "qt.gui.imageio", 14) != 0)
            return false;
        if (text.contains(QLatin1String("extraneous bytes"), Qt::CaseInsensitive))
            return false;
        return text.contains(QLatin1String("Corrupt JPEG data"), Qt::CaseInsensitive) ||
               text.contains(QLatin1String("Premature end"), Qt::CaseInsensitive);
    }
    static void handle(QtMsgType type, const QMessageLogContext& context, const QString& text) {
        DamageWatch* watch = s_active;
        if (watch && isDamage(context.category, text)) {
            if (watch->m_report.isEmpty())
                watch->m_report = text;
            return;
        }
        if (watch && watch->m_previous)
            watch->m_previous(type, context, text);
    }

    static inline DamageWatch* s_active = nullptr;
    QtMessageHandler m_previous;
    QString m_report;
};

QString damagedMessage(const QString& name, const QString& detail) {
    return QStringLiteral(
               "画像「%1」を読み込めません。ファイルが壊れているか、途中までしかありません。（%2）")
        .arg(name, detail);
}

}  // namespace

QByteArray formatForName(const QString& path) {
    const QString name = QFileInfo(path).fileName();
    const int dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot < 0)
        return {};
    const QString ext = name.mid(dot + 1).toLower();
    if (ext == QLatin1String("jpg") || ext == QLatin1String("jpeg"))
        return "jpeg";
    if (ext == QLatin1String("bmp") || ext == QLatin1String("png") || ext == QLatin1String("gif"))
        return ext.toLatin1();
    return {};
}

qint64 decodeCost(const QByteArray& format, const QSize& declared, const QSize& area) {
    qint64 w = declared.width(), h = declared.height();
    if (format == "jpeg" && !area.isEmpty()) {
        // libjpeg scales by 1/2, 1/4 or 1/8 as long as the result still covers the area.
        for (int scale = 8; scale > 1; scale /= 2) {
            if (w / scale >= area.width() && h / scale >= area.height()) {
                w = (w + scale - 1) / scale;
                h = (h + scale - 1) / scale;
                break;
            }
        }
    }
    return w * h * 4;
}

QImage loadFitted(const QString& path, const QSize& area) {
    return loadFitted(QFile::encodeName(path), QFileInfo(path).fileName(), area);
}

void openPlainFile(const QByteArray& nativePath, const QString& name, QFile& file) {
    // Only plain files are opened: a folder or a named pipe bearing a picture's name must not
    // reach the decoder (a pipe would block the window).
    struct stat st {};
    if (::stat(nativePath.constData(), &st) != 0) {
        if (errno == EACCES)
            throw PictureLoadError(QStringLiteral("ファイル「%1」を開く権限がありません。").arg(name));
        throw PictureLoadError(QStringLiteral("ファイル「%1」が見つかりません。").arg(name));
    }
    if (S_ISDIR(st.st_mode))
        throw PictureLoadError(QStringLiteral("「%1」はフォルダのため表示できません。").arg(name));
    if (!S_ISREG(st.st_mode))
        throw PictureLoadError(
            QStringLiteral("「%1」は通常のファイルではないため表示できません。").arg(name));
    if (st.st_size == 0)
        throw PictureLoadError(QStringLiteral("ファイル「%1」は空です（0 バイト）。").arg(name));

    if (formatForName(name).isEmpty())
        throw PictureLoadError(QStringLiteral("「%1」は表示できる画像の形式ではありません（表示できるのは "
                                              "jpg、jpeg、bmp、png、gif です）。")
                                   .arg(name));

    const int fd = ::open(nativePath.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        if (errno == EACCES || errno == EPERM)
            throw PictureLoadError(QStringLiteral("ファイル「%1」を読む権限がありません。").arg(name));
        throw PictureLoadError(QStringLiteral("ファイル「%1」を開けません。（%2）")
                                   .arg(name, QString::fromLocal8Bit(std::strerror(errno))));
    }
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        throw PictureLoadError(
            QStringLiteral("ファイル「%1」を開けません。（%2）").arg(name, file.errorString()));
    }
}

QSize readDeclaredSize(QImageReader& reader, const QString& name) {
    const QSize declared = reader.size();
    if (!declared.isValid() || declared.isEmpty())
        throw PictureLoadError(QStringLiteral("画像「%1」を読み込めません。ファイルが壊れているか、"
                                              "中身が拡張子と違う形式です。（%2）")
                                   .arg(name, reader.errorString()));
    return declared;
}

void checkDeclaredSize(const QString& name, const QByteArray& format, const QSize& declared,
                       const QSize& target) {
    if (declared.width() > kMaxSide || declared.height() > kMaxSide ||
        qint64(declared.width()) * declared.height() > kMaxPixels ||
        decodeCost(format, declared, target) > kDecodeBudgetBytes)
        throw PictureLoadError(
            QStringLiteral("画像「%1」は大きすぎるため表示できません（%2 × %3 ピクセル）。")
                .arg(name)
                .arg(declared.width())
                .arg(declared.height()));
}

QImage loadFitted(const QByteArray& nativePath, const QString& name, const QSize& area) {
    QFile file;
    openPlainFile(nativePath, name, file);
    const QByteArray format = formatForName(name);

    QImageReader reader(&file, format);
    reader.setAutoDetectImageFormat(false);  // the extension decides the decoder
    reader.setAutoTransform(true);           // phone photos carry their orientation apart

    const QSize declared = readDeclaredSize(reader, name);

    // The scaled size applies before the orientation is applied, so a quarter turn swaps the
    // sides of the area it has to fit.
    const bool turned = reader.transformation() & QImageIOHandler::TransformationRotate90;
    const QSize target = turned ? area.transposed() : area;
    checkDeclaredSize(name, format, declared, target);

    if (!target.isEmpty()) {
        QSize fitted = declared.scaled(target, Qt::KeepAspectRatio);
        fitted = fitted.expandedTo(QSize(1, 1));
        if (fitted != declared)
            reader.setScaledSize(fitted);
    }

    QImage picture;
    QString damage;
    {
        // The budget and the scaled copy made from a whole decode.
        const ReaderAllocationLimit limit(int(kDecodeBudgetBytes / (1024LL * 1024)) * 2);
        const DamageWatch watch;
        picture = reader.read();
        damage = watch.report();
    }
    if (!damage.isEmpty())
        throw PictureLoadError(damagedMessage(name, damage));
    if (picture.isNull())
        throw PictureLoadError(
            QStringLiteral("画像「%1」を読み込めません。（%2）").arg(name, reader.errorString()));
    return picture;
}

}  // namespace pictureloader
