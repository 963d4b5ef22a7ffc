#pragma once
// Settling a card file on this desk after a run on it ended without closing it.
//
// A write killed inside its commit leaves record versions whose fate the engine decides only when
// it next sweeps the file: a card read before that sweep can read differently after it. So every
// open of a local card file leaves a marker beside it that only a clean close removes, and an
// open that finds the marker of a run that is gone checks and sweeps the file before anything
// reads a card from it. A card file on a server is the server's to look after.

#include <QString>

#include <memory>

namespace crashrecovery {

// Held while this process has the card file open. Destroyed without endCleanly() (a failed
// close), the marker stays, so the next open settles the file.
class OpenMarker final {
public:
    OpenMarker(int fd, QString path);
    ~OpenMarker();
    OpenMarker(const OpenMarker&) = delete;
    OpenMarker& operator=(const OpenMarker&) = delete;
    // The card file was closed in order: the next open needs no settling.
    void endCleanly();

private:
    int m_fd;
    QString m_path;
};

// The marker of the card file at databasePath: beside it, readable by its owner only.
QString markerPath(const QString& databasePath);

struct Opening {
    std::unique_ptr<OpenMarker> marker;  // null when another running process holds the marker
    bool settled = false;                // the previous run had not ended: the file was swept
    double seconds = 0;                  // the time the check and the sweep took
};

// Marks the card file as open by this process; when a run that is gone left it marked, first
// checks every page (putting right the page flags a crash leaves) and sweeps it. Throws DbError
// (DbProblem::Damaged) with one Japanese line and the way out when the check finds damage, leaving the marker
// so that every later open checks again until the file is replaced; other service failures are passed on as
// DbError.
Opening openLocalCardFile(const QString& databasePath);

}  // namespace crashrecovery
