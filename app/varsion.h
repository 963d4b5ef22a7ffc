#pragma once
// The version window: what the program is, its version, its maker and the notice on rights.

#include <QDialog>

class Tvarsion final : public QDialog {
    Q_OBJECT
public:
    explicit Tvarsion(QWidget* parent = nullptr);
};

extern Tvarsion* varsion;
