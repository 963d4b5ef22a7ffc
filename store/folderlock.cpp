#include "folderlock.h"

#include <QDir>
#include <QFile>
#include <QSysInfo>

#include <sys/file.h>
#include <sys/stat.h>

#include <fcntl.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>

namespace cardfolder {

namespace {

QString systemReason(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

Claim refused(QString reason, bool running = false) {
    Claim c;
    c.heldByRunningCopy = running;
    c.refusal = std::move(reason);
    return c;
}

// Same format as QLockFile's (pid, application, host), so that anyone looking at the file, or an
// older copy of the program that still uses QLockFile, sees who holds the folder.
void writeOwner(int fd) {
    const QByteArray owner =
        QByteArray::number(qint64(::getpid())) + "\nTavrona\n" + QSysInfo::machineHostName().toUtf8() + '\n';
    if (::ftruncate(fd, 0) == 0) [[maybe_unused]]
        const auto written = ::pwrite(fd, owner.constData(), size_t(owner.size()), 0);
}

}  // namespace

QString lockFilePath(const QString& folder) {
    return QDir(folder).filePath(QStringLiteral(".tavrona.lock"));
}

FolderLock::FolderLock(int fd, QString path) : m_fd(fd), m_path(std::move(path)) {}

FolderLock::~FolderLock() {
    // Removed while still locked: a copy that opened the old file meanwhile sees it is no
    // longer the folder's lock file and tries again.
    ::unlink(QFile::encodeName(m_path).constData());
    ::close(m_fd);
}

Claim claim(const QString& folder) {
    const QString path = lockFilePath(folder);
    const QByteArray native = QFile::encodeName(path);
    const QString shownFolder = QDir::toNativeSeparators(folder);
    const QString shownPath = QDir::toNativeSeparators(path);
    for (int attempt = 0; attempt < 10; ++attempt) {
        // 0600: a lock file that other users could open would let them take the lock and keep
        // the owner out of the folder.
        const int fd = ::open(native.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0) {
            const int error = errno;
            struct stat st = {};
            const bool exists = ::lstat(native.constData(), &st) == 0;
            if (exists && (error == EACCES || error == EPERM || error == ELOOP || error == EISDIR ||
                           !S_ISREG(st.st_mode)))
                return refused(QStringLiteral("カードフォルダのロックファイル「%1」を開けません（%2）。\r\n"
                                              "名刺管理がこのフォルダで起動していないことを確かめてから、"
                                              "このファイルを削除して、もう一度起動してください。")
                                   .arg(shownPath, systemReason(error)));
            return refused(
                QStringLiteral("カードフォルダ「%1」に書き込めません（%2）。\r\n"
                               "フォルダの場所と書き込みの権限、ディスクの空きを確かめてください。")
                    .arg(shownFolder, systemReason(error)));
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int error = errno;
            // The holder wrote its process id on the first line.
            char owner[32] = {};
            const ssize_t got = ::pread(fd, owner, sizeof owner - 1, 0);
            const qint64 pid = got > 0 ? QByteArray(owner, int(got)).split('\n').value(0).toLongLong() : 0;
            ::close(fd);
            if (error == EWOULDBLOCK)
                return refused(QStringLiteral("名刺管理はこのフォルダですでに起動しています%1。\r\n"
                                              "起動中のウィンドウをお使いください。")
                                   .arg(pid > 0 ? QStringLiteral("（プロセス %1）").arg(pid) : QString()),
                               true);
            return refused(QStringLiteral("カードフォルダ「%1」をロックできません（%2）。")
                               .arg(shownFolder, systemReason(error)));
        }
        // The holder before us may have removed the file between our open and our lock: only
        // the file that is still at the path counts.
        struct stat held = {}, current = {};
        if (::fstat(fd, &held) == 0 && ::lstat(native.constData(), &current) == 0 &&
            held.st_dev == current.st_dev && held.st_ino == current.st_ino) {
            // A file left by a killed copy may be older and looser; the umask may have narrowed
            // a new one further.
            if ((held.st_mode & 0777) != 0600)
                ::fchmod(fd, 0600);
            writeOwner(fd);
            Claim c;
            c.lock = std::make_unique<FolderLock>(fd, path);
            return c;
        }
        ::close(fd);
    }
    return refused(QStringLiteral("カードフォルダ「%1」をロックできません。").arg(shownFolder));
}

}  // namespace cardfolder
