#include "dm1.h"

#include <QDir>

TDM1* DM1 = nullptr;

TDM1::TDM1(const QString& workingDirectory) : TDM1(CardFolder::local(workingDirectory)) {}

TDM1::TDM1(CardFolder folder) : m_folder(std::move(folder)) {}

void TDM1::setCredentials(const QString& user, const QString& password) {
    m_user = user;
    m_password = password;
}

TDM1::~TDM1() {
    try {
        IBDatabase1.Close();
        if (m_openMarker)
            m_openMarker->endCleanly();
    } catch (const DbError&) {
        // Nothing can be reported on the way out.
    }
}

void TDM1::DataModuleCreate() {
    // Before the settings: a refused file stays out of reach of the statements' own reconnect.
    if (!teamMode() && !m_openMarker && !IBDatabase1.Connected())
        m_openMarker = crashrecovery::openLocalCardFile(m_folder.database).marker;
    IBDatabase1.setDefaultTransaction(&IBTransaction1);
    IBDatabase1.DatabaseName = m_folder.database;
    if (teamMode()) {
        IBDatabase1.Params.clear();
        if (!m_user.isEmpty())
            IBDatabase1.Params << QStringLiteral("user_name=") + m_user
                               << QStringLiteral("password=") + m_password;
        IBDatabase1.Params << QStringLiteral("lc_ctype=UTF8");
    } else {
        IBDatabase1.Params = {QStringLiteral("user_name=") + QLatin1String(kLocalUser),
                              QStringLiteral("password=") + QLatin1String(kLocalPassword),
                              QStringLiteral("lc_ctype=UTF8")};
    }
    IBTransaction1.CommitAfterEachStatement = teamMode();
    IBDatabase1.SQLDialect = 3;
    IBTransaction1.Params = {QStringLiteral("read_committed"), QStringLiteral("no_rec_version"),
                             QStringLiteral("wait")};
    IBDatabase1.Open();
}
