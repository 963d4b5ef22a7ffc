#pragma once
// The card's picture folder, image/<card key>/base/ below one root: the working directory,
// where data/ also lives.

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

namespace picturefolder {

// One entry of a picture folder: the name as shown and the name's bytes as the file system
// holds them, which is how the file is opened. Names from old archives are often Shift-JIS.
struct Entry {
    QString name;
    QByteArray raw;
};

// A file name's bytes for display: UTF-8 when they are valid UTF-8, else Shift-JIS (CP932)
// when they are valid as that, else UTF-8 with the invalid bytes replaced.
QString displayName(const QByteArray& raw);
// The path of an entry of folder, as bytes for the file system.
QByteArray nativePath(const QString& folder, const QByteArray& raw);

// root/image/<keyText>/base, the key text used as it stands.
QString baseFolder(const QString& root, const QString& keyText);

// Every entry of the folder in the order the file system returns them, hidden entries and
// subfolders included, "." and ".." left out. False when the folder cannot be listed.
bool listEntries(const QString& folder, QList<Entry>& entries);
// The same, the names as shown.
bool listEntries(const QString& folder, QStringList& names);

// Who may enter the folders prepare makes: the owner alone below a card folder's own root; on a
// root shared by several people, whoever the umask and the root's own settings let.
enum class Access { OwnerOnly, Shared };

// Creates the missing levels of the folder of card `key` below root, deciding by names alone
// (letter case ignored) whether a level is present, and returns the folder's path ending in a
// separator.
QString prepare(const QString& root, int key, Access access);

// True when the path's last three characters are one of the endings the image area shows.
bool hasDisplayableEnding(const QString& path);

}  // namespace picturefolder
