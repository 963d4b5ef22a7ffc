#include "privatefile.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>

#include <sys/stat.h>

#include <fcntl.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>

namespace privatefile {

namespace {

constexpr mode_t kFileMode = 0600;
constexpr mode_t kFolderMode = 0700;

// The umask only takes bits away: the mode is set again so that a umask such as 0277 does not
// leave a file its owner cannot write or a folder its owner cannot enter.
int openNew(const QByteArray& native) {
    const int fd = ::open(native.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, kFileMode);
    if (fd >= 0 && ::fchmod(fd, kFileMode) != 0) {
        const int error = errno;
        ::close(fd);
        ::unlink(native.constData());
        errno = error;
        return -1;
    }
    return fd;
}

}  // namespace

int create(const QString& path) {
    return openNew(QFile::encodeName(path));
}

int createBeside(const QString& target, QString* temporaryPath) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QString candidate =
            target + QStringLiteral(".part-%1")
                         .arg(QRandomGenerator::global()->generate() & 0xffffff, 6, 16, QLatin1Char('0'));
        const int fd = create(candidate);
        if (fd >= 0 || errno != EEXIST) {
            if (fd >= 0 && temporaryPath)
                *temporaryPath = candidate;
            return fd;
        }
    }
    errno = EEXIST;
    return -1;
}

QString reserve(const QString& path) {
    const int fd = create(path);
    if (fd < 0)
        return systemReason(errno);
    ::close(fd);
    return QString();
}

bool makeFolders(const QString& path) {
    const QString absolute = QDir::cleanPath(QDir(path).absolutePath());
    QString partial;
    for (const QString& part : absolute.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        partial += QLatin1Char('/') + part;
        const QByteArray native = QFile::encodeName(partial);
        struct stat st = {};
        if (::mkdir(native.constData(), kFolderMode) == 0) {
            if (::chmod(native.constData(), kFolderMode) != 0)
                return false;
        } else if (::stat(native.constData(), &st) != 0 || !S_ISDIR(st.st_mode)) {
            return false;
        }
    }
    return true;
}

bool restrictToOwner(const QString& path) {
    const QByteArray native = QFile::encodeName(path);
    const int fd = ::open(native.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        return false;
    struct stat st = {};
    const bool done = ::fstat(fd, &st) == 0 && (S_ISDIR(st.st_mode) || S_ISREG(st.st_mode)) &&
                      ::fchmod(fd, S_ISDIR(st.st_mode) ? kFolderMode : kFileMode) == 0;
    ::close(fd);
    return done;
}

QString systemReason(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

}  // namespace privatefile
