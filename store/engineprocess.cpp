#include "engineprocess.h"

#include "dbstatement.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/file.h>
#include <sys/stat.h>

#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace engineprocess {

namespace {

using Clock = std::chrono::steady_clock;

// ---- the lock folder ----------------------------------------------------------------------

constexpr char kOwnerFile[] = "owner";
constexpr char kFolderPrefix[] = "proc-";
constexpr char kNewPrefix[] = ".new-";

struct LockFolder {
    pid_t pid = 0;  // the process that made it; a forked child makes its own
    QByteArray path;
    int ownerFd = -1;  // holds the flock that tells the folder's process is alive
};
std::mutex g_folderMutex;
LockFolder g_folder;

// A folder only this user can reach: made with mode 0700 if missing, and accepted only when it
// is a real folder (not a symbolic link) owned by the user, tightened to 0700 when it is looser.
bool makePrivateFolder(const QString& dir) {
    if (dir.isEmpty())
        return false;
    const QByteArray path = QFile::encodeName(dir);
    ::mkdir(path.constData(), 0700);
    struct stat st = {};
    if (::lstat(path.constData(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid())
        return false;
    if ((st.st_mode & 0777) != 0700 && ::chmod(path.constData(), 0700) != 0)
        return false;
    return true;
}

// Removes a folder and what it holds (the engine makes plain files only), without following
// links. Plain system calls only: it also runs on the signal thread on the way out.
void removeTree(const char* path) {
    const int dirFd = ::open(path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (dirFd >= 0) {
        if (DIR* dir = ::fdopendir(dirFd)) {
            while (const dirent* entry = ::readdir(dir)) {
                if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0)
                    continue;
                if (::unlinkat(dirFd, entry->d_name, 0) != 0 && errno == EISDIR) {
                    char child[4096];
                    std::snprintf(child, sizeof child, "%s/%s", path, entry->d_name);
                    removeTree(child);
                }
            }
            ::closedir(dir);  // closes dirFd
        } else {
            ::close(dirFd);
        }
    }
    ::rmdir(path);
}

// A process holds an exclusive flock on the owner file inside its folder for as long as it runs;
// the kernel drops it when the process ends, however it ends. So a lock taken here means its
// process has gone (a process id used again by another process cannot fool this), and a folder
// without an owner file was never finished. Folders still being made carry another prefix until
// their lock is held, and are left alone unless they are a minute old.
void removeFoldersOfGoneProcesses(const QByteArray& base) {
    DIR* dir = ::opendir(base.constData());
    if (!dir)
        return;
    while (const dirent* entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        const QByteArray path = base + '/' + name;
        if (name.startsWith(kNewPrefix)) {
            struct stat st = {};
            if (::lstat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode) &&
                st.st_mtime + 60 < ::time(nullptr))
                removeTree(path.constData());
            continue;
        }
        if (!name.startsWith(kFolderPrefix))
            continue;
        const QByteArray owner = path + '/' + kOwnerFile;
        const int fd = ::open(owner.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
        if (fd < 0) {
            if (errno == ENOENT)
                removeTree(path.constData());
            continue;
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
            removeTree(path.constData());
        ::close(fd);
    }
    ::closedir(dir);
}

QString chooseBase() {
    // The base folder depends only on the user and the machine, so that every process of this
    // user finds the folders of the ones that went before.
    const QString candidates[] = {
        QDir::tempPath() + QStringLiteral("/tavrona-firebird-%1").arg(::getuid()),
        qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")
            ? QString()
            : qEnvironmentVariable("XDG_RUNTIME_DIR") + QStringLiteral("/tavrona-firebird"),
        qEnvironmentVariableIsEmpty("HOME")
            ? QString()
            : qEnvironmentVariable("HOME") + QStringLiteral("/.cache/tavrona-firebird"),
    };
    for (const QString& dir : candidates) {
        if (!dir.isEmpty())
            QDir().mkpath(QFileInfo(dir).absolutePath());
        if (makePrivateFolder(dir))
            return dir;
    }
    return QString();
}

void removeOwnFolder() {
    std::lock_guard lock(g_folderMutex);
    if (g_folder.pid != ::getpid() || g_folder.path.isEmpty())
        return;
    removeTree(g_folder.path.constData());
    ::close(g_folder.ownerFd);
    g_folder = {};
}

// ---- signals and the way out -------------------------------------------------------------

std::mutex g_leftoverMutex;
std::vector<QByteArray> g_leftovers;

void removeLeftovers() {
    std::lock_guard lock(g_leftoverMutex);
    for (const QByteArray& path : g_leftovers)
        ::unlink(path.constData());
    g_leftovers.clear();
}

std::atomic<int> g_signal{0};
std::mutex g_guardMutex;
std::function<void()> g_onInterruption;
QByteArray g_forcedExitLine = "中断しました。\n";
std::optional<Clock::time_point> g_cancelAt, g_leaveAt;
int g_leaveCode = 0;
std::atomic<bool> g_stopGuard{false};
std::atomic<bool> g_skipShutdown{false};
std::thread g_guard;

sigset_t terminationSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGHUP);
    return set;
}

// The signal thread: takes the termination signals (blocked everywhere else), and enforces the
// deadlines of an interruption and of the engine's shutdown.
void guardLoop() {
    const sigset_t set = terminationSignals();
    while (!g_stopGuard) {
        const timespec tick{0, 100'000'000};
        const int sig = ::sigtimedwait(&set, nullptr, &tick);
        std::function<void()> handler;
        bool cancel = false;
        std::optional<int> leave;
        {
            std::lock_guard lock(g_guardMutex);
            const Clock::time_point now = Clock::now();
            if (sig > 0 && g_signal == 0) {
                g_signal = sig;
                handler = g_onInterruption;
                g_cancelAt = now + std::chrono::seconds(1);
                if (!g_leaveAt) {
                    g_leaveAt = now + std::chrono::seconds(8);
                    g_leaveCode = exitCodeFor(sig);
                }
            }
            if (g_cancelAt && now >= *g_cancelAt) {
                g_cancelAt.reset();
                cancel = true;
            }
            if (g_leaveAt && now >= *g_leaveAt)
                leave = g_leaveCode;
        }
        if (handler)
            handler();
        if (cancel)
            cancelRunningStatements();
        if (leave) {
            if (g_signal != 0 && !g_forcedExitLine.isEmpty()) [[maybe_unused]]
                const auto written =
                    ::write(STDERR_FILENO, g_forcedExitLine.constData(), size_t(g_forcedExitLine.size()));
            leaveNow(*leave);
        }
    }
}

// A child started with fork() gets the signals back as a fresh program expects them.
void unblockInChild() {
    const sigset_t set = terminationSignals();
    ::pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}

}  // namespace

Interrupted::Interrupted(int signal)
    : std::runtime_error("中断しました。何も書き込んでいません。"), m_signal(signal) {}

Process::Process() {
    const sigset_t set = terminationSignals();
    ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
    ::pthread_atfork(nullptr, nullptr, unblockInChild);
    g_stopGuard = false;
    g_guard = std::thread(guardLoop);
    lockFolder();
}

Process::~Process() {
    finish(0);
}

void finishWithin(std::chrono::milliseconds limit, int exitCode) {
    std::lock_guard lock(g_guardMutex);
    const Clock::time_point deadline = Clock::now() + limit;
    if (!g_leaveAt || *g_leaveAt > deadline)
        g_leaveAt = deadline;
    g_leaveCode = exitCode;
}

int Process::finish(int exitCode) {
    if (m_finished)
        return exitCode;
    m_finished = true;
    finishWithin(std::chrono::seconds(5), exitCode);
    std::fflush(stdout);
    std::fflush(stderr);
    if (g_skipShutdown)
        leaveNow(exitCode);
    shutdownEngine();
    removeLeftovers();
    removeOwnFolder();
    g_stopGuard = true;
    if (g_guard.joinable())
        g_guard.join();
    return exitCode;
}

int interruptingSignal() noexcept {
    return g_signal;
}

void throwIfInterrupted() {
    if (const int sig = g_signal)
        throw Interrupted(sig);
}

void setInterruptionHandler(std::function<void()> handler) {
    std::lock_guard lock(g_guardMutex);
    g_onInterruption = std::move(handler);
}

void setForcedExitLine(const QByteArray& line) {
    std::lock_guard lock(g_guardMutex);
    g_forcedExitLine = line;
}

void removeAtExit(const QString& path) {
    std::lock_guard lock(g_leftoverMutex);
    g_leftovers.push_back(QFile::encodeName(path));
}

void leaveWithoutShutdown() {
    g_skipShutdown = true;
}

void leaveNow(int exitCode) {
    std::fflush(stdout);
    std::fflush(stderr);
    removeLeftovers();
    if (g_folder.pid == ::getpid() && !g_folder.path.isEmpty())
        removeTree(g_folder.path.constData());
    ::_exit(exitCode);
}

QString processesUsing(const QString& file) {
    struct stat target = {};
    if (::stat(QFile::encodeName(file).constData(), &target) != 0)
        return QString();
    QStringList found;
    DIR* proc = ::opendir("/proc");
    if (!proc)
        return QString();
    while (const dirent* process = ::readdir(proc)) {
        const QByteArray pid(process->d_name);
        bool numeric = false;
        if (pid.toLongLong(&numeric) == ::getpid() || !numeric)
            continue;
        const QByteArray fdPath = "/proc/" + pid + "/fd";
        DIR* fds = ::opendir(fdPath.constData());
        if (!fds)
            continue;  // another user's process
        bool holds = false;
        while (const dirent* fd = ::readdir(fds)) {
            struct stat st = {};
            if (fd->d_name[0] != '.' && ::stat((fdPath + '/' + fd->d_name).constData(), &st) == 0 &&
                st.st_dev == target.st_dev && st.st_ino == target.st_ino) {
                holds = true;
                break;
            }
        }
        ::closedir(fds);
        if (!holds)
            continue;
        QFile comm(QString::fromLatin1("/proc/" + pid + "/comm"));
        const QString name =
            comm.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(comm.readAll()).trimmed() : QString();
        found << (name.isEmpty() ? QString::fromLatin1(pid)
                                 : QStringLiteral("%1（プロセス %2）").arg(name, QString::fromLatin1(pid)));
    }
    ::closedir(proc);
    return found.join(QStringLiteral("、"));
}

QString lockBase() {
    static const QString base = chooseBase();
    return base;
}

QString lockFolder() {
    std::lock_guard lock(g_folderMutex);
    if (g_folder.pid == ::getpid())
        return QFile::decodeName(g_folder.path);
    const QString base = lockBase();
    if (base.isEmpty())
        return QString();
    const QByteArray nativeBase = QFile::encodeName(base);
    removeFoldersOfGoneProcesses(nativeBase);

    // Made under a name the sweep leaves alone, locked, and only then given its final name, so
    // that no other process ever takes a folder in the making for one whose process has gone.
    QByteArray pattern = nativeBase + '/' + kNewPrefix + "XXXXXX";
    if (!::mkdtemp(pattern.data()))
        return QString();
    const QByteArray owner = pattern + '/' + kOwnerFile;
    const int fd = ::open(owner.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0 || ::flock(fd, LOCK_EX) != 0) {
        if (fd >= 0)
            ::close(fd);
        removeTree(pattern.constData());
        return QString();
    }
    const QByteArray pid = QByteArray::number(qint64(::getpid()));
    [[maybe_unused]] const auto written = ::write(fd, (pid + '\n').constData(), size_t(pid.size() + 1));
    const QByteArray named = nativeBase + '/' + kFolderPrefix + pid + '-' + pattern.right(6);
    if (::rename(pattern.constData(), named.constData()) != 0) {
        ::close(fd);
        removeTree(pattern.constData());
        return QString();
    }
    g_folder = {::getpid(), named, fd};
    qputenv("FIREBIRD_LOCK", named);
    static bool registered = false;
    if (!registered) {
        registered = true;
        std::atexit(removeOwnFolder);
    }
    return QFile::decodeName(named);
}

}  // namespace engineprocess
