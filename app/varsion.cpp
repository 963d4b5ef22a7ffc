#include "varsion.h"

Tvarsion* varsion = nullptr;

Tvarsion::Tvarsion(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("varsion"));
    setWindowTitle(QStringLiteral("バージョン情報"));
}
