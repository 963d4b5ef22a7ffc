#include "desktop.h"

#include <QDesktopServices>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>
#include <QWidget>

namespace platform {

namespace {

class LinuxShell final : public DesktopShell {
public:
    void openUrl(const QString& url, QWidget*) override { QDesktopServices::openUrl(QUrl(url)); }

    void openFolder(const QString& path, QWidget*) override {
        QDesktopServices::openUrl(QUrl::fromLocalFile(path));
    }

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
        return QProcess::startDetached(xdgOpen, {path});
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
