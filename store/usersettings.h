#pragma once
// The user's own settings, kept in one file whatever part of the program writes them:
// ~/.config/Tavrona/Tavrona.conf (the desktop's configuration folder).

#include <QSettings>
#include <QString>

namespace usersettings {

// The settings file's path in the desktop's configuration folder.
QString filePath();

// The settings, read from and written to filePath(). Values that an earlier version wrote to
// "Unknown Organization/Tavrona.conf" (written where the organisation name was not set) are
// taken over the first time, a value already in the settings file winning, and that file is
// removed.
class UserSettings final : public QSettings {
public:
    UserSettings();
};

// Whether the card list's search ignores kana and width, as remembered between runs (off until
// the user switches it on).
bool foldedSearchOn();
void setFoldedSearchOn(bool on);

}  // namespace usersettings
