#pragma once
// The card folder as the command-line tools see it.

#include <QString>

namespace transfer {

// data/DATA.FDB below the card folder.
QString cardFilePath(const QString& folder);

}  // namespace transfer
