#include "memobox.h"

#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMimeData>

namespace {

bool isLineBreak(QChar c) {
    return c == QLatin1Char('\n') || c == QChar::ParagraphSeparator || c == QChar::LineSeparator;
}

// A surrogate pair is one character.
bool isPairStart(const QString& text, qsizetype i) {
    return text.at(i).isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate();
}

}  // namespace

MemoBox::MemoBox(QWidget* parent) : QPlainTextEdit(parent) {}

int MemoBox::storedLength(const QString& text) {
    int n = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (isPairStart(text, i))
            ++i;
        n += isLineBreak(text.at(i)) ? 2 : 1;
    }
    return n;
}

QString MemoBox::fitted(const QString& text, int room) {
    int used = 0;
    qsizetype end = 0;
    while (end < text.size()) {
        const bool pair = isPairStart(text, end);
        const int cost = isLineBreak(text.at(end)) ? 2 : 1;
        if (used + cost > room)
            break;
        used += cost;
        end += pair ? 2 : 1;
    }
    return text.left(end);
}

int MemoBox::room() const {
    return kLimit - storedLength(document()->toRawText()) + storedLength(textCursor().selectedText());
}

void MemoBox::keyPressEvent(QKeyEvent* event) {
    // Shortcuts (Ctrl+V and the like) are handled by the box itself; pasting comes through
    // insertFromMimeData.
    const bool shortcut = event->modifiers() & (Qt::ControlModifier | Qt::MetaModifier);
    if (!shortcut && !isReadOnly()) {
        int cost = 0;
        const bool lineBreak = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
        if (lineBreak) {
            cost = 2;
        } else {
            const QString text = event->text();
            if (!text.isEmpty() && (text.at(0).isPrint() || text.at(0).isSurrogate()))
                cost = storedLength(text);
        }
        if (cost > room()) {
            event->accept();
            return;
        }
        // Shift+Enter would make a line break inside the line, which the stored text (CR LF
        // between lines) cannot hold: every break starts a new line.
        if (lineBreak && (event->modifiers() & Qt::ShiftModifier)) {
            textCursor().insertBlock();
            ensureCursorVisible();
            event->accept();
            return;
        }
    }
    QPlainTextEdit::keyPressEvent(event);
}

void MemoBox::inputMethodEvent(QInputMethodEvent* event) {
    const QString commit = event->commitString();
    if (commit.isEmpty()) {
        QPlainTextEdit::inputMethodEvent(event);
        return;
    }
    const QString cut = fitted(commit, room());
    if (cut.size() == commit.size()) {
        QPlainTextEdit::inputMethodEvent(event);
        return;
    }
    QInputMethodEvent shortened(event->preeditString(), event->attributes());
    shortened.setCommitString(cut, event->replacementStart(), event->replacementLength());
    QPlainTextEdit::inputMethodEvent(&shortened);
}

void MemoBox::insertFromMimeData(const QMimeData* source) {
    if (!source || !source->hasText() || isReadOnly()) {
        QPlainTextEdit::insertFromMimeData(source);
        return;
    }
    // Line breaks of any platform become one break each before the text is measured.
    QString text = source->text();
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    QMimeData cut;
    cut.setText(fitted(text, room()));
    QPlainTextEdit::insertFromMimeData(&cut);
}
