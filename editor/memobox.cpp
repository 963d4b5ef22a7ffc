#include "memobox.h"

#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMimeData>

namespace {

bool isLineBreak(QChar c) {
    return c == QLatin1Char('\n') || c == QChar::ParagraphSeparator || c == QChar::LineSeparator;
}

}  // namespace

MemoBox::MemoBox(QWidget* parent) : QPlainTextEdit(parent) {}

int MemoBox::storedLength(const QString& text) {
    int n = 0;
    for (QChar c : text)
        n += isLineBreak(c) ? 2 : 1;
    return n;
}

QString MemoBox::fitted(const QString& text, int room) {
    int used = 0;
    qsizetype end = 0;
    while (end < text.size()) {
        const bool pair = text.at(end).isHighSurrogate() && end + 1 < text.size();
        const int cost = isLineBreak(text.at(end)) ? 2 : (pair ? 2 : 1);
        if (used + cost > room)
            break;
        used += cost;
        end += pair ? 2 : 1;
    }
    return text.left(end);
}

int MemoBox::room() const {
    return kLimit - storedLength(toPlainText()) + storedLength(textCursor().selectedText());
}

void MemoBox::keyPressEvent(QKeyEvent* event) {
    // Shortcuts (Ctrl+V and the like) are handled by the box itself; pasting comes through
    // insertFromMimeData.
    const bool shortcut = event->modifiers() & (Qt::ControlModifier | Qt::MetaModifier);
    if (!shortcut && !isReadOnly()) {
        int cost = 0;
        if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
            cost = 2;
        } else {
            const QString text = event->text();
            if (!text.isEmpty() && text.at(0).isPrint())
                cost = int(text.size());
        }
        if (cost > room()) {
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
