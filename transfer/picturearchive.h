#pragma once
// The card folder's pictures (image/<key>/base/...) in one tar archive.

#include <QString>

namespace transfer {

// Writes every regular file below folder/image into a new archive at archivePath, named by its
// path below the card folder ("image/12/base/scan.jpg"). Links are left out. The archive is
// replaced only once complete. Returns the number of files. Throws TransferError.
int writePicturesArchive(const QString& folder, const QString& archivePath);

}  // namespace transfer
