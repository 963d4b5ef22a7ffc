#pragma once
// Logging in to a card file on a Firebird server: each person as their own database user.

#include <QString>

#include <optional>

class QDialog;

struct Login {
    QString user;
    QString password;
    bool remember = false;  // keep the password in the desktop's keyring
};

namespace login {

// The login dialog, built in the given empty dialog, with the user name filled in; nothing when
// the user cancels. Once answered, the dialog comes back on the screen, out of reach and saying
// that it connects, until the caller destroys it: the error box of a refused login and the
// keyring's own prompt for a new keyring then have the program's window behind them.
std::optional<Login> ask(QDialog& dialog, const QString& database, const QString& user);

// The desktop keyring (through QtKeychain): the password kept for this user and database, or
// nothing; saving and forgetting report nothing, since logging in goes on either way.
std::optional<QString> keptPassword(const QString& database, const QString& user);
void keepPassword(const QString& database, const QString& user, const QString& password);
void forgetPassword(const QString& database, const QString& user);

}  // namespace login
