#pragma once
// The program's message boxes and modal showing, behind one seam so that tests answer them
// without nested event loops.

#include <QObject>
#include <QString>

#include <exception>

class QDialog;
class QWidget;

namespace messages {

// Plain message box with an OK button.
void show(QWidget* parent, const QString& text);
// Warning box "警告" with はい / いいえ; true only for はい.
bool ask(QWidget* parent, const QString& text);
// The default error box for a failure that ends an action.
void error(QWidget* parent, const QString& text);
// The text of a box with a Japanese first line: a text that does not begin in Japanese (a
// system's or library's own words, such as "Permission denied") gets a line saying in Japanese
// what it means, or that the action failed, above it.
QString withJapaneseFirstLine(const QString& text);
// Shows a window modally and returns when it is closed.
void showModal(QDialog* dialog);

class Handler {
public:
    virtual ~Handler() = default;
    virtual void show(QWidget* parent, const QString& text) = 0;
    virtual bool ask(QWidget* parent, const QString& text) = 0;
    virtual void error(QWidget* parent, const QString& text) = 0;
    virtual void showModal(QDialog* dialog) = 0;
};

// Tests install a handler; null restores the real boxes. The caller keeps ownership.
void setHandler(Handler* handler);

// Runs one user action; a failure ends there and shows the default error box with its text.
// Nothing escapes into the event loop.
template <class F>
void guarded(QWidget* parent, F&& action) noexcept {
    try {
        action();
    } catch (const std::exception& e) {
        error(parent, QString::fromUtf8(e.what()));
    } catch (...) {
        error(parent, QStringLiteral("予期しないエラーが発生しました。"));
    }
}

// Connects a control's signal to a window's handler, run inside guarded: the handler's failure
// ends in the error box, never in the event loop.
template <class Sender, class Signal, class Window>
void connectGuarded(Sender* sender, Signal signal, Window* window, void (Window::*handler)()) {
    QObject::connect(sender, signal, window,
                     [window, handler] { guarded(window, [&] { (window->*handler)(); }); });
}

}  // namespace messages
