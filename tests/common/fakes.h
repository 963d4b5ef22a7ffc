#pragma once
// Recording stand-ins for the desktop services and the message boxes.

#include "desktop.h"
#include "messages.h"

#include <QList>
#include <QQueue>
#include <QString>
#include <QStringList>

#include <functional>

class QDialog;

struct RecordingShell final : platform::DesktopShell {
    QStringList urls, folders, documents;
    bool documentOpens = true;
    void openUrl(const QString& url, QWidget*) override { urls << url; }
    void openFolder(const QString& path, QWidget*) override { folders << path; }
    bool openDocument(const QString& path, QWidget*) override {
        documents << path;
        return documentOpens;
    }
};

struct RecordingInputMethod final : platform::InputMethodControl {
    struct Call {
        QWidget* box;
        int conversion;  // -1 for the hiragana mode
        int sentence;
    };
    QList<Call> calls;
    void setModes(QWidget* box, int conversion, int sentence) override {
        calls << Call{box, conversion, sentence};
    }
    void setHiraganaMode(QWidget* box) override { calls << Call{box, -1, -1}; }
    QList<QWidget*> digitsOnly;  // boxes told to take digits only
    void setDigitsOnly(QWidget* box) override { digitsOnly << box; }
};

// Answers message boxes from a queue (はい when empty) and records what was shown. Installs itself
// on construction and restores the real boxes when destroyed.
class MessageRecorder final : public messages::Handler {
public:
    struct Shown {
        QString kind;  // "show", "ask" or "error"
        QString text;
    };
    MessageRecorder();
    ~MessageRecorder() override;

    QList<Shown> shown;
    QQueue<bool> answers;                         // for ask
    std::function<void(const Shown&)> onMessage;  // runs while the box would be open
    std::function<void(QDialog*)> onShowModal;    // runs in place of the modal loop
    QList<QDialog*> modals;

    QStringList texts(const QString& kind) const;
    void clear() {
        shown.clear();
        modals.clear();
    }

    void show(QWidget*, const QString& text) override;
    bool ask(QWidget*, const QString& text) override;
    void error(QWidget*, const QString& text) override;
    void showModal(QDialog* dialog) override;
};
