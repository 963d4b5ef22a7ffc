#include "fakes.h"

MessageRecorder::MessageRecorder() {
    messages::setHandler(this);
}
MessageRecorder::~MessageRecorder() {
    messages::setHandler(nullptr);
}

QStringList MessageRecorder::texts(const QString& kind) const {
    QStringList out;
    for (const Shown& s : shown) {
        if (s.kind == kind)
            out << s.text;
    }
    return out;
}

void MessageRecorder::show(QWidget*, const QString& text) {
    shown << Shown{QStringLiteral("show"), text};
    if (onMessage)
        onMessage(shown.last());
}

bool MessageRecorder::ask(QWidget*, const QString& text) {
    shown << Shown{QStringLiteral("ask"), text};
    if (onMessage)
        onMessage(shown.last());
    return answers.isEmpty() ? true : answers.dequeue();
}

void MessageRecorder::error(QWidget*, const QString& text) {
    shown << Shown{QStringLiteral("error"), text};
    if (onMessage)
        onMessage(shown.last());
}

void MessageRecorder::showModal(QDialog* dialog) {
    modals << dialog;
    if (onShowModal)
        onShowModal(dialog);
}
