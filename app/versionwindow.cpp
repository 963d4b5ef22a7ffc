#include "versionwindow.h"

#include "formlook.h"
#include "messages.h"

#include <QFrame>
#include <QLabel>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShowEvent>

QString VersionWindow::notice() {
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

VersionWindow::VersionWindow(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("varsion"));
    setWindowTitle(QStringLiteral("バージョン情報"));
    formlook::fixClientSize(this, 524, 261);

    m_picture = new QLabel(this);
    m_picture->setObjectName(QStringLiteral("Image1"));
    m_picture->setGeometry(81, 16, 80, 81);
    m_picture->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_picture->setPixmap(QPixmap(QStringLiteral(":/pictures/knight.jpg")));

    m_titlePanel =
        formlook::captionPanel(this, QStringLiteral("Panel1"), QRect(167, 17, 132, 23),
                               QStringLiteral("Label1"), QPoint(11, 5), QStringLiteral("名刺管理"));
    m_titleLabel = m_titlePanel->findChild<QLabel*>(QStringLiteral("Label1"));
    m_productLabel = formlook::panelLabel(m_titlePanel, QStringLiteral("Label4"), QPoint(67, 5),
                                          QStringLiteral("Tavrona"));
    m_versionPanel =
        formlook::captionPanel(this, QStringLiteral("Panel2"), QRect(305, 17, 152, 23),
                               QStringLiteral("Label2"), QPoint(6, 5), QStringLiteral("バージョン 1.0.3"));
    m_versionLabel = m_versionPanel->findChild<QLabel*>(QStringLiteral("Label2"));
    m_makerPanel = formlook::captionPanel(this, QStringLiteral("Panel3"), QRect(305, 58, 152, 23),
                                          QStringLiteral("Label3"), QPoint(6, 5), QStringLiteral("Olvemark"));
    m_makerLabel = m_makerPanel->findChild<QLabel*>(QStringLiteral("Label3"));

    m_noticeEdit = new QPlainTextEdit(this);
    m_noticeEdit->setObjectName(QStringLiteral("Memo1"));
    m_noticeEdit->setGeometry(80, 103, 377, 114);
    m_noticeEdit->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_noticeEdit->setPlainText(notice());
    m_noticeEdit->setAccessibleName(QStringLiteral("著作権および免責事項"));

    m_closeButton = new QPushButton(QStringLiteral("閉じる"), this);
    m_closeButton->setObjectName(QStringLiteral("Button1"));
    m_closeButton->setGeometry(382, 223, 75, 25);
    m_closeButton->setAutoDefault(false);
    connect(m_closeButton, &QPushButton::clicked, this,
            [this] { messages::guarded(this, [this] { onCloseClicked(); }); });
}

void VersionWindow::onCloseClicked() {
    close();
}

void VersionWindow::showEvent(QShowEvent* event) {
    if (!event->spontaneous())
        formlook::centreOnScreen(this);
    QDialog::showEvent(event);
}
