#pragma once
// Backup and restore of a card folder: the card file through the engine's own backup service
// (never a copy of the open file), the picture folders into an archive beside the backup.

#include "transfercard.h"

namespace transfer {

struct BackupResult {
    int cards = 0;
    QString picturesArchive;  // empty unless pictures were asked for
    int pictureFiles = 0;
};

// FILE.fbk -> FILE.pictures.tar, beside it.
QString picturesArchivePath(const QString& backupPath);

// Writes the backup of the folder's card file to backupPath, which is replaced only once the new
// backup is complete; with pictures, also the archive of the pictures root's image/ beside it:
// the folder's own (its settings file may name a shared one) unless picturesRoot names it. The
// card file may be open in this process.
BackupResult backupCardFolder(const QString& folder, const QString& backupPath, bool withPictures,
                              const Progress& progress = {}, const QString& picturesRoot = {});

struct RestoreResult {
    int cards = 0;
    QString previousFile;  // where the replaced card file was kept; empty when there was none
};

// Restores the backup into a new file beside the card file, checks that it opens and holds the
// card table and its key trigger, and only then puts it in the card file's place, keeping the
// old file as DATA.FDB.before-restore-<time>. releaseCardFile runs just before the swap: the
// caller closes its own connection there. The caller holds the card folder's lock.
RestoreResult restoreCardFolder(const QString& folder, const QString& backupPath,
                                const Progress& progress = {},
                                const std::function<void()>& releaseCardFile = {});

}  // namespace transfer
