#pragma once
// Thin seams over desktop services that differ between platforms. The program calls these;
// tests put recording fakes in their place.

#include <QString>

class QWidget;

namespace platform {

class DesktopShell {
public:
    virtual ~DesktopShell() = default;
    // Hands a web address to the user's browser. The result is not reported.
    virtual void openUrl(const QString& url, QWidget* owner) = 0;
    // Shows a folder in the file manager, without waiting for it. The result is not reported.
    virtual void openFolder(const QString& path, QWidget* owner) = 0;
    // Opens a document in the program the desktop has for it; false when no program takes it.
    virtual bool openDocument(const QString& path, QWidget* owner) = 0;
};

// Conversion and sentence modes of a box's input method, as the values of the Windows input
// method interface. Where the platform has no way to set them, the calls have no effect.
class InputMethodControl {
public:
    virtual ~InputMethodControl() = default;
    // Opens the box's input method and sets both modes whole.
    virtual void setModes(QWidget* box, int conversion, int sentence) = 0;
    // Opens the box's input method in full-width hiragana, other bits left as they were.
    virtual void setHiraganaMode(QWidget* box) = 0;
    // Tells the input method that the box takes digits only, so that it types plain digits
    // (where the input method honours it) instead of converting to kana or full width.
    virtual void setDigitsOnly(QWidget* box) = 0;
};

DesktopShell& shell();
InputMethodControl& inputMethod();
// Replace the services (tests), as the message boxes are replaced: the caller keeps ownership;
// null restores the platform's own.
void setShell(DesktopShell* replacement);
void setInputMethod(InputMethodControl* replacement);

}  // namespace platform
