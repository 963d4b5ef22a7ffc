#pragma once
// The card folder's pictures (image/<key>/base/...) in one tar archive.

#include <QString>

namespace transfer {

// Writes every regular file below the pictures root's image folder into a new archive at
// archivePath, named by its path below the root ("image/12/base/scan.jpg"). Links are left out. The archive
// is replaced only once complete. Returns the number of files. Throws TransferError.
int writePicturesArchive(const QString& picturesRoot, const QString& archivePath);

}  // namespace transfer
