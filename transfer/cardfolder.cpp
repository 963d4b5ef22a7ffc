#include "cardfolder.h"

#include <QDir>

namespace transfer {

QString cardFilePath(const QString& folder) {
    return QDir(folder).filePath(QStringLiteral("data/DATA.FDB"));
}

}  // namespace transfer
