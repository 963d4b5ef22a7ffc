#pragma once
// The card folder's lock: one running copy of the program (or of the card tool) per card folder.

#include <QString>

#include <memory>

namespace cardfolder {

// Holds the folder's lock file while it lives; the file is removed when the lock is let go.
// The lock is an advisory file lock taken by the operating system on the open file, so it ends
// with the process that held it, however that process ended: a lock file left behind by a
// killed copy, an empty one, or one naming another host never keeps the user out.
class FolderLock final {
public:
    FolderLock(int fd, QString path);
    ~FolderLock();
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;
    const QString& path() const { return m_path; }

private:
    int m_fd;
    QString m_path;
};

struct Claim {
    std::unique_ptr<FolderLock> lock;  // null when refused
    bool heldByRunningCopy = false;    // refused because another running copy holds the folder
    QString refusal;                   // the reason in Japanese, for the user
};

QString lockFilePath(const QString& folder);

// Takes the card folder for this process, or says in Japanese why it cannot: another copy runs
// there, the folder cannot be written (with the system's reason), or the lock file is in a
// state only the user can clear (with how to clear it).
Claim claim(const QString& folder);

}  // namespace cardfolder
