#pragma once
// An edit box whose typing limit counts characters (code points), not UTF-16 units, and applies
// only to what the user types, pastes or drops: text the program sets is kept whole, however
// long. Qt's own maxLength counts UTF-16 units and cuts text set by the program.

#include <QLineEdit>

class LimitedLineEdit final : public QLineEdit {
    Q_OBJECT
public:
    explicit LimitedLineEdit(int limit, QWidget* parent = nullptr);

    int limit() const { return m_limit; }
    // Characters of a text, a surrogate pair counting one.
    static int characters(QStringView text);
    // The longest start of text with at most `room` characters, never splitting a pair.
    static QString fitted(const QString& text, int room);

    // Whether an edit by the user that leaves `text` in the box stays within the limit: a text
    // longer than the limit is kept as long as the edit does not make it longer still.
    bool acceptsEdit(QStringView text) const;

protected:
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;

private:
    // Characters that may still be inserted in place of the current selection.
    int room() const;

    int m_limit;
    int m_userInputDepth = 0;  // > 0 while the box handles an event: changes then come from the user
    int m_lengthBefore = 0;    // characters of the text as it stood before the edit being checked
};
