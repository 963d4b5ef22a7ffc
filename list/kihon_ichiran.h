#pragma once
// The card list window: cards newest first, the keyword search, the deleted-card view, and
// opening a card in the editor.

#include <QDialog>

class Tkihon_ichiran final : public QDialog {
    Q_OBJECT
public:
    explicit Tkihon_ichiran(QWidget* parent = nullptr);

    // The main menu's 名刺一覧: reset keyword and field choice, fill the first view, show modally.
    // A failing fill throws before the window is shown.
    void openCardList();
};

extern Tkihon_ichiran* kihon_ichiran;
