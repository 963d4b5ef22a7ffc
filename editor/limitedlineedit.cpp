#include "limitedlineedit.h"

#include "cardmerge.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QValidator>

namespace {

// Refuses user edits that would pass the box's limit; text set by the program passes.
class CharacterLimit final : public QValidator {
public:
    explicit CharacterLimit(LimitedLineEdit* box) : QValidator(box), m_box(box) {}
    State validate(QString& input, int&) const override {
        return m_box->acceptsEdit(input) ? Acceptable : Invalid;
    }

private:
    LimitedLineEdit* m_box;
};

}  // namespace

LimitedLineEdit::LimitedLineEdit(int limit, QWidget* parent) : QLineEdit(parent), m_limit(limit) {
    setValidator(new CharacterLimit(this));
    connect(this, &QLineEdit::textChanged, this,
            [this](const QString& text) { m_lengthBefore = characters(text); });
}

int LimitedLineEdit::characters(QStringView text) {
    return cards::storedLength(text);
}

QString LimitedLineEdit::fitted(const QString& text, int room) {
    qsizetype end = 0;
    for (int used = 0; end < text.size() && used < room; ++used) {
        const bool pair =
            text[end].isHighSurrogate() && end + 1 < text.size() && text[end + 1].isLowSurrogate();
        end += pair ? 2 : 1;
    }
    return text.left(end);
}

bool LimitedLineEdit::acceptsEdit(QStringView text) const {
    if (m_userInputDepth == 0)
        return true;
    const int n = characters(text);
    return n <= m_limit || n <= m_lengthBefore;
}

int LimitedLineEdit::room() const {
    return m_limit - characters(text()) + characters(selectedText());
}

bool LimitedLineEdit::event(QEvent* event) {
    // Everything the user does reaches the box through its events (keys, input method, drops,
    // the context menu's paste, the middle button); the program's setText does not.
    ++m_userInputDepth;
    const bool handled = QLineEdit::event(event);
    --m_userInputDepth;
    return handled;
}

void LimitedLineEdit::keyPressEvent(QKeyEvent* event) {
    // A paste is cut to the room left, as a typed text would stop there.
    if (event == QKeySequence::Paste && !isReadOnly()) {
        const QString text = QGuiApplication::clipboard()->text();
        insert(fitted(text, std::max(0, room())));
        event->accept();
        return;
    }
    QLineEdit::keyPressEvent(event);
}

void LimitedLineEdit::inputMethodEvent(QInputMethodEvent* event) {
    const QString commit = event->commitString();
    const int space = std::max(0, room());
    if (commit.isEmpty() || characters(commit) <= space) {
        QLineEdit::inputMethodEvent(event);
        return;
    }
    QInputMethodEvent shortened(event->preeditString(), event->attributes());
    shortened.setCommitString(fitted(commit, space), event->replacementStart(), event->replacementLength());
    QLineEdit::inputMethodEvent(&shortened);
}
