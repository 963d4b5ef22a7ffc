#pragma once
// Files and folders that hold cards, made so that only their owner can read them whatever the
// process's umask: files 0600, folders 0700. A file gets its mode when it is created, before
// anything is written to it, so that no other user can open it in between and read on later.

#include <QString>

namespace privatefile {

// Creates a new file at path, mode 0600, and returns it open for reading and writing; nothing may
// be at path yet (a symbolic link is not followed). -1 with errno set on failure.
int create(const QString& path);

// Creates a new file of mode 0600 beside target under a free name made from it, for writing a
// file that replaces target only once it is complete; its path goes to temporaryPath. -1 with
// errno set on failure.
int createBeside(const QString& target, QString* temporaryPath);

// Creates an empty file of mode 0600 at path (nothing may be there yet) for a writer that opens
// the file by its name and keeps its mode: the engine's backup service, the archive and workbook
// writers. Returns an empty text, or the system's reason in words.
QString reserve(const QString& path);

// Makes the folder with any missing parents; each folder made here gets mode 0700, folders that
// exist already are left as they are. True when the folder exists afterwards.
bool makeFolders(const QString& path);

// Narrows an existing file to 0600 or folder to 0700; a symbolic link is not followed.
bool restrictToOwner(const QString& path);

// The system's reason for errno, in the user's language.
QString systemReason(int error);

}  // namespace privatefile
