#include "mst_car.h"

#include "sheetexport.h"

Tmst_car* mst_car = nullptr;

Tmst_car::Tmst_car(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("mst_car"));
    setWindowTitle(QStringLiteral("名刺登録"));
}

void Tmst_car::resetToNewCard() {}
void Tmst_car::SpeedButton1Click() {}
void Tmst_car::SpeedButton2Click() { close(); }
void Tmst_car::SpeedButton3Click() {}
void Tmst_car::SpeedButton4Click() {}
void Tmst_car::SpeedButton5Click() {}
void Tmst_car::SpeedButton6Click() {}
void Tmst_car::ListBox1Click() {}
void Tmst_car::Button1Click() { runSheetExport(*this); }
bool Tmst_car::refreshPictureList() { return false; }
cards::CardTexts Tmst_car::cardTexts() const { return {}; }
