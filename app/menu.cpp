#include "menu.h"

#include "cardmatch.h"
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

namespace {
template <class W>
void onClick(QPushButton* button, W* window, void (W::*handler)()) {
    QObject::connect(button, &QPushButton::clicked, window,
                     [window, handler] { messages::guarded(window, [&] { (window->*handler)(); }); });
}
}  // namespace

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
    N5 = n3->addAction(QStringLiteral("かな・全角半角を区別せずに検索"));
    N5->setObjectName(QStringLiteral("N5"));
    N5->setCheckable(true);
    N5->setChecked(search::foldedSearchOn());
    n3->addSeparator();
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

    onClick(SpeedButton3, this, &Tmenu::SpeedButton3Click);
    onClick(SpeedButton1, this, &Tmenu::SpeedButton1Click);
    onClick(SpeedButton8, this, &Tmenu::SpeedButton8Click);
    onClick(SpeedButton6, this, &Tmenu::SpeedButton6Click);
    connect(Label4, &LinkLabel::clicked, this,
            [this] { messages::guarded(this, [this] { Label4Click(); }); });
    connect(N2, &QAction::triggered, this, [this] { messages::guarded(this, [this] { N2Click(); }); });
    connect(N4, &QAction::triggered, this, [this] { messages::guarded(this, [this] { N4Click(); }); });
    connect(N5, &QAction::triggered, this, [this] { messages::guarded(this, [this] { N5Click(); }); });

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

void Tmenu::N5Click() {
    search::setFoldedSearchOn(N5->isChecked());
}
