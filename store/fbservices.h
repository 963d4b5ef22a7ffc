#pragma once
// The engine's own backup and restore services, reached in embedded mode, and a check of a
// restored card file. Only Qt and standard types show here; the client calls stay in the .cpp.

#include <QString>
#include <QStringList>

#include <functional>

namespace fbservices {

// Receives each line of the service's report as it comes.
using LineHandler = std::function<void(const QString& line)>;

// Writes a backup of the database file to backupPath in the engine's backup format (the one
// the command-line backup tool reads and writes). The database may be in use by this process.
// Throws DbError with the engine's text.
void backup(const QString& databasePath, const QString& backupPath, const LineHandler& onLine = {});

// Creates a new database file at databasePath from the backup; an existing file there is never
// replaced. Throws DbError with the engine's text.
void restore(const QString& backupPath, const QString& databasePath, const LineHandler& onLine = {});

// Sweeps the database file: removes the versions of records that no transaction can see any
// more, settling the records written by transactions that never ended. Throws DbError.
void sweep(const QString& databasePath);

struct Validation {
    int errors = 0;     // damage: pages or records the engine cannot read back whole
    QStringList lines;  // the engine's report
};

// Checks every page and record of the database file. Warnings that any crash leaves (orphan
// pages, stale page flags) are not counted as errors. With Mode::SettlePageFlags the check also
// puts right those page flags and frees orphan pages; damaged records are never touched. Throws
// DbError when the check cannot run.
enum class CheckMode { ReadOnly, SettlePageFlags };
Validation validate(const QString& databasePath, CheckMode mode = CheckMode::ReadOnly);

// The report lines count records every this many rows, so callers can show progress.
inline constexpr int kRecordsPerLine = 10000;

struct CardFileFacts {
    bool hasCardTable = false;
    bool hasKeyTrigger = false;
    int cards = 0;  // rows of the card table, live and deleted
};

// The largest card key: as many rows as that or fewer, found with one lookup in the key's
// descending index. For a progress estimate, where counting the rows would cost a pass over them.
int largestCardKey(const QString& databasePath);

// Opens the database file and reports what a card file needs to be usable. Throws DbError when
// the file cannot be opened.
CardFileFacts inspectCardFile(const QString& databasePath);

}  // namespace fbservices
