#pragma once
// The permission bits of a file or folder, for the tests that check who may read what the
// program writes. -1 when there is nothing at the path.

#include <QFile>
#include <QString>

#include <sys/stat.h>

inline int fileMode(const QString& path) {
    struct stat st = {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
}

// Tests that check modes run as a desktop session usually does, whatever umask started them.
inline void useDesktopUmask() {
    ::umask(022);
}
