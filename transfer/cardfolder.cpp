#include "cardfolder.h"

#include <QDir>

namespace transfer {

QString cardFilePath(const QString& folder) {
    return QDir(folder).filePath(QStringLiteral("data/DATA.FDB"));
}

std::unique_ptr<QLockFile> claimCardFolder(const QString& folder) {
    auto lock = std::make_unique<QLockFile>(QDir(folder).filePath(QStringLiteral(".tavrona.lock")));
    lock->setStaleLockTime(0);  // only a dead owner makes the lock stale, never its age
    if (!lock->tryLock(0))
        return nullptr;
    return lock;
}

}  // namespace transfer
