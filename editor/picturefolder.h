#pragma once
// The card's picture folder, image/<card key>/base/ below one root: the working directory,
// where data/ also lives.

#include <QString>
#include <QStringList>

namespace picturefolder {

// root/image/<keyText>/base, the key text used as it stands.
QString baseFolder(const QString& root, const QString& keyText);

// Every entry of the folder in the order the file system returns them, hidden entries and
// subfolders included, "." and ".." left out. False when the folder cannot be listed.
bool listEntries(const QString& folder, QStringList& names);

// Creates the missing levels of the folder of card `key` below root, deciding by names alone
// (letter case ignored) whether a level is present, and returns the folder's path ending in a
// separator.
QString prepare(const QString& root, int key);

// True when the path's last three characters are one of the endings the image area shows.
bool hasDisplayableEnding(const QString& path);

}  // namespace picturefolder
