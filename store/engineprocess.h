#pragma once
// The life of a process that uses the embedded engine: a private lock folder of its own, the
// termination signals taken by one thread of the program's own, and an orderly shutdown of the
// engine before the process exits that can never hang it. No widgets here.

#include <QByteArray>
#include <QString>

#include <chrono>
#include <functional>
#include <stdexcept>

namespace engineprocess {

// Thrown by long loops once a termination signal has arrived; unwinding rolls the work back.
class Interrupted final : public std::runtime_error {
public:
    explicit Interrupted(int signal);
    int signal() const { return m_signal; }

private:
    int m_signal;
};

// Made first thing in main, before Qt or the client library starts a thread: SIGTERM, SIGINT and
// SIGHUP are blocked in the main thread, so every later thread (the engine's too) inherits the
// mask and only the program's own signal thread takes them. The lock folder is made here too.
class Process final {
public:
    Process();
    // Shuts the engine down, as finish does, when finish was not called.
    ~Process();
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    // Shuts the engine down in order (its threads stopped before the library goes away) and
    // removes the lock folder; when that has not ended within a few seconds the process leaves
    // with exitCode all the same. Returns exitCode.
    int finish(int exitCode);

private:
    bool m_finished = false;
};

// The first termination signal received, 0 while none has come.
int interruptingSignal() noexcept;
// 128 + the signal, as shells report a process ended by it.
inline int exitCodeFor(int signal) {
    return 128 + signal;
}
void throwIfInterrupted();

// Runs on the signal thread when the first termination signal arrives (the window program wakes
// its event loop from here). Work that does not notice the signal within a second has its running
// statements cancelled; a process that has still not ended a few seconds later leaves with
// 128 + the signal after writing forcedExitLine to standard error.
void setInterruptionHandler(std::function<void()> handler);
void setForcedExitLine(const QByteArray& line);

// The work is done (and committed): closing the card file and shutting the engine down may take
// no longer than this before the process leaves with exitCode all the same. An engine stuck in
// shared memory that another process left locked cannot keep a finished command alive.
void finishWithin(std::chrono::milliseconds limit, int exitCode);

// A file that an engine service may still be writing when the process ends (a backup or a restore
// cut short): removed after the engine has stopped, so nothing half-made is left. A path that
// no longer exists by then (the finished file was renamed) is passed over.
void removeAtExit(const QString& path);

// An engine service (a backup or a restore) was cut short while it ran and may still be running
// on the engine's threads: the engine's own shutdown can then crash in it (an abort in a mutex
// the service still uses), so finish leaves as leaveNow does, after the same clean-up.
void leaveWithoutShutdown();

// Ends the process at once without running the engine's exit code: removes the lock folder and
// leaves. For a process whose engine is stuck in a call that never returns.
[[noreturn]] void leaveNow(int exitCode);

// This process's own lock folder for the engine, made (and FIREBIRD_LOCK pointed at it) on the
// first call: a folder below the user's private base folder, locked by this process while it
// runs and removed at exit. Folders of processes that have gone are removed on the way. Empty when
// no private folder could be made.
QString lockFolder();
// The other processes of this user that have the file open, as "name（プロセス pid）" joined by
// "、"; empty when none can be seen (another user's processes cannot be).
QString processesUsing(const QString& file);

// The private base folder below which each process makes its own lock folder.
QString lockBase();

}  // namespace engineprocess
