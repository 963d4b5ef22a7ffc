#pragma once
// The card editor's memo: a plain text box whose typing limit counts each line break as two
// characters, as the stored text (CR LF between lines) does.

#include "cards.h"

#include <QPlainTextEdit>

class MemoBox final : public QPlainTextEdit {
    Q_OBJECT
public:
    static constexpr int kLimit = cards::ColumnLimits::memo;

    explicit MemoBox(QWidget* parent = nullptr);

    // Length of a text as stored, in characters: a line break counts two, a surrogate pair one.
    static int storedLength(const QString& text);
    // The longest start of text whose stored length is at most room, never splitting a
    // surrogate pair.
    static QString fitted(const QString& text, int room);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;
    void insertFromMimeData(const QMimeData* source) override;

private:
    // How much more may be inserted in place of the current selection.
    int room() const;
};
