#include "desktop.h"

#include <QDesktopServices>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>
#include <QWidget>

#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <csignal>
#include <thread>
#include <vector>

extern char** environ;

namespace platform {

namespace {

// Starts a desktop program without waiting for it. The program keeps its termination signals
// blocked in every thread (one thread of its own takes them), and a blocked mask is inherited
// through exec: a spreadsheet or file manager started with it would ignore a logout's SIGTERM.
// So the child gets an empty mask, default actions and a session of its own; a thread of ours
// reaps it when it ends.
bool startDetached(const QString& program, const QStringList& arguments) {
    std::vector<QByteArray> owned{QFile::encodeName(program)};
    owned.reserve(std::size_t(arguments.size()) + 1);
    for (const QString& a : arguments)
        owned.push_back(a.toLocal8Bit());
    std::vector<char*> argv;
    argv.reserve(owned.size() + 1);
    for (QByteArray& a : owned)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawnattr_t attr;
    if (::posix_spawnattr_init(&attr) != 0)
        return false;
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    for (int sig : {SIGTERM, SIGINT, SIGHUP, SIGPIPE})
        sigaddset(&defaults, sig);
    ::posix_spawnattr_setsigmask(&attr, &none);
    ::posix_spawnattr_setsigdefault(&attr, &defaults);
    ::posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSID);
    pid_t pid = 0;
    const int rc = ::posix_spawn(&pid, owned.front().constData(), nullptr, &attr, argv.data(), environ);
    ::posix_spawnattr_destroy(&attr);
    if (rc != 0)
        return false;
    std::thread([pid] {
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }).detach();
    return true;
}

void openWithDesktop(const QString& target) {
    const QString xdgOpen = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    if (xdgOpen.isEmpty() || !startDetached(xdgOpen, {target}))
        QDesktopServices::openUrl(QUrl::fromUserInput(target));
}

class LinuxShell final : public DesktopShell {
public:
    void openUrl(const QString& url, QWidget*) override { openWithDesktop(url); }

    void openFolder(const QString& path, QWidget*) override { openWithDesktop(path); }

    // xdg-open reports success as soon as it starts and blocks until the program closes, so
    // ask the desktop first whether any program is registered for the file's type.
    bool openDocument(const QString& path, QWidget*) override {
        const QString xdgOpen = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
        const QString xdgMime = QStandardPaths::findExecutable(QStringLiteral("xdg-mime"));
        if (xdgOpen.isEmpty() || xdgMime.isEmpty())
            return false;
        QProcess query;
        query.start(xdgMime, {QStringLiteral("query"), QStringLiteral("filetype"), path});
        query.waitForFinished(5000);
        const QString type = QString::fromUtf8(query.readAllStandardOutput()).trimmed();
        if (type.isEmpty())
            return false;
        query.start(xdgMime, {QStringLiteral("query"), QStringLiteral("default"), type});
        query.waitForFinished(5000);
        if (QString::fromUtf8(query.readAllStandardOutput()).trimmed().isEmpty())
            return false;
        return startDetached(xdgOpen, {path});
    }
};

// Linux offers no portable way to set an input method's conversion mode: no effect. The
// digits-only hint reaches the input method through the toolkit.
class LinuxInputMethod final : public InputMethodControl {
public:
    void setModes(QWidget*, int, int) override {}
    void setHiraganaMode(QWidget*) override {}
    void setDigitsOnly(QWidget* box) override {
        box->setInputMethodHints(box->inputMethodHints() | Qt::ImhDigitsOnly);
    }
};

LinuxShell g_linuxShell;
LinuxInputMethod g_linuxInputMethod;
DesktopShell* g_shell = &g_linuxShell;
InputMethodControl* g_inputMethod = &g_linuxInputMethod;

}  // namespace

DesktopShell& shell() {
    return *g_shell;
}
InputMethodControl& inputMethod() {
    return *g_inputMethod;
}

void setShell(DesktopShell* replacement) {
    g_shell = replacement ? replacement : &g_linuxShell;
}

void setInputMethod(InputMethodControl* replacement) {
    g_inputMethod = replacement ? replacement : &g_linuxInputMethod;
}

}  // namespace platform
