#include "messages.h"

#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QPushButton>

namespace messages {

namespace {

Handler* g_handler = nullptr;

QString applicationTitle() {
    return QStringLiteral("名刺管理");
}

}  // namespace

void setHandler(Handler* handler) {
    g_handler = handler;
}

void show(QWidget* parent, const QString& text) {
    if (g_handler)
        return g_handler->show(parent, text);
    QMessageBox box(QMessageBox::NoIcon, applicationTitle(), text, QMessageBox::Ok, parent);
    box.button(QMessageBox::Ok)->setText(QStringLiteral("OK"));
    box.exec();
}

bool ask(QWidget* parent, const QString& text) {
    if (g_handler)
        return g_handler->ask(parent, text);
    QMessageBox box(QMessageBox::Warning, QStringLiteral("警告"), text, QMessageBox::Yes | QMessageBox::No,
                    parent);
    box.button(QMessageBox::Yes)->setText(QStringLiteral("はい(&Y)"));
    box.button(QMessageBox::No)->setText(QStringLiteral("いいえ(&N)"));
    box.setDefaultButton(QMessageBox::Yes);
    return box.exec() == QMessageBox::Yes;
}

void error(QWidget* parent, const QString& text) {
    if (g_handler)
        return g_handler->error(parent, text);
    QMessageBox box(QMessageBox::Critical, applicationTitle(), text, QMessageBox::Ok, parent);
    box.button(QMessageBox::Ok)->setText(QStringLiteral("OK"));
    box.exec();
}

void showModal(QDialog* dialog) {
    if (g_handler)
        return g_handler->showModal(dialog);
    dialog->exec();
}

}  // namespace messages
