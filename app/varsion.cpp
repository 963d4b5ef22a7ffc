#include "varsion.h"

#include "formlook.h"
#include "messages.h"

#include <QFrame>
#include <QLabel>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShowEvent>

Tvarsion* varsion = nullptr;

QString Tvarsion::notice() {
    return QStringLiteral(
        "■ 著作権および免責事項について ■\n"
        "\n"
        "本ソフトウェアの著作権は Olvemark に帰属します。\n"
        "MIT ライセンスのもとで利用・再配布・改変できます。\n"
        "\n"
        "ホームページや雑誌などで本ソフトウェアを\n"
        "紹介される場合は、事前に Olvemark までご連絡ください。\n"
        "\n"
        "本ソフトウェアの使用により生じたいかなる不具合・\n"
        "損害・損失についても、Olvemark は一切の責任を負いません。\n"
        "ご利用はお客様ご自身の責任でお願いいたします。\n"
        "\n"
        "内容および仕様は予告なく変更することがあります。");
}

Tvarsion::Tvarsion(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("varsion"));
    setWindowTitle(QStringLiteral("バージョン情報"));
    formlook::fixClientSize(this, 524, 261);

    Image1 = new QLabel(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setGeometry(81, 16, 80, 81);
    Image1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Image1->setPixmap(QPixmap(QStringLiteral(":/pictures/knight.jpg")));

    Panel1 = formlook::captionPanel(this, QStringLiteral("Panel1"), QRect(167, 17, 132, 23),
                                    QStringLiteral("Label1"), QPoint(11, 5), QStringLiteral("名刺管理"));
    Label1 = Panel1->findChild<QLabel*>(QStringLiteral("Label1"));
    Label4 = formlook::panelLabel(Panel1, QStringLiteral("Label4"), QPoint(67, 5), QStringLiteral("Tavrona"));
    Panel2 =
        formlook::captionPanel(this, QStringLiteral("Panel2"), QRect(305, 17, 152, 23),
                               QStringLiteral("Label2"), QPoint(6, 5), QStringLiteral("バージョン 1.0.3"));
    Label2 = Panel2->findChild<QLabel*>(QStringLiteral("Label2"));
    Panel3 = formlook::captionPanel(this, QStringLiteral("Panel3"), QRect(305, 58, 152, 23),
                                    QStringLiteral("Label3"), QPoint(6, 5), QStringLiteral("Olvemark"));
    Label3 = Panel3->findChild<QLabel*>(QStringLiteral("Label3"));

    Memo1 = new QPlainTextEdit(this);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setGeometry(80, 103, 377, 114);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setPlainText(notice());
    Memo1->setAccessibleName(QStringLiteral("著作権および免責事項"));

    Button1 = new QPushButton(QStringLiteral("閉じる"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setGeometry(382, 223, 75, 25);
    Button1->setAutoDefault(false);
    connect(Button1, &QPushButton::clicked, this,
            [this] { messages::guarded(this, [this] { Button1Click(); }); });
}

void Tvarsion::Button1Click() {
    close();
}

void Tvarsion::showEvent(QShowEvent* event) {
    if (!event->spontaneous())
        formlook::centreOnScreen(this);
    QDialog::showEvent(event);
}
