#include "formlook.h"

#include <QApplication>
#include <QFont>
#include <QFrame>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScreen>

namespace formlook {

void setupApplicationFont() {
    QFont::insertSubstitutions(QStringLiteral("Tahoma"),
                               {QStringLiteral("DejaVu Sans"), QStringLiteral("Noto Sans CJK JP")});
    QFont font(QStringLiteral("Tahoma"));
    font.setPixelSize(11);
    QApplication::setFont(font);
}

void fixClientSize(QWidget* window, int width, int height) {
    window->setFixedSize(width, height);
}

void centreOnScreen(QWidget* window) {
    QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    QRect frame = window->frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    window->move(frame.topLeft());
}

QLabel* panelLabel(QFrame* panel, const QString& labelName, const QPoint& pos, const QString& text) {
    auto* label = new QLabel(text, panel);
    label->setObjectName(labelName);
    label->move(pos);
    label->setPalette(panel->palette());
    label->adjustSize();
    return label;
}

QFrame* captionPanel(QWidget* parent, const QString& panelName, const QRect& geometry,
                     const QString& labelName, const QPoint& labelPos, const QString& text,
                     const QColor& colour) {
    auto* panel = new QFrame(parent);
    panel->setObjectName(panelName);
    panel->setProperty("captionPanel", colour == kPanelBlue ? "blue" : "silver");
    panel->setFrameShape(QFrame::Panel);
    panel->setFrameShadow(QFrame::Raised);
    panel->setGeometry(geometry);
    panel->setAutoFillBackground(true);
    QPalette pal = panel->palette();
    pal.setColor(QPalette::Window, colour);
    pal.setColor(QPalette::WindowText, colour == kPanelBlue ? QColor(Qt::white) : QColor(Qt::black));
    panel->setPalette(pal);
    if (!labelName.isEmpty())
        panelLabel(panel, labelName, labelPos, text);
    return panel;
}

void place(QWidget* control, const ControlSpec& spec) {
    control->setObjectName(spec.name());
    control->setGeometry(spec.rect);
    if (!spec.caption.isEmpty())
        control->setAccessibleName(spec.caption);
}

KeyButton::KeyButton(const QString& caption, QWidget* parent) : QPushButton(caption, parent) {
    setAutoDefault(false);
}

void KeyButton::keyPressEvent(QKeyEvent* event) {
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (enter && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        // Held down, Enter presses once, as Space does.
        if (!event->isAutoRepeat())
            click();
        event->accept();
        return;
    }
    QPushButton::keyPressEvent(event);
}

QPushButton* flatButton(QWidget* parent, const QString& name, const QString& caption, const QRect& geometry) {
    auto* button = new KeyButton(caption, parent);
    button->setObjectName(name);
    button->setFocusPolicy(Qt::TabFocus);
    button->setGeometry(geometry);
    return button;
}

}  // namespace formlook
