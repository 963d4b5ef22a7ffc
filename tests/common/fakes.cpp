#include "fakes.h"

#include <QTest>

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

void MessageRecorder::expectQuestion(const QString& text, bool answer) {
    m_expected.enqueue(Expected{text, answer});
}

bool MessageRecorder::ask(QWidget*, const QString& text) {
    shown << Shown{QStringLiteral("ask"), text};
    if (onMessage)
        onMessage(shown.last());
    if (m_expected.isEmpty()) {
        QTest::qFail(qPrintable(QStringLiteral("unexpected question: ") + text), __FILE__, __LINE__);
        return false;
    }
    const Expected next = m_expected.dequeue();
    if (next.text != text) {
        QTest::qFail(qPrintable(QStringLiteral("asked \"%1\" instead of \"%2\"").arg(text, next.text)),
                     __FILE__, __LINE__);
        return false;
    }
    return next.answer;
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
