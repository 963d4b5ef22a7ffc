#pragma once
// Logging in to a card file on a Firebird server: each person as their own database user.

#include <QString>

#include <optional>

struct Login {
    QString user;
    QString password;
    bool remember = false;  // keep the password in the desktop's keyring
};

namespace login {

// The login dialog, with the user name filled in; nothing when the user cancels.
std::optional<Login> ask(const QString& database, const QString& user);

// The desktop keyring (through QtKeychain): the password kept for this user and database, or
// nothing; saving and forgetting report nothing, since logging in goes on either way.
std::optional<QString> keptPassword(const QString& database, const QString& user);
void keepPassword(const QString& database, const QString& user, const QString& password);
void forgetPassword(const QString& database, const QString& user);

}  // namespace login
