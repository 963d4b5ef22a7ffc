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

// The window's controls, one row each: the member that keeps it, its design name, its place and
// its caption.
struct VersionWindow::Layout {
    // A caption panel with its label, and a second label on it where there is one.
    struct Caption {
        QFrame* VersionWindow::*panel;
        formlook::ControlSpec spec;
        QLabel* VersionWindow::*label;
        const char* labelName;
        QPoint labelPos;
    };
    static const auto& captions() {
        static const Caption rows[] = {
            {&VersionWindow::m_titlePanel,
             {"Panel1", {167, 17, 132, 23}, 0, QStringLiteral("名刺管理")},
             &VersionWindow::m_titleLabel,
             "Label1",
             {11, 5}},
            {&VersionWindow::m_versionPanel,
             {"Panel2", {305, 17, 152, 23}, 0, QStringLiteral("バージョン 1.0.3")},
             &VersionWindow::m_versionLabel,
             "Label2",
             {6, 5}},
            {&VersionWindow::m_makerPanel,
             {"Panel3", {305, 58, 152, 23}, 0, QStringLiteral("Olvemark")},
             &VersionWindow::m_makerLabel,
             "Label3",
             {6, 5}},
        };
        return rows;
    }
    // The product name beside 名刺管理 on the title panel.
    static const formlook::ControlSpec& productLabel() {
        static const formlook::ControlSpec spec{"Label4", {67, 5, 0, 0}, 0, QStringLiteral("Tavrona")};
        return spec;
    }
    static const formlook::ControlSpec& picture() {
        static const formlook::ControlSpec spec{"Image1", {81, 16, 80, 81}, 0, {}};
        return spec;
    }
    static const formlook::ControlSpec& notice() {
        static const formlook::ControlSpec spec{
            "Memo1", {80, 103, 377, 114}, 0, QStringLiteral("著作権および免責事項")};
        return spec;
    }
    static const formlook::ControlSpec& closeButton() {
        static const formlook::ControlSpec spec{"Button1", {382, 223, 75, 25}, 0, QStringLiteral("閉じる")};
        return spec;
    }
};

QList<formlook::ControlSpec> VersionWindow::layout() {
    QList<formlook::ControlSpec> specs{Layout::picture()};
    for (const Layout::Caption& c : Layout::captions())
        specs << c.spec << formlook::ControlSpec{c.labelName, {}, 0, c.spec.caption};
    const formlook::ControlSpec& product = Layout::productLabel();
    specs << formlook::ControlSpec{product.objectName, {}, 0, product.caption} << Layout::notice()
          << Layout::closeButton();
    return specs;
}

VersionWindow::VersionWindow(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("varsion"));
    setWindowTitle(QStringLiteral("バージョン情報"));
    formlook::fixClientSize(this, 524, 261);

    m_picture = new QLabel(this);
    m_picture->setObjectName(Layout::picture().name());
    m_picture->setGeometry(Layout::picture().rect);
    m_picture->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_picture->setPixmap(QPixmap(QStringLiteral(":/pictures/knight.jpg")));

    for (const Layout::Caption& c : Layout::captions()) {
        QFrame* panel = formlook::captionPanel(this, c.spec.name(), c.spec.rect, QLatin1String(c.labelName),
                                               c.labelPos, c.spec.caption);
        this->*c.panel = panel;
        this->*c.label = panel->findChild<QLabel*>(QLatin1String(c.labelName));
    }
    const formlook::ControlSpec& product = Layout::productLabel();
    m_productLabel =
        formlook::panelLabel(m_titlePanel, product.name(), product.rect.topLeft(), product.caption);

    m_noticeEdit = new QPlainTextEdit(this);
    formlook::place(m_noticeEdit, Layout::notice());
    m_noticeEdit->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_noticeEdit->setPlainText(notice());

    m_closeButton = new QPushButton(Layout::closeButton().caption, this);
    m_closeButton->setObjectName(Layout::closeButton().name());
    m_closeButton->setGeometry(Layout::closeButton().rect);
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
