#include "kihon_ichiran.h"

Tkihon_ichiran* kihon_ichiran = nullptr;

Tkihon_ichiran::Tkihon_ichiran(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("kihon_ichiran"));
    setWindowTitle(QStringLiteral("名刺一覧"));
}

void Tkihon_ichiran::openCardList() {}
