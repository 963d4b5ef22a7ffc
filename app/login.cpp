#include "login.h"

#include "formlook.h"
#include "messages.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QEventLoop>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>

#include <qt6keychain/keychain.h>

namespace login {

namespace {

const QString kService = QStringLiteral("Tavrona");

QString keyFor(const QString& database, const QString& user) {
    return user + QLatin1Char('@') + database;
}

// Runs a keyring job to its end; the jobs report through signals only.
void runJob(QKeychain::Job& job) {
    QEventLoop loop;
    QObject::connect(&job, &QKeychain::Job::finished, &loop, &QEventLoop::quit);
    job.setAutoDelete(false);
    job.start();
    loop.exec();
}

}  // namespace

std::optional<Login> ask(QDialog& dialog, const QString& database, const QString& user) {
    dialog.setWindowTitle(QStringLiteral("ログイン"));
    auto* form = new QFormLayout(&dialog);
    auto* caption = new QLabel(QStringLiteral("カードファイル「%1」に接続します。").arg(database));
    form->addRow(caption);
    auto* name = new QLineEdit(user);
    name->setObjectName(QStringLiteral("user"));
    name->setAccessibleName(QStringLiteral("ユーザー名"));
    auto* password = new QLineEdit;
    password->setObjectName(QStringLiteral("password"));
    password->setEchoMode(QLineEdit::Password);
    password->setAccessibleName(QStringLiteral("パスワード"));
    auto* remember = new QCheckBox(QStringLiteral("保存"));
    remember->setObjectName(QStringLiteral("remember"));
    form->addRow(QStringLiteral("ユーザー名"), name);
    form->addRow(QStringLiteral("パスワード"), password);
    form->addRow(QString(), remember);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("接続"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("キャンセル"));
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    form->addRow(buttons);
    (user.isEmpty() ? name : password)->setFocus();
    dialog.adjustSize();  // its size from the layout, so that centring uses it
    formlook::centreOnScreen(&dialog);
    messages::showModal(&dialog);
    if (dialog.result() != QDialog::Accepted)
        return std::nullopt;
    caption->setText(QStringLiteral("カードファイル「%1」に接続しています…").arg(database));
    dialog.setEnabled(false);
    dialog.show();
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);  // painted before the wait
    return Login{name->text().trimmed(), password->text(), remember->isChecked()};
}

std::optional<QString> keptPassword(const QString& database, const QString& user) {
    QKeychain::ReadPasswordJob job(kService);
    job.setKey(keyFor(database, user));
    runJob(job);
    if (job.error() != QKeychain::NoError)
        return std::nullopt;
    return job.textData();
}

void keepPassword(const QString& database, const QString& user, const QString& password) {
    QKeychain::WritePasswordJob job(kService);
    job.setKey(keyFor(database, user));
    job.setTextData(password);
    runJob(job);
}

void forgetPassword(const QString& database, const QString& user) {
    QKeychain::DeletePasswordJob job(kService);
    job.setKey(keyFor(database, user));
    runJob(job);
}

}  // namespace login
