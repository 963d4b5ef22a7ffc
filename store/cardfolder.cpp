#include "cardfolder.h"

#include <QDir>
#include <QSettings>

namespace {

// "HOST:/path", "HOST/PORT:/path" or "HOST:C:\path" name a database on a server; a bare path
// (also "C:\path", whose colon follows a single letter) names a local file.
bool namesServer(const QString& database) {
    const qsizetype colon = database.indexOf(QLatin1Char(':'));
    return colon > 1 && !database.startsWith(QLatin1Char('/'));
}

}  // namespace

CardFolder CardFolder::local(const QString& folder) {
    CardFolder f;
    f.folder = QDir(folder).absolutePath();
    f.database = QDir::toNativeSeparators(f.folder + QStringLiteral("/data/DATA.FDB"));
    f.picturesRoot = f.folder;
    return f;
}

CardFolder CardFolder::resolve(const QString& folder, const QString& databaseOption,
                               const QString& picturesOption) {
    CardFolder f = local(folder);
    QSettings settings(f.settingsFile(), QSettings::IniFormat);
    QString database = settings.value(QStringLiteral("team/database")).toString().trimmed();
    QString pictures = settings.value(QStringLiteral("team/pictures")).toString().trimmed();
    if (!databaseOption.isEmpty())
        database = databaseOption;
    if (!picturesOption.isEmpty())
        pictures = picturesOption;
    if (!database.isEmpty()) {
        f.onServer = namesServer(database);
        f.database = f.onServer ? database : QDir(f.folder).absoluteFilePath(database);
    }
    if (!pictures.isEmpty())
        f.picturesRoot = QDir(f.folder).absoluteFilePath(pictures);
    return f;
}

QString CardFolder::imageFolder(const QString& picturesRoot) {
    return picturesRoot + QStringLiteral("/image");
}

QString CardFolder::settingsFile() const {
    return QDir(folder).filePath(QStringLiteral("tavrona.ini"));
}

QString CardFolder::sheetsFolder() const {
    return QDir(folder).filePath(QStringLiteral("sheets"));
}
