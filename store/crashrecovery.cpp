#include "crashrecovery.h"

#include "dbstatement.h"
#include "fbservices.h"

#include <QElapsedTimer>
#include <QFile>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace crashrecovery {

OpenMarker::OpenMarker(int fd, QString path) : m_fd(fd), m_path(std::move(path)) {}

OpenMarker::~OpenMarker() {
    if (m_fd >= 0)
        ::close(m_fd);
}

void OpenMarker::endCleanly() {
    if (m_fd < 0)
        return;
    // Removed while still locked, so no other process takes a marker that is about to go.
    ::unlink(QFile::encodeName(m_path).constData());
    ::close(m_fd);
    m_fd = -1;
}

QString markerPath(const QString& databasePath) {
    return databasePath + QStringLiteral(".running");
}

namespace {

enum class Found { Fresh, LeftByEndedRun, HeldByRunningProcess, Unusable };

// Creates or takes the marker and locks it for this process. The lock is the operating system's
// and ends with the process, however it ends: a marker that can be locked was left by a run that
// is gone. A marker removed by its owner between our open and our lock is taken again.
Found takeMarker(const QByteArray& path, int& fd) {
    for (int attempt = 0; attempt < 5; ++attempt) {
        bool created = true;
        fd = ::open(path.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0 && errno == EEXIST) {
            created = false;
            fd = ::open(path.constData(), O_RDWR | O_CLOEXEC);
        }
        if (fd < 0) {
            if (errno == ENOENT)
                continue;
            return Found::Unusable;  // a folder we cannot write: the open itself will say why
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            ::close(fd);
            fd = -1;
            return Found::HeldByRunningProcess;
        }
        struct stat held {
        }, named{};
        if (::fstat(fd, &held) == 0 && ::stat(path.constData(), &named) == 0 && held.st_ino == named.st_ino &&
            held.st_dev == named.st_dev) {
            ::fchmod(fd, 0600);
            return created ? Found::Fresh : Found::LeftByEndedRun;
        }
        ::close(fd);
        fd = -1;
    }
    return Found::Unusable;
}

}  // namespace

Opening openLocalCardFile(const QString& databasePath) {
    Opening opening;
    if (!QFile::exists(databasePath))
        return opening;  // nothing to settle, and no marker beside a file that is not there
    const QString path = markerPath(databasePath);
    int fd = -1;
    const Found found = takeMarker(QFile::encodeName(path), fd);
    if (fd < 0)
        return opening;
    opening.marker = std::make_unique<OpenMarker>(fd, path);
    if (found != Found::LeftByEndedRun)
        return opening;

    QElapsedTimer timer;
    timer.start();
    // A page written by the killed run can still be flagged as swept, and a sweep passes over such
    // pages, leaving there the killed run's versions for a later sweep to take as committed. So
    // the check puts the flags right first, and the sweep then settles every page; both before any
    // read, so that the versions settled are the ones every read sees.
    const fbservices::Validation check =
        fbservices::validate(databasePath, fbservices::CheckMode::SettlePageFlags);
    fbservices::sweep(databasePath);
    opening.settled = true;
    opening.seconds = double(timer.elapsed()) / 1000.0;
    if (check.errors > 0)
        throw DbError(
            QStringLiteral(
                "カードファイル「%1」は前回の異常終了で傷んでいます（%2 件）。これ以上書き込まないよう"
                "開くのをやめました。tavrona-cards backup でバックアップを取り、"
                "tavrona-cards restore でそのバックアップから復元してください。")
                .arg(databasePath)
                .arg(check.errors),
            DbProblem::Damaged);
    return opening;
}

}  // namespace crashrecovery
