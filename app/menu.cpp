#include "menu.h"

#include "desktop.h"
#include "formlook.h"
#include "kihon_ichiran.h"
#include "messages.h"
#include "mst_car.h"
#include "varsion.h"

#include <QFrame>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPushButton>

Tmenu* menu = nullptr;

const QString Tmenu::kHomePage = QStringLiteral("http://www.olvemark.example/olvemark/");
const QString Tmenu::kManualPage =
    QStringLiteral("http://www.olvemark.example/olvemark/soft/Manual/Business_card001.html");

void LinkLabel::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        emit clicked();
    QLabel::mouseReleaseEvent(event);
}

namespace {}  // namespace

Tmenu::Tmenu(QWidget* parent) : QMainWindow(parent) {
    setObjectName(QStringLiteral("menu"));
    setWindowTitle(QStringLiteral("メインメニュー"));

    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    client->setFixedSize(384, 291);
    setCentralWidget(client);

    QMenuBar* bar = menuBar();
    bar->setObjectName(QStringLiteral("MainMenu1"));
    QMenu* n1 = bar->addMenu(QStringLiteral("ファイル"));
    n1->setObjectName(QStringLiteral("N1"));
    N2 = n1->addAction(QStringLiteral("終了"));
    N2->setObjectName(QStringLiteral("N2"));
    QMenu* n3 = bar->addMenu(QStringLiteral("オプション"));
    n3->setObjectName(QStringLiteral("N3"));
    N4 = n3->addAction(QStringLiteral("バージョン"));
    N4->setObjectName(QStringLiteral("N4"));

    SpeedButton3 = formlook::flatButton(client, QStringLiteral("SpeedButton3"), QStringLiteral("名刺登録"),
                                        QRect(35, 38, 137, 78));
    SpeedButton1 = formlook::flatButton(client, QStringLiteral("SpeedButton1"), QStringLiteral("名刺一覧"),
                                        QRect(203, 38, 137, 78));
    SpeedButton8 = formlook::flatButton(client, QStringLiteral("SpeedButton8"), QStringLiteral("ヘルプ"),
                                        QRect(35, 142, 137, 78));
    SpeedButton6 = formlook::flatButton(client, QStringLiteral("SpeedButton6"), QStringLiteral("閉じる"),
                                        QRect(203, 142, 137, 78));

    QFrame* panel4 =
        formlook::captionPanel(client, QStringLiteral("Panel4"), QRect(35, 245, 305, 24), {}, {}, {});
    Label4 = new LinkLabel(QStringLiteral("olvemark :  ") + kHomePage, panel4);
    Label4->setObjectName(QStringLiteral("Label4"));
    Label4->setPalette(panel4->palette());
    QFont underlined = Label4->font();
    underlined.setUnderline(true);
    Label4->setFont(underlined);
    Label4->setCursor(Qt::PointingHandCursor);
    Label4->move(8, 5);
    Label4->adjustSize();

    messages::connectGuarded(SpeedButton3, &QPushButton::clicked, this, &Tmenu::SpeedButton3Click);
    messages::connectGuarded(SpeedButton1, &QPushButton::clicked, this, &Tmenu::SpeedButton1Click);
    messages::connectGuarded(SpeedButton8, &QPushButton::clicked, this, &Tmenu::SpeedButton8Click);
    messages::connectGuarded(SpeedButton6, &QPushButton::clicked, this, &Tmenu::SpeedButton6Click);
    messages::connectGuarded(Label4, &LinkLabel::clicked, this, &Tmenu::Label4Click);
    messages::connectGuarded(N2, &QAction::triggered, this, &Tmenu::N2Click);
    messages::connectGuarded(N4, &QAction::triggered, this, &Tmenu::N4Click);

    // The client area is fixed; the menu bar sits above it.
    setFixedSize(384, 291 + bar->sizeHint().height());
}

void Tmenu::SpeedButton3Click() {
    mst_car->resetToNewCard();
}

void Tmenu::SpeedButton1Click() {
    kihon_ichiran->openCardList();
}

void Tmenu::SpeedButton8Click() {
    platform::shell().openUrl(kManualPage, this);
}

void Tmenu::SpeedButton6Click() {
    close();
}

void Tmenu::Label4Click() {
    platform::shell().openUrl(kHomePage, this);
}

void Tmenu::N2Click() {
    close();
}

void Tmenu::N4Click() {
    messages::showModal(varsion);
}
