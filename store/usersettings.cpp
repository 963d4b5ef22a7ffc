#include "usersettings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace usersettings {

namespace {

QString configFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
}

// Where settings went while the program named no organisation: Qt's stand-in name.
QString strayFilePath() {
    return configFolder() + QStringLiteral("/Unknown Organization/Tavrona.conf");
}

void takeOverStraySettings(QSettings& settings) {
    const QString stray = strayFilePath();
    if (!QFileInfo::exists(stray))
        return;
    {
        const QSettings old(stray, QSettings::IniFormat);
        for (const QString& key : old.allKeys()) {
            if (!settings.contains(key))
                settings.setValue(key, old.value(key));
        }
    }
    settings.sync();
    // Removed only once its values are safely in the settings file; the folder goes with it
    // when nothing else is in it.
    if (settings.status() == QSettings::NoError && QFile::remove(stray))
        QDir().rmdir(QFileInfo(stray).absolutePath());
}

}  // namespace

QString filePath() {
    return configFolder() + QStringLiteral("/Tavrona/Tavrona.conf");
}

UserSettings::UserSettings() : QSettings(filePath(), QSettings::IniFormat) {
    takeOverStraySettings(*this);
}

namespace {
const QString kFoldedSearchKey = QStringLiteral("search/foldKanaAndWidth");
}

bool foldedSearchOn() {
    return UserSettings().value(kFoldedSearchKey, false).toBool();
}

void setFoldedSearchOn(bool on) {
    UserSettings s;
    s.setValue(kFoldedSearchKey, on);
    s.sync();
}

}  // namespace usersettings
