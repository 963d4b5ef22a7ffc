#pragma once
// The card folder as the command-line tools see it: its card file, and its lock, which the
// program holds while it runs so that the program and a tool never use the card file together.

#include <QLockFile>
#include <QString>

#include <memory>

namespace transfer {

// data/DATA.FDB below the card folder.
QString cardFilePath(const QString& folder);

// Takes the card folder's lock (the same one the program takes); null while the program or another
// tool holds it. A lock left by a process that died is taken over.
std::unique_ptr<QLockFile> claimCardFolder(const QString& folder);

}  // namespace transfer
