#include "carddatabase.h"

#include <QDir>

CardDatabase::CardDatabase(const QString& workingDirectory)
    : CardDatabase(CardFolder::local(workingDirectory)) {}

CardDatabase::CardDatabase(CardFolder folder) : m_folder(std::move(folder)) {}

void CardDatabase::setCredentials(const QString& user, const QString& password) {
    m_user = user;
    m_password = password;
}

CardDatabase::~CardDatabase() {
    try {
        connection.close();
        if (m_openMarker)
            m_openMarker->endCleanly();
    } catch (const DbError&) {
        // Nothing can be reported on the way out.
    }
}

void CardDatabase::open() {
    // Before the settings: a refused file stays out of reach of the statements' own reconnect.
    if (!teamMode() && !m_openMarker && !connection.isConnected())
        m_openMarker = crashrecovery::openLocalCardFile(m_folder.database).marker;
    connection.setDefaultTransaction(&transaction);
    connection.databaseName = m_folder.database;
    if (teamMode()) {
        connection.params.clear();
        if (!m_user.isEmpty())
            connection.params << QStringLiteral("user_name=") + m_user
                              << QStringLiteral("password=") + m_password;
        connection.params << QStringLiteral("lc_ctype=UTF8");
    } else {
        connection.params = {QStringLiteral("user_name=") + QLatin1String(kLocalUser),
                             QStringLiteral("password=") + QLatin1String(kLocalPassword),
                             QStringLiteral("lc_ctype=UTF8")};
    }
    transaction.commitAfterEachStatement = teamMode();
    connection.sqlDialect = 3;
    transaction.params = {QStringLiteral("read_committed"), QStringLiteral("no_rec_version"),
                          QStringLiteral("wait")};
    connection.open();
}
