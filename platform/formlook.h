#pragma once
// Shared look of the program's windows: fixed client sizes, centring, the blue caption panels
// with white text, and flat buttons that the mouse presses without taking the focus.

#include <QColor>
#include <QPoint>
#include <QPushButton>
#include <QRect>
#include <QString>

class QFrame;
class QLabel;
class QWidget;

namespace formlook {

inline const QColor kPanelBlue{0x1f, 0x4e, 0x9c};
inline const QColor kPanelSilver{0xc0, 0xc0, 0xc0};

// Tahoma, 11 pixels high, with a Latin and a Japanese fallback where Tahoma is missing.
void setupApplicationFont();

// The window's client area is fixed at this size: it can be neither enlarged nor shrunk.
void fixClientSize(QWidget* window, int width, int height);
void centreOnScreen(QWidget* window);

// A panel at the given geometry holding one label at labelPos, both named as the window names
// them. Blue panels get white text.
QFrame* captionPanel(QWidget* parent, const QString& panelName, const QRect& geometry,
                     const QString& labelName, const QPoint& labelPos, const QString& text,
                     const QColor& colour = kPanelBlue);
// A label placed inside an existing panel, with the panel's text colour.
QLabel* panelLabel(QFrame* panel, const QString& labelName, const QPoint& pos, const QString& text);

// One control of a window's table of controls: its design name (the objectName that tests and
// the trace to the design use), its rectangle in its parent, its typing limit (0: none) and its
// caption, which an edit box, a memo or a list carries as its accessible name.
struct ControlSpec {
    const char* objectName;
    QRect rect;
    int limit = 0;
    QString caption;
    QString name() const { return QLatin1String(objectName); }
};
// Names and places a control as its row says, with the caption as its accessible name.
void place(QWidget* control, const ControlSpec& spec);

// A push button that Enter and Return press as well as Space while it has the focus, and that
// never becomes a dialog's default button: Enter typed in a box presses no button by accident.
class KeyButton final : public QPushButton {
    Q_OBJECT
public:
    explicit KeyButton(const QString& caption, QWidget* parent = nullptr);

protected:
    void keyPressEvent(QKeyEvent* event) override;
};

// A push button that a click presses without taking the focus from the box being typed in; Tab
// reaches it, and Enter, Return or Space presses it.
QPushButton* flatButton(QWidget* parent, const QString& name, const QString& caption, const QRect& geometry);

}  // namespace formlook
