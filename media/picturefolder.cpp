#include "picturefolder.h"

#include "cardfolder.h"
#include "privatefile.h"

#include <QDir>
#include <QFile>
#include <QStringDecoder>

#include <dirent.h>

namespace picturefolder {

namespace {

// Name-only presence test: a plain file bearing the name counts as well.
bool hasEntryNamed(const QString& folder, const QString& name) {
    QStringList names;
    listEntries(folder, names);
    for (const QString& n : names) {
        if (n.compare(name, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

}  // namespace

QString baseFolder(const QString& root, const QString& keyText) {
    return CardFolder::imageFolder(root) + QLatin1Char('/') + keyText + QStringLiteral("/base");
}

QString displayName(const QByteArray& raw) {
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString asUtf8 = utf8.decode(raw);
    if (!utf8.hasError())
        return asUtf8;
    QStringDecoder shiftJis("CP932", QStringDecoder::Flag::Stateless);
    if (shiftJis.isValid()) {
        QString asShiftJis = shiftJis.decode(raw);
        if (!shiftJis.hasError())
            return asShiftJis;
    }
    return asUtf8;
}

QByteArray nativePath(const QString& folder, const QByteArray& raw) {
    return QFile::encodeName(folder) + '/' + raw;
}

bool listEntries(const QString& folder, QList<Entry>& entries) {
    entries.clear();
    // readdir keeps the file system's own order, which a QDir listing would not promise.
    DIR* dir = ::opendir(QFile::encodeName(folder).constData());
    if (!dir)
        return false;
    while (const dirent* entry = ::readdir(dir)) {
        const char* n = entry->d_name;
        if ((n[0] == '.' && n[1] == '\0') || (n[0] == '.' && n[1] == '.' && n[2] == '\0'))
            continue;
        const QByteArray raw(n);
        entries << Entry{displayName(raw), raw};
    }
    ::closedir(dir);
    return true;
}

bool listEntries(const QString& folder, QStringList& names) {
    QList<Entry> entries;
    const bool listed = listEntries(folder, entries);
    names.clear();
    for (const Entry& e : std::as_const(entries))
        names << e.name;
    return listed;
}

QString prepare(const QString& root, int key, Access access) {
    const QString k = QString::number(key);
    const QString image = CardFolder::imageFolder(root);
    const QString cardFolder = image + QLatin1Char('/') + k;
    const QString base = cardFolder + QStringLiteral("/base");
    const auto makeFolders = [access](const QString& path) {
        if (access == Access::OwnerOnly)
            privatefile::makeFolders(path);
        else
            QDir().mkpath(path);
    };
    // Creation failures are not reported: the file manager shows what is there.
    if (!hasEntryNamed(image, k)) {
        makeFolders(cardFolder);
        makeFolders(base);
    }
    if (!hasEntryNamed(cardFolder, QStringLiteral("base")))
        makeFolders(base);
    return base + QLatin1Char('/');
}

bool hasDisplayableEnding(const QString& path) {
    static const QStringList endings{"jpg", "JPG", "peg", "PEG", "bmp", "BMP", "png", "PNG", "gif", "GIF"};
    return path.size() >= 3 && endings.contains(path.right(3));
}

}  // namespace picturefolder
